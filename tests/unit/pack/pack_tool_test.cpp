#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>

#include <sys/stat.h>

#include "pack/md5_text.h"
#include "pack/pack_tool.h"
#include "test_support.h"

namespace {

using namespace packtest;
using namespace std::string_literals;

// --show output as "TYPE NAME" -> rest of the line.
std::map<std::string, std::string> show(const std::string& exe) {
    Outcome r = RunCaptured({"--show", exe});
    EXPECT_EQ(r.status, 0) << r.err;
    std::map<std::string, std::string> lines;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        // The version details and icon sizes follow the resource lines.
        if (line.compare(0, 7, "version") == 0 || line.compare(0, 10, "icon group") == 0) continue;
        if (line.compare(0, 13, "startup cache") == 0 || line.compare(0, 2, "  ") == 0) continue;
        size_t lang = line.find(" lang=");
        EXPECT_NE(lang, std::string::npos) << line;
        if (lang != std::string::npos) lines[line.substr(0, lang)] = line.substr(lang + 1);
    }
    return lines;
}

class PackTool : public ::testing::Test {
protected:
    TempDir dir;
    std::string launcher = fixture("checker_stripped.exe");
    std::string out = dir.path("App.exe");

    std::string file(const std::string& name, const Bytes& content) {
        write_bytes(dir.path(name), content);
        return dir.path(name);
    }
    Outcome pack(std::vector<std::string> extra) {
        // --force: these cases pack parts of an application, not whole ones.
        std::vector<std::string> args = {"--launcher", launcher, "--out", out, "--force"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunCaptured(args);
    }
    std::optional<Bytes> packed(const std::string& type, uint16_t id) {
        return find_like_windows(read_bytes(out), type, "#" + std::to_string(id), 1033);
    }
    // Nothing but the files the test made itself: no output, no temporary left over.
    void expect_no_output(const std::vector<std::string>& inputs = {}) {
        for (const std::string& name : dir.entries()) {
            bool input = false;
            for (const std::string& i : inputs) input = input || i == name;
            EXPECT_TRUE(input) << "left behind: " << name;
        }
    }
};

// A 1x1 grey image, as Python's zlib and struct write it.
const Bytes kPng = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
                    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00,
                    0x00, 0x3A, 0x7E, 0x9B, 0x55, 0x00, 0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78,
                    0x9C, 0x63, 0x68, 0x00, 0x00, 0x00, 0x82, 0x00, 0x81, 0x77, 0xCD, 0x72, 0xB6, 0x00,
                    0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

TEST_F(PackTool, PacksEveryLaunchResource) {
    Bytes jar(12345);
    for (size_t i = 0; i < jar.size(); ++i) jar[i] = uint8_t(i * 7 + 3);
    std::string jar_path = file("app.jar", jar), png_path = file("splash.png", kPng);
    Outcome r = pack({"--classes", jar_path, "--main-class", "com.example.Main", "--class-path", "lib/a.jar;lib/b.jar",
                  "--jar-path", "app.jar", "--vm-options", "-Xmx512m -Dq=\"1\"", "--config-path", "cfg/app.cfg",
                  "--sync-path", "\\\\server\\share", "--init-heap-percent", "10", "--max-heap-percent=90",
                  "--splash", png_path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "quorvia-pack: warning: " + jar_path +
                         " is not a jar (no zip directory (not a jar)): the VM cannot load classes from it; packed "
                         "anyway (--force)\n");
    EXPECT_EQ(packed("CLASSES", 1000), jar);
    EXPECT_EQ(packed("MD5-SUM", 6000), text(Md5Hex(jar.data(), jar.size()), false));
    EXPECT_EQ(packed("MAIN-CLASS", 3000), text("com.example.Main"));
    EXPECT_EQ(packed("CLASS-PATH", 4000), text("lib/a.jar;lib/b.jar"));
    EXPECT_EQ(packed("JAR-PATH", 4500), text("app.jar"));
    EXPECT_EQ(packed("VM-OPTIONS", 5000), text("-Xmx512m -Dq=\"1\""));
    EXPECT_EQ(packed("CONFIG-PATH", 9000), text("cfg/app.cfg"));
    EXPECT_EQ(packed("SYNC-PATH", 10000), text("\\\\server\\share"));
    EXPECT_EQ(packed("VM-INIT-HEAP-PERC", 11000), text("10"));
    EXPECT_EQ(packed("VM-MAX-HEAP-PERC", 11100), text("90"));
    EXPECT_EQ(packed("VM-SPLASH", 20000), kPng);
    EXPECT_EQ(find_like_windows(read_bytes(out), "#24", "#1", 1033), read_bytes(source_fixture("fixture.manifest")));

    std::map<std::string, std::string> lines = show(out);
    EXPECT_EQ(lines["MAIN-CLASS 3000"], "lang=1033 size=17 text=\"com.example.Main\"");
    EXPECT_EQ(lines["VM-OPTIONS 5000"], "lang=1033 size=17 text=\"-Xmx512m -Dq=\\\"1\\\"\"");
    EXPECT_EQ(lines["CLASSES 1000"], "lang=1033 size=12345 md5=" + Md5Hex(jar.data(), jar.size()));
    EXPECT_EQ(lines["MD5-SUM 6000"], "lang=1033 size=32 text=\"" + Md5Hex(jar.data(), jar.size()) + "\"");
    EXPECT_EQ(lines["VM-SPLASH 20000"], "lang=1033 size=67 md5=" + Md5Hex(kPng.data(), kPng.size()));
    EXPECT_EQ(lines["24/1"], "lang=1033 size=" + std::to_string(read_bytes(source_fixture("fixture.manifest")).size()) + " (manifest)");
    EXPECT_EQ(lines.size(), 17u);  // 11 launch resources, manifest, string table, ZETA, RCDATA, version, mark
}

TEST_F(PackTool, ShowEscapesControlCharactersInTheValues) {
    ASSERT_EQ(pack({"--class-path", "a\x1b[2J\nb", "--company", "Evil\x1b]0;title\x07"}).status, 0);
    Outcome r = RunCaptured({"--show", out});
    EXPECT_EQ(r.out.find_first_of("\x1b\x07"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("CLASS-PATH 4000 lang=1033 size=8 text=\"a\\x1B[2J\\x0Ab\"\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("version CompanyName=\"Evil\\x1B]0;title\\x07\"\n"), std::string::npos) << r.out;
}

TEST_F(PackTool, Md5OptionOverridesTheDigest) {
    std::string jar_path = file("app.jar", text("jar", false));
    ASSERT_EQ(pack({"--classes", jar_path, "--md5", "0123abc"}).status, 0);
    EXPECT_EQ(packed("MD5-SUM", 6000), text("0123abc", false));
    EXPECT_EQ(packed("CLASSES", 1000), text("jar", false));
}

TEST_F(PackTool, RepackReplacesValues) {
    ASSERT_EQ(pack({"--main-class", "first.Main", "--vm-options", "-Xmx1g"}).status, 0);
    launcher = dir.path("first.exe");
    ASSERT_EQ(rename(out.c_str(), launcher.c_str()), 0);
    ASSERT_EQ(pack({"--main-class", "second.Main"}).status, 0);
    EXPECT_EQ(packed("MAIN-CLASS", 3000), text("second.Main"));
    EXPECT_EQ(packed("VM-OPTIONS", 5000), text("-Xmx1g"));
    // Writing over an existing output replaces it.
    ASSERT_EQ(pack({"--main-class", "third.Main"}).status, 0);
    EXPECT_EQ(packed("MAIN-CLASS", 3000), text("third.Main"));
    expect_no_output({"first.exe", "App.exe"});
}

TEST_F(PackTool, TextLimits) {
    struct Limited {
        const char* option;
        const char* type;
        uint16_t id;
    } limited[] = {{"--main-class", "MAIN-CLASS", 3000}, {"--jar-path", "JAR-PATH", 4500},
                   {"--vm-options", "VM-OPTIONS", 5000}, {"--config-path", "CONFIG-PATH", 9000},
                   {"--sync-path", "SYNC-PATH", 10000}};
    for (const Limited& o : limited) {
        Outcome ok = pack({o.option, std::string(1022, 'x')});
        EXPECT_EQ(ok.status, 0) << o.option << ": " << ok.err;
        EXPECT_EQ(packed(o.type, o.id), text(std::string(1022, 'x'))) << o.type;
        Outcome bad = pack({o.option, std::string(1023, 'y')});
        EXPECT_EQ(bad.status, 1) << o.option;
        EXPECT_EQ(bad.err, "quorvia-pack: " + std::string(o.type) +
                               " text is 1024 bytes with its terminator; the limit is 1023\n");
        EXPECT_EQ(packed(o.type, o.id), text(std::string(1022, 'x'))) << "output left as it was";
    }
    Outcome long_path = pack({"--class-path", std::string(5000, 'c')});
    EXPECT_EQ(long_path.status, 0) << long_path.err;
    EXPECT_EQ(packed("CLASS-PATH", 4000), text(std::string(5000, 'c')));
}

TEST_F(PackTool, RawTextStoresBytesVerbatim) {
    Bytes inner = {'a', 0, 'b'};
    std::string f1023 = file("t1023", Bytes(1023, 'm')), f1024 = file("t1024", Bytes(1024, 'm')),
                f_inner = file("inner", inner);
    ASSERT_EQ(pack({"--raw-text", "MAIN-CLASS=3000:" + f1023, "--raw-text", "VM-OPTIONS=5000:" + f1024,
                    "--raw-text=SYNC-PATH=10000:" + f_inner, "--raw-text", "24=1:" + f_inner})
                  .status,
              0);
    EXPECT_EQ(packed("MAIN-CLASS", 3000), Bytes(1023, 'm'));
    EXPECT_EQ(packed("VM-OPTIONS", 5000), Bytes(1024, 'm'));
    EXPECT_EQ(packed("SYNC-PATH", 10000), inner);
    EXPECT_EQ(packed("#24", 1), inner) << "numeric types replace too";
    EXPECT_EQ(show(out)["SYNC-PATH 10000"], "lang=1033 size=3 text=\"a\"");
    for (const char* bad : {"MAIN-CLASS", "MAIN-CLASS=:x", "=1:x", "A=70000:x", "A=1:", "A=x1:f"}) {
        EXPECT_EQ(pack({"--raw-text", bad}).status, 2) << bad;
    }
}

TEST_F(PackTool, StartupCacheMarkIsShownWithTheMechanismOfEachRuntimeVersion) {
    ASSERT_EQ(pack({"--main-class", "a.B"}).status, 0);
    EXPECT_NE(RunCaptured({"--show", out}).out.find("startup cache: off\n"), std::string::npos);
    ASSERT_EQ(pack({"--main-class", "a.B", "--startup-cache"}).status, 0);
    EXPECT_EQ(show(out)["STARTUP-CACHE 12000"], "lang=1033 size=2 text=\"1\"");
    std::string shown = RunCaptured({"--show", out}).out;
    for (const char* line : {"startup cache: on\n", "\n  Java up to 12: none\n", "\n  Java 13-18: dynamic class-data",
                             "\n  Java 19-24: automatic dynamic", "\n  Java 25 and later: AOT cache"}) {
        EXPECT_NE(shown.find(line), std::string::npos) << line << " in\n" << shown;
    }
    EXPECT_EQ(pack({"--startup-cache=yes"}).status, 2);
}

TEST_F(PackTool, ServiceOptionsAreCheckedAndShownWithTheirDefaults) {
    const struct {
        std::vector<std::string> args;
        int status;
        const char* error;
    } refused[] = {
        {{"--service", "my/app"}, 1, "--service wants 1 to 256 characters"},
        {{"--service", "A", "--service-start", "Auto"}, 1, "--service-start wants auto, delayed or demand"},
        {{"--service", "A", "--service-stop-timeout", "0"}, 1, "--service-stop-timeout wants whole seconds"},
        {{"--service", "A", "--service-stop", "stop"}, 1, "--service-stop wants a static method"},
        {{"--service", "A", "--service-depends-on", "Tcpip,,Dns"}, 1, "--service-depends-on wants service names"},
        {{"--service-stop-timeout", "5"}, 2, "--service-stop-timeout goes with --service NAME"},
    };
    for (const auto& c : refused) {
        Outcome r = pack(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    }
    expect_no_output();
    ASSERT_EQ(pack({"--service", "AppSvc", "--service-stop-timeout", "5", "--service-stop", "a.B.stop"}).status, 0);
    std::string shown = RunCaptured({"--show", out}).out;
    for (const char* line : {"\nservice: \"AppSvc\"\n", "\n  start: auto (default)\n",
                             "\n  account: NT AUTHORITY\\LocalService (default)\n", "\n  stop: \"a.B.stop\"\n",
                             "\n  stop timeout (s): \"5\"\n"}) {
        EXPECT_NE(shown.find(line), std::string::npos) << line << " in\n" << shown;
    }
    Outcome r = RunCaptured({"--out", out, "--service", "AppSvc"}, dir.path("launcher.exe"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.path("launcher-service.exe")), std::string::npos) << r.err;
}

TEST_F(PackTool, HeapPercentages) {
    for (const char* good : {"0", "100", "007"}) {
        Outcome r = pack({"--init-heap-percent", good, "--max-heap-percent", good});
        EXPECT_EQ(r.status, 0) << good << r.err;
    }
    EXPECT_EQ(packed("VM-INIT-HEAP-PERC", 11000), text("7"));
    for (const char* bad : {"101", "-1", "abc", "", "1.5", "50%", " 5", "99999999999"}) {
        Outcome r = pack({"--max-heap-percent", bad});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_NE(r.err.find("--max-heap-percent must be an integer from 0 to 100"), std::string::npos) << r.err;
    }
}

TEST_F(PackTool, MissingFilesAreNamed) {
    std::string missing = dir.path("missing.bin");
    for (std::vector<std::string> args : {std::vector<std::string>{"--classes", missing},
                                          std::vector<std::string>{"--splash", missing}}) {
        Outcome r = pack(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "quorvia-pack: " + missing + ": No such file or directory\n");
    }
    launcher = missing;
    Outcome r = pack({"--main-class", "a.B"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvia-pack: " + missing + ": No such file or directory\n");
    expect_no_output();
}

TEST_F(PackTool, DefaultLauncherIsBesideTheTool) {
    Outcome r = RunCaptured({"--out", out, "--main-class", "a.B", "--force"}, launcher);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(packed("MAIN-CLASS", 3000), text("a.B"));
    Outcome missing = RunCaptured({"--out", out, "--main-class", "a.B", "--force"}, dir.path("launcher.exe"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find(dir.path("launcher.exe")), std::string::npos);
}

TEST_F(PackTool, SplashMustBeAPngThatDecodes) {
    Bytes almost = kPng;
    almost[1] = 'Q';
    Bytes badCrc = kPng;
    badCrc[45] ^= 0xFF;  // inside the image data
    const struct {
        Bytes content;
        std::string error;
    } cases[] = {{almost, "not a PNG image"},
                 {Bytes(kPng.begin(), kPng.begin() + 7), "not a PNG image"},
                 {Bytes(), "not a PNG image"},
                 {badCrc, "PNG chunk IDAT fails its CRC"}};
    for (const auto& c : cases) {
        std::string path = file("splash.gif", c.content);
        Outcome r = pack({"--splash", path});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "quorvia-pack: " + path + ": " + c.error + "\n");
    }
    expect_no_output({"splash.gif"});
}

TEST_F(PackTool, BadLaunchersLeaveNoOutput) {
    write_bytes(out, text("previous output", false));
    Bytes pe32 = read_bytes(launcher);
    set16(pe32, optional_header_offset(pe32), 0x10B);
    Bytes signed_exe = read_bytes(launcher);
    set32(signed_exe, optional_header_offset(signed_exe) + 112 + 32, uint32_t(signed_exe.size()));
    set32(signed_exe, optional_header_offset(signed_exe) + 112 + 36, 8);
    Bytes truncated = read_bytes(launcher);
    truncated.resize(truncated.size() / 2);
    struct Case {
        std::string name;
        Bytes content;
        std::string message;
    } cases[] = {{"notes.txt", text("This is not an exe.\n", false), "not a PE32+ executable"},
                 {"pe32.exe", pe32, "not a PE32+ executable"},
                 {"signed.exe", signed_exe, "code signature"},
                 {"truncated.exe", truncated, "truncated"}};
    for (const Case& c : cases) {
        launcher = file(c.name, c.content);
        Outcome r = pack({"--main-class", "a.B"});
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_NE(r.err.find("quorvia-pack: " + launcher + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(read_bytes(out), text("previous output", false));
        // Listing a signed exe is harmless; the others cannot be read at all.
        Outcome s = RunCaptured({"--show", launcher});
        if (c.name == "signed.exe") {
            EXPECT_EQ(s.status, 0) << s.err;
            EXPECT_NE(s.out.find("24/1 lang=1033"), std::string::npos) << s.out;
        } else {
            EXPECT_EQ(s.status, 1) << c.name;
            EXPECT_NE(s.err.find(c.message), std::string::npos) << s.err;
        }
    }
    expect_no_output({"App.exe", "notes.txt", "pe32.exe", "signed.exe", "truncated.exe"});
}

TEST_F(PackTool, UnwritableOutputIsReported) {
    out = dir.path("no-such-folder/App.exe");
    Outcome r = pack({"--main-class", "a.B"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvia-pack: the output folder " + dir.path("no-such-folder") +
                         " does not exist; make it first, or correct --out\n");
}

TEST_F(PackTool, ArgumentFileTakesPathsFromItsOwnFolder) {
    // The tests run elsewhere, so each relative path below only resolves against the file's folder.
    ASSERT_EQ(mkdir(dir.path("conf").c_str(), 0755), 0);
    Bytes jar = text("jar bytes", false);
    file("conf/app.jar", jar);
    file("conf/splash.png", kPng);
    std::string args = file("conf/app.args", text("# packs the sample\n"
                                                  "--launcher '" + launcher + "'\n"
                                                  "--out=App.exe\n"
                                                  "--classes app.jar --splash splash.png\n"
                                                  "--main-class com.example.Main\n"
                                                  "--class-path \"#/lib/a b.jar;#/lib/c.jar\"\n"
                                                  "--jar-path lib/x.jar\n", false));
    Outcome r = RunCaptured({"@" + args, "--md5", "@ABC", "--force"});
    ASSERT_EQ(r.status, 0) << r.err;
    out = dir.path("conf/App.exe");
    EXPECT_EQ(packed("CLASSES", 1000), jar);
    EXPECT_EQ(packed("VM-SPLASH", 20000), kPng);
    EXPECT_EQ(packed("MAIN-CLASS", 3000), text("com.example.Main"));
    EXPECT_EQ(packed("CLASS-PATH", 4000), text("#/lib/a b.jar;#/lib/c.jar"));
    EXPECT_EQ(packed("JAR-PATH", 4500), text("lib/x.jar")) << "a path on the target machine, kept as written";
    EXPECT_EQ(packed("MD5-SUM", 6000), text("@ABC", false)) << "a value, never a file to read";
    EXPECT_EQ(show(out), show(dir.path("conf/App.exe")));
    Outcome listed = RunCaptured({"@" + file("conf/show.args", text("--show App.exe", false))});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("MAIN-CLASS 3000"), std::string::npos);
}

TEST_F(PackTool, AtSignReadsAnArgumentFileOnlyWhereAnOptionIsExpected) {
    // Options at the very path the values name: reading the file would inject them.
    std::string at = "@" + file("tools.jar", text("--main-class injected.Main\n", false));
    std::string ending = file("ends.args", text("--main-class a.B\n--class-path\n", false));
    const struct {
        std::vector<std::string> args;
        const char* resource;
        uint16_t id;
    } cases[] = {
        {{"--class-path", at}, "CLASS-PATH", 4000},
        {{"--class-path=" + at}, "CLASS-PATH", 4000},
        {{"@" + ending, at}, "CLASS-PATH", 4000},  // the file's last option takes the next argument
        {{"--main-class", at}, "MAIN-CLASS", 3000},
        {{"--vm-options", at}, "VM-OPTIONS", 5000},
        {{"--jar-path", at}, "JAR-PATH", 4500},
        {{"--config-path", at}, "CONFIG-PATH", 9000},
        {{"--sync-path", at}, "SYNC-PATH", 10000},
    };
    for (const auto& c : cases) {
        Outcome r = pack(c.args);
        ASSERT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
        EXPECT_EQ(packed(c.resource, c.id), text(at)) << c.args[0];
        EXPECT_NE(packed("MAIN-CLASS", 3000), text("injected.Main")) << c.args[0];
    }
    ASSERT_EQ(pack({"--md5", at, "--product-name", at}).status, 0);
    EXPECT_EQ(packed("MD5-SUM", 6000), text(at, false));
    EXPECT_NE(RunCaptured({"--show", out}).out.find("version ProductName=\"" + at + "\""), std::string::npos);
}

TEST_F(PackTool, ArgumentFileErrorsNameFileAndLine) {
    struct Case {
        std::string content;
        int status;
        std::string message;
    } cases[] = {
        {"--main-class a.B\n\n--nope 1\n", 2, ":3: unknown option '--nope'"},
        {"--main-class a.B\nstray\n", 2, ":2: unexpected argument 'stray'"},
        {"--main-class\n", 2, ":1: option --main-class needs a value"},
        {"--main-class a.B\n--max-heap-percent\n  150\n", 1, ":3: --max-heap-percent must be an integer"},
        {"--vm-options '" + std::string(1023, 'v') + "'", 1, ":1: VM-OPTIONS text is 1024 bytes"},
        {"# nothing\n--main-class \"a.B\n", 2, ":2: unterminated quote\n"},
        {"--main-class a.B\r\n--class-path 'lib/a.jar\0;evil.jar'\n"s, 2, ":2: a NUL byte, which no value can hold\n"},
        {"--main-class a.B\n# \0\n"s, 2, ":2: a NUL byte"},
    };
    for (const Case& c : cases) {
        std::string args = file("app.args", text(c.content, false));
        Outcome r = pack({"@" + args});
        EXPECT_EQ(r.status, c.status) << c.message;
        EXPECT_EQ(r.err.rfind("quorvia-pack: " + args + c.message, 0), 0u) << r.err;
    }
    Outcome missing = RunCaptured({"@" + dir.path("none.args")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "quorvia-pack: " + dir.path("none.args") + ": No such file or directory\n");
    expect_no_output({"app.args"});
}

TEST(PackToolUsage, CommandLineErrors) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--main-class", "a.B"}, "missing --out"},
        {{}, "Usage: quorvia-pack"},
        {{"--out", "x.exe", "--frobnicate", "1"}, "unknown option '--frobnicate'"},
        {{"--out", "x.exe", "stray"}, "unexpected argument 'stray'"},
        {{"--out"}, "option --out needs a value"},
        {{"--out", "x.exe", "--main-class"}, "option --main-class needs a value"},
        {{"--out", "x.exe", "--main-class", "a", "--main-class", "b"}, "option --main-class given twice"},
        {{"--show", "x.exe", "--main-class", "a"}, "--show cannot be combined"},
        {{"--out="}, "option --out needs a non-empty value"},
    };
    for (const Case& c : cases) {
        Outcome r = RunCaptured(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(PackToolUsage, Help) {
    Outcome r = RunCaptured({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: quorvia-pack", 0), 0u);
    for (const char* option : {"--launcher", "--out", "--classes", "--md5", "--main-class", "--class-path",
                               "--jar-path", "--vm-options", "--config-path", "--sync-path",
                               "--init-heap-percent", "--max-heap-percent", "--splash", "--show",
                               "code signature"}) {
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
    }
    // The read limits, as README.md states them.
    for (const char* limit : {"an exe 1024 MiB", "a jar 512 MiB", "a DLL 256 MiB", "a class file 64 MiB",
                              "an image 32 MiB", "a sync index 64 MiB", "a text file 1 MiB", "at most 256 MiB"})
        EXPECT_NE(r.out.find(limit), std::string::npos) << limit;
}

TEST(PackToolUsage, ShowMissingFile) {
    Outcome r = RunCaptured({"--show", "/nonexistent/x.exe"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quorvia-pack: /nonexistent/x.exe: No such file or directory\n");
}

}  // namespace
