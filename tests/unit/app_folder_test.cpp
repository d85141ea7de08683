// The application's folder in the cache: used only when no other account owns it or may change it
// and this user may write to it; otherwise the user's own cache folder, and neither when both fail.
#include <gtest/gtest.h>

#include <string>

#include "base/launch_state.h"
#include "fake_files_edge.h"
#include "fake_platform.h"
#include "files/app_folder.h"

namespace {

TEST(AppFolderVerdict, OnlyAFolderOfATrustedOwnerThatNoOneElseMayChangeIsUsable) {
    struct Case {
        FolderSecurity security;
        AppFolderVerdict verdict;
    };
    const Case cases[] = {
        {{FolderReal, OwnerCurrentUser, false, true}, AppFolderUsable},
        {{FolderReal, OwnerSystem, false, true}, AppFolderUsable},
        {{FolderReal, OwnerAdministrators, false, true}, AppFolderUsable},
        {{FolderReal, OwnerAdministrators, false, false}, AppFolderReadOnly},
        {{FolderReal, OwnerOther, false, true}, AppFolderForeign},
        {{FolderReal, OwnerUnreadable, false, true}, AppFolderForeign},
        {{FolderReal, OwnerCurrentUser, true, true}, AppFolderForeign},
        {{FolderLink, OwnerCurrentUser, false, true}, AppFolderForeign},
        {{FolderNotAFolder, OwnerCurrentUser, false, true}, AppFolderForeign},
        {{FolderAbsent, OwnerUnreadable, true, false}, AppFolderMissing},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.verdict, JudgeAppFolder(c.security))
            << c.security.kind << " owner " << c.security.owner << " others " << c.security.othersMayWrite
            << " user " << c.security.userMayWrite;
    }
}

class AppFolderChoice : public testing::Test {
protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        ResetFakeFileSystem();
        g_fake.exePath = "C:\\Apps\\App.exe";
        FsAddFolder(g_fake.cacheFolder);
        FsAddFolder(g_fake.userCacheFolder);
    }
    std::string Choose() {
        testing::internal::CaptureStderr();
        const char* folder = GetAppCacheFolder();
        err_ = testing::internal::GetCapturedStderr();
        return folder != nullptr ? folder : "(none)";
    }
    const std::string machine_ = g_fake.cacheFolder + "\\App";
    const std::string user_ = g_fake.userCacheFolder + "\\App";
    std::string err_;
};

TEST_F(AppFolderChoice, MissingFolderIsMadePrivateThenUsedAndHeldOpen) {
    EXPECT_EQ(machine_, Choose());
    ASSERT_NE(nullptr, FsNode(machine_));
    EXPECT_TRUE(FsNode(machine_)->privateFolder);
    EXPECT_EQ(FsKey(machine_), g_fs.heldFolder);
    // Decided once: a second ask queries nothing.
    size_t queries = g_fs.folderQueries.size();
    EXPECT_EQ(machine_, Choose());
    EXPECT_EQ(queries, g_fs.folderQueries.size());
}

TEST_F(AppFolderChoice, UnsafeMachineWideFolderSendsTheLaunchToTheUsersOwn) {
    for (int unsafe = 0; unsafe < 4; unsafe++) {
        SetUp();
        if (unsafe == 0) {
            FsAddLink(machine_, "C:\\Elsewhere", true);
        } else {
            FsAddFolder(machine_);
            FsNode(machine_)->foreignOwner = unsafe == 1;
            FsNode(machine_)->othersMayWrite = unsafe == 2;
            FsNode(machine_)->userMayWrite = unsafe != 3;  // an administrator's: safe, but not this user's to write
        }
        EXPECT_EQ(user_, Choose()) << unsafe;
        EXPECT_EQ(FsKey(user_), g_fs.heldFolder) << unsafe;
        EXPECT_TRUE(FsNode(user_)->privateFolder) << unsafe;
    }
}

TEST_F(AppFolderChoice, NeitherFolderSafeMeansNoCacheAtAll) {
    FsAddFolder(machine_);
    FsNode(machine_)->foreignOwner = true;
    FsAddFolder(user_);
    FsNode(user_)->othersMayWrite = true;
    EXPECT_EQ("(none)", Choose());
    EXPECT_EQ("", g_fs.heldFolder);
    EXPECT_EQ("No cache folder that only this user may change: nothing is cached\n", err_);
    char mirror[260];
    EXPECT_FALSE(FormatMirrorRoot(mirror, sizeof mirror));
}

}  // namespace
