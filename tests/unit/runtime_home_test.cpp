#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/launch_state.h"
#include "fake_platform.h"
#include "runtime/runtime_home.h"
#include "runtime/vm_library.h"

namespace {

const char* const kKey1 = "SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment";
const char* const kKey2 = "SOFTWARE\\Zentorix Ltd.\\Java Runtime Environment";

class RuntimeHomeTest : public testing::Test {
protected:
    void SetUp() override {
        ResetFakeRuntimeAndCache();
        g_fake.exePath = "C:\\App\\app.exe";
    }
    void TearDown() override {
        free(g_launch.jreVersion);
        g_launch.jreVersion = nullptr;
    }
    void Exists(const std::string& path) { g_fakeRuntime.existingPaths.insert(path); }
    void Register(const std::string& key, const std::string& currentVersion) {
        g_fakeRuntime.registryStrings[key]["CurrentVersion"] = currentVersion;
    }
    void RegisterHome(const std::string& key, const std::string& version, const std::string& javaHome) {
        g_fakeRuntime.registryStrings[key + "\\" + version]["JavaHome"] = javaHome;
    }
    // Runs FindRuntimeHome, capturing what it writes to both streams.
    bool Find() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        bool found = FindRuntimeHome(home_, sizeof home_);
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return found;
    }
    char home_[1024];
    std::string out_;
    std::string err_;
};

TEST_F(RuntimeHomeTest, ApplicationHomeIsExeFolder) {
    GetApplicationHome(home_, sizeof home_);
    EXPECT_STREQ(home_, "C:\\App");
}

TEST_F(RuntimeHomeTest, ApplicationHomeIsSyncPathWhenLongerThanThree) {
    AssignGrowableString(&g_launch.syncPath, "D:\\a");
    GetApplicationHome(home_, sizeof home_);
    EXPECT_STREQ(home_, "D:\\a");
}

TEST_F(RuntimeHomeTest, SyncPathOfThreeCharactersIsNotUsed) {
    AssignGrowableString(&g_launch.syncPath, "D:\\");
    GetApplicationHome(home_, sizeof home_);
    EXPECT_STREQ(home_, "C:\\App");
}

TEST_F(RuntimeHomeTest, PrivateRuntimeBesideExeWinsWithoutRegistry) {
    Exists("C:\\App\\bin\\java.dll");
    Register(kKey1, "1.8");
    RegisterHome(kKey1, "1.8", "C:\\Java\\jre8");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(home_, "C:\\App");
    EXPECT_EQ(g_launch.jreVersion, nullptr);
    EXPECT_EQ(err_, "");
}

TEST_F(RuntimeHomeTest, PrivateRuntimeInJreSubfolder) {
    Exists("C:\\App\\jre\\bin\\java.dll");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(home_, "C:\\App\\jre");
}

TEST_F(RuntimeHomeTest, PrivateRuntimeIgnoresRequiredVersion) {
    g_launch.jreVersion = strdup("11");
    Exists("C:\\App\\bin\\java.dll");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(home_, "C:\\App");
}

TEST_F(RuntimeHomeTest, MakerKeySetsVersion) {
    Register(kKey1, "1.8");
    RegisterHome(kKey1, "1.8", "C:\\Java\\jre8");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(home_, "C:\\Java\\jre8");
    ASSERT_NE(g_launch.jreVersion, nullptr);
    EXPECT_STREQ(g_launch.jreVersion, "1.8");
    EXPECT_EQ(out_, "");
    EXPECT_EQ(g_fakeRuntime.openRegistryKeys, 0);
}

TEST_F(RuntimeHomeTest, RequiredVersionWinsOverCurrentVersion) {
    g_launch.jreVersion = strdup("11");
    Register(kKey1, "1.8");
    RegisterHome(kKey1, "1.8", "C:\\Java\\jre8");
    RegisterHome(kKey1, "11", "C:\\Java\\jdk11");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(home_, "C:\\Java\\jdk11");
    EXPECT_EQ(err_, std::string("Registry key '") + kKey1 +
                        "\\CurrentVersion' has value '1.8', but '11' is required.\n");
}

TEST_F(RuntimeHomeTest, MissingFirstKeyWarnsAndTriesSecond) {
    Register(kKey2, "17");
    RegisterHome(kKey2, "17", "C:\\Java\\jdk17");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(home_, "C:\\Java\\jdk17");
    EXPECT_EQ(err_, std::string("GetJREHome(): Warning: could not open registry key '") + kKey1 + "'\n");
}

TEST_F(RuntimeHomeTest, VersionFromFirstKeyBindsTheSecond) {
    Register(kKey1, "1.8");  // no subkey 1.8
    Register(kKey2, "9");
    RegisterHome(kKey2, "9", "C:\\Java\\jdk9");
    EXPECT_FALSE(Find());
    EXPECT_EQ(err_, std::string("GetJREHome(): Warning: could not open registry key '") + kKey1 + "\\1.8'\n" +
                        "Registry key '" + kKey2 + "\\CurrentVersion' has value '9', but '1.8' is required.\n" +
                        "GetJREHome(): Warning: could not open registry key '" + kKey2 + "\\1.8'\n");
    ASSERT_EQ(g_fake.fatalTexts.size(), 1u);
    EXPECT_EQ(g_fake.fatalTexts[0], "Error: could not find java.dll\n");
    EXPECT_EQ(g_fakeRuntime.openRegistryKeys, 0);
}

TEST_F(RuntimeHomeTest, PublicRuntimeNeedsTheOption) {
    Register("Software\\JavaSoft\\JRE", "1.8");
    RegisterHome("Software\\JavaSoft\\JRE", "1.8", "C:\\Java\\public");
    EXPECT_FALSE(Find());
    ASSERT_EQ(g_fake.fatalTexts.size(), 1u);
    EXPECT_EQ(g_fake.fatalTexts[0], "Error: could not find java.dll\n");
    EXPECT_EQ(out_, "");
}

TEST_F(RuntimeHomeTest, PublicJreKeyWithOption) {
    g_launch.usePublicJre = true;
    Register("Software\\JavaSoft\\JRE", "1.8");
    RegisterHome("Software\\JavaSoft\\JRE", "1.8", "C:\\Java\\public");
    ASSERT_TRUE(Find());
    EXPECT_STREQ(home_, "C:\\Java\\public");
    EXPECT_EQ(out_, "Using public JRE from C:\\Java\\public\n");
    EXPECT_TRUE(g_fake.fatalTexts.empty());
}

TEST_F(RuntimeHomeTest, PublicJdkKeyComesFirst) {
    g_launch.usePublicJre = true;
    Register("Software\\JavaSoft\\JDK", "17");
    RegisterHome("Software\\JavaSoft\\JDK", "17", "C:\\Java\\jdk");
    Register("Software\\JavaSoft\\JRE", "17");
    RegisterHome("Software\\JavaSoft\\JRE", "17", "C:\\Java\\jre");
    ASSERT_TRUE(Find());
    EXPECT_EQ(out_, "Using public JDK from C:\\Java\\jdk\n");
}

TEST_F(RuntimeHomeTest, OldPublicKeyLast) {
    g_launch.usePublicJre = true;
    Register("Software\\JavaSoft\\Java Runtime Environment", "1.6");
    RegisterHome("Software\\JavaSoft\\Java Runtime Environment", "1.6", "C:\\Java\\old");
    ASSERT_TRUE(Find());
    EXPECT_EQ(out_, "Using public JRE from C:\\Java\\old\n");
}

TEST_F(RuntimeHomeTest, NonStringCurrentVersionIsUnreadable) {
    Register(kKey1, "1.8");
    RegisterHome(kKey1, "1.8", "C:\\Java\\jre8");
    g_fakeRuntime.registryOtherTypes.insert(std::string(kKey1) + "|CurrentVersion");
    EXPECT_FALSE(Find());
    EXPECT_EQ(g_launch.jreVersion, nullptr);
    EXPECT_NE(err_.find(std::string("Failed reading value of registry key:\n\t") + kKey1 + "\\CurrentVersion\n"),
              std::string::npos);
}

TEST_F(RuntimeHomeTest, MissingJavaHomeIsWarned) {
    Register(kKey1, "1.8");
    g_fakeRuntime.registryStrings[std::string(kKey1) + "\\1.8"];  // subkey without JavaHome
    EXPECT_FALSE(Find());
    EXPECT_EQ(err_, std::string("Failed reading value of registry key:\n\t") + kKey1 + "\\1.8\\JavaHome\n" +
                        "GetJREHome(): Warning: could not open registry key '" + kKey2 + "'\n");
    EXPECT_EQ(g_fakeRuntime.openRegistryKeys, 0);
}

TEST_F(RuntimeHomeTest, SyncRuntimeInMirrorJre) {
    g_fake.cacheFolder = "C:\\ProgramData\\.quorvia\\cache";
    AssignGrowableString(&g_launch.syncPath, "\\\\server\\share\\app");
    Exists("C:\\ProgramData\\.quorvia\\cache\\app\\sync\\jre\\bin\\java.dll");
    ASSERT_TRUE(FindSyncRuntimeHome(home_, sizeof home_));
    EXPECT_STREQ(home_, "C:\\ProgramData\\.quorvia\\cache\\app\\sync\\jre");
}

TEST_F(RuntimeHomeTest, SyncRuntimeInMirror) {
    g_fake.cacheFolder = "C:\\PD\\cache";
    AssignGrowableString(&g_launch.syncPath, "\\\\server\\share\\app");
    Exists("C:\\PD\\cache\\app\\sync\\bin\\java.dll");
    ASSERT_TRUE(FindSyncRuntimeHome(home_, sizeof home_));
    EXPECT_STREQ(home_, "C:\\PD\\cache\\app\\sync");
}

TEST_F(RuntimeHomeTest, SyncFallsBackToSourceFolderRuntime) {
    AssignGrowableString(&g_launch.syncPath, "\\\\server\\share\\app");
    Exists("\\\\server\\share\\app\\jre\\bin\\java.dll");
    ASSERT_TRUE(FindSyncRuntimeHome(home_, sizeof home_));
    EXPECT_STREQ(home_, "\\\\server\\share\\app\\jre");
}

TEST_F(RuntimeHomeTest, SyncPathTooLongForTheHomeBufferIsNotCutAndProbed) {
    char home[32];
    const std::string syncPath = "\\\\server\\share\\" + std::string(40, 's');
    AssignGrowableString(&g_launch.syncPath, syncPath.c_str());
    // What a cut to 31 characters would probe: a folder that is not the sync folder.
    Exists(syncPath.substr(0, sizeof home - 1) + "\\bin\\java.dll");
    Register(kKey1, "17");
    RegisterHome(kKey1, "17", "C:\\rt");
    ASSERT_TRUE(FindRuntimeHome(home, sizeof home));
    EXPECT_STREQ(home, "C:\\rt");
}

TEST_F(RuntimeHomeTest, JreSuffixThatDoesNotFitIsNotUsed) {
    char small[8];
    g_fake.exePath = "C:\\Ab\\x.exe";  // application home "C:\Ab" (5 characters)
    Exists("C:\\Ab\\jre\\bin\\java.dll");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(FindRuntimeHome(small, sizeof small));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(g_fake.fatalTexts.size(), 1u);
}

TEST(VmLibrary, FindFormsPathAndTestsExistence) {
    ResetFakeRuntimeAndCache();
    char path[1024];
    g_fakeRuntime.existingPaths.insert("C:\\rt\\bin\\client\\jvm.dll");
    EXPECT_FALSE(FindVmLibrary("C:\\rt", "server", path, sizeof path));
    EXPECT_STREQ(path, "C:\\rt\\bin\\server\\jvm.dll");
    EXPECT_TRUE(FindVmLibrary("C:\\rt", "client", path, sizeof path));
    EXPECT_STREQ(path, "C:\\rt\\bin\\client\\jvm.dll");
}

TEST(VmLibrary, CutPathIsNotFound) {
    ResetFakeRuntimeAndCache();
    g_fakeRuntime.existingPaths.insert("C:\\rt\\bin\\s");
    char path[12];
    EXPECT_FALSE(FindVmLibrary("C:\\rt", "server", path, sizeof path));
}

TEST(VmLibrary, DependencyFolderIsRuntimeBin) {
    char folder[1024];
    ASSERT_TRUE(GetVmDependencyFolder("C:\\Program Files\\rt\\bin\\server\\jvm.dll", folder, sizeof folder));
    EXPECT_STREQ(folder, "C:\\Program Files\\rt\\bin");
    EXPECT_FALSE(GetVmDependencyFolder("jvm.dll", folder, sizeof folder));
    EXPECT_STREQ(folder, "");
    EXPECT_FALSE(GetVmDependencyFolder("C:\\bin\\server\\jvm.dll", folder, 10));
}

}  // namespace
