#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cache/cache_names.h"
#include "cache/embedded_jar.h"
#include "fake_files_edge.h"
#include "fake_platform.h"
#include "files/entry_names.h"
#include "files/md5.h"
#include "files/replace.h"

namespace {

std::string Md5Text(const std::string& bytes) {
    unsigned char digest[16];
    ComputeMd5(bytes.data(), bytes.size(), digest);
    char text[33];
    FormatDigestText(digest, text);
    return text;
}

TEST(DigestText, UpperCaseHexHighNibbleFirst) {
    const unsigned char digest[16] = {0x00, 0x01, 0x0A, 0x10, 0x9F, 0xA0, 0xFF, 0x7E,
                                      0xC3, 0x5B, 0x20, 0x02, 0xE1, 0xD4, 0x86, 0x3F};
    char text[33];
    memset(text, 'x', sizeof text);
    FormatDigestText(digest, text);
    EXPECT_STREQ(text, "00010A109FA0FF7EC35B2002E1D4863F");
}

// Test vectors of RFC 1321, appendix A.5.
TEST(Md5, RfcVectors) {
    EXPECT_EQ(Md5Text(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(Md5Text("a"), "0CC175B9C0F1B6A831C399E269772661");
    EXPECT_EQ(Md5Text("abc"), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Md5Text("message digest"), "F96B697D7CB7938D525A2F31AAF161D0");
    EXPECT_EQ(Md5Text("abcdefghijklmnopqrstuvwxyz"), "C3FCD3D76192E4007DFB496CCA67E13B");
    EXPECT_EQ(Md5Text("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "D174AB98D277D9F5A5611C2C9F419D9F");
    std::string eightTimes;
    for (int i = 0; i < 8; i++) eightTimes += "1234567890";
    EXPECT_EQ(Md5Text(eightTimes), "57EDF4A22BE3C955AC49DA2E2107B67A");
}

// Lengths around the padding boundaries (55, 56, 63, 64 bytes); digests taken from another MD5 program.
TEST(Md5, PaddingBoundaries) {
    EXPECT_EQ(Md5Text(std::string(55, 'a')), "EF1772B6DFF9A122358552954AD0DF65");
    EXPECT_EQ(Md5Text(std::string(56, 'a')), "3B0C8AC703F828B04C6C197006D17218");
    EXPECT_EQ(Md5Text(std::string(63, 'a')), "B06521F39153D618550606BE297466D5");
    EXPECT_EQ(Md5Text(std::string(64, 'a')), "014842D480B571495A4A0363793F7367");
    EXPECT_EQ(Md5Text(std::string(1000, '\xff')), "23CC517AE5734B068E21C92920A5EE02");
}

TEST(CacheFileName, Formed) {
    char name[260];
    ASSERT_TRUE(FormatCacheFileName(name, sizeof name, "C:\\ProgramData\\.quorvia\\cache", "App",
                                    "D41D8CD98F00B204E9800998ECF8427E"));
    EXPECT_STREQ(name, "C:\\ProgramData\\.quorvia\\cache\\App.D41D8CD98F00B204E9800998ECF8427E.dat");
}

TEST(CacheFileName, LongestThatFitsAndOneLonger) {
    const std::string folder = "C:\\cache";
    // folder + '\' + base + '.' + digest + ".dat" = 259 characters exactly fits a 260 buffer.
    size_t fixed = folder.size() + 1 + 3 + 1 + 4;
    std::string digest(259 - fixed, 'D');
    char name[260];
    ASSERT_TRUE(FormatCacheFileName(name, sizeof name, folder.c_str(), "App", digest.c_str()));
    EXPECT_EQ(strlen(name), 259u);
    digest += "D";
    EXPECT_FALSE(FormatCacheFileName(name, sizeof name, folder.c_str(), "App", digest.c_str()));
    EXPECT_STREQ(name, "");
}

// Temporary names carry the process id and 16 random hex digits: nobody can make a link wait at one.
TEST(CacheTempName, UnguessableOutsideTheFamilyAndParsedBackOnlyForItsStem) {
    ResetFakeFileSystem();
    g_fs.ownProcessId = 4242;
    char first[260];
    char second[260];
    ASSERT_TRUE(FormatTempNameIn(first, sizeof first, "C:\\cache", "App"));
    ASSERT_TRUE(FormatTempNameIn(second, sizeof second, "C:\\cache", "App"));
    EXPECT_NE(std::string(first), std::string(second));
    EXPECT_EQ(std::string(first).size(), std::string("C:\\cache\\~App.4242.0123456789abcdef.tmp").size()) << first;
    EXPECT_FALSE(IsOwnCacheEntryName(first + 9, "App", nullptr));
    EXPECT_FALSE(FormatTempNameIn(first, 20, "C:\\cache", "App"));
    g_fs.randomAvailable = false;  // no random bytes: no name, never a guessable one
    EXPECT_FALSE(FormatTempNameIn(first, sizeof first, "C:\\cache", "App"));

    unsigned long processId = 0;
    ASSERT_TRUE(ParseTempEntryName(second + 9, "App", &processId));
    EXPECT_EQ(processId, 4242u);
    ASSERT_TRUE(ParseTempEntryName("~app.4242.TMP", "App", &processId));
    EXPECT_EQ(processId, 4242u);
    EXPECT_FALSE(ParseTempEntryName("~App.4242.0123456789abcdeg.tmp", "App", &processId));
    EXPECT_FALSE(ParseTempEntryName("~App.4242.0123456789abcde.tmp", "App", &processId));
    EXPECT_FALSE(ParseTempEntryName("~App.Tool.4242.tmp", "App", &processId));
    EXPECT_FALSE(ParseTempEntryName("~AppTool.4242.tmp", "App", &processId));
    EXPECT_FALSE(ParseTempEntryName("~App..tmp", "App", &processId));
    EXPECT_FALSE(ParseTempEntryName("~App.42x.tmp", "App", &processId));
    EXPECT_FALSE(ParseTempEntryName("~App.99999999999.tmp", "App", &processId));
}

const char kDigest[] = "0123456789abcdef0123456789ABCDEF";

TEST(StaleFilter, StaleCleanupSparesOtherApplications) {
    EXPECT_TRUE(IsOwnCacheEntryName("App.dat", "App", nullptr));
    EXPECT_TRUE(IsOwnCacheEntryName((std::string("app.") + kDigest + ".DAT").c_str(), "App", nullptr));
    // A sibling App.Tool.exe, and AppTool.exe, keep their jar copies and cache files.
    EXPECT_FALSE(IsOwnCacheEntryName("App.Tool.dat", "App", nullptr));
    EXPECT_FALSE(IsOwnCacheEntryName((std::string("App.Tool.") + kDigest + ".dat").c_str(), "App", nullptr));
    EXPECT_FALSE(IsOwnCacheEntryName((std::string("AppTool.") + kDigest + ".dat").c_str(), "App", nullptr));
    EXPECT_FALSE(IsOwnCacheEntryName("AppTool.dat", "App", nullptr));
    EXPECT_FALSE(IsOwnCacheEntryName("App", "App", nullptr));  // the application cache folder
    EXPECT_FALSE(IsOwnCacheEntryName("App.x", "App", nullptr));
    EXPECT_FALSE(IsOwnCacheEntryName((std::string("App.") + kDigest + "0.dat").c_str(), "App", nullptr));
}

TEST(StaleFilter, Md5SumTextOfAnyFormNamesAnOwnFile) {
    EXPECT_TRUE(IsOwnCacheEntryName("App.Tool.dat", "App", "Tool"));
    EXPECT_TRUE(IsOwnCacheEntryName("App.release-7.dat", "App", "release-7"));
    EXPECT_FALSE(IsOwnCacheEntryName("App.release-8.dat", "App", "release-7"));
    EXPECT_FALSE(IsOwnCacheEntryName("App.Tool.dat", "App", ""));
}

class CacheFileNameOnce : public testing::Test {
protected:
    void SetUp() override {
        ResetFakeRuntimeAndCache();
        ResetFakeFileSystem();
        g_fake.exePath = "C:\\Apps\\Tool.exe";
        g_fake.cacheFolder = "C:\\ProgramData\\.quorvia\\cache";
    }
};

TEST_F(CacheFileNameOnce, FirstDigestNamesTheFileForGood) {
    const char* first = GetCacheFileName("AAAA");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "C:\\ProgramData\\.quorvia\\cache\\Tool\\Tool.AAAA.dat");
    const char* second = GetCacheFileName("BBBB");
    EXPECT_EQ(second, first);
    EXPECT_STREQ(second, "C:\\ProgramData\\.quorvia\\cache\\Tool\\Tool.AAAA.dat");
}

TEST_F(CacheFileNameOnce, TooLongDigestFormsNoNameAndLeavesRoomForAnother) {
    std::string longDigest(300, 'F');
    EXPECT_EQ(GetCacheFileName(longDigest.c_str()), nullptr);
    const char* name = GetCacheFileName("CCCC");
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "C:\\ProgramData\\.quorvia\\cache\\Tool\\Tool.CCCC.dat");
}

}  // namespace
