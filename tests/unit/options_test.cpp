#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/exit_status.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "fake_platform.h"
#include "launcher/options.h"

namespace {

// Owns the item texts for the life of the test, as the command line does for the process.
struct ItemList {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
    explicit ItemList(std::vector<std::string> items) : texts(std::move(items)) {
        for (auto& text : texts) pointers.push_back(&text[0]);
    }
};

std::vector<std::string> VmOptionTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < g_launch.jvmOptions.count; i++) texts.push_back(g_launch.jvmOptions.options[i].optionString);
    return texts;
}

class OptionsTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetFakePlatformAndState(); }

    // Parses and returns the unrecognised items; stdout and stderr are captured into the fields.
    std::vector<std::string> Parse(ItemList& list, bool expectSuccess = true) {
        int count = static_cast<int>(list.pointers.size());
        char** items = list.pointers.data();
        int status = 0;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        bool ok = ParseLauncherOptions(&count, &items, &status);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(expectSuccess, ok);
        if (!ok) {
            EXPECT_EQ(kExitLaunchFailed, status);
        }
        return std::vector<std::string>(items, items + count);
    }

    std::string out, err;
};

TEST_F(OptionsTest, ProgramPathIsReportedAndKeptFirst) {
    ItemList list({"C:\\App\\app.exe"});
    auto rest = Parse(list);
    ASSERT_EQ(1u, rest.size());
    EXPECT_EQ("C:\\App\\app.exe", rest[0]);
    EXPECT_EQ(0u, out.find("Option not recognized, is it an argument?(C:\\App\\app.exe)\n"));
}

TEST_F(OptionsTest, ClassPathCryptAndWordsAnywhere) {
    ItemList list({"app.exe", "-cp", "lib.jar", "word", "-crypt", "second"});
    auto rest = Parse(list);
    EXPECT_EQ((std::vector<std::string>{"app.exe", "word", "second"}), rest);
    EXPECT_STREQ(";lib.jar", g_launch.classPath.text);
    EXPECT_TRUE(g_launch.cryptEnabled);
    EXPECT_NE(std::string::npos, out.find("?(word)\n"));
    EXPECT_NE(std::string::npos, out.find("?(second)\n"));
    EXPECT_EQ(std::string::npos, out.find("?(-cp)"));
    EXPECT_EQ(std::string::npos, out.find("?(lib.jar)"));
}

TEST_F(OptionsTest, MissingRequiredValuesFailWithTheirMessages) {
    ItemList classPath({"app.exe", "-crypt", "-cp"});
    Parse(classPath, false);
    EXPECT_EQ("-cp requires class path specification\n", err);
    EXPECT_TRUE(g_launch.cryptEnabled) << "items before the failure keep their effect";

    ItemList classPathLong({"app.exe", "-classpath"});
    Parse(classPathLong, false);
    EXPECT_EQ("-classpath requires class path specification\n", err);

    ItemList version({"app.exe", "-jre"});
    Parse(version, false);
    EXPECT_EQ("-jre requires a version specification\n", err);
    ItemList versionLong({"app.exe", "-jreversion"});
    Parse(versionLong, false);
    EXPECT_EQ("-jreversion requires a version specification\n", err);
}

TEST_F(OptionsTest, FailureLeavesCallersListUnchanged) {
    ItemList list({"app.exe", "x", "-cp"});
    int count = 3;
    char** items = list.pointers.data();
    int status = 0;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ParseLauncherOptions(&count, &items, &status));
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(3, count);
    EXPECT_EQ(list.pointers.data(), items);
    EXPECT_EQ(kExitLaunchFailed, status);
}

TEST_F(OptionsTest, TrailingValueOptionsAreIgnoredWithoutReadingPastTheList) {
    for (const char* option : {"-configfile", "-initialHeapPercent", "-initialHeapSize", "-maxHeapPercent",
                               "-maxHeapSize", "-syncdirectory"}) {
        ResetFakePlatformAndState();
        ItemList list({"app.exe", option});
        auto rest = Parse(list);
        EXPECT_EQ((std::vector<std::string>{"app.exe"}), rest) << option;
        EXPECT_EQ(std::string(option) + " requires a value; ignored\n", err);
        EXPECT_FALSE(g_launch.heapOptionGiven) << option;
        EXPECT_STREQ("", g_launch.syncPath.text);
        EXPECT_STREQ("", g_launch.configFilePath.text);
    }
}

TEST_F(OptionsTest, TranslatedSwitchesInTableOrder) {
    ItemList list({"app.exe", "-verbose", "-verbosegc", "-verbose:gc", "-t", "-Xt", "-tm", "-Xtm", "-debug",
                   "-Xdebug", "-noclassgc", "-Xnoclassgc", "-verifyall", "-Xverify:all", "-verify", "-verifyremote",
                   "-Xverify:remote", "-noverify", "-Xverify:none", "-Dfile.encoding=UTF-8",
                   "--module-path=mods", "--add-modules=a.b", "--list-modules"});
    auto rest = Parse(list);
    EXPECT_EQ(1u, rest.size());
    EXPECT_EQ((std::vector<std::string>{"-verbose", "-verbose:gc", "-verbose:gc", "-Xt", "-Xt", "-Xtm", "-Xtm",
                                        "-Xdebug", "-Xdebug", "-Xnoclassgc", "-Xnoclassgc", "-Xverify:all",
                                        "-Xverify:all", "-Xverify:all", "-Xverify:remote", "-Xverify:remote",
                                        "-Xverify:none", "-Xverify:none", "-Dfile.encoding=UTF-8",
                                        "--module-path=mods", "--add-modules=a.b", "--list-modules"}),
              VmOptionTexts());
    for (int i = 0; i < g_launch.jvmOptions.count; i++) EXPECT_EQ(nullptr, g_launch.jvmOptions.options[i].extraInfo);
}

TEST_F(OptionsTest, NonLauncherVmSwitchesBecomeArguments) {
    ItemList list({"app.exe", "-Xmx512m", "-server", "-verbose:class", "-XX:+UseG1GC", "-Debug", "-splashx"});
    auto rest = Parse(list);
    // "-Debug" is a -D option; "-splashx" is not "-splash:".
    EXPECT_EQ((std::vector<std::string>{"app.exe", "-Xmx512m", "-server", "-verbose:class", "-XX:+UseG1GC",
                                        "-splashx"}),
              rest);
    EXPECT_EQ((std::vector<std::string>{"-Debug"}), VmOptionTexts());
}

TEST_F(OptionsTest, FlagsSplashVersionAndLaterValuesWin) {
    ItemList list({"app.exe", "-publicJRE", "-dpi", "-splash:", "-jre", "1.8", "-jreversion", "11",
                   "-configfile", "a.ini", "-configfile", "b.ini", "-syncdirectory", "\\\\s\\one",
                   "-syncdirectory", "\\\\s\\two"});
    Parse(list);
    EXPECT_TRUE(g_launch.usePublicJre);
    EXPECT_TRUE(g_launch.dpiScaling);
    ASSERT_NE(nullptr, g_launch.splashOption);
    EXPECT_STREQ("", g_launch.splashOption);
    EXPECT_STREQ("11", g_launch.jreVersion);
    EXPECT_STREQ("b.ini", g_launch.configFilePath.text);
    EXPECT_STREQ("\\\\s\\two", g_launch.syncPath.text);

    ItemList splash({"app.exe", "-splash:images/s.png", "-enableDPIScaling"});
    Parse(splash);
    EXPECT_STREQ("images/s.png", g_launch.splashOption);
}

TEST_F(OptionsTest, HeapOptionsAndPhysicalMemoryLine) {
    g_fake.totalPhysical = 16ull << 30;
    ItemList none({"app.exe"});
    Parse(none);
    EXPECT_NE(std::string::npos, out.find("There are 16384 total MB of physical memory.\n"));
    // The second parse (VM-OPTIONS items, possibly none) writes it again.
    ItemList empty({});
    Parse(empty);
    EXPECT_EQ("There are 16384 total MB of physical memory.\n", out);

    ItemList heap({"app.exe", "-initialHeapSize", "word", "-maxHeapSize", " 2048m", "-initialHeapPercent", "-5",
                   "-maxHeapPercent", "+40"});
    Parse(heap);
    EXPECT_TRUE(g_launch.heapOptionGiven);
    EXPECT_EQ(0, g_launch.initialHeapSize);
    EXPECT_EQ(2048, g_launch.maxHeapSize);
    EXPECT_EQ(-5, g_launch.initialHeapPercent);
    EXPECT_EQ(40, g_launch.maxHeapPercent);
    EXPECT_EQ(std::string::npos, out.find("physical memory"));
}

TEST_F(OptionsTest, NoMemoryLineOffAmd64) {
    g_fake.archName = "i386";
    ItemList none({"app.exe"});
    Parse(none);
    EXPECT_EQ(std::string::npos, out.find("physical memory"));
}

TEST(ParseDecimal, ReadsLikeTheCLibraryAndSaturates) {
    EXPECT_EQ(42, ParseDecimal("  42abc"));
    EXPECT_EQ(-7, ParseDecimal("\t-7"));
    EXPECT_EQ(9, ParseDecimal("+9"));
    EXPECT_EQ(0, ParseDecimal("abc"));
    EXPECT_EQ(0, ParseDecimal(""));
    EXPECT_EQ(0, ParseDecimal("- 5"));
    EXPECT_EQ(2147483647, ParseDecimal("99999999999999999999"));
    EXPECT_EQ(-2147483647 - 1, ParseDecimal("-99999999999999999999"));
}

TEST_F(OptionsTest, AppendClassPathPrefixesEveryEntryAndGrows) {
    AppendClassPath("a.jar;b.jar");
    EXPECT_STREQ(";a.jar;b.jar", g_launch.classPath.text);
    std::string longEntry(600, 'x');
    AppendClassPath(longEntry.c_str());
    EXPECT_EQ(";a.jar;b.jar;" + longEntry, std::string(g_launch.classPath.text));
    EXPECT_GT(g_launch.classPath.capacity, std::string(g_launch.classPath.text).size());
}

TEST_F(OptionsTest, SetSyncPathRespectsTheReplaceFlag) {
    SetSyncPath("\\\\a\\b", false);
    EXPECT_STREQ("\\\\a\\b", g_launch.syncPath.text);
    SetSyncPath("\\\\c\\d", false);
    EXPECT_STREQ("\\\\a\\b", g_launch.syncPath.text);
    SetSyncPath("", true);
    SetSyncPath(nullptr, true);
    EXPECT_STREQ("\\\\a\\b", g_launch.syncPath.text);
    std::string longPath(400, 'p');
    SetSyncPath(longPath.c_str(), true);
    EXPECT_EQ(longPath, g_launch.syncPath.text);
}

}  // namespace
