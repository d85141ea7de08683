// The portable rules of the sync mirror and the jar copy: path forming, jar names, the copy rule.
#include <gtest/gtest.h>

#include <string>

#include "cache/jar_copy.h"
#include "cache/sync_mirror.h"

namespace {

TEST(SyncPathText, FormsTextThatFits) {
    char buffer[16];
    EXPECT_TRUE(FormatPathText(buffer, sizeof buffer, "%s\\%s", "C:\\a", "b.txt"));
    EXPECT_STREQ("C:\\a\\b.txt", buffer);
}

TEST(SyncPathText, LongestTextThatFitsLeavesRoomForTheTerminator) {
    char buffer[8];
    EXPECT_TRUE(FormatPathText(buffer, sizeof buffer, "%s", "1234567"));
    EXPECT_STREQ("1234567", buffer);
    EXPECT_FALSE(FormatPathText(buffer, sizeof buffer, "%s", "12345678"));
    EXPECT_STREQ("", buffer);
}

TEST(SyncPathText, NeverFormsACutPath) {
    std::string name(300, 'n');
    char buffer[kSyncPathSize];
    EXPECT_FALSE(FormatPathText(buffer, sizeof buffer, "C:\\%s", name.c_str()));
    EXPECT_STREQ("", buffer);
}

TEST(SyncJarName, LastDotMustBeginExactlyDotJar) {
    EXPECT_TRUE(IsJarName("app.jar"));
    EXPECT_TRUE(IsJarName("a.tar.jar"));
    EXPECT_TRUE(IsJarName(".jar"));
    EXPECT_FALSE(IsJarName("APP.JAR"));
    EXPECT_FALSE(IsJarName("app.Jar"));
    EXPECT_FALSE(IsJarName("app.jar.bak"));
    EXPECT_FALSE(IsJarName("app.jars"));
    EXPECT_FALSE(IsJarName("appjar"));
    EXPECT_FALSE(IsJarName("jar"));
}

TEST(SyncDotEntries, OnlyDotAndDotDot) {
    EXPECT_TRUE(IsDotEntryName("."));
    EXPECT_TRUE(IsDotEntryName(".."));
    EXPECT_FALSE(IsDotEntryName("..."));
    EXPECT_FALSE(IsDotEntryName(".hidden"));
    EXPECT_FALSE(IsDotEntryName(""));
}

TEST(SyncAttributes, FolderAndLinkBitsAndInvalidAttributes) {
    EXPECT_TRUE(IsFolderAttributes(0x10));
    EXPECT_TRUE(IsFolderAttributes(0x10 | 0x400));
    EXPECT_FALSE(IsFolderAttributes(0x20));
    EXPECT_FALSE(IsFolderAttributes(kEntryAttributesInvalid));
    EXPECT_TRUE(IsLinkAttributes(0x400));
    EXPECT_TRUE(IsLinkAttributes(0x410));
    EXPECT_FALSE(IsLinkAttributes(0x10));
    EXPECT_FALSE(IsLinkAttributes(kEntryAttributesInvalid));
}

TEST(SyncLookupErrors, OnlyFileOrPathNotFoundMeanAbsent) {
    EXPECT_TRUE(LookupErrorMeansAbsent(2));    // ERROR_FILE_NOT_FOUND
    EXPECT_TRUE(LookupErrorMeansAbsent(3));    // ERROR_PATH_NOT_FOUND
    EXPECT_FALSE(LookupErrorMeansAbsent(0));
    EXPECT_FALSE(LookupErrorMeansAbsent(5));     // ERROR_ACCESS_DENIED
    EXPECT_FALSE(LookupErrorMeansAbsent(21));    // ERROR_NOT_READY
    EXPECT_FALSE(LookupErrorMeansAbsent(53));    // ERROR_BAD_NETPATH
    EXPECT_FALSE(LookupErrorMeansAbsent(59));    // ERROR_UNEXP_NET_ERR
    EXPECT_FALSE(LookupErrorMeansAbsent(64));    // ERROR_NETNAME_DELETED
    EXPECT_FALSE(LookupErrorMeansAbsent(67));    // ERROR_BAD_NET_NAME
    EXPECT_FALSE(LookupErrorMeansAbsent(1231));  // ERROR_NETWORK_UNREACHABLE
}

CopyTargetProbe Opened(uint32_t size, uint64_t time) { return {CopyTargetOpened, true, size, true, time}; }

TEST(SyncCopyRule, EqualSizeAndTimeIsNoChange) {
    EXPECT_FALSE(CopyTargetDiffers(Opened(10, 500), 10, 500));
}

TEST(SyncCopyRule, OtherSizeDiffers) {
    EXPECT_TRUE(CopyTargetDiffers(Opened(10, 500), 11, 500));
    EXPECT_TRUE(CopyTargetDiffers(Opened(11, 500), 10, 500));
}

TEST(SyncCopyRule, LaterOrEarlierTimeDiffers) {
    EXPECT_TRUE(CopyTargetDiffers(Opened(10, 500), 10, 501));
    EXPECT_TRUE(CopyTargetDiffers(Opened(10, 500), 10, 499));
    EXPECT_TRUE(CopyTargetDiffers(Opened(10, 0x100000000ull + 500), 10, 500));
}

TEST(SyncCopyRule, HeldOpenOrMissingTargetDiffers) {
    CopyTargetProbe held = {CopyTargetHeldOpen, false, 0, false, 0};
    CopyTargetProbe missing = {CopyTargetMissing, false, 0, false, 0};
    EXPECT_TRUE(CopyTargetDiffers(held, 0, 0));
    EXPECT_TRUE(CopyTargetDiffers(missing, 0, 0));
}

TEST(SyncCopyRule, UnreadableSizeOrTimeDiffers) {
    CopyTargetProbe noTime = {CopyTargetOpened, true, 10, false, 500};
    CopyTargetProbe noSize = {CopyTargetOpened, false, 10, true, 500};
    EXPECT_TRUE(CopyTargetDiffers(noTime, 10, 500));
    EXPECT_TRUE(CopyTargetDiffers(noSize, 10, 500));
}

TEST(JarCopyResolvedPath, ExecutableFolderThenJarPath) {
    char buffer[kSyncPathSize];
    EXPECT_TRUE(FormResolvedJarPath(buffer, sizeof buffer, "X:\\Apps\\App.exe", "lib\\app.jar"));
    EXPECT_STREQ("X:\\Apps\\lib\\app.jar", buffer);
}

TEST(JarCopyResolvedPath, AbsoluteJarPathIsStillAppended) {
    char buffer[kSyncPathSize];
    EXPECT_TRUE(FormResolvedJarPath(buffer, sizeof buffer, "X:\\Apps\\App.exe", "C:\\lib\\app.jar"));
    EXPECT_STREQ("X:\\Apps\\C:\\lib\\app.jar", buffer);
}

TEST(JarCopyResolvedPath, CutAfterTheLastBackslashOnly) {
    char buffer[kSyncPathSize];
    EXPECT_TRUE(FormResolvedJarPath(buffer, sizeof buffer, "X:\\a.b\\c\\App.exe", "app.jar"));
    EXPECT_STREQ("X:\\a.b\\c\\app.jar", buffer);
}

TEST(JarCopyResolvedPath, TooLongIsRefusedNotCut) {
    std::string exe = "X:\\" + std::string(240, 'f') + "\\App.exe";
    char buffer[kSyncPathSize];
    std::string fits(259 - 244, 'j');
    EXPECT_TRUE(FormResolvedJarPath(buffer, sizeof buffer, exe.c_str(), fits.c_str()));
    EXPECT_EQ(259u, std::string(buffer).size());
    std::string tooLong = fits + "j";
    EXPECT_FALSE(FormResolvedJarPath(buffer, sizeof buffer, exe.c_str(), tooLong.c_str()));
    EXPECT_STREQ("", buffer);
}

}  // namespace
