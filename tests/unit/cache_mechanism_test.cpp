#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/release_file.h"
#include "startup/cache_mechanism.h"
#include "startup/startup_cache.h"

namespace {

int VersionOf(const std::string& text) { return ReadReleaseJavaVersion(text.data(), text.size()); }

std::vector<std::string> OptionsFor(int version, bool archiveExists, const char* path = "C:\\c\\A.jsa") {
    StartupCacheOptions options;
    bool formed = FormStartupCacheOptions(ChooseStartupCacheMechanism(version), path, archiveExists, &options);
    std::vector<std::string> texts(options.text, options.text + options.count);
    if (!formed) texts.insert(texts.begin(), "refused");
    return texts;
}

std::string ArchiveName(const std::string& digest, const std::string& release, StartupCacheMechanism mechanism,
                        size_t size = 260) {
    char key[64];
    EXPECT_TRUE(FormatArchiveKey(key, sizeof key, release.data(), release.size(), ""));
    std::vector<char> buffer(size, 'x');
    bool formed =
        FormatStartupArchiveName(buffer.data(), size, "C:\\cache", "App", digest.c_str(), key, "0123abcd", mechanism);
    return formed ? std::string(buffer.data()) : "refused:" + std::string(buffer.data());
}

const char kDigest[] = "0123456789ABCDEF0123456789ABCDEF";

}  // namespace

TEST(StartupCacheTest, VersionComesFromTheJavaVersionLineOfRealReleaseFiles) {
    // Debian's OpenJDK 17: the version line follows lines that contain or begin like it.
    EXPECT_EQ(VersionOf("IMPLEMENTOR=\"Debian\"\nJAVA_RUNTIME_VERSION=\"17.0.21.1+2-1-deb12u1-Debian\"\n"
                        "JAVA_VERSION_DATE=\"2026-11-17\"\nJAVA_VERSION=\"17.0.21.1\"\nLIBC=\"gnu\"\n"),
              17);
    EXPECT_EQ(VersionOf("IMPLEMENTOR=\"Eclipse Adoptium\"\nJAVA_VERSION=\"25\"\nJAVA_VERSION_DATE=\"2025-09-16\"\n"), 25);
    EXPECT_EQ(VersionOf("JAVA_VERSION=\"1.8.0_392\"\nOS_NAME=\"Windows\"\n"), 8);
    // Windows line ends, no quotes, no final line end.
    EXPECT_EQ(VersionOf("IMPLEMENTOR=\"Azul Systems, Inc.\"\r\nJAVA_VERSION=\"21.0.1\"\r\nOS_ARCH=\"amd64\"\r\n"), 21);
    EXPECT_EQ(VersionOf("OS_NAME=Windows\nJAVA_VERSION=11.0.2"), 11);
    // No version: unknown, never a guess.
    EXPECT_EQ(VersionOf("JAVA_VERSION_DATE=\"2026-11-17\"\nJAVA_RUNTIME_VERSION=\"17.0.9+9\"\n"), 0);
    EXPECT_EQ(VersionOf(" JAVA_VERSION=\"17\"\n"), 0);
    EXPECT_EQ(VersionOf("JAVA_VERSION=\"\"\n"), 0);
    EXPECT_EQ(VersionOf("JAVA_VERSION=\"ea\"\n"), 0);
    EXPECT_EQ(VersionOf("JAVA_VERSION=\"1.\"\n"), 0);
    EXPECT_EQ(VersionOf("JAVA_VERSION=\"4294967313\"\n"), 0);
    // Only the given length is read: a version beyond it does not count.
    const std::string cut = "OS_NAME=\"Linux\"\nJAVA_VERSION=\"17\"\n";
    EXPECT_EQ(ReadReleaseJavaVersion(cut.data(), cut.find("JAVA_VERSION") + 15), 1);
    EXPECT_EQ(ReadReleaseJavaVersion(cut.data(), cut.find("JAVA_VERSION")), 0);
}

TEST(StartupCacheTest, VersionChoosesTheOptionsAtEachBoundary) {
    using V = std::vector<std::string>;
    const V none;
    for (bool exists : {false, true}) {
        EXPECT_EQ(OptionsFor(0, exists), none);
        EXPECT_EQ(OptionsFor(12, exists), none);
        for (int version : {19, 24}) {
            EXPECT_EQ(OptionsFor(version, exists), (V{"-XX:+AutoCreateSharedArchive", "-XX:SharedArchiveFile=C:\\c\\A.jsa"}))
                << version;
        }
    }
    for (int version : {13, 18}) {
        EXPECT_EQ(OptionsFor(version, false), V{"-XX:ArchiveClassesAtExit=C:\\c\\A.jsa"}) << version;
        EXPECT_EQ(OptionsFor(version, true), V{"-XX:SharedArchiveFile=C:\\c\\A.jsa"}) << version;
    }
    EXPECT_EQ(OptionsFor(25, false), V{"-XX:AOTCacheOutput=C:\\c\\A.jsa"});
    EXPECT_EQ(OptionsFor(25, true), V{"-XX:AOTCache=C:\\c\\A.jsa"});
}

TEST(StartupCacheTest, OptionWhosePathWouldBeCutIsRefused) {
    const std::string fits(kStartupCacheOptionSize - 1 - strlen("-XX:SharedArchiveFile="), 'p');
    EXPECT_EQ(OptionsFor(19, false, fits.c_str()).size(), 2u);
    EXPECT_EQ(OptionsFor(19, false, (fits + "p").c_str()), std::vector<std::string>{"refused"});
    EXPECT_EQ(OptionsFor(13, true, (fits + "p").c_str()), std::vector<std::string>{"refused"});
}

TEST(StartupCacheTest, ArchiveNameDiffersByDigestAndByRuntimeBuild) {
    // The key must not change with the launcher's version, or an update would orphan every archive:
    // FNV-1a (64 bits) of "a" is 0xaf63dc4c8601ec8c.
    EXPECT_EQ(ArchiveName(kDigest, "a", StartupCacheAutoArchive),
              "C:\\cache\\App.0123456789ABCDEF0123456789ABCDEF.0-af63dc4c8601ec8c.0123abcd.jsa");
    const std::string release17 = "JAVA_VERSION=\"17.0.9\"\nJAVA_RUNTIME_VERSION=\"17.0.9+9\"\n";
    const std::string rebuilt17 = "JAVA_VERSION=\"17.0.9\"\nJAVA_RUNTIME_VERSION=\"17.0.9+10\"\n";
    const std::string name = ArchiveName(kDigest, release17, StartupCacheDynamicArchive);
    EXPECT_EQ(name.rfind("C:\\cache\\App.0123456789ABCDEF0123456789ABCDEF.17-", 0), 0u) << name;
    EXPECT_NE(name, ArchiveName(kDigest, rebuilt17, StartupCacheDynamicArchive));
    EXPECT_NE(name, ArchiveName("FEDCBA9876543210FEDCBA9876543210", release17, StartupCacheDynamicArchive));
    const std::string aot = ArchiveName(kDigest, release17, StartupCacheAotCache);
    EXPECT_EQ(aot.substr(0, aot.size() - 4), name.substr(0, name.size() - 4));
    EXPECT_EQ(aot.substr(aot.size() - 4), ".aot");
    EXPECT_EQ(ArchiveName(kDigest, release17, StartupCacheNone), "refused:");
}

TEST(StartupCacheTest, ExePathKeyIgnoresLetterCaseAndTellsFoldersApart) {
    auto key = [](const char* path) {
        char text[kExePathKeyLength + 1];
        return FormatExePathKey(text, sizeof text, path) ? std::string(text) : std::string("refused");
    };
    // Stable across launcher versions, or an update would orphan every archive: the low 32 bits of
    // FNV-1a (64 bits) of the path in capitals ("A": 0xaf63fc4c860222ec).
    EXPECT_EQ(key("a"), "860222ec");
    EXPECT_EQ(key("C:\\Apps\\One\\App.exe"), key("c:\\apps\\one\\APP.EXE"));
    EXPECT_NE(key("C:\\Apps\\One\\App.exe"), key("C:\\Apps\\Two\\App.exe"));
    char cut[kExePathKeyLength];
    EXPECT_FALSE(FormatExePathKey(cut, sizeof cut, "a"));
}

TEST(StartupCacheTest, ArchiveNameThatWouldBeCutIsRefused) {
    const size_t length = ArchiveName(kDigest, "", StartupCacheAotCache).size();
    EXPECT_NE(ArchiveName(kDigest, "", StartupCacheAotCache, length + 1).rfind("refused", 0), 0u);
    EXPECT_EQ(ArchiveName(kDigest, "", StartupCacheAotCache, length), "refused:");
    char key[19];
    EXPECT_TRUE(FormatArchiveKey(key, sizeof key, "", 0, ""));  // "0-" and 16 digits
    EXPECT_FALSE(FormatArchiveKey(key, sizeof key, "JAVA_VERSION=25", 15, ""));
    EXPECT_STREQ(key, "");
}

TEST(StartupCacheTest, OnlyAnArchiveWithTheVmMagicCountsAsWritten) {
    // First bytes of archives written by OpenJDK 17 (dynamic) and Temurin 25 (AOT cache).
    const unsigned char dynamic17[] = {0xa8, 0xab, 0x0b, 0xf0, 0x3c, 0x5b, 0xba, 0x1c};
    const unsigned char aot25[] = {0xa2, 0xab, 0x0b, 0xf0, 0xbb, 0x5d, 0x05, 0x68};
    const unsigned char cutShort[8] = {};
    const unsigned char bigEndian[] = {0xf0, 0x0b, 0xab, 0xa8};
    EXPECT_TRUE(HasStartupArchiveMagic(dynamic17, sizeof dynamic17));
    EXPECT_TRUE(HasStartupArchiveMagic(aot25, sizeof aot25));
    EXPECT_FALSE(HasStartupArchiveMagic(cutShort, sizeof cutShort));
    EXPECT_FALSE(HasStartupArchiveMagic(bigEndian, sizeof bigEndian));
    EXPECT_FALSE(HasStartupArchiveMagic(aot25, 3));
}
