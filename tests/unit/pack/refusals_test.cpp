// Packages that cannot start as meant: what the packer refuses, warns of or chooses, and what
// --check reports of the same package.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pack/pack_refusals.h"
#include "pack/pack_tool.h"
#include "pack/packed_exe.h"
#include "pack/preflight_check.h"
#include "test_support.h"

namespace {

using namespace packtest;

void Put(Bytes& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++) out.push_back(uint8_t(value >> (8 * i)));
}

// A jar of stored entries (the reader checks no CRC).
Bytes Jar(const std::vector<std::pair<std::string, std::string>>& entries) {
    Bytes file, directory;
    for (const auto& [name, data] : entries) {
        uint32_t offset = uint32_t(file.size());
        Put(file, 0x04034b50, 4), Put(file, 20, 2), Put(file, 0, 2), Put(file, 0, 2), Put(file, 0, 4), Put(file, 0, 4);
        Put(file, uint32_t(data.size()), 4), Put(file, uint32_t(data.size()), 4), Put(file, uint32_t(name.size()), 2);
        Put(file, 0, 2);
        file.insert(file.end(), name.begin(), name.end());
        file.insert(file.end(), data.begin(), data.end());
        Put(directory, 0x02014b50, 4), Put(directory, 20, 2), Put(directory, 20, 2), Put(directory, 0, 2);
        Put(directory, 0, 2), Put(directory, 0, 4), Put(directory, 0, 4), Put(directory, uint32_t(data.size()), 4);
        Put(directory, uint32_t(data.size()), 4), Put(directory, uint32_t(name.size()), 2), Put(directory, 0, 2);
        Put(directory, 0, 2), Put(directory, 0, 2), Put(directory, 0, 2), Put(directory, 0, 4),
            Put(directory, offset, 4);
        directory.insert(directory.end(), name.begin(), name.end());
    }
    uint32_t at = uint32_t(file.size());
    file.insert(file.end(), directory.begin(), directory.end());
    Put(file, 0x06054b50, 4), Put(file, 0, 2), Put(file, 0, 2), Put(file, uint32_t(entries.size()), 2);
    Put(file, uint32_t(entries.size()), 2), Put(file, uint32_t(directory.size()), 4), Put(file, at, 4), Put(file, 0, 2);
    return file;
}

// The test exe as a bare launcher: without the old MAIN-CLASS it carries, and with or without the mark.
void WriteBase(const std::string& from, const std::string& to, bool mark, bool mainClass = false) {
    PackedExe exe;
    std::string error;
    ASSERT_TRUE(LoadPackedExe(from, exe, error)) << error;
    auto dropped = [&](const Resource& r) {
        return (!mainClass && SameName(r.type, StringName(kMainClassResource.typeName))) ||
               (!mark && SameName(r.type, StringName(kLauncherMarkResource.typeName)));
    };
    exe.resources.erase(std::remove_if(exe.resources.begin(), exe.resources.end(), dropped), exe.resources.end());
    ASSERT_TRUE(WritePackedExe(exe, to, error)) << error;
}

class Refusals : public ::testing::Test {
protected:
    TempDir dir;
    void SetUp() override {
        WriteBase(fixture("checker_stripped.exe"), dir.path("launcher.exe"), true);
        WriteBase(fixture("checker_stripped.exe"), dir.path("other.exe"), false);
        // A manifest whose Main-Class runs onto a continuation line, as jar tools wrap at 72 bytes.
        write_bytes(dir.path("app.jar"), Jar({{"META-INF/MANIFEST.MF",
                                               "Manifest-Version: 1.0\r\nMain-Class: com.ex"
                                               "ample.\r\n Main\r\n\r\n"},
                                              {"com/example/Main.class", "x"}}));
        write_bytes(dir.path("plain.jar"), Jar({{"com/example/Main.class", "x"}}));
        write_bytes(dir.path("notes.txt"), text("not a jar", false));
        mkdir(dir.path("lib").c_str(), 0755);
        write_bytes(dir.path("lib/app.jar"), read_bytes(dir.path("app.jar")));
        write_bytes(dir.path("app.args"), text("--main-class com.example.Main\n--class-path #/lib/x.jar\n", false));
    }
    Outcome Pack(std::vector<std::string> options, const std::string& out = "App.exe",
                 const std::string& base = "launcher.exe") {
        std::vector<std::string> args = {"--launcher", dir.path(base), "--out", dir.path(out)};
        for (std::string& option : options) {
            if (option.rfind("./", 0) == 0) option = dir.path(option.substr(2));
        }
        args.insert(args.end(), options.begin(), options.end());
        return RunCaptured(args);
    }
};

TEST_F(Refusals, PackerRefusesWhatCannotStartAndWarnsOfWhatStartsOtherwise) {
    const std::string good[] = {"--main-class", "com.example.Main", "--classes", "./app.jar"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> all(std::begin(good), std::end(good));
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const struct {
        std::vector<std::string> options;
        int status;
        std::string err;  // a part of stderr, or "" for none at all
        std::string out = "";
    } cases[] = {
        {with({}), 0, ""},
        {{"--classes", "./plain.jar"}, 1, "no main class: give --main-class NAME"},
        {{"--classes", "./app.jar"}, 0, "", "main class com.example.Main, the Main-Class of " + dir.path("app.jar")},
        {{"--jar-path", "lib\\app.jar"}, 0, "", "main class com.example.Main, the Main-Class of lib\\app.jar"},
        {{"--main-class", "a.B"}, 2, "give --classes JAR, --jar-path PATH or --sync-path FOLDER"},
        {{"--main-class", "a.B", "--classes", "./notes.txt"}, 1, "notes.txt is not a jar"},
        {{"--main-class", "a.B", "--classes", "./notes.txt", "--force"}, 0, "packed anyway (--force)"},
        {{"--main-class", "a.B", "--classes", "./app.jar", "--class-path", "#/lib/app.jar;@/lib/tools.jar"},
         0,
         "main class a.B is in none of the jars given: " + dir.path("app.jar") + ", #/lib/app.jar"},
        {with({"--max-heap-percent", "50"}), 0, "a maximum heap percentage (50) without an initial one"},
        {with({"--init-heap-percent", "60", "--max-heap-percent", "50"}), 0, "initial heap percentage 60 above"},
        {with({"--init-heap-percent", "10", "--max-heap-percent", "50"}), 0, ""},
        {with({"--vm-options", "-Dapp.name=Bibliothèque"}), 0, "VM-OPTIONS holds non-ASCII letters"},
        {with({"--class-path", "#/Bibliothèque/x.jar", "--utf8"}), 0, ""},
        {{"@" + dir.path("app.args")}, 2, "app.args:2: option --class-path needs a value: # starts a comment"},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const std::string& option : c.options) shown += option + " ";
        Outcome r = Pack(c.options);
        EXPECT_EQ(r.status, c.status) << shown << r.err;
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "") << shown;
        } else {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << shown << r.err;
        }
        EXPECT_NE(r.out.find(c.out), std::string::npos) << shown << r.out;
        struct stat written;
        EXPECT_EQ(stat(dir.path("App.exe").c_str(), &written) == 0, c.status == 0) << shown;
        unlink(dir.path("App.exe").c_str());
    }
    ASSERT_EQ(Pack({"--classes", "./app.jar"}).status, 0);
    Outcome shown = RunCaptured({"--show", dir.path("App.exe")});
    EXPECT_NE(shown.out.find("MAIN-CLASS 3000 lang=1033 size=17 text=\"com.example.Main\""), std::string::npos)
        << shown.out;

    Outcome other = Pack(with({"--force"}), "App.exe", "other.exe");
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("other.exe: is not a Quorvia launcher"), std::string::npos) << other.err;
    Outcome missingFolder = Pack(with({}), "missing/App.exe");
    EXPECT_EQ(missingFolder.status, 1);
    EXPECT_NE(missingFolder.err.find("the output folder " + dir.path("missing") + " does not exist"), std::string::npos)
        << missingFolder.err;
    Outcome bare = RunCaptured({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.err.rfind("Usage: quorvia-pack", 0), 0u) << bare.err;
}

TEST_F(Refusals, CheckReportsTheSameRisksOfAPackedExe) {
    mkdir(dir.path("jre").c_str(), 0755);
    const struct {
        std::vector<std::string> options;
        bool unmark;
        Severity severity;
        std::string start;  // of the one finding of that severity, or "" for none
    } cases[] = {
        {{"--max-heap-percent", "50"},
         false,
         Severity::Warn,
         "a maximum heap percentage (50) without an initial one: the launcher then adds no heap option"},
        {{"--init-heap-percent", "10", "--max-heap-percent", "50"}, false, Severity::Warn, ""},
        {{"--class-path", "#/Bibliothèque/x.jar"}, false, Severity::Warn, "CLASS-PATH holds non-ASCII letters"},
        {{"--class-path", "#/Bibliothèque/x.jar", "--utf8"}, false, Severity::Warn, ""},
        {{}, true, Severity::Fail, "the exe is not a Quorvia launcher"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> options = {"--main-class", "com.example.Main", "--jar-path", "lib\\app.jar"};
        options.insert(options.end(), c.options.begin(), c.options.end());
        ASSERT_EQ(Pack(options).status, 0) << c.start;
        if (c.unmark) WriteBase(dir.path("App.exe"), dir.path("App.exe"), false, true);
        std::vector<std::string> found;
        for (const Finding& f : CheckPackedExe(dir.path("App.exe"))) {
            // The runtime search and the class path are not what these cases are about.
            if (f.severity == c.severity && f.area == "resources") found.push_back(f.text);
            if (c.start.find("heap") != std::string::npos) {
                EXPECT_EQ(f.text.find("heap 50%"), std::string::npos) << "an OK line beside the warning: " << f.text;
            }
        }
        if (c.start.empty()) {
            EXPECT_TRUE(found.empty()) << found[0];
        } else {
            ASSERT_EQ(found.size(), 1u) << c.start;
            EXPECT_EQ(found[0].rfind(c.start, 0), 0u) << found[0];
        }
    }
    // A Linux JDK copied as jre\: no bin\java.dll, so the search passes it by; say what it is.
    for (const char* folder : {"jre/lib", "jre/lib/server"}) mkdir(dir.path(folder).c_str(), 0755);
    write_bytes(dir.path("jre/lib/server/libjvm.so"), text("\x7f"
                                                           "ELF",
                                                           false));
    bool said = false;
    for (const Finding& f : CheckPackedExe(dir.path("App.exe")))
        said = said || (f.severity == Severity::Fail && f.text.find("jre holds a Linux runtime") != std::string::npos);
    EXPECT_TRUE(said);
}

}  // namespace
