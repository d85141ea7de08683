// The portable rules of the sync mirror and the jar copy: path forming, jar names, the copy rule.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>

#include "base/app_paths.h"
#include "base/text.h"
#include "cache/cache_names.h"
#include "cache/jar_copy.h"
#include "files/entry_names.h"
#include "files/entry_owner.h"
#include "files/files_edge.h"
#include "files/held_listing.h"
#include "files/replace.h"
#include "sync/mirror_by_listing.h"

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
    char buffer[kWindowsPathSize];
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

CopyTargetProbe Opened(uint32_t size, uint64_t time) { return {CopyTargetOpened, true, size, true, time, OwnerCurrentUser}; }

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

TEST(SyncCopyRule, MissingTargetDiffers) {
    CopyTargetProbe missing = {CopyTargetMissing, false, 0, false, 0, OwnerUnreadable};
    EXPECT_TRUE(CopyTargetDiffers(missing, 0, 0));
}

TEST(SyncCopyRule, UnreadableSizeOrTimeDiffers) {
    CopyTargetProbe noTime = {CopyTargetOpened, true, 10, false, 500, OwnerCurrentUser};
    CopyTargetProbe noSize = {CopyTargetOpened, false, 10, true, 500, OwnerCurrentUser};
    EXPECT_TRUE(CopyTargetDiffers(noTime, 10, 500));
    EXPECT_TRUE(CopyTargetDiffers(noSize, 10, 500));
}

TEST(JarCopyResolvedPath, ExecutableFolderThenJarPath) {
    char buffer[kWindowsPathSize];
    EXPECT_TRUE(FormResolvedJarPath(buffer, sizeof buffer, "X:\\Apps\\App.exe", "lib\\app.jar"));
    EXPECT_STREQ("X:\\Apps\\lib\\app.jar", buffer);
}

TEST(JarCopyResolvedPath, AbsoluteJarPathIsStillAppended) {
    char buffer[kWindowsPathSize];
    EXPECT_TRUE(FormResolvedJarPath(buffer, sizeof buffer, "X:\\Apps\\App.exe", "C:\\lib\\app.jar"));
    EXPECT_STREQ("X:\\Apps\\C:\\lib\\app.jar", buffer);
}

TEST(JarCopyResolvedPath, CutAfterTheLastBackslashOnly) {
    char buffer[kWindowsPathSize];
    EXPECT_TRUE(FormResolvedJarPath(buffer, sizeof buffer, "X:\\a.b\\c\\App.exe", "app.jar"));
    EXPECT_STREQ("X:\\a.b\\c\\app.jar", buffer);
}

TEST(JarCopyResolvedPath, TooLongIsRefusedNotCut) {
    std::string exe = "X:\\" + std::string(240, 'f') + "\\App.exe";
    char buffer[kWindowsPathSize];
    std::string fits(259 - 244, 'j');
    EXPECT_TRUE(FormResolvedJarPath(buffer, sizeof buffer, exe.c_str(), fits.c_str()));
    EXPECT_EQ(259u, std::string(buffer).size());
    std::string tooLong = fits + "j";
    EXPECT_FALSE(FormResolvedJarPath(buffer, sizeof buffer, exe.c_str(), tooLong.c_str()));
    EXPECT_STREQ("", buffer);
}

// ---- The copy rule decided from a held listing ----

FileEntryInfo Listed(const char* name, unsigned long attributes, uint32_t sizeLow, uint64_t time) {
    FileEntryInfo entry = {};
    snprintf(entry.name, sizeof entry.name, "%s", name);
    entry.attributes = attributes;
    entry.sizeLow = sizeLow;
    entry.lastWriteTime = time;
    return entry;
}

struct WholeListing {
    HeldListing held;
    explicit WholeListing(std::initializer_list<FileEntryInfo> entries) {
        held.opened = true;
        held.ended = true;
        for (const FileEntryInfo& entry : entries) HoldListedEntry(&held, entry);
        SortHeldListing(&held);
    }
    ~WholeListing() { ReleaseHeldListing(&held); }
};

TEST(SyncHeldListing, FindsNamesWhateverTheCaseOfTheirAsciiLetters) {
    WholeListing listing({Listed("Readme.TXT", 0x20, 1, 1), Listed("b.jar", 0x20, 2, 2), Listed(".", 0x10, 0, 0)});
    ASSERT_NE(nullptr, FindHeldEntry(&listing.held, "readme.txt"));
    EXPECT_STREQ("Readme.TXT", FindHeldEntry(&listing.held, "README.TXT")->name);
    EXPECT_NE(nullptr, FindHeldEntry(&listing.held, "B.JAR"));
    EXPECT_EQ(nullptr, FindHeldEntry(&listing.held, "b.ja"));
    EXPECT_EQ(nullptr, FindHeldEntry(&listing.held, "."));  // the dot entries are never held
    EXPECT_EQ(2u, listing.held.count);
}

TEST(SyncHeldListing, OtherLettersMustMatchExactly) {
    // Only ASCII is folded here: an unmatched name costs a copy or a lookup, never a wrong match.
    WholeListing listing({Listed("\xc3\xa9t\xc3\xa9.txt", 0x20, 1, 1)});
    EXPECT_NE(nullptr, FindHeldEntry(&listing.held, "\xc3\xa9T\xc3\xa9.TXT"));
    EXPECT_EQ(nullptr, FindHeldEntry(&listing.held, "\xc3\x89t\xc3\x89.txt"));
}

TEST(SyncHeldListing, ManyEntriesAreAllFound) {
    HeldListing held;
    held.opened = held.ended = true;
    char name[32];
    for (int i = 0; i < 5000; i++) {
        snprintf(name, sizeof name, "f%05d.txt", (i * 7919) % 5000);
        HoldListedEntry(&held, Listed(name, 0x20, static_cast<uint32_t>(i), 0));
    }
    ASSERT_TRUE(SortHeldListing(&held));
    for (int i = 0; i < 5000; i++) {
        snprintf(name, sizeof name, "F%05d.TXT", i);
        ASSERT_NE(nullptr, FindHeldEntry(&held, name)) << name;
    }
    EXPECT_EQ("f00000.txt", std::string(held.entries[0].name));  // listing order kept
    ReleaseHeldListing(&held);
}

TEST(SyncListedCopyRule, PlainFileWithEqualSizeAndTimeMatches) {
    WholeListing mirror({Listed("a.txt", 0x20, 10, 500), Listed("h.txt", 0x02 | 0x04, 10, 500)});
    EXPECT_EQ(TargetMatches, JudgeListedTarget(&mirror.held, "A.txt", 10, 500));
    EXPECT_EQ(TargetMatches, JudgeListedTarget(&mirror.held, "h.txt", 10, 500));  // hidden, system
    EXPECT_EQ(TargetDiffers, JudgeListedTarget(&mirror.held, "a.txt", 11, 500));
    EXPECT_EQ(TargetDiffers, JudgeListedTarget(&mirror.held, "a.txt", 10, 499));
    EXPECT_EQ(TargetDiffers, JudgeListedTarget(&mirror.held, "a.txt", 10, 501));
    EXPECT_EQ(TargetDiffers, JudgeListedTarget(&mirror.held, "missing.txt", 10, 500));
}

TEST(SyncListedCopyRule, WhatTheListingCannotSettleIsProbed) {
    WholeListing mirror({Listed("dir", 0x10, 0, 500), Listed("link", 0x400, 10, 500),
                         Listed("odd", kEntryAttributesInvalid, 10, 500)});
    EXPECT_EQ(TargetUnknown, JudgeListedTarget(&mirror.held, "dir", 0, 500));
    EXPECT_EQ(TargetUnknown, JudgeListedTarget(&mirror.held, "link", 10, 500));
    EXPECT_EQ(TargetUnknown, JudgeListedTarget(&mirror.held, "odd", 10, 500));
}

TEST(SyncListedCopyRule, AListingThatIsNotWholeSettlesNothing) {
    WholeListing broken({Listed("a.txt", 0x20, 10, 500)});
    broken.held.ended = false;  // ended with an error: a name missing from it may still be there
    EXPECT_EQ(TargetUnknown, JudgeListedTarget(&broken.held, "a.txt", 10, 500));
    EXPECT_EQ(TargetUnknown, JudgeListedTarget(&broken.held, "b.txt", 10, 500));
    WholeListing partial({Listed("a.txt", 0x20, 10, 500)});
    partial.held.failed = true;  // memory ran out while holding it
    EXPECT_EQ(TargetUnknown, JudgeListedTarget(&partial.held, "b.txt", 10, 500));
    HeldListing unopened;
    EXPECT_EQ(TargetUnknown, JudgeListedTarget(&unopened, "a.txt", 10, 500));
}

}  // namespace
