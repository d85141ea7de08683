#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/release_file.h"
#include "runtime/runtime_choice.h"

namespace {

TEST(RuntimeChoiceTest, ReleaseFileGivesVersionAndArchitecture) {
    struct Case {
        const char* release;
        int version;
        RuntimeArch arch;
    } const cases[] = {
        {"JAVA_VERSION=\"1.8.0_392\"\nOS_ARCH=\"amd64\"\n", 8, kArchX64},
        {"IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"17.0.2\"\nOS_ARCH=\"x86_64\"\n", 17, kArchX64},
        {"JAVA_VERSION=\"21\"\r\nOS_ARCH=\"aarch64\"\r\n", 21, kArchArm64},
        {"OS_ARCH=\"x86\"\nJAVA_VERSION=\"25-ea\"\n", 25, kArchX86},
        {"JAVA_VERSION=\"26+35\"\nOS_ARCH=\"riscv64\"\n", 26, kArchUnknown},
        {"JAVA_VERSION_DATE=\"2024-01-16\"\nOS_ARCH=amd64\n", 0, kArchX64},
        {"JAVA_VERSION=\"11.0.4\"\nOS_ARCH_FAMILY=\"x86_64\"\n", 11, kArchUnknown},
        {"", 0, kArchUnknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.release);
        EXPECT_EQ(ReadReleaseJavaVersion(c.release, strlen(c.release)), c.version);
        EXPECT_EQ(ReadReleaseArch(c.release, strlen(c.release)), c.arch);
    }
}

TEST(RuntimeChoiceTest, VersionRangesReadAsPacked) {
    struct Case {
        const char* text;
        bool valid;
        int lowest, highest;
    } const cases[] = {
        {"17", true, 17, 0},  {"17..21", true, 17, 21}, {"8..8", true, 8, 8},  {"21..17", false, 0, 0},
        {"", false, 0, 0},    {"17..", false, 0, 0},    {"..21", false, 0, 0}, {"0", false, 0, 0},
        {"1.8", false, 0, 0}, {"17..21x", false, 0, 0}, {"1000", false, 0, 0}, {" 17", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        JavaVersionRange range = {-1, -1};
        ASSERT_EQ(ParseJavaVersionRange(c.text, &range), c.valid);
        if (c.valid) {
            EXPECT_EQ(range.lowest * 1000 + range.highest, c.lowest * 1000 + c.highest);
        }
    }
}

TEST(RuntimeChoiceTest, SearchListsAndPagesReadAsPacked) {
    struct Case {
        const char* text;
        const char* order;  // the sources' first letters, or null when refused
    } const cases[] = {
        {"bundled,registry,java-home,path", "brjp"},
        {"path,bundled", "pb"},
        {"java-home", "j"},
        {"path,path", nullptr},
        {"", nullptr},
        {"bundled,", nullptr},
        {"Registry", nullptr},
        {"registry, path", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RuntimeSearchOrder order = {0, {}};
        ASSERT_EQ(ParseRuntimeSearchOrder(c.text, &order), c.order != nullptr);
        std::string letters;
        for (int i = 0; i < order.count; i++) letters += RuntimeSourceName(order.sources[i])[0];
        if (c.order != nullptr) {
            EXPECT_EQ(letters, c.order);
        }
    }
    struct Url {
        const char* text;
        bool valid;
    } const urls[] = {
        {"https://adoptium.net/temurin/releases/?version=21", true},
        {"HTTPS://example.com", true},
        {"http://example.com", false},
        {"https://", false},
        {"https:///x", false},
        {"https://a b", false},
        {"https://a\"b", false},
        {"javascript:alert(1)", false},
        {"file:///C:/x", false},
    };
    for (const Url& u : urls) EXPECT_EQ(IsDownloadUrl(u.text), u.valid) << u.text;
}

RuntimeCandidate Candidate(RuntimeSource source, int version, RuntimeArch arch = kArchX64, bool files = true) {
    RuntimeCandidate c = {};
    c.source = source;
    snprintf(c.home, sizeof c.home, "C:\\jdk-%d", version);
    snprintf(c.origin, sizeof c.origin, "%s", RuntimeSourceName(source));
    c.hasRuntimeFiles = files;
    c.hasRelease = version >= 0;
    c.version = version < 0 ? 0 : version;
    c.arch = arch;
    return c;
}

TEST(RuntimeChoiceTest, FirstSourceWithAnAcceptedRuntimeGivesItsNewest) {
    const RuntimeSource R = kSourceRegistry, J = kSourceJavaHome, P = kSourcePath, B = kSourceBundled;
    struct Case {
        const char* name;
        const char* range;
        const char* order;
        std::vector<RuntimeCandidate> found;
        int chosen;
        std::vector<CandidateVerdict> verdicts;
    } const cases[] = {
        {"newest within the range",
         "17..21",
         "registry",
         {Candidate(R, 11), Candidate(R, 21), Candidate(R, 17), Candidate(R, 25)},
         1,
         {kVerdictTooOld, kVerdictChosen, kVerdictAccepted, kVerdictTooNew}},
        {"an earlier source wins over a newer runtime",
         "17",
         "java-home,registry",
         {Candidate(R, 25), Candidate(J, 17)},
         1,
         {kVerdictAccepted, kVerdictChosen}},
        {"32-bit, ARM64, unknown and fileless ones are skipped",
         "17",
         "path",
         {Candidate(P, 21, kArchX86), Candidate(P, 21, kArchArm64), Candidate(P, 21, kArchUnknown),
          Candidate(P, 21, kArchX64, false), Candidate(P, -1), Candidate(P, 17)},
         5,
         {kVerdict32Bit, kVerdictArm64, kVerdictUnknownArch, kVerdictNoRuntimeFiles, kVerdictNoRelease,
          kVerdictChosen}},
        {"a source left out of the order is not used", "17", "bundled", {Candidate(R, 21)}, -1, {kVerdictAccepted}},
        {"a tie keeps the first named",
         "8",
         "bundled",
         {Candidate(B, 21), Candidate(B, 21)},
         0,
         {kVerdictChosen, kVerdictAccepted}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JavaVersionRange range;
        RuntimeSearchOrder order;
        ASSERT_TRUE(ParseJavaVersionRange(c.range, &range) && ParseRuntimeSearchOrder(c.order, &order));
        std::vector<RuntimeCandidate> found = c.found;
        EXPECT_EQ(ChooseRuntimeCandidate(found.data(), static_cast<int>(found.size()), range, order), c.chosen);
        for (size_t i = 0; i < found.size(); i++) EXPECT_EQ(found[i].verdict, c.verdicts[i]) << i;
    }
}

TEST(RuntimeChoiceTest, NoRuntimeMessageSaysWhatWasNeededWhereAndWhy) {
    RuntimeCandidate found[] = {Candidate(kSourceRegistry, 11), Candidate(kSourcePath, 21, kArchX86)};
    JavaVersionRange range = {17, 21};
    RuntimeSearchOrder order;
    ParseRuntimeSearchOrder("registry,path", &order);
    ChooseRuntimeCandidate(found, 2, range, order);
    char text[1024];
    ASSERT_TRUE(FormatNoRuntimeMessage(text, sizeof text, found, 2, range, order));
    EXPECT_STREQ(text,
                 "This application needs Java 17 to 21 (64-bit).\n"
                 "Looked in: the registry, PATH.\n"
                 "Found:\n"
                 "  C:\\jdk-11 (registry): Java 11, too old\n"
                 "  C:\\jdk-21 (path): Java 21, 32-bit\n");
    ASSERT_TRUE(FormatNoRuntimeMessage(text, sizeof text, found, 0, JavaVersionRange{17, 0}, order));
    EXPECT_STREQ(text,
                 "This application needs Java 17 or newer (64-bit).\nLooked in: the registry, PATH.\n"
                 "No Java runtime was found there.\n");
    EXPECT_FALSE(FormatNoRuntimeMessage(text, 60, found, 2, range, order));
}

}  // namespace
