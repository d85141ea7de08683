#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/launch_state.h"
#include "config/config_file.h"
#include "fake_platform.h"

namespace {

std::vector<std::string> VmOptionTexts() {
    std::vector<std::string> texts;
    for (int i = 0; i < g_launch.jvmOptions.count; i++) texts.push_back(g_launch.jvmOptions.options[i].optionString);
    return texts;
}

class ConfigFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        path = testing::TempDir() + "launcher-config-test.ini";
        FILE* file = fopen(path.c_str(), "w");
        ASSERT_NE(nullptr, file);
        fputs("[java]\n", file);
        fclose(file);
        SetConfigFilePath(path.c_str());
    }
    void TearDown() override { remove(path.c_str()); }
    void Set(const char* key, const std::string& value) { g_fake.profile[path + "|" + key] = value; }
    std::string path;
};

TEST_F(ConfigFileTest, FillsUnsetSettingsInOrder) {
    Set("jre", "11");
    Set("mainclass", "com.example.Main");
    Set("jarfile", "lib\\app.jar");
    Set("classpath", "a.jar;b.jar");
    Set("vmoptions", " -Xss2m  -Dx=1 ");
    Set("md5", "ABC");
    Set("syncdirectory", "//srv/share");
    Set("initialHeapPercent", "25");
    Set("maxHeapSize", "1024");
    AddVmOption("-Dearlier", nullptr);
    EXPECT_TRUE(ReadConfigFile());
    EXPECT_STREQ("11", g_launch.jreVersion);
    EXPECT_STREQ("com.example.Main", g_launch.mainClassName);
    EXPECT_STREQ("lib\\app.jar", g_launch.jarPath);
    EXPECT_STREQ(";a.jar;b.jar", g_launch.classPath.text);
    EXPECT_EQ((std::vector<std::string>{"-Dearlier", "-Xss2m", "-Dx=1"}), VmOptionTexts());
    EXPECT_STREQ("ABC", g_launch.cacheDigest);
    EXPECT_STREQ("//srv/share", g_launch.syncPath.text) << "used as written";
    EXPECT_EQ(25, g_launch.initialHeapPercent);
    EXPECT_EQ(1024, g_launch.maxHeapSize);
}

TEST_F(ConfigFileTest, EarlierSourcesWin) {
    Set("jre", "11");
    Set("mainclass", "com.example.Other");
    Set("syncdirectory", "\\\\file\\dir");
    Set("initialHeapPercent", "25");
    g_launch.jreVersion = const_cast<char*>("17");
    g_launch.mainClassName = "com.example.Main";
    SetSyncPath("\\\\cmd\\dir", true);
    g_launch.initialHeapPercent = 10;
    EXPECT_TRUE(ReadConfigFile());
    EXPECT_STREQ("17", g_launch.jreVersion);
    EXPECT_STREQ("com.example.Main", g_launch.mainClassName);
    EXPECT_STREQ("\\\\cmd\\dir", g_launch.syncPath.text);
    EXPECT_EQ(10, g_launch.initialHeapPercent);
}

TEST_F(ConfigFileTest, EmptyValuesCountAsMissing) {
    Set("classpath", "");
    Set("vmoptions", "");
    Set("mainclass", "");
    EXPECT_TRUE(ReadConfigFile());
    EXPECT_STREQ("", g_launch.classPath.text);
    EXPECT_EQ(0, g_launch.jvmOptions.count);
    EXPECT_EQ(nullptr, g_launch.mainClassName);
}

TEST_F(ConfigFileTest, LongValuesAreCutToTheirBuffers) {
    Set("md5", std::string(70, 'F'));
    Set("jre", std::string(100, '9'));
    EXPECT_TRUE(ReadConfigFile());
    EXPECT_EQ(std::string(63, 'F'), g_launch.cacheDigest);
    EXPECT_EQ(std::string(63, '9'), g_launch.jreVersion);
}

TEST_F(ConfigFileTest, MissingFileReadsNothingAndSaysNothing) {
    Set("mainclass", "com.example.Main");
    SetConfigFilePath((path + ".missing").c_str());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ReadConfigFile());
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ(nullptr, g_launch.mainClassName);
}

TEST_F(ConfigFileTest, ResourcePathIsUsedWithoutOption) {
    SetConfigFilePath("");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(ReadConfigFile());
    EXPECT_EQ("Unable to load CONFIG-PATH Resource (Resource not found)<1813>\n",
              testing::internal::GetCapturedStderr());
    // The resource's '/' become '\\', so name the file relative to the current folder.
    char previous[4096];
    ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
    ASSERT_EQ(0, chdir(testing::TempDir().c_str()));
    SetFakeResource("CONFIG-PATH", 9000, "launcher-config-test.ini");
    g_fake.profile["launcher-config-test.ini|mainclass"] = "com.example.Main";
    EXPECT_TRUE(ReadConfigFile());
    ASSERT_EQ(0, chdir(previous));
    EXPECT_STREQ("com.example.Main", g_launch.mainClassName);
}

}  // namespace
