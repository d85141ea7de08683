#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/launch_state.h"
#include "fake_platform.h"
#include "fake_splash_edge.h"
#include "splash/splash.h"
#include "splash/splash_bridge.h"
#include "splash/splash_edge.h"

namespace {

const char kHome[] = "C:\\App\\jre";
const char kLibrary[] = "C:\\App\\jre\\bin\\splashscreen.dll";
const char kBin[] = "C:\\App\\jre\\bin";

class SplashBridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        ResetRuntimeSplashBridge();
        g_lib = FakeSplashLibrary();
        g_lib.loadablePaths.insert(kLibrary);
        AssignGrowableString(&g_launch.runtimeHome, kHome);
    }
    void TearDown() override { ResetRuntimeSplashBridge(); }

    static std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (const auto& call : g_lib.calls) names.push_back(call.substr(0, call.find('(')));
        return names;
    }
};

TEST_F(SplashBridgeTest, FileIsLoadedInOrderWithTheBinFolderCurrent) {
    StartRuntimeSplash("C:\\App\\logo.png", nullptr, 0);
    const std::string at = std::string(" @") + kBin;
    std::vector<std::string> expected = {
        "SplashGetScaledImgNameMaxPstfixLen(C:\\App\\logo.png)" + at,
        "SplashGetScaledImageName(<null>,C:\\App\\logo.png)" + at,
        "SplashInit()" + at,
        "SplashLoadFile(C:\\App\\logo.png)" + at,
        "SplashSetFileJarName(C:\\App\\logo.png,<null>)" + at,
    };
    EXPECT_EQ(expected, g_lib.calls);
    EXPECT_FLOAT_EQ(1.0f, g_lib.scaleSeenOnEntry);
    EXPECT_EQ(64u, g_lib.bufferSizeSeen);
    // The library is loaded while its bin folder is current, and the old folder comes back.
    ASSERT_EQ(1u, g_lib.loadAttempts.size());
    EXPECT_EQ(std::string(kLibrary) + at, g_lib.loadAttempts[0]);
    EXPECT_EQ((std::vector<std::string>{kBin, "C:\\Work"}), g_lib.folderChanges);
    EXPECT_EQ("C:\\Work", g_lib.currentFolder);
}

TEST_F(SplashBridgeTest, ScaledVariantIsLoadedButTheJarNameGetsTheOriginal) {
    g_lib.hasScaledVariant = true;
    g_lib.scaledName = "C:\\App\\logo@2x.png";
    g_lib.scaledFactor = 2.0f;
    StartRuntimeSplash("C:\\App\\logo.png", nullptr, 0);
    EXPECT_EQ((std::vector<std::string>{"SplashGetScaledImgNameMaxPstfixLen", "SplashGetScaledImageName",
                                        "SplashInit", "SplashSetScaleFactor", "SplashLoadFile",
                                        "SplashSetFileJarName"}),
              Names());
    EXPECT_EQ(0u, g_lib.calls[3].find("SplashSetScaleFactor(2.000000)"));
    EXPECT_EQ(0u, g_lib.calls[4].find("SplashLoadFile(C:\\App\\logo@2x.png)"));
    EXPECT_EQ(0u, g_lib.calls[5].find("SplashSetFileJarName(C:\\App\\logo.png,<null>)"));
}

TEST_F(SplashBridgeTest, BytesGoThroughInitAndLoadMemory) {
    const char bytes[] = "\x89PNG-bytes";
    StartRuntimeSplash(nullptr, bytes, 10);
    EXPECT_EQ((std::vector<std::string>{"SplashInit", "SplashLoadMemory"}), Names());
    EXPECT_EQ(0u, g_lib.calls[1].find("SplashLoadMemory(10) @C:\\App\\jre\\bin"));
    EXPECT_EQ(std::string(bytes, 10), g_lib.memorySeen);
    EXPECT_EQ("C:\\Work", g_lib.currentFolder);
}

TEST_F(SplashBridgeTest, EmptyBytesMakeNoCall) {
    const char bytes[1] = {0};
    StartRuntimeSplash(nullptr, bytes, 0);
    EXPECT_TRUE(g_lib.calls.empty());
    EXPECT_TRUE(g_lib.loadAttempts.empty());
    EXPECT_EQ("C:\\Work", g_lib.currentFolder);
}

TEST_F(SplashBridgeTest, NothingGivenDoesNothing) {
    StartRuntimeSplash(nullptr, nullptr, 5);
    EXPECT_TRUE(g_lib.calls.empty());
    EXPECT_TRUE(g_lib.folderChanges.empty());
}

TEST_F(SplashBridgeTest, MissingInitStillLoadsFileAndMemory) {
    g_lib.missingExports.insert("SplashInit");
    StartRuntimeSplash("C:\\App\\logo.png", nullptr, 0);
    EXPECT_EQ((std::vector<std::string>{"SplashGetScaledImgNameMaxPstfixLen", "SplashGetScaledImageName",
                                        "SplashLoadFile", "SplashSetFileJarName"}),
              Names());
    g_lib.calls.clear();
    StartRuntimeSplash(nullptr, "abc", 3);
    EXPECT_EQ((std::vector<std::string>{"SplashLoadMemory"}), Names());
}

TEST_F(SplashBridgeTest, MissingScaledNameExportsFallBackToTheFile) {
    g_lib.missingExports.insert("SplashGetScaledImgNameMaxPstfixLen");
    g_lib.missingExports.insert("SplashGetScaledImageName");
    g_lib.hasScaledVariant = true;
    g_lib.scaledName = "x@2x.png";
    StartRuntimeSplash("img\\logo.png", nullptr, 0);
    EXPECT_EQ((std::vector<std::string>{"SplashInit", "SplashLoadFile", "SplashSetFileJarName"}), Names());
    EXPECT_EQ(0u, g_lib.calls[1].find("SplashLoadFile(img\\logo.png)"));
}

TEST_F(SplashBridgeTest, NoLibraryMeansNoCallsAndTheFolderIsRestored) {
    g_lib.loadablePaths.clear();
    StartRuntimeSplash("C:\\App\\logo.png", nullptr, 0);
    EXPECT_TRUE(g_lib.calls.empty());
    EXPECT_EQ("C:\\Work", g_lib.currentFolder);
    // A failed load is not remembered: every lookup tries again.
    EXPECT_EQ(5u, g_lib.loadAttempts.size());
}

TEST_F(SplashBridgeTest, LibraryIsLoadedOnceAndFoundExportsAreKept) {
    StartRuntimeSplash("C:\\App\\logo.png", nullptr, 0);
    StartRuntimeSplash(nullptr, "abc", 3);
    EXPECT_EQ(1u, g_lib.loadAttempts.size());
    EXPECT_EQ(1, g_lib.lookups["SplashInit"]);
    EXPECT_EQ(1, g_lib.lookups["SplashLoadMemory"]);
}

TEST_F(SplashBridgeTest, MissingExportIsLookedUpAgainNextTime) {
    g_lib.missingExports.insert("SplashInit");
    EXPECT_EQ(nullptr, ResolveSplashExport("SplashInit"));
    SplashInit();
    SplashInit();
    EXPECT_EQ(3, g_lib.lookups["SplashInit"]);
    g_lib.missingExports.clear();
    SplashInit();
    SplashInit();
    EXPECT_EQ(4, g_lib.lookups["SplashInit"]);
    EXPECT_EQ(2u, g_lib.calls.size());
}

TEST_F(SplashBridgeTest, WrappersReturnTheirFallbacksWithoutTheLibrary) {
    g_lib.loadablePaths.clear();
    float scale = 1.0f;
    char buffer[8] = "keep";
    EXPECT_EQ(0, SplashGetScaledImgNameMaxPstfixLen("a.png"));
    EXPECT_FALSE(SplashGetScaledImageName(nullptr, "a.png", &scale, buffer, sizeof buffer));
    EXPECT_EQ(0, SplashLoadFile("a.png"));
    EXPECT_EQ(0, SplashLoadMemory(buffer, 4));
    EXPECT_FLOAT_EQ(1.0f, scale);
    EXPECT_STREQ("keep", buffer);
    EXPECT_TRUE(g_lib.calls.empty());
}

TEST_F(SplashBridgeTest, LibraryPathOf1024CharactersIsNotLoaded) {
    const size_t suffix = strlen("\\bin\\splashscreen.dll");
    std::string home(1024 - suffix, 'h');
    AssignGrowableString(&g_launch.runtimeHome, home.c_str());
    EXPECT_EQ(nullptr, ResolveSplashExport("SplashInit"));
    EXPECT_TRUE(g_lib.loadAttempts.empty());
    home.pop_back();  // 1023 characters fit
    AssignGrowableString(&g_launch.runtimeHome, home.c_str());
    ResolveSplashExport("SplashInit");
    ASSERT_EQ(1u, g_lib.loadAttempts.size());
    EXPECT_EQ(1023u, g_lib.loadAttempts[0].find(" @"));
}

TEST_F(SplashBridgeTest, UnreadableCurrentFolderIsLeftAlone) {
    g_lib.currentFolderReadable = false;
    StartRuntimeSplash(nullptr, "abc", 3);
    EXPECT_TRUE(g_lib.folderChanges.empty());
    EXPECT_EQ((std::vector<std::string>{"SplashInit", "SplashLoadMemory"}), Names());
}

TEST_F(SplashBridgeTest, ShowRuntimeSplashResolvesBareNamesBesideTheExe) {
    g_fake.exePath = "C:\\Apps\\Tool\\tool.exe";
    SetFakeResource("VM-SPLASH", 20000, "resource-bytes");
    ShowRuntimeSplash("logo.png");
    ASSERT_EQ(5u, g_lib.calls.size());
    EXPECT_EQ(0u, g_lib.calls[3].find("SplashLoadFile(C:\\Apps\\Tool\\logo.png)"));
    EXPECT_TRUE(g_lib.memorySeen.empty());
}

TEST_F(SplashBridgeTest, ShowRuntimeSplashPassesRelativeDirectoriesUnchanged) {
    ShowRuntimeSplash("img\\logo.png");
    ASSERT_EQ(5u, g_lib.calls.size());
    EXPECT_EQ(0u, g_lib.calls[3].find("SplashLoadFile(img\\logo.png) @C:\\App\\jre\\bin"));
}

TEST_F(SplashBridgeTest, ShowRuntimeSplashUsesTheResourceWithoutOption) {
    std::string png("\x89PNG\0\1\2", 7);
    SetFakeResource("VM-SPLASH", 20000, png);
    ShowRuntimeSplash(nullptr);
    EXPECT_EQ((std::vector<std::string>{"SplashInit", "SplashLoadMemory"}), Names());
    EXPECT_EQ(png, g_lib.memorySeen);
}

TEST_F(SplashBridgeTest, ShowRuntimeSplashWithoutAnySourceDoesNothing) {
    ShowRuntimeSplash(nullptr);
    std::string tooLong(300, 'a');
    ShowRuntimeSplash(tooLong.c_str());
    EXPECT_TRUE(g_lib.calls.empty());
    EXPECT_TRUE(g_lib.loadAttempts.empty());
    EXPECT_TRUE(g_lib.folderChanges.empty());
}

}  // namespace
