#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "pack/class_file.h"
#include "pack/pe_imports.h"
#include "pack/preflight_check.h"
#include "test_support.h"

namespace {

using namespace packtest;

void AddU2(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

void AddUtf8(Bytes& b, const std::string& s) {
    b.push_back(1);
    AddU2(b, uint16_t(s.size()));
    b.insert(b.end(), s.begin(), s.end());
}

// com.example.Main extends java.lang.Object, with one method main(String[]) of the given flags,
// written byte by byte as the class-file format lays it out.
Bytes MainClass(uint16_t mainFlags, uint16_t major = 52, const std::string& method = "main") {
    Bytes b = {0xCA, 0xFE, 0xBA, 0xBE};
    AddU2(b, 0);
    AddU2(b, major);
    AddU2(b, 8);  // pool entries 1..7
    AddUtf8(b, "com/example/Main");
    b.push_back(7), AddU2(b, 1);
    AddUtf8(b, "java/lang/Object");
    b.push_back(7), AddU2(b, 3);
    AddUtf8(b, method);
    AddUtf8(b, "([Ljava/lang/String;)V");
    b.push_back(5), b.insert(b.end(), 8, 0);  // a long: takes pool slots 7 and 8
    AddU2(b, 0x21);
    AddU2(b, 2);
    AddU2(b, 4);
    AddU2(b, 0);  // interfaces
    AddU2(b, 0);  // fields
    AddU2(b, 1);  // methods
    AddU2(b, mainFlags);
    AddU2(b, 5);
    AddU2(b, 6);
    AddU2(b, 1);  // one attribute, skipped by its length
    AddU2(b, 5);
    b.insert(b.end(), {0, 0, 0, 2, 0xAA, 0xBB});
    AddU2(b, 0);  // class attributes
    return b;
}

TEST(ClassFileReader, ReadsVersionNameAndEntryPointFlags) {
    Bytes publicStatic = MainClass(0x0009, 61);
    ClassFileInfo info;
    std::string error;
    ASSERT_TRUE(ReadClassFile(publicStatic.data(), publicStatic.size(), info, error)) << error;
    EXPECT_EQ(info.majorVersion, 61);
    EXPECT_EQ(info.name, "com/example/Main");
    EXPECT_EQ(info.superName, "java/lang/Object");
    EXPECT_TRUE(info.main.found && info.main.isStatic && info.main.isPublic);
    EXPECT_FALSE(info.initSingleApplication.found);
    EXPECT_EQ(JavaReleaseOfClassVersion(info.majorVersion), 17);

    Bytes instanceMain = MainClass(0x0001);
    ASSERT_TRUE(ReadClassFile(instanceMain.data(), instanceMain.size(), info, error)) << error;
    EXPECT_TRUE(info.main.found);
    EXPECT_FALSE(info.main.isStatic);
}

TEST(ClassFileReader, RefusesDamagedInputWithoutReadingPastIt) {
    Bytes whole = MainClass(0x0009);
    ClassFileInfo info;
    std::string error;
    // Every cut before the class attributes (which the reader does not need) is refused; each cut
    // copy lives in its own buffer, so the sanitized run sees any read beyond it.
    for (size_t size = 0; size + 2 < whole.size(); size++) {
        Bytes cut(whole.begin(), whole.begin() + long(size));
        EXPECT_FALSE(ReadClassFile(cut.data(), cut.size(), info, error)) << "cut at " << size;
    }
    Bytes badTag = whole;
    badTag[10] = 99;  // the first pool entry's tag
    EXPECT_FALSE(ReadClassFile(badTag.data(), badTag.size(), info, error));
    Bytes badThis = whole;
    const size_t kThisClassAt = 10 + 85 + 2;  // header, the seven pool entries, access flags
    badThis[kThisClassAt] = 0xFF;
    EXPECT_FALSE(ReadClassFile(badThis.data(), badThis.size(), info, error));
    Bytes attributeTooLong = whole;
    attributeTooLong[whole.size() - 6] = 0x7F;  // the method attribute's length runs past the end
    EXPECT_FALSE(ReadClassFile(attributeTooLong.data(), attributeTooLong.size(), info, error));
}

TEST(PeImportReader, ListsTheImportsOfALinkedImageAndRefusesCutCopies) {
    Bytes image = read_bytes(fixture("checker_stripped.exe"));
    PeImports imports;
    std::string error;
    ASSERT_TRUE(ReadPeImports(image, imports, error)) << error;
    EXPECT_EQ(imports.machine, kMachineAmd64);
    EXPECT_TRUE(imports.isPe32Plus);
    std::vector<std::string> names;
    for (std::string name : imports.dllNames) {
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"imagehlp.dll", "kernel32.dll", "msvcrt.dll"}));
    // A cut copy is refused or read as far as it goes: never a name the image does not import.
    for (size_t size = 0; size < image.size(); size += 509) {
        Bytes cut(image.begin(), image.begin() + long(size));
        PeImports partial;
        if (!ReadPeImports(cut, partial, error)) continue;
        ASSERT_LE(partial.dllNames.size(), imports.dllNames.size());
        EXPECT_TRUE(std::equal(partial.dllNames.begin(), partial.dllNames.end(), imports.dllNames.begin()))
            << "cut at " << size;
    }
}

// ---- Check scenarios over a packed exe and a runtime written by the test ----

class PreflightCheck : public ::testing::Test {
protected:
    TempDir dir;

    void Pack(const std::vector<std::string>& options) {
        // --force: the check is to report what is missing.
        std::vector<std::string> args = {"--launcher", fixture("checker_stripped.exe"), "--out", dir.path("App.exe"),
                                         "--force"};
        args.insert(args.end(), options.begin(), options.end());
        Outcome r = RunCaptured(args);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    void Runtime(const std::string& jvmConfig, const std::string& vmType) {
        for (const char* folder : {"jre", "jre/bin", "jre/lib"}) mkdir(dir.path(folder).c_str(), 0755);
        write_bytes(dir.path("jre/bin/java.dll"), text("", false));
        if (!jvmConfig.empty()) write_bytes(dir.path("jre/lib/jvm.cfg"), text(jvmConfig, false));
        mkdir(dir.path("jre/bin/" + vmType).c_str(), 0755);
        // An x64 image importing only system DLLs stands in for jvm.dll.
        write_bytes(dir.path("jre/bin/" + vmType + "/jvm.dll"), read_bytes(fixture("checker_stripped.exe")));
    }
    std::vector<std::string> Lines(Severity severity) {
        std::vector<std::string> lines;
        for (const Finding& f : CheckPackedExe(dir.path("App.exe")))
            if (f.severity == severity) lines.push_back(f.area + ": " + f.text);
        return lines;
    }
};

TEST_F(PreflightCheck, VmOptionItemsAreClassifiedByTheLaunchersTable) {
    Pack({"--main-class", "a.Main", "--vm-options", "-cp x.jar -verbosegc -Xss2m -jre 17 stray"});
    std::vector<std::string> ok = Lines(Severity::Ok);
    auto has = [&](const std::string& line) { return std::find(ok.begin(), ok.end(), line) != ok.end(); };
    EXPECT_TRUE(has("resources: VM-OPTIONS item -cp x.jar: launcher option"));
    EXPECT_TRUE(has("resources: VM-OPTIONS item -verbosegc: VM option -verbose:gc"));
    EXPECT_TRUE(has("resources: VM-OPTIONS item -Xss2m: VM option (passed on as written)"));
    EXPECT_TRUE(has("resources: VM-OPTIONS item -jre 17: launcher option"));
    std::vector<std::string> warnings = Lines(Severity::Warn);
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ(warnings[0].rfind("resources: VM-OPTIONS item stray: application argument", 0), 0u) << warnings[0];
}

TEST_F(PreflightCheck, VmTypeIsTheFirstOfJvmCfgWhoseLibraryExists) {
    Pack({"--main-class", "a.Main"});
    Runtime("-server KNOWN\n-client KNOWN\n", "client");
    std::vector<std::string> ok = Lines(Severity::Ok);
    std::string vmLine;
    for (const std::string& line : ok)
        if (line.rfind("runtime: VM type ", 0) == 0) vmLine = line;
    EXPECT_EQ(vmLine.rfind("runtime: VM type client: ", 0), 0u) << vmLine;
    EXPECT_NE(std::find(ok.begin(), ok.end(), "vm library: jvm.dll is PE32+ x64"), ok.end());
}

TEST_F(PreflightCheck, MissingJvmCfgApplicationJarAndMainClassFail) {
    Pack({"--main-class", "a.Missing"});
    Runtime("", "server");
    std::vector<std::string> failures = Lines(Severity::Fail);
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].rfind("runtime: jvm.cfg is missing", 0), 0u) << failures[0];
    EXPECT_EQ(failures[1].rfind("application: no CLASSES jar and no jar path", 0), 0u) << failures[1];
    EXPECT_EQ(failures[2].rfind("application: main class a.Missing is in no class path entry", 0), 0u) << failures[2];
}

TEST_F(PreflightCheck, ServiceStopMethodMustBeAStaticVoidMethodTakingStrings) {
    const struct {
        uint16_t flags;
        const char* method;
        Severity severity;
        const char* text;
    } cases[] = {
        {0x0009, "stop", Severity::Ok, "public static void com.example.Main.stop(String[]) found"},
        {0x0001, "stop", Severity::Warn, "com.example.Main.stop(String[]) is not public static void"},
        {0x0008, "stop", Severity::Warn, "com.example.Main.stop(String[]) is not public static void"},
        {0x0009, "halt", Severity::Warn, "com.example.Main.stop(String[]) does not exist: a stop exits the VM instead"},
    };
    for (const char* folder : {"classes", "classes/com", "classes/com/example"}) mkdir(dir.path(folder).c_str(), 0755);
    for (const auto& c : cases) {
        write_bytes(dir.path("classes/com/example/Main.class"), MainClass(c.flags, 52, c.method));
        Pack({"--main-class", "a.Main", "--class-path", "classes", "--service", "AppSvc", "--service-stop",
              "com.example.Main.stop"});
        std::vector<std::string> lines = Lines(c.severity);
        std::string wanted = std::string("application: service stop method ") + c.text;
        EXPECT_NE(std::find(lines.begin(), lines.end(), wanted), lines.end()) << wanted;
    }
}

TEST_F(PreflightCheck, OptionsFileItemsAreListedAndALineTheLauncherRefusesFails) {
    Pack({"--main-class", "a.Main", "--options-file"});
    std::string path = dir.path("App.options");
    std::replace(path.begin(), path.end(), '/', '\\');  // the check names files as the launcher would
    const std::string file = "resources: " + path;
    const std::string good = "# tuned here\n-Xmx1g\nargument=--fast\n";
    const std::vector<std::string> items = {file + ", line 2: VM option -Xmx1g", file + ", line 3: argument --fast"};
    const struct {
        std::string content;
        std::vector<std::string> failures;
    } cases[] = {
        {good, {}},
        {good + "not an option\n", {file + ", line 4: not an option (a VM option starts with \"-\", other items are "
                                             "KEY=VALUE)"}},
    };
    for (const auto& c : cases) {
        write_bytes(dir.path("App.options"), text(c.content, false));
        std::vector<std::string> ok = Lines(Severity::Ok), failures;
        for (const std::string& item : items) EXPECT_NE(std::find(ok.begin(), ok.end(), item), ok.end()) << item;
        for (const std::string& line : Lines(Severity::Fail))
            if (line.rfind("resources: ", 0) == 0) failures.push_back(line);
        EXPECT_EQ(failures, c.failures) << c.content;
    }
}

TEST_F(PreflightCheck, StartupCacheWithoutTheBaseArchiveSaysWhyAndHowToMakeOne) {
    Pack({"--main-class", "a.Main", "--startup-cache"});
    Runtime("-server KNOWN\n", "server");
    const std::string base = dir.path("jre/bin/server/classes.jsa");
    const struct {
        const char* version;
        bool base;
        Severity severity;
        const char* start;
    } cases[] = {
        {"17.0.9", false, Severity::Warn, "the start-up cache mark has no effect: the runtime has no base class-data archive "},
        {"13", false, Severity::Warn, "the start-up cache mark has no effect: the runtime has no base class-data archive "},
        {"17.0.9", true, Severity::Ok, "start-up cache with this runtime: dynamic class-data archive"},
        {"21", false, Severity::Warn, "the start-up cache keeps no archive: the runtime has no base class-data archive "},
        {"25", false, Severity::Ok, "start-up cache with this runtime: AOT cache"},
    };
    for (const auto& c : cases) {
        write_bytes(dir.path("jre/release"), text("JAVA_VERSION=\"" + std::string(c.version) + "\"\n", false));
        if (c.base) write_bytes(base, text("archive", false));
        else unlink(base.c_str());
        std::vector<Finding> found;
        for (const Finding& f : CheckPackedExe(dir.path("App.exe")))
            if (f.text.find("start-up cache") != std::string::npos) found.push_back(f);
        ASSERT_EQ(found.size(), 1u) << c.version;
        EXPECT_EQ(found[0].severity, c.severity) << found[0].text;
        EXPECT_EQ(found[0].text.rfind(c.start, 0), 0u) << found[0].text;
        if (c.severity == Severity::Warn) {
            EXPECT_NE(found[0].text.find("jre\\bin\\server\\classes.jsa"), std::string::npos) << found[0].text;
            EXPECT_NE(found[0].fix.find("--generate-cds-archive"), std::string::npos) << found[0].fix;
        }
    }
}

TEST_F(PreflightCheck, TextReportEscapesNamesFromThePackage) {
    Pack({"--main-class", "a.Main\x1b[31m", "--class-path", "#\\lib\\x\x1b[2J\nFAIL  forged.jar"});
    std::string report = FormatFindings(CheckPackedExe(dir.path("App.exe")));
    EXPECT_EQ(std::string::npos, report.find('\x1b')) << report;
    EXPECT_NE(std::string::npos, report.find("x\\x1B[2J\\x0AFAIL  forged.jar")) << report;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.rfind("OK    ", 0) == 0 || line.rfind("WARN  ", 0) == 0 || line.rfind("FAIL  ", 0) == 0)
            << line;
}

}  // namespace
