#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "pack/preflight_check.h"
#include "test_support.h"

namespace {

using namespace packtest;

class RuntimeRulePack : public ::testing::Test {
protected:
    TempDir dir;
    Outcome Pack(const std::vector<std::string>& options) {
        std::vector<std::string> args = {
            "--launcher", fixture("checker_stripped.exe"), "--out", dir.path("App.exe"), "--main-class", "a.Main", "--force"};
        args.insert(args.end(), options.begin(), options.end());
        return RunCaptured(args);
    }
    // A runtime in jre\ whose release file says release (none when empty).
    void Runtime(const std::string& release) {
        for (const char* folder : {"jre", "jre/bin", "jre/lib", "jre/bin/server"})
            mkdir(dir.path(folder).c_str(), 0755);
        write_bytes(dir.path("jre/bin/java.dll"), text("", false));
        write_bytes(dir.path("jre/lib/jvm.cfg"), text("-server KNOWN\n", false));
        write_bytes(dir.path("jre/bin/server/jvm.dll"), read_bytes(fixture("checker_stripped.exe")));
        if (!release.empty()) write_bytes(dir.path("jre/release"), text(release, false));
    }
    std::vector<std::string> Runtime(Severity severity) {
        std::vector<std::string> lines;
        for (const Finding& f : CheckPackedExe(dir.path("App.exe"))) {
            if (f.severity == severity && f.area == "runtime") lines.push_back(f.text);
        }
        return lines;
    }
};

TEST_F(RuntimeRulePack, ValuesAreCheckedByTheLaunchersOwnParsers) {
    const struct {
        const char* option;
        const char* value;
        int status;
    } cases[] = {
        {"--java-version", "17", 0},
        {"--java-version", "17..21", 0},
        {"--java-version", "17..", 1},
        {"--java-version", "21..17", 1},
        {"--runtime-search", "path,bundled", 0},
        {"--runtime-search", "path,path", 1},
        {"--runtime-search", "jre", 1},
        {"--download-url", "https://adoptium.net/", 0},
        {"--download-url", "http://adoptium.net/", 1},
        {"--download-url", "https://a b", 1},
    };
    for (const auto& c : cases) {
        Outcome r = Pack({c.option, c.value});
        EXPECT_EQ(r.status, c.status) << c.option << " " << c.value << ": " << r.err;
    }
    ASSERT_EQ(Pack({"--java-version", "17..21", "--runtime-search", "path,bundled", "--download-url", "https://x.org/"})
                  .status,
              0);
    Outcome shown = RunCaptured({"--show", dir.path("App.exe")});
    EXPECT_NE(shown.out.find("\nruntime rule: Java 17 to 21 (64-bit), looked for in path, bundled; download page "
                             "https://x.org/\n"),
              std::string::npos)
        << shown.out;
}

TEST_F(RuntimeRulePack, CheckTellsWhichBundledRuntimeTheRuleWouldChoose) {
    ASSERT_EQ(Pack({"--java-version", "17..21", "--runtime-search", "bundled"}).status, 0);
    const struct {
        const char* release;
        const char* finding;
        Severity severity;
    } cases[] = {
        {"JAVA_VERSION=\"21.0.4\"\nOS_ARCH=\"x86_64\"\n", "the bundled runtime ", Severity::Ok},
        {"JAVA_VERSION=\"11.0.4\"\nOS_ARCH=\"amd64\"\n", "is refused: Java 11, too old", Severity::Warn},
        {"JAVA_VERSION=\"21\"\nOS_ARCH=\"x86\"\n", "is refused: Java 21, 32-bit", Severity::Warn},
        {"", "is refused: no release file", Severity::Warn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        Runtime(c.release);
        if (*c.release == '\0') remove(dir.path("jre/release").c_str());
        std::vector<std::string> lines = Runtime(c.severity);
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.find(c.finding) != std::string::npos; }));
        // Only the bundled source was packed: a refused runtime means the exe cannot start anywhere.
        EXPECT_EQ(Runtime(Severity::Fail).size(), c.severity == Severity::Ok ? 0u : 1u);
    }
}

}  // namespace
