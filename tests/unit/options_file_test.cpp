#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/launch_state.h"
#include "config/env_expansion.h"
#include "config/options_file.h"
#include "config/resource_lists.h"
#include "fake_platform.h"
#include "launcher/installed_options.h"
#include "launcher/launch_settings.h"

namespace {

const char kBeside[] = "C:\\App\\app.options";

struct Read {
    bool ok;
    std::string items;  // "kind:value" joined by "|"
    std::string error;
};

Read ReadFile(const char* path = kBeside) {
    static OptionsFileItems items;
    items.count = 0;
    items.error[0] = '\0';
    bool ok = ReadOptionsFile(path, &items);
    std::string joined;
    for (int i = 0; i < items.count; i++) {
        const OptionsItem& item = items.items[i];
        joined += std::string(joined.empty() ? "" : "|") + OptionsItemKindName(item.kind) + ":" + item.value;
    }
    return {ok, joined, items.error};
}

class OptionsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        g_fake.environment = {{"APPDATA", "C:\\Users\\me\\AppData\\Roaming"}, {"Empty", ""}};
    }
};

TEST_F(OptionsFileTest, LinesBecomeItemsOrAreRefusedWithFileAndLine) {
    struct Case {
        std::string text;
        std::string items;
        std::string error;
    } cases[] = {
        {"\xEF\xBB\xBF# heap\r\n\r\n  -Xmx4g  \r\n-Dname=a b\n", "VM option:-Xmx4g|VM option:-Dname=a b", ""},
        {"class-path-append = x.jar\nCLASS-PATH-PREPEND=${appdata}\\y.jar\nargument=--a b\n",
         "class path, appended:x.jar|class path, prepended:C:\\Users\\me\\AppData\\Roaming\\y.jar|argument:--a b", ""},
        {"max-heap-percent=50\ninitial-heap-percent = 0\n-Dv=${EMPTY}$HOME",
         "maximum heap percent:50|initial heap percent:0|VM option:-Dv=$HOME", ""},
        {"-Xmx1g\nXmx2g\n", "", "C:\\App\\app.options, line 2: not an option"},
        {"\n\nmax-heap=5\n", "", "line 3: unknown key"},
        {"argument=\n", "", "line 1: the key needs a value"},
        {"max-heap-percent=101\n", "", "line 1: a heap percentage is a whole number"},
        {"max-heap-percent=5O\n", "", "line 1: a heap percentage"},
        {"-Dx=${NOPE}\n", "", "line 1: the environment variable NOPE is not set"},
        {"-Dx=${APPDATA\n", "", "line 1: \"${\" needs a variable name"},
        {std::string("-D\0x\n", 5), "", "line 1: holds a NUL byte"},
        {"-D" + std::string(1021, 'x') + "\n", "VM option:-D" + std::string(1021, 'x'), ""},
        {"-D" + std::string(1022, 'x') + "\n", "", "line 1: the line is longer than 1023 bytes"},
        {"-D" + std::string(1000, 'x') + "${APPDATA}\n", "",
         "line 1: the text with its variables expanded is too long"},
    };
    for (const Case& c : cases) {
        g_fake.optionsFiles[kBeside] = c.text;
        Read read = ReadFile();
        EXPECT_EQ(c.error.empty(), read.ok) << c.text;
        EXPECT_EQ(c.items, c.error.empty() ? read.items : "") << c.text;
        EXPECT_NE(std::string::npos, read.error.find(c.error)) << read.error;
    }
}

TEST_F(OptionsFileTest, IncludesComeAfterTheirFileNestBoundedAndNeverLoop) {
    g_fake.optionsFiles[kBeside] = "include=sub\\a.options\n-Xmx1g\ninclude=C:\\absent.options\n";
    g_fake.optionsFiles["C:\\App\\sub\\a.options"] = "-Xmx2g\ninclude=b.options\n";
    g_fake.optionsFiles["C:\\App\\sub\\b.options"] = "-Xmx3g\n";
    Read read = ReadFile();
    EXPECT_TRUE(read.ok) << read.error;
    EXPECT_EQ(
        "include:sub\\a.options|VM option:-Xmx1g|include:C:\\absent.options|VM option:-Xmx2g|include:b.options|"
        "VM option:-Xmx3g",
        read.items);

    g_fake.optionsFiles["C:\\App\\sub\\b.options"] = "include=C:\\APP\\app.options\n";
    EXPECT_NE(std::string::npos,
              ReadFile().error.find("b.options, line 1: includes a file that is already being read"));

    for (int i = 0; i < 6; i++)
        g_fake.optionsFiles["C:\\d" + std::to_string(i)] = "include=C:\\d" + std::to_string(i + 1) + "\n";
    EXPECT_NE(std::string::npos, ReadFile("C:\\d0").error.find("C:\\d4, line 1: includes nest more than 4"));
    EXPECT_TRUE(ReadFile("C:\\d2").ok);

    g_fake.optionsFiles[kBeside] = std::string(kOptionsFileLimit + 1, '#');
    EXPECT_NE(std::string::npos, ReadFile().error.find("app.options: larger than 64 KiB"));
    g_fake.unreadableFiles.insert(kBeside);
    EXPECT_NE(std::string::npos, ReadFile().error.find("app.options: cannot be read"));
}

TEST_F(OptionsFileTest, ArgumentTextSplitsAsTheRuntimeSplitsACommandLine) {
    struct Case {
        const char* text;
        std::vector<std::string> items;
    } cases[] = {
        {"  a  b\t", {"a", "b"}},
        {"\"a b\" c\"d e\"f", {"a b", "cd ef"}},
        {"a\\\\\"b c\" \\\"q \\x", {"a\\b c", "\"q", "\\x"}},
        {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
        {"", {}},
    };
    for (const Case& c : cases) {
        std::vector<char> text(c.text, c.text + strlen(c.text) + 1);
        char* items[8];
        int count = SplitArgumentText(text.data(), items, 8);
        EXPECT_EQ(c.items, std::vector<std::string>(items, items + count)) << c.text;
    }
}

// The whole settings phase with every source: command line, per-user file, file beside the exe,
// packed resources.
TEST_F(OptionsFileTest, UserFileWinsOverBesideWhichWinsOverPacked) {
    SetFakeResource("OPTIONS-FILE", 14000, "1");
    SetFakeResource("USER-OPTIONS-FILE", 14001, std::string("${APPDATA}\\App\\app.options") + '\0');
    SetFakeResource("EXPAND-ENV", 14002, "1");
    SetFakeResource("VM-OPTIONS", 5000, "-Xmx256m -Dhome=${APPDATA}");
    SetFakeResource("VM-MAX-HEAP-PERC", 11100, "20");
    SetFakeResource("ARGUMENTS", 14003, "--packed \"${APPDATA}\"");
    g_fake.optionsFiles[kBeside] = "-Xmx1g\nclass-path-prepend=pre.jar\nmax-heap-percent=30\nargument=beside\n";
    g_fake.optionsFiles["C:\\Users\\me\\AppData\\Roaming\\App\\app.options"] =
        "-Xmx4g\n-Dcmd=file\nclass-path-append=post.jar\nmax-heap-percent=40\nargument=user\n";
    char* commandLine[] = {const_cast<char*>("app.exe"), const_cast<char*>("-cp"), const_cast<char*>("cmd.jar"),
                           const_cast<char*>("-Dcmd=line"), const_cast<char*>("own")};
    int argc = 5, vmOptionCount = 0, status = 0;
    char** argv = commandLine;
    char** vmOptionItems = nullptr;
    ASSERT_TRUE(ReadLaunchOptions(&argc, &argv, &vmOptionCount, &vmOptionItems, &status));
    EXPECT_EQ(40, g_launch.maxHeapPercent);
    AddVmOptions(vmOptionCount, vmOptionItems);
    AddInstalledVmOptions();
    AddInstalledClassPath();
    std::vector<std::string> options;
    for (int i = 0; i < g_launch.jvmOptions.count; i++) options.push_back(g_launch.jvmOptions.options[i].optionString);
    EXPECT_EQ((std::vector<std::string>{"-Dcmd=line", "-Dhome=C:\\Users\\me\\AppData\\Roaming", "-Xmx256m", "-Xmx1g",
                                        "-Xmx4g", "-Dcmd=file", "-Dcmd=line"}),
              options);
    EXPECT_STREQ(";cmd.jar;pre.jar;post.jar", g_launch.classPath.text);
    argc--;
    argv++;
    ASSERT_TRUE(ComposeApplicationArguments(&argc, &argv));
    EXPECT_EQ((std::vector<std::string>{"--packed", "C:\\Users\\me\\AppData\\Roaming", "beside", "user", "own"}),
              std::vector<std::string>(argv, argv + argc));
}

TEST_F(OptionsFileTest, ARefusedLineOrMissingVariableEndsTheLaunchWithOneMessage) {
    struct Case {
        const char* type;
        unsigned number;
        std::string text;
        std::string message;
    } cases[] = {
        {"OPTIONS-FILE", 14000, "1", "C:\\App\\app.options, line 2: unknown key\n"},
        {"USER-OPTIONS-FILE", 14001, "${LOCALAPPDATA}\\x",
         "The packed USER-OPTIONS-FILE: the environment variable LOCALAPPDATA is not set.\n"},
        {"EXPAND-ENV", 14002, "1", "The packed VM-OPTIONS: the environment variable MISSING is not set.\n"},
    };
    for (const Case& c : cases) {
        ResetFakePlatformAndState();
        g_fake.optionsFiles[kBeside] = "-Xmx1g\nheap=1\n";
        SetFakeResource("VM-OPTIONS", 5000, "-Dx=${MISSING}");
        SetFakeResource(c.type, c.number, c.text);
        char* commandLine[] = {const_cast<char*>("app.exe")};
        int argc = 1, count = 0, status = 0;
        char** argv = commandLine;
        char** items = nullptr;
        EXPECT_FALSE(ReadLaunchOptions(&argc, &argv, &count, &items, &status)) << c.type;
        EXPECT_EQ(1, status);
        EXPECT_EQ(std::vector<std::string>{c.message}, g_fake.fatalTexts);
    }
}

}  // namespace
