// The sync mirror over an in-memory file system: what is copied, pruned and put on the class path.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/launch_state.h"
#include "fake_files_edge.h"
#include "fake_platform.h"
#include "files/entry_names.h"
#include "files/replace.h"
#include "sync/mirror_by_listing.h"
#include "sync/mirror_root.h"

namespace {

const char kCache[] = "C:\\PD\\.quorvia\\cache";
const char kSource[] = "\\\\srv\\share\\app";
const std::string kSync = std::string(kCache) + "\\App\\sync";
const std::string kMirrorLibs = kSync + "\\.\\libs\\";

class SyncMirrorTest : public testing::Test {
protected:
    void SetUp() override {
        ResetFakePlatformAndState();
        ResetFakeFileSystem();
        g_fake.exePath = "C:\\Apps\\App.exe";
        g_fake.cacheFolder = kCache;
        FsAddFolder(kCache);
        FsAddFolder(kSource);
    }
    void TearDown() override { EXPECT_EQ(0, g_fs.openListings) << "a listing was left open"; }

    static std::string Src(const std::string& relative) { return std::string(kSource) + "\\" + relative; }
    static std::string Mir(const std::string& relative) { return kSync + "\\" + relative; }

    void Mirror() { MirrorSyncFolder(kSource, "."); }
    // A second start: the mirror's counters begin again.
    void MirrorAgain() {
        ForgetSyncAppFolder();
        ResetLaunchState();
        InitLaunchStateStrings();
        ClearCounters();
        Mirror();
    }
    static void ClearCounters() {
        g_fs.listings.clear();
        g_fs.lookups.clear();
        g_fs.probes.clear();
        g_fs.copies.clear();
        g_fs.deletes.clear();
        g_fs.removedFolders.clear();
        g_fs.madeFolders.clear();
        g_fs.ops.clear();
        g_fs.attributeQueries = 0;
    }
    static std::string ClassPath() { return g_launch.classPath.text; }

    // The mirror holds exactly the source's tree, every file with its content and last-write time.
    static void ExpectMirrorEqualsSource() {
        std::vector<std::string> source = FsTree(kSource);
        ASSERT_EQ(source, FsTree(kSync));
        for (const std::string& relative : source) {
            if (relative.back() == '\\') continue;
            const FakeNode* from = FsNode(Src(relative));
            const FakeNode* to = FsNode(Mir(relative));
            ASSERT_NE(nullptr, to) << relative;
            EXPECT_EQ(from->content, to->content) << relative;
            EXPECT_EQ(from->lastWriteTime, to->lastWriteTime) << relative;
        }
    }

    void MakeSampleSource() {
        FsAddFile(Src("app.properties"), "name=app", 1000);
        FsAddFile(Src("libs\\core.jar"), "core jar", 1001);
        FsAddFile(Src("libs\\util.jar"), "util jar bytes", 1002);
        FsAddFile(Src("libs\\NOTES.JAR"), "upper case", 1003);
        FsAddFile(Src("libs\\readme.txt"), "text", 1004);
        FsAddFile(Src("libs\\ext\\plugin.jar"), "plugin", 1005);
        FsAddFile(Src("conf\\deep\\er\\settings.xml"), "<x/>", 1006);
        FsAddFolder(Src("empty"));
    }
};

TEST_F(SyncMirrorTest, FirstStartCopiesTheWholeTreeAndAppendsEveryLibsJar) {
    MakeSampleSource();
    Mirror();
    ExpectMirrorEqualsSource();
    EXPECT_EQ(";" + kMirrorLibs + "core.jar;" + kMirrorLibs + "util.jar", ClassPath());
    EXPECT_TRUE(FsNode(std::string(kCache) + "\\App")->folder);
}

TEST_F(SyncMirrorTest, CreatesTheApplicationFolderThenTheMirrorRootFirst) {
    MakeSampleSource();
    Mirror();
    ASSERT_GE(g_fs.madeFolders.size(), 2u);
    EXPECT_EQ(std::string(kCache) + "\\App", g_fs.madeFolders[0]);
    EXPECT_EQ(kSync, g_fs.madeFolders[1]);
}

TEST_F(SyncMirrorTest, SubfolderMirrorFolderKeepsTheDotOfItsRelativeFolder) {
    MakeSampleSource();
    Mirror();
    EXPECT_NE(g_fs.madeFolders.end(),
              std::find(g_fs.madeFolders.begin(), g_fs.madeFolders.end(), kSync + "\\.\\libs\\ext"));
    EXPECT_NE(g_fs.listings.end(), std::find(g_fs.listings.begin(), g_fs.listings.end(),
                                             std::string(kSource) + "\\.\\libs\\ext\\*"));
}

TEST_F(SyncMirrorTest, UnchangedTreeCostsOneListingPerFolderOnEachSideAndNothingElse) {
    MakeSampleSource();
    Mirror();
    MirrorAgain();
    ExpectMirrorEqualsSource();
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_TRUE(g_fs.deletes.empty());
    // Folders: root, libs, libs\ext, conf, conf\deep, conf\deep\er, empty; on both sides.
    EXPECT_EQ(14u, g_fs.listings.size());
    EXPECT_TRUE(g_fs.probes.empty());
    EXPECT_TRUE(g_fs.lookups.empty());
    // Only the mirror root and the two folders a crash may leave beside it are asked about (a link
    // there is never written through, a mirror left aside comes back); the others are listed as real
    // folders already there.
    EXPECT_EQ(4, g_fs.attributeQueries);
    EXPECT_TRUE(g_fs.madeFolders.empty());
    EXPECT_EQ(";" + kMirrorLibs + "core.jar;" + kMirrorLibs + "util.jar", ClassPath());
}

TEST_F(SyncMirrorTest, OneChangedFileCostsItsCopyAndOneMoreListingOfItsMirrorFolder) {
    MakeSampleSource();
    Mirror();
    FsAddFile(Src("libs\\util.jar"), "util jar, new", 2000);
    MirrorAgain();
    ExpectMirrorEqualsSource();
    ASSERT_EQ(1u, g_fs.copies.size());
    EXPECT_TRUE(g_fs.probes.empty());
    EXPECT_TRUE(g_fs.lookups.empty());
    // The changed folder's mirror is listed again for the pruning: the class path follows that listing.
    EXPECT_EQ(15u, g_fs.listings.size());
    EXPECT_EQ(2, std::count(g_fs.listings.begin(), g_fs.listings.end(), kSync + "\\.\\libs\\*"));
    EXPECT_EQ(";" + kMirrorLibs + "core.jar;" + kMirrorLibs + "util.jar", ClassPath());
}

TEST_F(SyncMirrorTest, MirrorNamesInAnotherCaseAreTheSameEntries) {
    FsAddFile(Src("libs\\Core.x.jar"), "core", 1);
    FsAddFile(Src("Readme.TXT"), "read me", 1);
    Mirror();
    // The source renames in case only; the mirror keeps its spelling, as the file system would.
    FsRemove(Src("libs\\Core.x.jar"));
    FsRemove(Src("Readme.TXT"));
    FsAddFile(Src("libs\\CORE.X.jar"), "core", 1);
    FsAddFile(Src("README.txt"), "read me", 1);
    MirrorAgain();
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_TRUE(g_fs.deletes.empty());
    EXPECT_TRUE(FsExists(Mir("Readme.TXT")));
    // The class path bears the name as the source spells it.
    EXPECT_EQ(";" + kMirrorLibs + "CORE.X.jar", ClassPath());
}

TEST_F(SyncMirrorTest, MirrorFolderWhereTheSourceHasAFileIsProbedAndCopiedOver) {
    FsAddFile(Src("x"), "file", 1);
    Mirror();
    FsRemove(Mir("x"));
    FsAddFolder(Mir("x"));
    MirrorAgain();
    EXPECT_EQ(1u, g_fs.probes.size());
    EXPECT_EQ(1u, g_fs.copies.size());
}

TEST_F(SyncMirrorTest, MirrorListingEndingWithAnErrorFallsBackToProbingEachFile) {
    MakeSampleSource();
    Mirror();
    FsAddFile(Src("libs\\readme.txt"), "changed", 3000);
    g_fs.listingEndsWithError.insert(FsKey(kSync + "\\.\\libs"));
    MirrorAgain();
    ExpectMirrorEqualsSource();
    EXPECT_EQ(4u, g_fs.probes.size());  // the files of libs only
    ASSERT_EQ(1u, g_fs.copies.size());
    EXPECT_NE(std::string::npos, g_fs.copies[0].find("readme.txt"));
    EXPECT_TRUE(g_fs.deletes.empty());
}

TEST_F(SyncMirrorTest, SourceListingEndingWithAnErrorIsPrunedByLookups) {
    FsAddFile(Src("a.txt"), "a", 1);
    FsAddFile(Src("b.txt"), "b", 1);
    FsAddFile(Src("gone.txt"), "g", 1);
    Mirror();
    FsRemove(Src("gone.txt"));
    g_fs.listingEndsWithError.insert(FsKey(kSource));
    MirrorAgain();
    // Every mirror entry is looked up, as the listing can't prove the others are still there.
    EXPECT_EQ(3u, g_fs.lookups.size());
    EXPECT_FALSE(FsExists(Mir("gone.txt")));
    EXPECT_TRUE(FsExists(Mir("a.txt")));
    EXPECT_TRUE(FsExists(Mir("b.txt")));
}

TEST_F(SyncMirrorTest, ChangedSizeIsCopiedAgain) {
    MakeSampleSource();
    Mirror();
    FsAddFile(Src("libs\\util.jar"), "util jar bytes, longer", 1002);
    MirrorAgain();
    ASSERT_EQ(1u, g_fs.copies.size());
    EXPECT_EQ(Src(".\\libs\\util.jar") + ">" + Mir(".\\libs\\util.jar"), g_fs.copies[0]);
    ExpectMirrorEqualsSource();
}

TEST_F(SyncMirrorTest, LaterOrEarlierTimeIsCopiedAgain) {
    MakeSampleSource();
    Mirror();
    FsNode(Src("app.properties"))->lastWriteTime = 2000;
    FsNode(Src("conf\\deep\\er\\settings.xml"))->lastWriteTime = 10;
    MirrorAgain();
    EXPECT_EQ(2u, g_fs.copies.size());
    ExpectMirrorEqualsSource();
}

TEST_F(SyncMirrorTest, EqualSizeAndTimeWithOtherContentIsNotCopied) {
    MakeSampleSource();
    Mirror();
    FsNode(Src("app.properties"))->content = "name=xyz";
    MirrorAgain();
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_EQ("name=app", FsNode(Mir("app.properties"))->content);
}

TEST_F(SyncMirrorTest, OnlyTheLow32BitsOfTheSizesAreCompared) {
    MakeSampleSource();
    Mirror();
    FsNode(Src("app.properties"))->sizeHigh = 1;  // 4 GiB more, same low word
    MirrorAgain();
    EXPECT_TRUE(g_fs.copies.empty());
}

TEST_F(SyncMirrorTest, RemovedFileAndFolderWithContentsLeaveTheMirror) {
    MakeSampleSource();
    Mirror();
    FsRemove(Src("app.properties"));
    FsRemove(Src("conf"));
    MirrorAgain();
    ExpectMirrorEqualsSource();
    EXPECT_FALSE(FsExists(Mir("conf")));
    EXPECT_FALSE(FsExists(Mir("app.properties")));
}

size_t OpIndex(const std::string& op) {
    auto found = std::find(g_fs.ops.begin(), g_fs.ops.end(), op);
    EXPECT_NE(g_fs.ops.end(), found) << op;
    return static_cast<size_t>(found - g_fs.ops.begin());
}

TEST_F(SyncMirrorTest, DeletionsComeAfterTheWholeFolderWasListedAndCopied) {
    FsAddFile(Src("a.txt"), "a", 1);
    FsAddFile(Src("sub\\s.txt"), "s", 1);
    FsAddFile(Src("z.txt"), "z", 1);
    Mirror();
    FsRemove(Src("a.txt"));
    FsAddFile(Src("z.txt"), "zz", 2);
    FsAddFile(Src("sub\\t.txt"), "t", 1);
    MirrorAgain();
    size_t deletion = OpIndex("delete " + Mir(".\\a.txt"));
    EXPECT_LT(OpIndex("copy " + Mir(".\\z.txt")), deletion);
    EXPECT_LT(OpIndex("copy " + Mir(".\\sub\\t.txt")), deletion);
    EXPECT_LT(OpIndex("list " + kSync + "\\.\\sub\\*"), deletion);  // the subtree, pruning included
    // The root folder changed, so its mirror is listed afresh for the pruning; the gone file is then
    // looked up to be sure, with its source folder still answering.
    EXPECT_EQ("list " + kSync + "\\.\\*", g_fs.ops[deletion - 2]);
    EXPECT_EQ("lookup " + Src(".\\a.txt"), g_fs.ops[deletion - 1]);
}

TEST_F(SyncMirrorTest, FolderIsCreatedBeforeItsContentsAreCompared) {
    FsAddFile(Src("sub\\s.txt"), "s", 1);
    Mirror();
    EXPECT_LT(OpIndex("make " + kSync + "\\.\\sub"), OpIndex("list " + kSync + "\\.\\sub\\*"));
    EXPECT_LT(OpIndex("list " + kSync + "\\.\\sub\\*"), OpIndex("copy " + Mir(".\\sub\\s.txt")));
    // The new folder's listing is whole and empty: the copy needs no probe first.
    EXPECT_TRUE(g_fs.probes.empty());
}

TEST_F(SyncMirrorTest, LibsInAnotherCaseAppendsNoJar) {
    FsAddFile(Src("Libs\\core.jar"), "core", 1);
    Mirror();
    EXPECT_TRUE(FsExists(Mir("Libs\\core.jar")));
    EXPECT_STREQ("", g_launch.classPath.text);
}

TEST_F(SyncMirrorTest, UpperCaseJarIsCopiedButNotOnTheClassPath) {
    FsAddFile(Src("libs\\A.JAR"), "a", 1);
    Mirror();
    EXPECT_TRUE(FsExists(Mir("libs\\A.JAR")));
    EXPECT_STREQ("", g_launch.classPath.text);
}

TEST_F(SyncMirrorTest, JarFolderInLibsCountsAsAJar) {
    FsAddFile(Src("libs\\classes.jar\\a.class"), "x", 1);
    Mirror();
    EXPECT_EQ(";" + kMirrorLibs + "classes.jar", ClassPath());
}

TEST_F(SyncMirrorTest, JarsFollowTheMirrorListingOrderAndTheSourceSpelling) {
    // The mirror already lists b before a; the source lists them the other way round.
    FsAddFile(Mir("libs\\B.jar"), "b", 2);
    FsAddFile(Mir("libs\\a.jar"), "a", 1);
    FsAddFile(Src("libs\\a.jar"), "a", 1);
    FsAddFile(Src("libs\\b.jar"), "b", 2);
    Mirror();
    EXPECT_EQ(";" + kMirrorLibs + "b.jar;" + kMirrorLibs + "a.jar", ClassPath());
}

TEST_F(SyncMirrorTest, JarGoneFromTheSourceIsDeletedAndNotAppended) {
    FsAddFile(Src("libs\\a.jar"), "a", 1);
    FsAddFile(Mir("libs\\old.jar"), "old", 1);
    Mirror();
    EXPECT_FALSE(FsExists(Mir("libs\\old.jar")));
    EXPECT_EQ(";" + kMirrorLibs + "a.jar", ClassPath());
}

TEST_F(SyncMirrorTest, MirrorJarsComeAfterEarlierClassPathEntries) {
    AppendClassPath("C:\\given.jar");
    FsAddFile(Src("libs\\a.jar"), "a", 1);
    Mirror();
    EXPECT_EQ(";C:\\given.jar;" + kMirrorLibs + "a.jar", ClassPath());
}

TEST_F(SyncMirrorTest, HiddenAndSystemFilesAreMirroredLikeAnyOther) {
    FsAddFile(Src(".hidden"), "h", 1);
    FsAddFile(Src("sys.dat"), "s", 2);
    FsNode(Src(".hidden"))->extraAttributes = 0x2;
    FsNode(Src("sys.dat"))->extraAttributes = 0x2 | 0x4;
    Mirror();
    ExpectMirrorEqualsSource();
}

// With the share out of reach the application starts from the mirror as the last start left it: its
// libs jars go on the class path (owners checked), and nothing is copied or removed.
TEST_F(SyncMirrorTest, UnreachableSourceStartsFromTheMirrorAsItIs) {
    MakeSampleSource();
    g_fs.unreachable[FsKey(kSource)] = 53;
    Mirror();  // a first start, with no mirror yet
    EXPECT_EQ((std::vector<std::string>{std::string(kCache) + "\\App", kSync}), g_fs.madeFolders);
    EXPECT_TRUE(FsTree(kSync).empty());
    EXPECT_TRUE(g_fs.copies.empty());
    // A mirror made while the share was there is left as it is.
    g_fs.unreachable.clear();
    MirrorAgain();
    g_fs.unreachable[FsKey(kSource)] = 53;
    MirrorAgain();
    EXPECT_TRUE(g_fs.madeFolders.empty());
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_TRUE(g_fs.deletes.empty());
    EXPECT_TRUE(g_fs.removedFolders.empty());
    const std::string libs = kSync + "\\libs\\";  // as a later instance names them
    EXPECT_EQ(";" + libs + "core.jar;" + libs + "util.jar", ClassPath());
    EXPECT_EQ(2u, g_fs.listings.size());  // the share's root, then the mirror's libs
}

TEST_F(SyncMirrorTest, MissingSourceOnAFirstStartStillCreatesTheMirrorRoot) {
    FsRemove(kSource);
    Mirror();
    EXPECT_TRUE(FsNode(kSync) != nullptr && FsNode(kSync)->folder);
}

TEST_F(SyncMirrorTest, SecondInstanceReadsTheExistingLibsWithoutChangingAnything) {
    MakeSampleSource();
    Mirror();
    ResetLaunchState();
    InitLaunchStateStrings();
    ClearCounters();
    FsRemove(Src("libs"));  // a second instance does not look at the source at all
    AddSyncLibsToClassPath();
    std::string libs = kSync + "\\libs\\";
    EXPECT_EQ(";" + libs + "core.jar;" + libs + "util.jar", ClassPath());
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_TRUE(g_fs.deletes.empty());
    EXPECT_TRUE(g_fs.madeFolders.empty());
    EXPECT_TRUE(g_fs.lookups.empty());
    ASSERT_EQ(1u, g_fs.listings.size());
    EXPECT_EQ(kSync + "\\libs\\*", g_fs.listings[0]);
}

TEST_F(SyncMirrorTest, SecondInstanceWithNoMirrorAppendsNothing) {
    AddSyncLibsToClassPath();
    EXPECT_STREQ("", g_launch.classPath.text);
}

// ---- A source lookup that fails for another reason than "not found" deletes nothing ----

TEST_F(SyncMirrorTest, ShareDroppingHalfwayDoesNotEmptyTheMirror) {
    FsAddFile(Src("first.txt"), "1", 1);
    FsAddFile(Src("second.txt"), "2", 2);
    FsAddFile(Src("libs\\a.jar"), "a", 3);
    FsAddFile(Src("old.txt"), "o", 4);
    Mirror();
    FsRemove(Src("old.txt"));  // really gone, but with the share down that can't be told
    FsNode(Src("first.txt"))->lastWriteTime = 5;  // copied again, then the share goes
    g_fs.dropAfterCopyOf = Src(".\\first.txt");
    g_fs.dropRoot = kSource;
    MirrorAgain();
    ASSERT_EQ(1u, g_fs.copies.size());
    EXPECT_FALSE(g_fs.lookups.empty());  // the root was pruned while the share was gone
    EXPECT_TRUE(g_fs.deletes.empty());
    EXPECT_TRUE(FsExists(Mir("old.txt")));
    EXPECT_TRUE(g_fs.removedFolders.empty());
    EXPECT_TRUE(FsExists(Mir("second.txt")));
    EXPECT_TRUE(FsExists(Mir("libs\\a.jar")));
}

TEST_F(SyncMirrorTest, ShareDroppingHalfwayWithNotFoundAnswersDeletesNothing) {
    // Some redirectors answer "path not found" for everything once the share is gone.
    FsAddFile(Src("first.txt"), "1", 1);
    FsAddFile(Src("second.txt"), "2", 2);
    Mirror();
    FsNode(Src("first.txt"))->lastWriteTime = 5;
    g_fs.dropAfterCopyOf = Src(".\\first.txt");
    g_fs.dropRoot = kSource;
    g_fs.dropError = 3;
    FsAddFile(Mir("old.txt"), "o", 4);  // gone from the source, but that can't be told any more
    MirrorAgain();
    EXPECT_FALSE(g_fs.lookups.empty());
    EXPECT_TRUE(g_fs.deletes.empty());
    EXPECT_TRUE(FsExists(Mir("old.txt")));
    EXPECT_TRUE(FsExists(Mir("second.txt")));
}

TEST_F(SyncMirrorTest, LookupErrorsOtherThanNotFoundKeepTheEntry) {
    FsAddFile(Src("a.txt"), "a", 1);
    FsAddFile(Src("b.txt"), "b", 1);
    FsAddFile(Src("c\\d.txt"), "d", 1);
    Mirror();
    FsRemove(Src("a.txt"));
    FsRemove(Src("b.txt"));
    FsRemove(Src("c"));
    g_fs.lookupErrors[FsKey(Src("a.txt"))] = 5;
    g_fs.lookupErrors[FsKey(Src("b.txt"))] = 64;
    g_fs.lookupErrors[FsKey(Src("c"))] = 1231;
    MirrorAgain();
    EXPECT_TRUE(FsExists(Mir("a.txt")));
    EXPECT_TRUE(FsExists(Mir("b.txt")));
    EXPECT_TRUE(FsExists(Mir("c\\d.txt")));
}

TEST_F(SyncMirrorTest, FileAndPathNotFoundBothMeanVanished) {
    FsAddFile(Src("a.txt"), "a", 1);
    FsAddFile(Src("b.txt"), "b", 1);
    FsAddFile(Src("keep.txt"), "k", 1);
    Mirror();
    FsRemove(Src("a.txt"));
    FsRemove(Src("b.txt"));
    g_fs.lookupErrors[FsKey(Src("a.txt"))] = 2;
    g_fs.lookupErrors[FsKey(Src("b.txt"))] = 3;
    MirrorAgain();
    EXPECT_EQ(2u, g_fs.lookups.size());  // only the entries missing from the source's listing
    EXPECT_FALSE(FsExists(Mir("a.txt")));
    EXPECT_FALSE(FsExists(Mir("b.txt")));
    EXPECT_TRUE(FsExists(Mir("keep.txt")));
}

// ---- Links are removed, never followed ----

TEST_F(SyncMirrorTest, VanishedFolderHoldingALinkKeepsWhatTheLinkPointsTo) {
    FsAddFile("C:\\Precious\\data.txt", "keep me", 1);
    FsAddFile(Src("old\\a.txt"), "a", 1);
    Mirror();
    FsAddLink(Mir("old\\link"), "C:\\Precious", true);
    FsAddLink(Mir("old\\filelink"), "C:\\Precious\\data.txt", false);
    FsRemove(Src("old"));
    MirrorAgain();
    EXPECT_FALSE(FsExists(Mir("old")));
    ASSERT_TRUE(FsExists("C:\\Precious\\data.txt"));
    EXPECT_EQ("keep me", FsNode("C:\\Precious\\data.txt")->content);
}

TEST_F(SyncMirrorTest, VanishedLinkIsRemovedItself) {
    FsAddFile("C:\\Precious\\data.txt", "keep me", 1);
    FsAddFile(Src("a.txt"), "a", 1);
    Mirror();
    FsAddLink(Mir("gone"), "C:\\Precious", true);
    MirrorAgain();
    EXPECT_FALSE(FsExists(Mir("gone")));
    EXPECT_TRUE(FsExists("C:\\Precious\\data.txt"));
}

// A folder outside the cache that a link in the mirror points to, and what it holds.
const char kOutside[] = "C:\\Users\\Other\\Documents";

void MakeOutsideFolder() {
    FsAddFile(std::string(kOutside) + "\\app.properties", "theirs, not the app's", 7);
    FsAddFile(std::string(kOutside) + "\\deep\\own.txt", "their own file", 8);
    FsAddFile(std::string(kOutside) + "\\secret.txt", "secret", 9);
}

// Every outside file with its content, to compare before and after.
std::vector<std::string> OutsideState() {
    std::vector<std::string> state;
    for (const std::string& relative : FsTree(kOutside)) {
        if (relative.back() == '\\') {
            state.push_back(relative);
            continue;
        }
        state.push_back(relative + "=" + FsNode(std::string(kOutside) + "\\" + relative)->content);
    }
    return state;
}

TEST_F(SyncMirrorTest, LinkAtTheSyncRootIsReplacedByARealFolder) {
    MakeOutsideFolder();
    std::vector<std::string> outside = OutsideState();
    FsAddFolder(std::string(kCache) + "\\App");
    FsAddLink(kSync, kOutside, true);
    MakeSampleSource();
    Mirror();
    EXPECT_EQ(outside, OutsideState());
    ASSERT_TRUE(FsNode(kSync)->folder);
    EXPECT_FALSE(FsNode(kSync)->link);
    ExpectMirrorEqualsSource();
}

// A link, a folder of another account or one that others may change, at the application folder's
// name: the mirror goes to the user's own cache folder instead, and nothing is written through.
TEST_F(SyncMirrorTest, UnsafeApplicationFolderSendsTheMirrorToTheUsersOwnFolder) {
    const std::string userSync = g_fake.userCacheFolder + "\\App\\sync";
    for (int unsafe = 0; unsafe < 3; unsafe++) {
        ResetFakeFileSystem();
        ResetLaunchState();
        InitLaunchStateStrings();
        FsAddFolder(kCache);
        MakeOutsideFolder();
        FsAddFolder(std::string(kOutside) + "\\sync\\conf");
        std::vector<std::string> outside = OutsideState();
        const std::string app = std::string(kCache) + "\\App";
        if (unsafe == 0) {
            FsAddLink(app, kOutside, true);
        } else {
            FsAddFolder(app);
            FsNode(app)->foreignOwner = unsafe == 1;
            FsNode(app)->othersMayWrite = unsafe == 2;
        }
        MakeSampleSource();
        Mirror();
        EXPECT_EQ(outside, OutsideState()) << unsafe;
        EXPECT_FALSE(FsExists(app + "\\sync")) << unsafe;
        EXPECT_TRUE(FsNode(userSync + "\\libs\\core.jar") != nullptr) << unsafe;
        EXPECT_NE(std::string::npos, ClassPath().find(userSync)) << unsafe;
    }
}

TEST_F(SyncMirrorTest, LinkAtASubfolderNamedLikeASourceFolderIsReplacedByARealFolder) {
    MakeSampleSource();
    Mirror();
    MakeOutsideFolder();
    std::vector<std::string> outside = OutsideState();
    FsRemove(Mir("conf"));
    FsAddLink(Mir("conf"), kOutside, true);
    MirrorAgain();
    EXPECT_EQ(outside, OutsideState());
    EXPECT_FALSE(FsNode(Mir("conf"))->link);
    ExpectMirrorEqualsSource();
}

TEST_F(SyncMirrorTest, LinkAtAFileNameIsReplacedByARealFile) {
    MakeSampleSource();
    Mirror();
    MakeOutsideFolder();
    std::vector<std::string> outside = OutsideState();
    FsRemove(Mir("app.properties"));
    FsAddLink(Mir("app.properties"), std::string(kOutside) + "\\app.properties", false);
    FsRemove(Mir("libs\\core.jar"));
    FsAddLink(Mir("libs\\core.jar"), kOutside, true);  // a link to a folder at a file's name
    MirrorAgain();
    EXPECT_EQ(outside, OutsideState());
    EXPECT_FALSE(FsNode(Mir("app.properties"))->link);
    EXPECT_FALSE(FsNode(Mir("libs\\core.jar"))->link);
    ExpectMirrorEqualsSource();
}

TEST_F(SyncMirrorTest, LinkThatCannotBeRemovedIsSkippedWithAMessageAndTheRestIsMirrored) {
    MakeSampleSource();
    Mirror();
    MakeOutsideFolder();
    std::vector<std::string> outside = OutsideState();
    FsRemove(Mir("conf"));
    FsAddLink(Mir("conf"), kOutside, true);
    FsRemove(Mir("libs\\util.jar"));
    FsAddLink(Mir("libs\\util.jar"), kOutside, true);
    FsAddLink(Mir("gone"), kOutside, true);  // not in the source
    FsAddFile(Src("app.properties"), "name=changed", 3000);
    g_fs.linksStayPut = true;
    testing::internal::CaptureStderr();
    MirrorAgain();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outside, OutsideState());
    for (const char* skipped : {".\\conf", ".\\libs\\util.jar", ".\\gone"}) {
        EXPECT_NE(std::string::npos,
                  err.find("Skipped " + Mir(skipped) + ": a link stands there and could not be removed\n"))
            << skipped << "\n" << err;
    }
    EXPECT_EQ("name=changed", FsNode(Mir("app.properties"))->content);
    // The link is not put on the class path.
    EXPECT_EQ(";" + kMirrorLibs + "core.jar", ClassPath());
}

TEST_F(SyncMirrorTest, SyncRootLinkThatCannotBeRemovedLeavesEverythingAlone) {
    MakeOutsideFolder();
    std::vector<std::string> outside = OutsideState();
    FsAddFolder(std::string(kCache) + "\\App");
    FsAddLink(kSync, kOutside, true);
    g_fs.linksStayPut = true;
    MakeSampleSource();
    testing::internal::CaptureStderr();
    Mirror();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(outside, OutsideState());
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_EQ("Skipped " + kSync + ": a link stands there and could not be removed\n", err);
    EXPECT_STREQ("", g_launch.classPath.text);
}

TEST_F(SyncMirrorTest, SecondInstanceReadsNoJarThroughALink) {
    MakeOutsideFolder();
    FsAddFile(std::string(kOutside) + "\\evil.jar", "not the app's", 1);
    FsAddFolder(kSync);
    FsAddLink(kSync + "\\libs", kOutside, true);
    testing::internal::CaptureStderr();
    AddSyncLibsToClassPath();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_STREQ("", g_launch.classPath.text);
    EXPECT_NE(std::string::npos, err.find("a link stands there"));
}

// ---- What the VM loads is never half-written ----

TEST_F(SyncMirrorTest, EveryCopyIsWrittenUnderATemporaryNameBesideItsTarget) {
    MakeSampleSource();
    Mirror();
    ASSERT_EQ(g_fs.copies.size(), g_fs.temps.size());
    for (size_t i = 0; i < g_fs.copies.size(); i++) {
        std::string target = g_fs.copies[i].substr(g_fs.copies[i].find('>') + 1);
        std::string temp = g_fs.temps[i];
        EXPECT_EQ(target.substr(0, target.rfind('\\')), temp.substr(0, temp.rfind('\\')));
        unsigned long processId = 0;
        EXPECT_TRUE(ParseTempEntryName(temp.substr(temp.rfind('\\') + 1).c_str(), "sync", &processId)) << temp;
        EXPECT_EQ(4242u, processId);
    }
}

TEST_F(SyncMirrorTest, OrphanTemporaryFileIsRemovedOnceItsProcessHasEnded) {
    MakeSampleSource();
    Mirror();
    FsAddFile(Mir("libs\\~sync.77.tmp"), "cut", 1);      // its writer was killed
    FsAddFile(Mir("libs\\~sync.88.tmp"), "growing", 1);  // its writer still runs
    g_fs.runningProcesses.insert(88);
    MirrorAgain();
    EXPECT_FALSE(FsExists(Mir("libs\\~sync.77.tmp")));
    EXPECT_TRUE(FsExists(Mir("libs\\~sync.88.tmp")));
}

// ---- Read-only files of the source ----

TEST_F(SyncMirrorTest, ReadOnlySourceFileIsRefreshedAndDeletedAndKeepsItsAttribute) {
    FsAddFile(Src("libs\\ro.jar"), "read-only jar", 1);
    FsNode(Src("libs\\ro.jar"))->extraAttributes = kEntryAttributeReadOnly;
    Mirror();
    EXPECT_EQ(kEntryAttributeReadOnly, FsNode(Mir("libs\\ro.jar"))->extraAttributes);
    FsAddFile(Src("libs\\ro.jar"), "read-only jar, now longer", 1);
    MirrorAgain();
    EXPECT_EQ("read-only jar, now longer", FsNode(Mir("libs\\ro.jar"))->content);
    EXPECT_EQ(kEntryAttributeReadOnly, FsNode(Mir("libs\\ro.jar"))->extraAttributes);
    FsRemove(Src("libs\\ro.jar"));
    MirrorAgain();
    EXPECT_FALSE(FsExists(Mir("libs\\ro.jar")));
}

// ---- Code owned by another account ----

TEST_F(SyncMirrorTest, CodeOfAnotherAccountListedAsUnchangedIsCopiedAgain) {
    MakeSampleSource();
    Mirror();
    FakeNode* planted = FsNode(Mir("libs\\core.jar"));
    planted->content = "evil jar";  // same size and time as the source's
    planted->foreignOwner = true;
    FsNode(Mir("app.properties"))->foreignOwner = true;  // not code: left as it is
    MirrorAgain();
    EXPECT_EQ("core jar", FsNode(Mir("libs\\core.jar"))->content);
    EXPECT_FALSE(FsNode(Mir("libs\\core.jar"))->foreignOwner);
    EXPECT_TRUE(FsNode(Mir("app.properties"))->foreignOwner);
    EXPECT_EQ(1u, g_fs.copies.size());
    EXPECT_FALSE(MirrorKeptForeignCode());
}

TEST_F(SyncMirrorTest, CodeOfSystemOrAdministratorsIsTrustedAndOneOfAnUnreadableOwnerIsCopiedAgain) {
    const struct {
        EntryOwner owner;
        bool trusted;
    } cases[] = {{OwnerSystem, true}, {OwnerAdministrators, true}, {OwnerUnreadable, false}, {OwnerOther, false}};
    for (const auto& c : cases) {
        SetUp();
        MakeSampleSource();
        Mirror();
        FsNode(Mir("libs\\core.jar"))->content = "evil jar";  // same size and time as the source's
        FsNode(Mir("libs\\core.jar"))->owner = c.owner;
        MirrorAgain();
        EXPECT_EQ(c.trusted ? "evil jar" : "core jar", FsNode(Mir("libs\\core.jar"))->content) << c.owner;
        EXPECT_FALSE(MirrorKeptForeignCode()) << c.owner;
    }
}

TEST_F(SyncMirrorTest, CodeOfAnotherAccountThatCannotBeReplacedIsReported) {
    MakeSampleSource();
    Mirror();
    FsNode(Mir("libs\\ext\\plugin.jar"))->foreignOwner = true;
    g_fs.copyFails = true;
    testing::internal::CaptureStderr();
    MirrorAgain();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(MirrorKeptForeignCode());
    EXPECT_EQ(Mir(".\\libs\\ext\\plugin.jar") + " belongs to another account and could not be replaced\n", err);
}

TEST_F(SyncMirrorTest, SecondInstanceRefusesAJarOfAnotherAccount) {
    MakeSampleSource();
    Mirror();
    ResetLaunchState();
    InitLaunchStateStrings();
    FsNode(Mir("libs\\util.jar"))->foreignOwner = true;
    testing::internal::CaptureStderr();
    AddSyncLibsToClassPath();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(MirrorKeptForeignCode());
    EXPECT_EQ(kSync + "\\libs\\util.jar belongs to another account and could not be replaced\n", err);
    EXPECT_EQ(";" + kSync + "\\libs\\core.jar", ClassPath());
}

TEST(SyncRemoveTree, LinkGivenDirectlyIsRemovedNotFollowed) {
    ResetFakeFileSystem();
    FsAddFile("C:\\Precious\\data.txt", "keep me", 1);
    FsAddLink("C:\\t\\link", "C:\\Precious", true);
    EXPECT_TRUE(RemoveTree("C:\\t\\link"));
    EXPECT_FALSE(FsExists("C:\\t\\link"));
    EXPECT_TRUE(FsExists("C:\\Precious\\data.txt"));
}

TEST(SyncRemoveTree, RemovesEverythingBelowAndTheFolder) {
    ResetFakeFileSystem();
    FsAddFile("C:\\t\\a.txt", "a", 1);
    FsAddFile("C:\\t\\s\\b.txt", "b", 1);
    FsAddFolder("C:\\t\\s\\empty");
    EXPECT_TRUE(RemoveTree("C:\\t"));
    EXPECT_FALSE(FsExists("C:\\t"));
    EXPECT_EQ(0, g_fs.openListings);
}

TEST(SyncRemoveTree, MissingPathFails) {
    ResetFakeFileSystem();
    EXPECT_FALSE(RemoveTree("C:\\nothing"));
}

TEST(SyncRemoveTree, StopsAtTheFirstFailureAndLeavesTheRest) {
    ResetFakeFileSystem();
    FsAddFile("C:\\t\\a.txt", "a", 1);
    FsAddFile("C:\\t\\b.txt", "b", 1);
    FsAddFile("C:\\t\\c.txt", "c", 1);
    FsNode("C:\\t\\b.txt")->undeletable = true;
    EXPECT_FALSE(RemoveTree("C:\\t"));
    EXPECT_FALSE(FsExists("C:\\t\\a.txt"));
    EXPECT_TRUE(FsExists("C:\\t\\b.txt"));
    EXPECT_TRUE(FsExists("C:\\t\\c.txt"));
    EXPECT_EQ(0, g_fs.openListings);
}

TEST(SyncRemoveTree, ListingEndingWithAnErrorKeepsTheFolder) {
    ResetFakeFileSystem();
    FsAddFile("C:\\t\\a.txt", "a", 1);
    g_fs.listingEndsWithError.insert(FsKey("C:\\t"));
    EXPECT_FALSE(RemoveTree("C:\\t"));
    EXPECT_TRUE(FsExists("C:\\t"));
    EXPECT_TRUE(g_fs.removedFolders.empty());
}

// ---- No path longer than its buffer ----

TEST_F(SyncMirrorTest, EntryWhosePathWouldNotFitIsSkippedAndTheRestIsMirrored) {
    // The mirror's paths are longer than the source's: this name fits the source but not the mirror.
    size_t mirrorRoom = 259 - (kSync.size() + std::string("\\.\\").size());
    std::string longName(mirrorRoom + 1, 'L');
    std::string fitting(mirrorRoom, 'F');
    FsAddFile(Src("a.txt"), "a", 1);
    FsAddFile(Src(longName), "long", 1);
    FsAddFile(Src(fitting), "fits", 1);
    FsAddFolder(Src("L" + longName));
    FsAddFile(Src("libs\\z.jar"), "z", 1);
    Mirror();
    EXPECT_TRUE(FsExists(Mir("a.txt")));
    EXPECT_TRUE(FsExists(Mir(fitting)));
    EXPECT_TRUE(FsExists(Mir("libs\\z.jar")));
    EXPECT_FALSE(FsExists(Mir(longName)));
    EXPECT_FALSE(FsExists(Mir("L" + longName)));
    EXPECT_LT(g_fs.longestPath, 260u);
    EXPECT_EQ(";" + kMirrorLibs + "z.jar", ClassPath());
}

TEST_F(SyncMirrorTest, DeepTreeIsMirroredAsFarAsItsPathsFit) {
    std::string relative;
    for (int level = 0; level < 40; level++) {
        relative += (relative.empty() ? "" : "\\") + std::string("folder") + std::to_string(level);
        FsAddFile(Src(relative + "\\f.txt"), "x", level);
    }
    FsAddFile(Src("top.txt"), "t", 1);
    Mirror();
    EXPECT_LT(g_fs.longestPath, 260u);
    EXPECT_TRUE(FsExists(Mir("top.txt")));
    EXPECT_TRUE(FsExists(Mir("folder0\\folder1\\f.txt")));
    EXPECT_FALSE(FsExists(Mir(relative + "\\f.txt")));
    // A second start finds nothing to copy and deletes nothing of what fitted.
    size_t mirrored = FsTree(kSync).size();
    MirrorAgain();
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_EQ(mirrored, FsTree(kSync).size());
}

TEST_F(SyncMirrorTest, LinkCycleInTheSourceEndsWhereThePathsStopFitting) {
    FsAddFile(Src("a\\f.txt"), "f", 1);
    FsAddLink(Src("a\\loop"), Src("a"), true);
    Mirror();
    EXPECT_LT(g_fs.longestPath, 260u);
    EXPECT_TRUE(FsExists(Mir("a\\loop\\loop\\f.txt")));
    EXPECT_EQ(0, g_fs.openListings);
}

TEST_F(SyncMirrorTest, MirrorEntryWhoseSourcePathWouldNotFitIsKept) {
    // Source root longer than the mirror root: a mirror name can fit there but not in the source.
    const std::string longRoot = std::string("\\\\srv\\share\\") + std::string(200, 'r');
    FsAddFolder(longRoot);
    std::string name(60, 'n');
    FsAddFile(Mir(name), "local", 1);
    ForgetSyncAppFolder();
    MirrorSyncFolder(longRoot.c_str(), ".");
    EXPECT_TRUE(FsExists(Mir(name)));
    EXPECT_LT(g_fs.longestPath, 260u);
}

// ---- Failures are absorbed ----

TEST_F(SyncMirrorTest, HeldOpenMirrorEntryIsLeftWhenListedAsUnchangedAndKeptWhenItsCopyFails) {
    FsAddFile(Src("a.txt"), "same", 1);
    FsAddFile(Src("b.txt"), "old", 1);
    Mirror();
    FsNode(Mir("a.txt"))->heldOpen = true;
    FsNode(Mir("b.txt"))->heldOpen = true;
    FsAddFile(Src("b.txt"), "newer", 2);
    MirrorAgain();
    // A held file can't be replaced anyway; the listing says a.txt needs no copy at all.
    ASSERT_EQ(1u, g_fs.copies.size());
    EXPECT_NE(std::string::npos, g_fs.copies[0].find("b.txt"));
    EXPECT_EQ("same", FsNode(Mir("a.txt"))->content);
    EXPECT_EQ("old", FsNode(Mir("b.txt"))->content);
}

TEST_F(SyncMirrorTest, FailedCopyKeepsTheOlderEntryAndTheMirrorGoesOn) {
    FsAddFile(Src("a.txt"), "old", 1);
    Mirror();
    FsAddFile(Src("a.txt"), "newer", 2);
    FsAddFile(Src("b.txt"), "b", 2);
    g_fs.copyFails = true;
    MirrorAgain();
    EXPECT_EQ(2u, g_fs.copies.size());
    EXPECT_EQ("old", FsNode(Mir("a.txt"))->content);
}

TEST_F(SyncMirrorTest, EntryWithInvalidAttributesIsSkipped) {
    FsAddFile(Src("odd.txt"), "x", 1);
    FsAddFile(Src("a.txt"), "a", 1);
    FsNode(Src("odd.txt"))->invalidAttributes = true;
    Mirror();
    EXPECT_FALSE(FsExists(Mir("odd.txt")));
    EXPECT_TRUE(FsExists(Mir("a.txt")));
}

TEST_F(SyncMirrorTest, UnlistableSourceSubfolderIsLeftAsItWas) {
    FsAddFile(Src("sub\\a.txt"), "a", 1);
    Mirror();
    FsRemove(Src("sub\\a.txt"));
    FsAddFile(Src("sub\\b.txt"), "b", 1);
    g_fs.unlistable.insert(FsKey(Src("sub")));
    MirrorAgain();
    EXPECT_TRUE(FsExists(Mir("sub\\a.txt")));
    EXPECT_FALSE(FsExists(Mir("sub\\b.txt")));
}

TEST_F(SyncMirrorTest, VanishedEntryThatCannotBeDeletedStaysAndTheRestGoesOn) {
    FsAddFile(Src("a.txt"), "a", 1);
    FsAddFile(Src("b.txt"), "b", 1);
    Mirror();
    FsRemove(Src("a.txt"));
    FsRemove(Src("b.txt"));
    FsNode(Mir("a.txt"))->undeletable = true;
    MirrorAgain();
    EXPECT_TRUE(FsExists(Mir("a.txt")));
    EXPECT_FALSE(FsExists(Mir("b.txt")));
}

TEST_F(SyncMirrorTest, CacheFoldersTooLongForTheApplicationFolderMirrorNothing) {
    std::string longCache = "C:\\" + std::string(255, 'c');
    g_fake.cacheFolder = longCache;
    g_fake.userCacheFolder = longCache + "u";
    FsAddFolder(longCache);
    FsAddFile(Src("a.txt"), "a", 1);
    Mirror();
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_TRUE(g_fs.listings.empty());
    EXPECT_LT(g_fs.longestPath, 260u);
}

}  // namespace

namespace {

// A jar that differs from its source and can't be replaced (held open by another process) is not
// run as it is: the start ends, naming it. A file that is not code just stays older.
TEST_F(SyncMirrorTest, CodeThatCannotBeReplacedEndsTheStart) {
    MakeSampleSource();
    Mirror();
    for (const char* name : {"app.properties", "libs\\core.jar"}) {
        FsNode(Src(name))->content += " changed";
        FsNode(Src(name))->lastWriteTime++;
        FsNode(Mir(name))->heldOpen = true;
    }
    testing::internal::CaptureStderr();
    MirrorAgain();
    std::string told = testing::internal::GetCapturedStderr();
    ASSERT_NE(nullptr, MirrorLeftStaleCode());
    EXPECT_EQ(FsKey(Mir("libs\\core.jar")), FsKey(MirrorLeftStaleCode()));
    EXPECT_NE(std::string::npos, told.find("core.jar with its copy from the sync folder"));
    EXPECT_EQ(std::string::npos, told.find("app.properties"));
    EXPECT_FALSE(MirrorKeptForeignCode());
}

}  // namespace
