#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/launch_state.h"
#include "config/resource_lists.h"
#include "fake_platform.h"

namespace {

std::string Take(char* text) {
    std::string copy = text ? text : "<null>";
    free(text);
    return copy;
}

class ResourceListsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        g_fake.exePath = "C:\\Program Files\\App\\app.exe";
        g_fake.cacheFolder = "C:\\ProgramData\\.quorvia\\cache";
    }

    std::vector<std::string> Split(const std::string& resource) {
        SetFakeResource("VM-OPTIONS", 5000, resource);
        char** items = nullptr;
        int count = SplitVmOptions(&items);
        std::vector<std::string> result;
        for (int i = 0; i < count; i++) result.push_back(Take(items[i]));
        free(items);
        return result;
    }
};

const char* kMirrorRoot = "C:\\ProgramData\\.quorvia\\cache\\app\\sync";

TEST_F(ResourceListsTest, BlanksInSubstitutedFoldersDoNotSplit) {
    EXPECT_EQ((std::vector<std::string>{"-Dapp.home=C:\\Program Files\\App\\", "-Xmx512m"}),
              Split("-Dapp.home=# -Xmx512m"));
    EXPECT_EQ((std::vector<std::string>{"-a", "-b"}), Split("  -a    -b  "));
    EXPECT_EQ((std::vector<std::string>{"-Dcache=" + std::string(kMirrorRoot)}), Split("-Dcache=%"));
    EXPECT_EQ((std::vector<std::string>{"-Dx=" + std::string(kMirrorRoot) + "41"}), Split("-Dx=%41"));
    EXPECT_TRUE(Split("    ").empty());
    EXPECT_TRUE(Split("").empty());
}

TEST_F(ResourceListsTest, PercentInExecutableFolderIsSubstitutedThenDecoded) {
    g_fake.exePath = "C:\\a%41\\app.exe";
    EXPECT_EQ((std::vector<std::string>{"C:\\a" + std::string(kMirrorRoot) + "41\\x"}), Split("#x"));
}

TEST_F(ResourceListsTest, PercentEscapesComingFromFoldersAreDecoded) {
    // A mirror root whose own name carries %41 and %zz: the first decodes, the second stays.
    g_fake.cacheFolder = "C:\\c%41%zz";
    EXPECT_EQ((std::vector<std::string>{"-Dd=C:\\cA%zz\\app\\sync"}), Split("-Dd=%"));
}

TEST_F(ResourceListsTest, TooLongAndAbsentVmOptions) {
    testing::internal::CaptureStderr();
    EXPECT_TRUE(Split(std::string(1024, 'x')).empty());
    EXPECT_EQ("VM-Options too long (1024)\n", testing::internal::GetCapturedStderr());
    EXPECT_EQ(1u, Split(std::string(1023, 'x')).size());
    g_fake.resources.clear();
    testing::internal::CaptureStderr();
    char** items = nullptr;
    EXPECT_EQ(0, SplitVmOptions(&items));
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST(PercentDecode, DecodesOnlyCompleteHexEscapes) {
    EXPECT_EQ("A", Take(PercentDecode("%41")));
    EXPECT_EQ("a:b", Take(PercentDecode("a%3ab")));
    EXPECT_EQ("a:b", Take(PercentDecode("a%3Ab")));
    EXPECT_EQ("%4", Take(PercentDecode("%4")));
    EXPECT_EQ("%", Take(PercentDecode("%")));
    EXPECT_EQ("%g1", Take(PercentDecode("%g1")));
    EXPECT_EQ("%A", Take(PercentDecode("%%41")));
    EXPECT_EQ(std::string("\xff"), Take(PercentDecode("%fF")));
}

TEST_F(ResourceListsTest, ClassPathPrefixesExpand) {
    g_fake.exePath = "C:\\App\\app.exe";
    SetFakeResource("CLASS-PATH", 4000, "#/lib/a.jar;;@\\lib\\t.jar;x.jar");
    EXPECT_EQ("C:\\App\\lib/a.jar;C:\\Java\\jre\\lib\\t.jar;x.jar;", Take(BuildResourceClassPath("C:\\Java\\jre")));
    SetFakeResource("CLASS-PATH", 4000, "#a.jar;@lib\\tools.jar;%/x.jar;%y.jar;#\\b.jar;@/c.jar");
    EXPECT_EQ(
        "C:\\App\\\\a.jar;C:\\Java\\jre\\lib\\tools.jar;C:\\ProgramData\\.quorvia\\cache\\app\\sync\\x.jar;"
        "C:\\ProgramData\\.quorvia\\cache\\app\\sync\\y.jar;C:\\App\\b.jar;C:\\Java\\jre\\c.jar;",
        Take(BuildResourceClassPath("C:\\Java\\jre")));
}

TEST_F(ResourceListsTest, ClassPathTerminatedAndEmptyForms) {
    g_fake.exePath = "C:\\App\\app.exe";
    SetFakeResource("CLASS-PATH", 4000, std::string("#/app.jar\0", 10));
    EXPECT_EQ("C:\\App\\app.jar;", Take(BuildResourceClassPath("C:\\J")));
    SetFakeResource("CLASS-PATH", 4000, ";;");
    EXPECT_EQ("<null>", Take(BuildResourceClassPath("C:\\J")));
    SetFakeResource("CLASS-PATH", 4000, "#");
    EXPECT_EQ("C:\\App\\\\;", Take(BuildResourceClassPath("C:\\J")));
    g_fake.resources.clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ("<null>", Take(BuildResourceClassPath("C:\\J")));
    EXPECT_EQ("Unable to load CLASS-PATH Resource (Resource not found)1813\n", testing::internal::GetCapturedStderr());
}

TEST_F(ResourceListsTest, OverlongClassPathEntryIsSkippedNotCut) {
    g_fake.exePath = "C:\\App\\app.exe";
    std::string longName(300, 'n');
    SetFakeResource("CLASS-PATH", 4000, "a.jar;#/" + longName + ".jar;" + std::string(271, 'b') + ";" +
                                            std::string(270, 'c'));
    testing::internal::CaptureStderr();
    std::string result = Take(BuildResourceClassPath("C:\\J"));
    std::string err = testing::internal::GetCapturedStderr();
    // 270 characters plus ';' fit the 272-character buffer with its terminator; 271 do not.
    EXPECT_EQ("a.jar;" + std::string(270, 'c') + ";", result);
    EXPECT_NE(std::string::npos, err.find("Class path entry too long, skipped (#/" + longName));
    EXPECT_NE(std::string::npos, err.find("Class path entry too long, skipped (" + std::string(271, 'b') + ")"));
}

}  // namespace
