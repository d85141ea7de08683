// The sync index: its reading, and the mirror that applies one generation at a time, over the
// in-memory file system.
#include <gtest/gtest.h>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "cache/cache_edge.h"
#include "fake_files_edge.h"
#include "fake_platform.h"
#include "sync/mirror_by_index.h"
#include "sync/mirror_by_listing.h"
#include "sync/mirror_root.h"
#include "sync/sync_index.h"

namespace {

const char kCache[] = "C:\\PD\\.quorvia\\cache";
const char kSource[] = "\\\\srv\\share\\app";
const std::string kApp = std::string(kCache) + "\\App";
const std::string kSync = kApp + "\\sync";
const std::string kIndexPath = std::string(kSource) + "\\quorvia-sync.index";

std::string Hex(const unsigned char* bytes, size_t size) {
    std::string text;
    char pair[3];
    for (size_t i = 0; i < size; i++) {
        snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

std::string Sha256Hex(const std::string& data) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    return Hex(digest, sizeof digest);
}

struct IndexedFile {
    std::string path;  // relative, with "\"
    std::string content;
    uint64_t time;
};

// The index text written here by hand, so that the reader is checked against the format itself.
std::string IndexText(std::vector<IndexedFile> files) {
    std::sort(files.begin(), files.end(), [](const IndexedFile& a, const IndexedFile& b) {
        return CompareIndexPaths(a.path.c_str(), b.path.c_str()) < 0;
    });
    std::string lines;
    for (const IndexedFile& file : files) {
        lines += Sha256Hex(file.content) + " " + std::to_string(file.content.size()) + " " +
                 std::to_string(file.time) + " " + file.path + "\n";
    }
    return "quorvia-sync-index 1\ngeneration " + Sha256Hex(lines) + "\nentries " + std::to_string(files.size()) +
           "\n" + lines + "end\n";
}

class SyncIndexTest : public testing::Test {
protected:
    std::vector<IndexedFile> published;

    void SetUp() override {
        ResetFakePlatformAndState();
        ResetFakeFileSystem();
        g_fake.exePath = "C:\\Apps\\App.exe";
        g_fake.cacheFolder = kCache;
        FsAddFolder(kCache);
        FsAddFolder(kSource);
        Publish({{"app.properties", "name=app", 1000},
                 {"libs\\core.jar", "core jar", 1001},
                 {"libs\\util.jar", "util jar bytes", 1002},
                 {"conf\\deep\\settings.xml", "<x/>", 1003}});
    }

    // Copies the files to the share (replacing the whole tree), then writes their index, as an
    // administrator publishing a version does.
    void Publish(const std::vector<IndexedFile>& files) {
        for (const std::string& child : FsChildren(kSource)) FsRemove(std::string(kSource) + "\\" + child);
        for (const IndexedFile& file : files) FsAddFile(Src(file.path), file.content, file.time);
        FsAddFile(kIndexPath, IndexText(files), 5000);
        published = files;
    }

    static std::string Src(const std::string& relative) { return std::string(kSource) + "\\" + relative; }
    static std::string Mir(const std::string& relative) { return kSync + "\\" + relative; }

    // One first-instance start: the counters begin again.
    static void Start() {
        ResetLaunchState();
        InitLaunchStateStrings();
        g_fs.ops.clear();
        g_fs.copies.clear();
        g_fs.hashes.clear();
        g_fs.links.clear();
        g_fs.wholeReads.clear();
        g_fs.headReads.clear();
        ASSERT_TRUE(MirrorSyncFolderByIndex(kSource));
    }

    // The mirror holds exactly these files with their content and time, and nothing else.
    static void ExpectMirrorHolds(const std::vector<IndexedFile>& files) {
        std::vector<std::string> want;
        for (const IndexedFile& file : files) {
            want.push_back(file.path);
            const FakeNode* node = FsNode(Mir(file.path));
            ASSERT_NE(nullptr, node) << file.path;
            EXPECT_EQ(file.content, node->content) << file.path;
            EXPECT_EQ(file.time, node->lastWriteTime) << file.path;
        }
        std::vector<std::string> got;
        for (const std::string& entry : FsTree(kSync)) {
            if (entry.back() != '\\') got.push_back(entry);
        }
        std::sort(want.begin(), want.end(), [](const std::string& a, const std::string& b) {
            return FsKey(a) < FsKey(b);
        });
        std::sort(got.begin(), got.end(), [](const std::string& a, const std::string& b) { return FsKey(a) < FsKey(b); });
        EXPECT_EQ(want, got);
        EXPECT_FALSE(FsExists(kApp + "\\sync.next"));
        EXPECT_FALSE(FsExists(kApp + "\\sync.old"));
    }

    static std::string Record() {
        const FakeNode* record = FsNode(kApp + "\\sync.generation");
        return record != nullptr ? record->content : "";
    }

    static std::vector<std::string> ServerOps() {
        std::vector<std::string> server;
        for (const std::string& op : g_fs.ops) {
            if (op.find(kSource) != std::string::npos) server.push_back(op);
        }
        return server;
    }
};

TEST_F(SyncIndexTest, MatchingGenerationReadsTheIndexHeadAndNothingElseOnTheServer) {
    Start();
    ExpectMirrorHolds(published);
    EXPECT_EQ(IndexText(published), Record());
    EXPECT_EQ(4u, g_fs.copies.size());

    Start();
    EXPECT_EQ(std::vector<std::string>{"head " + kIndexPath}, ServerOps());
    // The head is the first 128 bytes, whatever the size of the tree the index lists.
    ASSERT_EQ(1u, g_fs.headReads.size());
    EXPECT_LE(g_fs.headReads[0].second, 128u);
    EXPECT_TRUE(g_fs.hashes.empty()) << "an applied generation reads no file content";
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_EQ(";" + kSync + "\\libs\\core.jar;" + kSync + "\\libs\\util.jar", std::string(g_launch.classPath.text));
}

TEST_F(SyncIndexTest, NewGenerationCopiesOnlyChangedFilesVerifiesTheRestAndPrunesRemovedOnes) {
    Start();
    Publish({{"app.properties", "name=app", 1000},
             {"libs\\core.jar", "core jar v2", 2001},          // changed
             {"conf\\deep\\settings.xml", "<x/>", 1003},
             {"conf\\new.txt", "added", 2002}});               // libs\util.jar removed
    Start();
    ExpectMirrorHolds(published);
    EXPECT_EQ(IndexText(published), Record());
    std::vector<std::string> copied;
    for (const std::string& copy : g_fs.copies) copied.push_back(copy.substr(0, copy.find('>')));
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ((std::vector<std::string>{Src("conf\\new.txt"), Src("libs\\core.jar")}), copied);
    EXPECT_EQ(2u, g_fs.links.size()) << "the unchanged files are linked into the new generation";
    EXPECT_EQ(";" + kSync + "\\libs\\core.jar", std::string(g_launch.classPath.text));
}

TEST_F(SyncIndexTest, JarOfAnotherAccountInTheAppliedMirrorMakesTheGenerationApplyAgain) {
    Start();
    FsNode(Mir("libs\\core.jar"))->foreignOwner = true;
    FsAddFile(Mir("libs\\planted.jar"), "theirs", 1);
    FsNode(Mir("libs\\planted.jar"))->foreignOwner = true;
    Start();
    ExpectMirrorHolds(published);
    EXPECT_FALSE(FsNode(Mir("libs\\core.jar"))->foreignOwner);
    EXPECT_FALSE(MirrorKeptForeignCode());
    EXPECT_EQ(";" + kSync + "\\libs\\core.jar;" + kSync + "\\libs\\util.jar", std::string(g_launch.classPath.text));
}

TEST_F(SyncIndexTest, PlantedFileWithTheRightSizeAndTimeIsReplacedWhenAGenerationIsApplied) {
    // A mirror left by the listing mirror, with one file changed behind its back.
    for (const IndexedFile& file : published) FsAddFile(Mir(file.path), file.content, file.time);
    FsAddFile(Mir("libs\\util.jar"), "UTIL JAR BYTES", 1002);
    Start();
    ExpectMirrorHolds(published);
    EXPECT_EQ(std::vector<std::string>{Src("libs\\util.jar") + ">" + kApp + "\\sync.next\\libs\\util.jar"},
              g_fs.copies);
}

TEST_F(SyncIndexTest, ShareRepublishedMidRefreshEndsWithTheNewGenerationWhole) {
    Start();
    Publish({{"app.properties", "name=app v2", 2000}, {"libs\\core.jar", "core jar v2", 2001},
             {"libs\\util.jar", "util jar v2", 2002}, {"conf\\deep\\settings.xml", "<x/>", 1003}});
    std::vector<IndexedFile> third = {{"app.properties", "name=app v3", 3000}, {"libs\\core.jar", "core jar v3", 3001},
                                      {"libs\\util.jar", "util jar v3", 3002}};
    // While the first changed file is copied, the administrator publishes the third version.
    bool republished = false;
    g_fs.afterCopy = [&](const std::string&) {
        if (republished) return;
        republished = true;
        Publish(third);
    };
    Start();
    ExpectMirrorHolds(third);
    EXPECT_EQ(IndexText(published), Record());
}

TEST_F(SyncIndexTest, ShareChangedMidRefreshWithoutANewIndexKeepsTheOldMirrorWhole) {
    Start();
    std::vector<IndexedFile> first = published;
    std::string firstRecord = Record();
    Publish({{"app.properties", "name=app v2", 2000}, {"libs\\core.jar", "core jar v2", 2001},
             {"libs\\util.jar", "util jar v2", 2002}, {"conf\\deep\\settings.xml", "<x/>", 1003}});
    // Files copied over the published ones while the index still names the second version.
    g_fs.afterCopy = [&](const std::string&) {
        for (const char* name : {"libs\\core.jar", "libs\\util.jar"}) FsNode(Src(name))->content = "half-copied";
    };
    Start();
    ExpectMirrorHolds(first);
    EXPECT_EQ(firstRecord, Record());
    EXPECT_EQ(2u, std::count(g_fs.wholeReads.begin(), g_fs.wholeReads.end(), kIndexPath)) << "read again once";
    EXPECT_EQ(";" + kSync + "\\libs\\core.jar;" + kSync + "\\libs\\util.jar", std::string(g_launch.classPath.text));
}

TEST_F(SyncIndexTest, RenameRefusedOverAFileHeldOpenLeavesTheLiveMirrorAsItWas) {
    // Windows refuses to rename a folder while a file below it is open: in the live mirror (a VM of
    // another session) the switch's first rename fails; in the new generation (a virus scanner
    // reading a fresh copy) the second does, and the live mirror must be put back.
    for (const std::string& held : {kSync + "\\libs\\util.jar", kApp + "\\sync.next\\libs\\core.jar"}) {
        SetUp();
        Start();
        const std::vector<IndexedFile> first = published;
        const std::string firstRecord = Record();
        Publish({{"app.properties", "name=app", 1000}, {"libs\\core.jar", "core jar v2", 2001},
                 {"libs\\util.jar", "util jar bytes", 1002}});
        if (FsExists(held)) FsNode(held)->heldOpen = true;
        g_fs.afterCopy = [&](const std::string&) {
            if (FsExists(held)) FsNode(held)->heldOpen = true;
        };
        testing::internal::CaptureStderr();
        Start();
        testing::internal::GetCapturedStderr();
        g_fs.afterCopy = nullptr;
        for (const IndexedFile& file : first) {
            ASSERT_TRUE(FsExists(Mir(file.path))) << held << ": " << file.path;
            EXPECT_EQ(file.content, FsNode(Mir(file.path))->content) << held;
        }
        EXPECT_FALSE(FsExists(kApp + "\\sync.old")) << held;
        EXPECT_EQ(firstRecord, Record()) << held;
        EXPECT_EQ(";" + kSync + "\\libs\\core.jar;" + kSync + "\\libs\\util.jar", std::string(g_launch.classPath.text))
            << held;
        // Once the file is closed (under each of its names: the new generation may have linked it),
        // the next start applies the new generation.
        for (auto& node : g_fs.nodes) node.second.heldOpen = false;
        Start();
        ExpectMirrorHolds(published);
    }
}

TEST_F(SyncIndexTest, SwitchCutBetweenItsRenamesIsUndoneAtTheNextStart) {
    Start();
    FsAddFolder(kApp + "\\sync.next\\stray");
    ASSERT_TRUE(MoveEntry(kSync.c_str(), (kApp + "\\sync.old").c_str()));
    Start();
    ExpectMirrorHolds(published);
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_EQ(std::vector<std::string>{"head " + kIndexPath}, ServerOps());
}

TEST_F(SyncIndexTest, WithoutAnIndexNothingIsDoneAndDamagedIndexLeavesTheMirrorAlone) {
    std::vector<IndexedFile> first = published;
    FsRemove(kIndexPath);
    ResetLaunchState();
    InitLaunchStateStrings();
    EXPECT_FALSE(MirrorSyncFolderByIndex(kSource));
    EXPECT_TRUE(FsTree(kApp).empty());  // the listing mirror that follows fills it

    Publish(first);
    Start();
    // Taken away, the index leaves the mirror to the listing mirror, which forgets the generation.
    FsRemove(kIndexPath);
    EXPECT_FALSE(MirrorSyncFolderByIndex(kSource));
    EXPECT_EQ("", Record());
    Publish(first);
    Start();
    std::string firstRecord = Record();
    // A new version whose index is cut short, then one whose generation line names other entries.
    Publish({{"app.properties", "name=app v2", 2000}, {"libs\\core.jar", "core jar", 1001}});
    std::string text = FsNode(kIndexPath)->content;
    for (const std::string& damaged : {text.substr(0, text.size() / 2),
                                       text.replace(text.find("generation ") + 11, 4, "0000")}) {
        FsNode(kIndexPath)->content = damaged;
        Start();
        ExpectMirrorHolds(first);
        EXPECT_EQ(firstRecord, Record());
        EXPECT_TRUE(g_fs.copies.empty());
    }
}

std::vector<std::string> g_messages;

TEST_F(SyncIndexTest, IndexNamingAFileWindowsCannotHoldIsIgnoredAndTheMirrorKept) {
    Start();
    const std::vector<IndexedFile> first = published;
    const std::string firstRecord = Record();
    SetMessageSink([](FILE*, const char* text) { g_messages.push_back(text); });
    for (const char* name : {"CON", "conf\\aux.txt", "libs\\trail.", "libs.\\x.jar"}) {
        std::vector<IndexedFile> next = first;
        next.push_back({name, "written by hand: --index refuses the name", 4000});
        Publish(next);
        g_messages.clear();
        Start();
        ExpectMirrorHolds(first);
        EXPECT_EQ(firstRecord, Record()) << name;
        EXPECT_TRUE(g_fs.copies.empty()) << name;
        EXPECT_EQ(std::vector<std::string>{"Ignored " + kIndexPath +
                                           ": it is not a whole sync index; the mirror stays as it is\n"},
                  g_messages)
            << name;
        EXPECT_EQ(";" + kSync + "\\libs\\core.jar;" + kSync + "\\libs\\util.jar", std::string(g_launch.classPath.text));
    }
    SetMessageSink(nullptr);
}

// ---- Reading the index ----

TEST(SyncIndexPath, RefusesNamesWindowsCannotHold) {
    const char* refused[] = {"CON", "con", "PRN", "aux.txt", "nul.jar", "NUL.tar.gz", "COM1.log", "com9", "LPT1",
                             "lpt5.txt", "Con .txt", "dir\\CON\\x.txt", "trail.", "space ", "dir.\\x.txt",
                             "dir \\x.txt", "...", "a\\..\\b", ".", "a\\\\b", "\\a", "a\\", "", "a:b",
                             "tab\there", "a/b"};
    for (const char* path : refused) {
        EXPECT_FALSE(IsIndexPath(path)) << path;
        EXPECT_NE(nullptr, IndexPathProblem(path)) << path;
    }
    const char* accepted[] = {"CONX", "console.txt", "a.con", "COM0", "COM10.log", "LPT", "com1x.txt", "NULL",
                              ".hidden", "a..b", "dir\\aux-info.txt", "x. y", "caf\xC3\xA9"};
    for (const char* path : accepted) EXPECT_TRUE(IsIndexPath(path)) << path;
    EXPECT_FALSE(IsIndexPath(std::string(kSyncIndexPathSize, 'a').c_str()));
}

TEST(SyncIndexParse, RefusesEveryDamagedOrOutOfOrderText) {
    std::string good = IndexText({{"a.txt", "a", 1}, {"b\\c.txt", "bc", 2}});
    SyncIndex index;
    ASSERT_EQ(SyncIndexParsed, ParseSyncIndex(good.data(), good.size(), &index));
    EXPECT_TRUE(SyncIndexGenerationHolds(index, good.data(), good.size()));
    ASSERT_EQ(2u, index.count);
    EXPECT_STREQ("b\\c.txt", index.entries[1].path);
    EXPECT_EQ(2u, index.entries[1].size);
    ReleaseSyncIndex(&index);

    std::string digest(64, 'a');
    auto entryLine = [&](const std::string& path) { return digest + " 1 1 " + path + "\n"; };
    auto withEntries = [&](const std::string& lines, int count) {
        return "quorvia-sync-index 1\ngeneration " + Sha256Hex(lines) + "\nentries " + std::to_string(count) +
               "\n" + lines + "end\n";
    };
    const std::string damaged[] = {
        good.substr(0, good.size() - 1),                                   // cut short
        good + "x",                                                        // more after the end
        "quorvia-sync-index 2" + good.substr(20),                          // another version
        withEntries(entryLine("b") + entryLine("a"), 2),                   // out of order
        withEntries(entryLine("A.txt") + entryLine("a.txt"), 2),           // one name twice
        withEntries(entryLine("a") + entryLine("a\\b"), 2),                // a file and a folder
        withEntries(entryLine("..\\x"), 1),                                // leaves the folder
        withEntries(entryLine("a\\\\b"), 1),                               // empty part
        withEntries(entryLine("c:x"), 1),                                  // not a Windows name
        withEntries(entryLine("a"), 1000000),                              // more than it holds
        withEntries(digest + " 01 1 a\n", 1),                              // leading zero
        withEntries(digest + " 18446744073709551616 1 a\n", 1),            // over 64 bits
        withEntries(std::string(63, 'a') + "A 1 1 a\n", 1),                // upper-case digest
    };
    for (const std::string& text : damaged) {
        SyncIndex refused;
        EXPECT_NE(SyncIndexParsed, ParseSyncIndex(text.data(), text.size(), &refused)) << text;
        ReleaseSyncIndex(&refused);
    }
    std::string forged = good;
    forged[forged.find(" 1 a.txt") - 1] = forged[forged.find(" 1 a.txt") - 1] == '0' ? '1' : '0';
    ASSERT_EQ(SyncIndexParsed, ParseSyncIndex(forged.data(), forged.size(), &index));
    EXPECT_FALSE(SyncIndexGenerationHolds(index, forged.data(), forged.size()));
    ReleaseSyncIndex(&index);
}

}  // namespace

namespace {

// What an unchanged start finds under the live mirror that the applied index does not list: code
// goes (a link too, as the builder never makes one), other files stay; code that can't go ends the start.
TEST_F(SyncIndexTest, UnchangedStartRemovesCodeTheIndexDoesNotList) {
    Start();
    FsAddFile(Mir("conf\\deep\\planted.dll"), "dll", 1);
    FsAddFile(Mir("libs\\extra.JAR"), "jar", 1);
    FsAddFile(Mir("notes.txt"), "kept", 1);
    FsAddLink(Mir("libs\\linked.txt"), "C:\\Elsewhere\\x.txt", false);
    Start();
    EXPECT_FALSE(FsExists(Mir("conf\\deep\\planted.dll")));
    EXPECT_FALSE(FsExists(Mir("libs\\extra.JAR")));
    EXPECT_FALSE(FsExists(Mir("libs\\linked.txt")));
    EXPECT_TRUE(FsExists(Mir("notes.txt")));
    EXPECT_FALSE(MirrorKeptForeignCode());
    EXPECT_TRUE(g_fs.copies.empty());

    FsAddFile(Mir("libs\\stuck.jar"), "jar", 1);
    FsNode(Mir("libs\\stuck.jar"))->undeletable = true;
    testing::internal::CaptureStderr();
    Start();
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(MirrorKeptForeignCode());
}

// A new generation takes an unchanged file from the live mirror only when it is the user's: another
// account's file, code or not, is copied from the share again.
TEST_F(SyncIndexTest, NewGenerationCopiesAnotherAccountsFileAgain) {
    Start();
    FsNode(Mir("app.properties"))->foreignOwner = true;
    std::vector<IndexedFile> next = published;
    next[1].content = "core jar, version 2";
    Publish(next);
    Start();
    ExpectMirrorHolds(next);
    EXPECT_FALSE(FsNode(Mir("app.properties"))->foreignOwner);
    EXPECT_NE(g_fs.copies.end(), std::find(g_fs.copies.begin(), g_fs.copies.end(),
                                           Src("app.properties") + ">" + kApp + "\\sync.next\\app.properties"));
}

// The share out of reach after a crash between a switch's two renames: the previous mirror comes
// back, its record stays, and its jars go on the class path; the next start with the share finds
// the generation unchanged.
TEST_F(SyncIndexTest, StartWithoutTheShareRunsTheMirrorAsItIsAndKeepsItsRecord) {
    Start();
    ASSERT_TRUE(g_fs.nodes.count(FsKey(kApp + "\\sync.generation")) == 1);
    FsRemove(kApp + "\\sync.old");
    ASSERT_TRUE(MoveEntry(kSync.c_str(), (kApp + "\\sync.old").c_str()));
    g_fs.unreachable[FsKey(kSource)] = 53;
    Start();
    ExpectMirrorHolds(published);
    EXPECT_TRUE(FsExists(kApp + "\\sync.generation"));
    EXPECT_EQ(";" + kSync + "\\libs\\core.jar;" + kSync + "\\libs\\util.jar", std::string(g_launch.classPath.text));
    g_fs.unreachable.clear();
    Start();
    EXPECT_TRUE(g_fs.copies.empty());
    EXPECT_TRUE(g_fs.links.empty());
}

}  // namespace
