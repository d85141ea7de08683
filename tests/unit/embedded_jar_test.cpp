#include <gtest/gtest.h>

#include <string>

#include "base/launch_state.h"
#include "cache/embedded_jar.h"
#include "config/resources.h"
#include "fake_files_edge.h"
#include "fake_platform.h"
#include "files/md5.h"

namespace {

const std::string kJar = std::string("PK\x03\x04 jar bytes \0 with a NUL", 28);

std::string DigestOf(const std::string& bytes) {
    unsigned char digest[16];
    ComputeMd5(bytes.data(), bytes.size(), digest);
    char text[33];
    FormatDigestText(digest, text);
    return text;
}

class EmbeddedCacheTest : public testing::Test {
protected:
    void SetUp() override {
        ResetFakeRuntimeAndCache();
        ResetFakeFileSystem();
        g_fake.exePath = "C:\\Apps\\App.exe";
        g_fake.cacheFolder = "C:\\PD\\.quorvia\\cache";
    }
    // In the application's own folder of the cache.
    std::string NameFor(const std::string& digest) { return "C:\\PD\\.quorvia\\cache\\App\\App." + digest + ".dat"; }
    const char* Run() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const char* name = CacheEmbeddedJar();
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return name;
    }
    std::string out_;
    std::string err_;
};

TEST_F(EmbeddedCacheTest, FirstStartWritesTheJarUnderTheMd5SumName) {
    SetFakeResource("MD5-SUM", 6000, DigestOf(kJar));
    SetFakeResource("CLASSES", 1000, kJar);
    const char* name = Run();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, NameFor(DigestOf(kJar)));
    ASSERT_EQ(g_fakeRuntime.writtenFiles.count(name), 1u);
    EXPECT_EQ(g_fakeRuntime.writtenFiles[name], kJar);
    EXPECT_EQ(out_, "GetClassFrom REsource '#1000'\n");
    EXPECT_EQ(err_, "");
    // Cleanup spares the file both before and after the jar is read.
    EXPECT_EQ(g_fakeRuntime.staleCleanups, (std::vector<std::string>{name, name}));
    // The jar's own digest could not rename the file, so the jar is not hashed; the library is
    // still looked for, so that its absence is told.
    EXPECT_EQ(g_fakeRuntime.md5Calls, 0);
    EXPECT_EQ(g_fakeRuntime.md5LibraryChecks, 1);
}

TEST_F(EmbeddedCacheTest, WarmStartTouchesNeitherJarNorMd5) {
    SetFakeResource("MD5-SUM", 6000, DigestOf(kJar));
    SetFakeResource("CLASSES", 1000, kJar);
    g_fakeRuntime.existingPaths.insert(NameFor(DigestOf(kJar)));
    const char* name = Run();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, NameFor(DigestOf(kJar)));
    EXPECT_EQ(out_, "");  // no CLASSES lookup
    EXPECT_EQ(g_fakeRuntime.md5Calls, 0);
    EXPECT_TRUE(g_fakeRuntime.writtenFiles.empty());
    EXPECT_EQ(g_fakeRuntime.staleCleanups.size(), 1u);
}

TEST_F(EmbeddedCacheTest, ConfiguredDigestWinsOverMd5Sum) {
    SetFakeResource("MD5-SUM", 6000, "11111111111111111111111111111111");
    SetFakeResource("CLASSES", 1000, kJar);
    g_launch.cacheDigest = "cfg-digest";
    const char* name = Run();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, NameFor("cfg-digest"));
    EXPECT_EQ(g_fakeRuntime.writtenFiles[name], kJar);
}

TEST_F(EmbeddedCacheTest, MissingMd5SumIsReportedEvenWithConfiguredDigest) {
    SetFakeResource("CLASSES", 1000, kJar);
    g_launch.cacheDigest = "cfg";
    g_fakeRuntime.existingPaths.insert(NameFor("cfg"));
    ASSERT_NE(Run(), nullptr);
    EXPECT_EQ(err_, "Unable to load MD5-SUM Resource (Resource not found)\n");
}

TEST_F(EmbeddedCacheTest, Md5SumTextNotMatchingTheJarStillNamesTheFile) {
    SetFakeResource("MD5-SUM", 6000, "ABCDEF");
    SetFakeResource("CLASSES", 1000, kJar);
    const char* name = Run();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, NameFor("ABCDEF"));
    EXPECT_EQ(g_fakeRuntime.writtenFiles[name], kJar);
}

TEST_F(EmbeddedCacheTest, Md5SumReadUpToItsFirstNul) {
    SetFakeResource("MD5-SUM", 6000, std::string("ABC\0junk", 8));
    SetFakeResource("CLASSES", 1000, kJar);
    EXPECT_EQ(std::string(Run()), NameFor("ABC"));
}

TEST_F(EmbeddedCacheTest, NoKnownDigestHashesTheJarEveryStart) {
    SetFakeResource("CLASSES", 1000, kJar);
    g_fakeRuntime.existingPaths.insert(NameFor(DigestOf(kJar)));
    const char* name = Run();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, NameFor(DigestOf(kJar)));
    EXPECT_EQ(g_fakeRuntime.md5Calls, 1);
    EXPECT_EQ(out_, "GetClassFrom REsource '#1000'\n");
    EXPECT_EQ(err_, "Unable to load MD5-SUM Resource (Resource not found)\n");
    EXPECT_TRUE(g_fakeRuntime.writtenFiles.empty());
}

TEST_F(EmbeddedCacheTest, NoDigestAndNoSystemMd5UsesBuiltInDigest) {
    SetFakeResource("CLASSES", 1000, kJar);
    g_fakeRuntime.systemMd5Available = false;
    const char* name = Run();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, NameFor(DigestOf(kJar)));
    EXPECT_EQ(g_fakeRuntime.writtenFiles[name], kJar);
}

TEST_F(EmbeddedCacheTest, KnownDigestStaysWhenSystemMd5Missing) {
    SetFakeResource("MD5-SUM", 6000, "KNOWN");
    SetFakeResource("CLASSES", 1000, kJar);
    g_fakeRuntime.systemMd5Available = false;
    const char* name = Run();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, NameFor("KNOWN"));
    EXPECT_EQ(g_fakeRuntime.writtenFiles[name], kJar);
    // The missing library is told once (by the platform part); nothing else is said.
    EXPECT_EQ(g_fakeRuntime.md5LibraryChecks, 1);
    EXPECT_EQ(err_, "");
    EXPECT_EQ(g_fakeRuntime.md5Calls, 0);
}

TEST_F(EmbeddedCacheTest, MissingClassesGivesNothing) {
    SetFakeResource("MD5-SUM", 6000, "KNOWN");
    EXPECT_EQ(Run(), nullptr);
    EXPECT_EQ(out_, "GetClassFrom REsource '#1000'\n");
    EXPECT_EQ(err_, "Unable to load CLASSES Resource #1000 (Resource not found)\n");
}

TEST_F(EmbeddedCacheTest, FailedWriteGivesNothing) {
    SetFakeResource("MD5-SUM", 6000, "KNOWN");
    SetFakeResource("CLASSES", 1000, kJar);
    g_fakeRuntime.writeFails = true;
    EXPECT_EQ(Run(), nullptr);
    EXPECT_EQ(g_fakeRuntime.writeAttempts, 1);
    // The writer has told why; the caller adds no message of its own.
    EXPECT_EQ(err_, "");
}

TEST_F(EmbeddedCacheTest, TooLongKnownDigestFallsBackToTheJarsDigest) {
    SetFakeResource("MD5-SUM", 6000, std::string(400, 'E'));
    SetFakeResource("CLASSES", 1000, kJar);
    const char* name = Run();
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name, NameFor(DigestOf(kJar)));
    EXPECT_LT(std::string(name).size(), 260u);
    EXPECT_EQ(g_fakeRuntime.writtenFiles[name], kJar);
    // The cleanup runs only with a formed name: never with a cut one.
    EXPECT_EQ(g_fakeRuntime.staleCleanups, (std::vector<std::string>{name}));
}

TEST_F(EmbeddedCacheTest, NoRoomForAnyNameFailsAsAWriteFailure) {
    g_fake.cacheFolder = "C:\\" + std::string(240, 'c');
    SetFakeResource("CLASSES", 1000, kJar);
    EXPECT_EQ(Run(), nullptr);
    EXPECT_EQ(err_, "Unable to load MD5-SUM Resource (Resource not found)\nUnable to write cache buffer\n");
    EXPECT_EQ(g_fakeRuntime.writeAttempts, 0);
    EXPECT_TRUE(g_fakeRuntime.staleCleanups.empty());
}

// ---- A cache file of another account, or a link at its name ----

TEST_F(EmbeddedCacheTest, FileOfAnotherAccountHoldingItsDigestIsUsedAsItIs) {
    SetFakeResource("MD5-SUM", 6000, DigestOf(kJar));
    SetFakeResource("CLASSES", 1000, kJar);
    std::string name = NameFor(DigestOf(kJar));
    g_fakeRuntime.existingPaths.insert(name);
    g_fakeRuntime.writtenFiles[name] = kJar;
    g_fakeRuntime.foreignOwned.insert(name);
    EXPECT_EQ(Run(), name);
    EXPECT_EQ(g_fakeRuntime.digestChecks, 1);
    EXPECT_TRUE(g_fakeRuntime.writeReplaced.empty());
}

TEST_F(EmbeddedCacheTest, FileOfAnotherAccountWithOtherBytesIsReplaced) {
    SetFakeResource("MD5-SUM", 6000, DigestOf(kJar));
    SetFakeResource("CLASSES", 1000, kJar);
    std::string name = NameFor(DigestOf(kJar));
    g_fakeRuntime.existingPaths.insert(name);
    g_fakeRuntime.writtenFiles[name] = "planted";
    g_fakeRuntime.foreignOwned.insert(name);
    EXPECT_EQ(Run(), name);
    EXPECT_EQ(g_fakeRuntime.writtenFiles[name], kJar);
    EXPECT_EQ(g_fakeRuntime.writeReplaced, std::vector<bool>{true});
}

TEST_F(EmbeddedCacheTest, FileOfAnotherAccountUnderADigestOfAnyOtherFormIsReplacedUnread) {
    SetFakeResource("CLASSES", 1000, kJar);
    g_launch.cacheDigest = "release-7";
    std::string name = NameFor("release-7");
    g_fakeRuntime.existingPaths.insert(name);
    g_fakeRuntime.writtenFiles[name] = kJar;
    g_fakeRuntime.foreignOwned.insert(name);
    EXPECT_EQ(Run(), name);
    EXPECT_EQ(g_fakeRuntime.digestChecks, 0);
    EXPECT_EQ(g_fakeRuntime.writeReplaced, std::vector<bool>{true});
}

TEST_F(EmbeddedCacheTest, FileOfSystemOrAdministratorsIsTrustedAndOneOfAnUnreadableOwnerIsReplaced) {
    const struct {
        EntryOwner owner;
        bool trusted;
    } cases[] = {{OwnerSystem, true}, {OwnerAdministrators, true}, {OwnerUnreadable, false}, {OwnerOther, false}};
    for (const auto& c : cases) {
        SetUp();
        SetFakeResource("MD5-SUM", 6000, DigestOf(kJar));
        SetFakeResource("CLASSES", 1000, kJar);
        std::string name = NameFor(DigestOf(kJar));
        g_fakeRuntime.existingPaths.insert(name);
        g_fakeRuntime.writtenFiles[name] = "planted";  // what a trusted owner put there is used as it is
        g_fakeRuntime.owners[name] = c.owner;
        EXPECT_EQ(Run(), name) << c.owner;
        EXPECT_EQ(g_fakeRuntime.writtenFiles[name], c.trusted ? "planted" : kJar) << c.owner;
    }
}

TEST_F(EmbeddedCacheTest, FileOfAnotherAccountThatCannotBeReplacedEndsTheLaunch) {
    SetFakeResource("MD5-SUM", 6000, DigestOf(kJar));
    SetFakeResource("CLASSES", 1000, kJar);
    std::string name = NameFor(DigestOf(kJar));
    g_fakeRuntime.existingPaths.insert(name);
    g_fakeRuntime.writtenFiles[name] = "planted";
    g_fakeRuntime.foreignOwned.insert(name);
    g_fakeRuntime.writeFails = true;
    EXPECT_EQ(Run(), nullptr);
    EXPECT_NE(err_.find(name + " belongs to another account and could not be replaced\n"), std::string::npos) << err_;
}

TEST_F(EmbeddedCacheTest, LinkAtTheCacheFileNameIsReplacedNotUsed) {
    SetFakeResource("MD5-SUM", 6000, DigestOf(kJar));
    SetFakeResource("CLASSES", 1000, kJar);
    std::string name = NameFor(DigestOf(kJar));
    g_fakeRuntime.links.insert(name);
    EXPECT_EQ(Run(), name);
    EXPECT_EQ(g_fakeRuntime.writtenFiles[name], kJar);
    EXPECT_EQ(g_fakeRuntime.writeReplaced, std::vector<bool>{true});
}

TEST_F(EmbeddedCacheTest, StaleCleanupIsToldTheMd5SumText) {
    SetFakeResource("MD5-SUM", 6000, "release-7");
    SetFakeResource("CLASSES", 1000, kJar);
    g_launch.cacheDigest = "cfg";
    Run();
    ASSERT_FALSE(g_fakeRuntime.staleMd5SumTexts.empty());
    EXPECT_EQ(g_fakeRuntime.staleMd5SumTexts[0], "release-7");
}

}  // namespace
