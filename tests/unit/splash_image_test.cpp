#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "splash/splash_image.h"

namespace {

class SplashImageTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetFakePlatformAndState(); }
    void TearDown() override { ReleaseSplashImage(&source); }
    SplashImageSource source;
};

TEST(SplashPlacement, CentresInAWorkAreaAtTheOrigin) {
    int x = -1, y = -1;
    CentreInWorkArea(0, 0, 1920, 1040, 600, 437, &x, &y);
    EXPECT_EQ(660, x);
    EXPECT_EQ(301, y);
    CentreInWorkArea(0, 0, 1920, 1040, 601, 437, &x, &y);
    EXPECT_EQ(659, x);
}

TEST(SplashPlacement, AddsTheWorkAreaOffset) {
    int x = -1, y = -1;
    // A taskbar on the left and at the top moves the work area away from the origin.
    CentreInWorkArea(100, 40, 1380, 1024, 200, 100, &x, &y);
    EXPECT_EQ(640, x);  // (1280 - 200) / 2 + 100
    EXPECT_EQ(482, y);  // (984 - 100) / 2 + 40
}

TEST(SplashPlacement, ImagesLargerThanTheAreaTruncateTowardZero) {
    int x = 0, y = 0;
    // (800 - 1001) / 2 is -100.5: truncation gives -100, not -101.
    CentreInWorkArea(0, 0, 800, 600, 1001, 603, &x, &y);
    EXPECT_EQ(-100, x);
    EXPECT_EQ(-1, y);
}

TEST(SplashPlacement, CreationPositionUsesTheDesktopEdges) {
    int x = 0, y = 0;
    SplashCreationPosition(1280, 1024, 601, 437, &x, &y);
    EXPECT_EQ(339, x);
    EXPECT_EQ(293, y);
    SplashCreationPosition(100, 100, 301, 103, &x, &y);
    EXPECT_EQ(-100, x);
    EXPECT_EQ(-1, y);
}

TEST(SplashNames, BareOnlyWithoutDriveAndDirectory) {
    EXPECT_TRUE(IsBareSplashName("logo.png"));
    EXPECT_TRUE(IsBareSplashName(""));
    EXPECT_TRUE(IsBareSplashName("a"));
    EXPECT_FALSE(IsBareSplashName("img\\logo.png"));
    EXPECT_FALSE(IsBareSplashName("img/logo.png"));
    EXPECT_FALSE(IsBareSplashName("C:logo.png"));
    EXPECT_FALSE(IsBareSplashName("C:\\img\\logo.png"));
    EXPECT_FALSE(IsBareSplashName("\\\\server\\share\\logo.png"));
}

TEST_F(SplashImageTest, BareNameIsResolvedBesideTheExecutable) {
    g_fake.exePath = "C:\\Apps\\Tool\\tool.exe";
    ASSERT_TRUE(ChooseSplashImage("logo.png", &source));
    EXPECT_STREQ("C:\\Apps\\Tool\\logo.png", source.path);
    EXPECT_EQ(nullptr, source.bytes);
}

TEST_F(SplashImageTest, PathsWithADriveOrDirectoryAreUsedUnchanged) {
    const char* relative = "img\\logo.png";
    ASSERT_TRUE(ChooseSplashImage(relative, &source));
    EXPECT_STREQ(relative, source.path);
    ReleaseSplashImage(&source);
    ASSERT_TRUE(ChooseSplashImage("C:logo.png", &source));
    EXPECT_STREQ("C:logo.png", source.path);
    ReleaseSplashImage(&source);
    ASSERT_TRUE(ChooseSplashImage("D:\\pics\\logo.png", &source));
    EXPECT_STREQ("D:\\pics\\logo.png", source.path);
}

TEST_F(SplashImageTest, EmptyOptionCountsAndNamesTheExecutableFolder) {
    SetFakeResource("VM-SPLASH", 20000, "\x89PNG");
    ASSERT_TRUE(ChooseSplashImage("", &source));
    EXPECT_STREQ("C:\\App\\", source.path);
    EXPECT_EQ(nullptr, source.bytes);
}

TEST_F(SplashImageTest, OptionGivenIgnoresTheResource) {
    SetFakeResource("VM-SPLASH", 20000, "\x89PNG");
    ASSERT_TRUE(ChooseSplashImage("missing.png", &source));
    EXPECT_EQ(nullptr, source.bytes);
    EXPECT_EQ(0u, source.size);
}

TEST_F(SplashImageTest, FolderAndBareNameOf259CharactersShowNothing) {
    g_fake.exePath = "C:\\App\\app.exe";  // folder "C:\App\" has 7 characters
    std::string fits(251, 'a');              // 7 + 251 = 258
    ASSERT_TRUE(ChooseSplashImage(fits.c_str(), &source));
    EXPECT_EQ(258u, std::string(source.path).size());
    EXPECT_EQ("C:\\App\\" + fits, source.path);
    ReleaseSplashImage(&source);
    std::string tooLong(252, 'a');           // 7 + 252 = 259
    EXPECT_FALSE(ChooseSplashImage(tooLong.c_str(), &source));
    EXPECT_EQ(nullptr, source.path);
}

TEST_F(SplashImageTest, WithoutOptionTheResourceBytesAreCopied) {
    std::string png("\x89PNG\r\n\x1a\n\0\0tail", 14);
    SetFakeResource("VM-SPLASH", 20000, png);
    ASSERT_TRUE(ChooseSplashImage(nullptr, &source));
    EXPECT_EQ(nullptr, source.path);
    ASSERT_NE(nullptr, source.bytes);
    ASSERT_EQ(png.size(), source.size);
    EXPECT_EQ(png, std::string(reinterpret_cast<char*>(source.bytes), source.size));
}

TEST_F(SplashImageTest, ResourceUnderAnotherNumberIsNotUsed) {
    SetFakeResource("VM-SPLASH", 2000, "\x89PNG");
    SetFakeResource("SPLASH", 20000, "\x89PNG");
    EXPECT_FALSE(ChooseSplashImage(nullptr, &source));
    EXPECT_EQ(nullptr, source.bytes);
}

TEST_F(SplashImageTest, EmptyResourceGivesAnEmptyImage) {
    SetFakeResource("VM-SPLASH", 20000, "");
    ASSERT_TRUE(ChooseSplashImage(nullptr, &source));
    EXPECT_NE(nullptr, source.bytes);
    EXPECT_EQ(0u, source.size);
}

TEST_F(SplashImageTest, ReleaseEmptiesTheSource) {
    SetFakeResource("VM-SPLASH", 20000, "abc");
    ASSERT_TRUE(ChooseSplashImage(nullptr, &source));
    ReleaseSplashImage(&source);
    EXPECT_EQ(nullptr, source.bytes);
    EXPECT_EQ(nullptr, source.path);
    EXPECT_EQ(0u, source.size);
}

}  // namespace
