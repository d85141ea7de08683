// CacheJarPath: the jar in place, or its copy in the cache refreshed when the network jar changed.
#include <gtest/gtest.h>

#include <string>

#include "base/launch_state.h"
#include "cache/jar_copy.h"
#include "fake_files_edge.h"
#include "fake_platform.h"
#include "files/entry_names.h"
#include "files/replace.h"

namespace {

const char kCache[] = "C:\\PD\\.quorvia\\cache";
const char kCopy[] = "C:\\PD\\.quorvia\\cache\\App\\App.dat";  // in the application's own folder
const char kNetworkJar[] = "X:\\Apps\\lib\\app.jar";

class JarCopyTest : public testing::Test {
protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        ResetFakeFileSystem();
        g_fake.cacheFolder = kCache;
        g_fake.exePath = "X:\\Apps\\App.exe";
        FsAddFolder(kCache);
        SetJarPath("lib\\app.jar");
    }
    static void SetJarPath(const std::string& text) { AssignGrowableString(&g_launch.jarPathBuffer, text.c_str()); g_launch.jarPath = g_launch.jarPathBuffer.text; }
    static std::string Run() {
        g_fs.copies.clear();
        g_fs.probes.clear();
        g_fs.lookups.clear();
        const char* path = CacheJarPath();
        return path != nullptr ? path : "(null)";
    }
};

TEST_F(JarCopyTest, LocalJarIsUsedInPlaceAndNothingIsCopied) {
    g_fake.exePath = "C:\\Apps\\App.exe";
    FsAddFile("C:\\Apps\\lib\\app.jar", "jar", 1);
    EXPECT_EQ("C:\\Apps\\lib\\app.jar", Run());
    EXPECT_TRUE(g_fs.lookups.empty());
    EXPECT_TRUE(g_fs.probes.empty());
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_FALSE(FsExists(kCopy));
}

TEST_F(JarCopyTest, LocalJarPathIsReturnedEvenWhenNoFileIsThere) {
    g_fake.exePath = "C:\\Apps\\App.exe";
    EXPECT_EQ("C:\\Apps\\lib\\app.jar", Run());
}

TEST_F(JarCopyTest, NetworkJarIsCopiedOnTheFirstStart) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    EXPECT_EQ(kCopy, Run());
    ASSERT_EQ(1u, g_fs.copies.size());
    EXPECT_EQ(std::string(kNetworkJar) + ">" + kCopy, g_fs.copies[0]);
    EXPECT_EQ("jar bytes", FsNode(kCopy)->content);
    EXPECT_EQ(77u, FsNode(kCopy)->lastWriteTime);
}

TEST_F(JarCopyTest, UncJarIsCopiedToo) {
    g_fake.exePath = "\\\\srv\\share\\App.exe";
    FsAddFile("\\\\srv\\share\\lib\\app.jar", "jar", 1);
    EXPECT_EQ(kCopy, Run());
    EXPECT_EQ(1u, g_fs.copies.size());
}

TEST_F(JarCopyTest, UnchangedJarIsNotCopiedAgain) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    EXPECT_EQ(kCopy, Run());
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_EQ(1u, g_fs.probes.size());
}

TEST_F(JarCopyTest, ChangedSizeOrEitherTimeDirectionIsCopiedAgain) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    FsNode(kNetworkJar)->content = "jar bytes, more";
    Run();
    EXPECT_EQ(1u, g_fs.copies.size());
    FsNode(kNetworkJar)->lastWriteTime = 90;
    Run();
    EXPECT_EQ(1u, g_fs.copies.size());
    FsNode(kNetworkJar)->lastWriteTime = 5;
    Run();
    EXPECT_EQ(1u, g_fs.copies.size());
    EXPECT_EQ(5u, FsNode(kCopy)->lastWriteTime);
}

TEST_F(JarCopyTest, EqualSizeAndTimeWithOtherContentIsNoChange) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    FsNode(kNetworkJar)->content = "JAR BYTES";
    Run();
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_EQ("jar bytes", FsNode(kCopy)->content);
}

TEST_F(JarCopyTest, OnlyTheLow32BitsOfTheSizesAreCompared) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    FsNode(kNetworkJar)->sizeHigh = 2;
    Run();
    EXPECT_TRUE(g_fs.copies.empty());
}

TEST_F(JarCopyTest, AbsoluteJarPathIsStillAppendedToTheExecutableFolder) {
    SetJarPath("C:\\lib\\app.jar");
    g_fake.exePath = "C:\\Apps\\App.exe";
    EXPECT_EQ("C:\\Apps\\C:\\lib\\app.jar", Run());
}

TEST_F(JarCopyTest, UnreachableShareUsesTheCopyOfAnEarlierStart) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    g_fs.unreachable["x:"] = 53;
    EXPECT_EQ(kCopy, Run());
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_EQ("jar bytes", FsNode(kCopy)->content);
}

// Neither the jar nor a copy: nothing to run, and the jar is named for the message.
TEST_F(JarCopyTest, MissingNetworkJarWithoutACopyGivesNothingAndNamesTheJar) {
    EXPECT_EQ("(null)", Run());
    EXPECT_STREQ(kNetworkJar, MissingJarPath());
    EXPECT_TRUE(g_fs.copies.empty());
}

// A copy another process holds open (the VM of a running instance) is judged by its size and time,
// which the probe reads without opening its data: the current copy is used.
TEST_F(JarCopyTest, CurrentCopyHeldOpenIsUsedWithoutCopying) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    FsNode(kCopy)->heldOpen = true;
    EXPECT_EQ(kCopy, Run());
    EXPECT_TRUE(g_fs.copies.empty());
}

// An older copy that can't be replaced (held open, or the copy fails) is never run in place of the
// jar on the share: that start ends, and says which file.
TEST_F(JarCopyTest, OlderCopyThatCannotBeReplacedEndsTheStart) {
    for (bool held : {true, false}) {
        ResetFakeFileSystem();
        FsAddFolder(kCache);
        FsAddFile(kNetworkJar, "jar bytes", 77);
        Run();
        FsNode(kNetworkJar)->lastWriteTime = 78;
        FsNode(kNetworkJar)->content = "new jar";
        FsNode(kCopy)->heldOpen = held;
        g_fs.copyFails = !held;
        testing::internal::CaptureStderr();
        EXPECT_EQ("(null)", Run()) << held;
        EXPECT_NE(std::string::npos, testing::internal::GetCapturedStderr().find(kCopy)) << held;
        EXPECT_EQ("jar bytes", FsNode(kCopy)->content);
    }
}

TEST_F(JarCopyTest, CopyIsWrittenUnderAnUnguessableTemporaryNameInTheApplicationFolder) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    ASSERT_EQ(1u, g_fs.temps.size());
    EXPECT_EQ(0u, g_fs.temps[0].rfind("C:\\PD\\.quorvia\\cache\\App\\~App.4242.", 0)) << g_fs.temps[0];
    unsigned long processId = 0;
    EXPECT_TRUE(ParseTempEntryName(g_fs.temps[0].substr(g_fs.temps[0].rfind('\\') + 1).c_str(), "App", &processId));
    EXPECT_EQ(g_fs.temps[0].size(), std::string("C:\\PD\\.quorvia\\cache\\App\\~App.4242.0123456789abcdef.tmp").size());
}

TEST_F(JarCopyTest, LinkAtTheCopyNameIsReplacedNotWrittenThrough) {
    FsAddFile("C:\\Users\\Other\\thing.jar", "theirs", 5);
    FsAddLink(kCopy, "C:\\Users\\Other\\thing.jar", false);
    FsAddFile(kNetworkJar, "jar bytes", 77);
    EXPECT_EQ(kCopy, Run());
    EXPECT_EQ("theirs", FsNode("C:\\Users\\Other\\thing.jar")->content);
    EXPECT_FALSE(FsNode(kCopy)->link);
    EXPECT_EQ("jar bytes", FsNode(kCopy)->content);
}

TEST_F(JarCopyTest, LinkThatStaysAtTheCopyNameLeavesTheNetworkJarInPlace) {
    FsAddFile("C:\\Users\\Other\\thing.jar", "theirs", 5);
    FsAddFolder("C:\\Users\\Other\\folder");
    FsAddLink(kCopy, "C:\\Users\\Other\\folder", true);
    g_fs.linksStayPut = true;
    FsAddFile(kNetworkJar, "jar bytes", 77);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kNetworkJar, Run());
    EXPECT_EQ(std::string("Skipped ") + kCopy + ": a link stands there and could not be removed\n",
              testing::internal::GetCapturedStderr());
}

TEST_F(JarCopyTest, ReadOnlyNetworkJarIsCopiedAgainWhenItChanges) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    FsNode(kNetworkJar)->extraAttributes = kEntryAttributeReadOnly;
    Run();
    FsAddFile(kNetworkJar, "jar bytes, longer", 77);
    Run();
    EXPECT_EQ("jar bytes, longer", FsNode(kCopy)->content);
    EXPECT_EQ(kEntryAttributeReadOnly, FsNode(kCopy)->extraAttributes);
}

TEST_F(JarCopyTest, CopyOfAnotherAccountIsCopiedAgainWhateverItsSizeAndTime) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    FsNode(kCopy)->content = "evil byte";
    FsNode(kCopy)->foreignOwner = true;
    EXPECT_EQ(kCopy, Run());
    EXPECT_EQ("jar bytes", FsNode(kCopy)->content);
    EXPECT_FALSE(FsNode(kCopy)->foreignOwner);
}

TEST_F(JarCopyTest, CopyOfSystemOrAdministratorsIsTrustedAndOneOfAnUnreadableOwnerIsCopiedAgain) {
    const struct {
        EntryOwner owner;
        bool trusted;
    } cases[] = {{OwnerSystem, true}, {OwnerAdministrators, true}, {OwnerUnreadable, false}, {OwnerOther, false}};
    for (const auto& c : cases) {
        SetUp();
        FsAddFile(kNetworkJar, "jar bytes", 77);
        Run();
        FsNode(kCopy)->content = "evil byte";  // same size and time as the network jar
        FsNode(kCopy)->owner = c.owner;
        EXPECT_EQ(kCopy, Run()) << c.owner;
        EXPECT_EQ(c.trusted ? "evil byte" : "jar bytes", FsNode(kCopy)->content) << c.owner;
    }
}

TEST_F(JarCopyTest, CopyOfAnotherAccountThatCannotBeReplacedEndsTheLaunch) {
    FsAddFile(kNetworkJar, "jar bytes", 77);
    Run();
    FsNode(kCopy)->foreignOwner = true;
    g_fs.unreachable["x:"] = 53;
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, CacheJarPath());
    EXPECT_EQ(std::string(kCopy) + " belongs to another account and could not be replaced\n",
              testing::internal::GetCapturedStderr());
}

TEST_F(JarCopyTest, TooLongJarPathGivesNoPathRatherThanACutOne) {
    const std::string jarPath = std::string(260, 'j') + ".jar";
    SetJarPath(jarPath);
    testing::internal::CaptureStderr();
    const char* path = CacheJarPath();
    EXPECT_EQ("Error: jar path too long: " + jarPath + "\n", testing::internal::GetCapturedStderr());
    ASSERT_NE(nullptr, path);
    EXPECT_STREQ("", path);
    EXPECT_TRUE(g_fs.lookups.empty());
    EXPECT_TRUE(g_fs.copies.empty());
}

TEST_F(JarCopyTest, CopyNameThatWouldNotFitLeavesTheNetworkJarInPlace) {
    std::string longCache = "C:\\" + std::string(252, 'c');
    g_fake.cacheFolder = longCache;
    FsAddFile(kNetworkJar, "jar bytes", 77);
    EXPECT_EQ(kNetworkJar, Run());
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_LT(g_fs.longestPath, 260u);
}

}  // namespace
