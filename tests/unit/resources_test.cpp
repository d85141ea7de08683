#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/app_paths.h"
#include "base/launch_state.h"
#include "config/resources.h"
#include "fake_platform.h"

namespace {

std::string Take(char* text) {
    std::string copy = text ? text : "<null>";
    free(text);
    return copy;
}

class ResourcesTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetFakePlatformAndState(); }
};

TEST(ReplaceAll, ReplacesWithoutRescanningTheReplacement) {
    EXPECT_EQ("a-b--c", Take(ReplaceAll("a b  c", " ", "-")));
    EXPECT_EQ("%%", Take(ReplaceAll("%", "%", "%%")));
    EXPECT_EQ("abc", Take(ReplaceAll("abc", "x", "y")));
    EXPECT_EQ("a/b/", Take(ReplaceAll("a/b/", "/", "/")));
    EXPECT_EQ("xyxyxy", Take(ReplaceAll("aaa", "a", "xy")));
    EXPECT_EQ("ab", Take(ReplaceAll("aab", "aa", "a")));
    EXPECT_EQ("<null>", Take(ReplaceAll(nullptr, "a", "b")));
    EXPECT_EQ("abc", Take(ReplaceAll("abc", nullptr, "b")));
    EXPECT_EQ("", Take(ReplaceAll("", "a", "b")));
}

TEST(SplitModulePath, FolderKeepsItsSeparatorAndBaseLosesItsExtension) {
    char folder[260], base[260];
    SplitModulePath("D:\\apps\\tool.exe", folder, sizeof folder, base, sizeof base);
    EXPECT_STREQ("D:\\apps\\", folder);
    EXPECT_STREQ("tool", base);
    SplitModulePath("C:\\Program Files\\App\\my.app.exe", folder, sizeof folder, base, sizeof base);
    EXPECT_STREQ("C:\\Program Files\\App\\", folder);
    EXPECT_STREQ("my.app", base);
    SplitModulePath("C:\\dir.d/noext", folder, sizeof folder, base, sizeof base);
    EXPECT_STREQ("C:\\dir.d/", folder);
    EXPECT_STREQ("noext", base);
    char small[4];
    SplitModulePath("C:\\long\\name.exe", small, sizeof small, base, 3);
    EXPECT_STREQ("C:\\", small);
    EXPECT_STREQ("na", base);
}

TEST_F(ResourcesTest, ExeFolderAndBaseNameComeFromTheModulePath) {
    g_fake.exePath = "D:\\apps\\tool.exe";
    EXPECT_STREQ("D:\\apps\\", GetExeFolder());
    EXPECT_EQ("tool", Take(GetExeBaseName()));
}

TEST_F(ResourcesTest, ExePathOf259CharactersIsWholeAndALongerOneIsRefused) {
    char path[300];
    g_fake.exePath = "C:\\" + std::string(250, 'd') + "\\a.exe";
    ASSERT_EQ(259u, g_fake.exePath.size());
    EXPECT_TRUE(GetExePath(path, sizeof path));
    EXPECT_EQ(g_fake.exePath, path);
    g_fake.exePath.insert(3, "d");
    EXPECT_FALSE(GetExePath(path, sizeof path));
    EXPECT_STREQ("", path);
    char small[20];
    g_fake.exePath = "C:\\apps\\tool.exe";
    EXPECT_FALSE(GetExePath(small, 16));
    EXPECT_STREQ("", small);
    EXPECT_TRUE(GetExePath(small, sizeof small));
}

TEST_F(ResourcesTest, MainClassLimitIsOneBelow1024) {
    SetFakeResource("MAIN-CLASS", 3000, std::string(1023, 'a'));
    testing::internal::CaptureStderr();
    const char* name = ReadMainClassResource();
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(1023u, std::string(name).size());

    SetFakeResource("MAIN-CLASS", 3000, std::string(1024, 'a'));
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, ReadMainClassResource());
    EXPECT_EQ("MainClass name too long (1024)\n", testing::internal::GetCapturedStderr());
}

TEST_F(ResourcesTest, MainClassAbsentAndInnerNulAndPresetName) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, ReadMainClassResource());
    EXPECT_EQ("Unable to load MAIN-CLASS Resource (Resource not found) 1813\n", testing::internal::GetCapturedStderr());

    SetFakeResource("MAIN-CLASS", 3000, std::string("abc\0def", 7));
    EXPECT_STREQ("abc", ReadMainClassResource());

    g_launch.mainClassName = "com.example.FromConfig";
    g_fake.resources.clear();
    testing::internal::CaptureStderr();
    EXPECT_STREQ("com.example.FromConfig", ReadMainClassResource());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

TEST_F(ResourcesTest, PathResourcesTurnSlashesAndReportWithTheirOwnWords) {
    SetFakeResource("SYNC-PATH", 10000, "//server/share/app");
    EXPECT_EQ("\\\\server\\share\\app", Take(ReadSyncPathResource()));
    SetFakeResource("CONFIG-PATH", 9000, std::string("C:/cfg/app.ini\0", 15));
    EXPECT_EQ("C:\\cfg\\app.ini", Take(ReadConfigPathResource()));
    SetFakeResource("JAR-PATH", 4500, "lib/app.jar");
    EXPECT_STREQ("lib/app.jar", ReadJarPathResource());

    g_fake.resources.clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ("<null>", Take(ReadSyncPathResource()));
    EXPECT_EQ("<null>", Take(ReadConfigPathResource()));
    EXPECT_EQ(nullptr, ReadJarPathResource());
    EXPECT_EQ(
        "Unable to load SYNC-PATH Resource (Resource not found)1813\n"
        "Unable to load CONFIG-PATH Resource (Resource not found)<1813>\n",
        testing::internal::GetCapturedStderr());

    SetFakeResource("SYNC-PATH", 10000, std::string(1024, 's'));
    SetFakeResource("CONFIG-PATH", 9000, std::string(2000, 'c'));
    SetFakeResource("JAR-PATH", 4500, std::string(1024, 'j'));
    testing::internal::CaptureStderr();
    EXPECT_EQ("<null>", Take(ReadSyncPathResource()));
    EXPECT_EQ("<null>", Take(ReadConfigPathResource()));
    EXPECT_EQ(nullptr, ReadJarPathResource());
    EXPECT_EQ("SyncPath too long (1024)\nConfigPath too long (2000)\n", testing::internal::GetCapturedStderr());
}

TEST(CopyResourceText, AddsTheTerminatorWithoutOverreading) {
    const char bytes[3] = {'a', 'b', 'c'};
    EXPECT_EQ("abc", Take(CopyResourceText(bytes, 3)));
    EXPECT_EQ("", Take(CopyResourceText(bytes, 0)));
}

}  // namespace
