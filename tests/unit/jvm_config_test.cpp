#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "runtime/jvm_config.h"

namespace {

struct ReadResult {
    int count;
    std::vector<std::string> names;
    std::string warnings;
};

ReadResult ReadConfigText(const std::string& text) {
    FILE* file = tmpfile();
    EXPECT_NE(file, nullptr);
    fwrite(text.data(), 1, text.size(), file);
    rewind(file);
    testing::internal::CaptureStderr();
    ReadResult result;
    result.count = ReadKnownVmsFromFile(file);
    result.warnings = testing::internal::GetCapturedStderr();
    fclose(file);
    for (int i = 0; i < result.count; i++) result.names.push_back(g_knownVms[i]);
    return result;
}

class JvmConfigTest : public testing::Test {
protected:
    void SetUp() override { ResetFakeRuntimeAndCache(); }
    void TearDown() override { ReleaseKnownVmTable(); }
};

// One line or a few of jvm.cfg each: the entries the table gets and the warnings on stderr.
TEST_F(JvmConfigTest, LinesGiveTheirEntriesAndWarnings) {
    struct Case {
        const char* what;
        const char* text;
        std::vector<std::string> names;
        const char* warnings;
    };
    const Case cases[] = {
        {"CommentAndIgnoreLine", "# comment\n-server KNOWN\n-client IGNORE\n", {"-server", "-client"}, ""},
        {"AllKindsInFileOrderWithAliasTarget",
         "-client KNOWN\n-server KNOWN\n-hotspot ALIASED_TO -client\n-classic WARN\n-native ERROR\n-green ERROR\n",
         {"-client", "-server", "-client", "-classic", "-native", "-green"},
         ""},
        {"NameAloneIsAcceptedWithWarning",
         "-server\n",
         {"-server"},
         "Warning: missing VM type on line 1 of Config File\n"},
        {"NameWithTrailingBlankIsDropped", "-server \n", {}, "Warning: missing VM type on line 1 of Config File\n"},
        {"NoLeadingDashIsAccepted", "server KNOWN\n", {"server"}, "Warning: no leading - on line 1 of Config File\n"},
        {"AliasWithoutTargetIsDropped",
         "# first\n-hotspot ALIASED_TO\n",
         {},
         "Warning: missing VM alias on line 2 of Config File\n"},
        {"AliasWithTrailingBlanksOnlyIsDropped",
         "-hotspot ALIASED_TO \t \n",
         {},
         "Warning: missing VM alias on line 1 of Config File\n"},
        {"AliasTargetIsCutAtNextSeparator", "-hotspot\t\tALIASED_TO\t-server extra words\n", {"-server"}, ""},
        {"UnknownKindIsWarnedAndAccepted",
         "-server KNOWN\n-x FOO\n",
         {"-server", "-x"},
         "Warning: unknown VM type on line 2 (FOO) of Config File\n"},
    };
    for (const Case& c : cases) {
        ReadResult result = ReadConfigText(c.text);
        EXPECT_EQ(result.names, c.names) << c.what;
        EXPECT_EQ(result.count, static_cast<int>(c.names.size())) << c.what;
        EXPECT_EQ(result.warnings, c.warnings) << c.what;
        ReleaseKnownVmTable();
    }
}

TEST_F(JvmConfigTest, UnknownKindShowsRestOfLine) {
    ReadResult result = ReadConfigText("-x FOO BAR\n");
    EXPECT_EQ(result.warnings, "Warning: unknown VM type on line 1 (FOO BAR) of Config File\n");
}

TEST_F(JvmConfigTest, KindIsMatchedByItsBeginning) {
    ReadResult result = ReadConfigText("-a WARNING\n-b KNOWNISH\n-c IGNORED\n");
    EXPECT_EQ(result.names, (std::vector<std::string>{"-a", "-b", "-c"}));
    EXPECT_EQ(result.warnings, "");
}

TEST_F(JvmConfigTest, LastLineWithoutLineFeedLosesItsLastCharacter) {
    ReadResult result = ReadConfigText("-client KNOWN\n-server KNOWN");
    EXPECT_EQ(result.names, (std::vector<std::string>{"-client", "-server"}));
    EXPECT_EQ(result.warnings, "Warning: unknown VM type on line 2 (KNOW) of Config File\n");
}

TEST_F(JvmConfigTest, TenEntriesAtMostAndCommentsAfterwardSkipped) {
    std::string text;
    for (int i = 0; i < 10; i++) text += "-vm" + std::to_string(i) + " KNOWN\n";
    text += "# trailing comment\n-vm10 KNOWN\n-vm11 KNOWN\n";
    ReadResult result = ReadConfigText(text);
    ASSERT_EQ(result.count, 10);
    EXPECT_EQ(result.names.front(), "-vm0");
    EXPECT_EQ(result.names.back(), "-vm9");
    EXPECT_EQ(result.warnings, "Warning: can't read more than 10 entries from config file\n");
}

TEST_F(JvmConfigTest, LimitWarningComesAfterDashWarningOnSameLine) {
    std::string text;
    for (int i = 0; i < 10; i++) text += "-vm" + std::to_string(i) + " KNOWN\n";
    text += "vm10 KNOWN\n";
    ReadResult result = ReadConfigText(text);
    EXPECT_EQ(result.count, 10);
    EXPECT_EQ(result.warnings,
              "Warning: no leading - on line 11 of Config File\n"
              "Warning: can't read more than 10 entries from config file\n");
}

TEST_F(JvmConfigTest, WindowsLineEndsReadLikeLineFeeds) {
    // Text mode drops the carriage return only on Windows; the native reader sees what a
    // Windows build would see when the file is given with plain line feeds.
    ReadResult result = ReadConfigText("# c\n-server KNOWN\n-client ALIASED_TO -server\n");
    EXPECT_EQ(result.names, (std::vector<std::string>{"-server", "-server"}));
    EXPECT_EQ(result.warnings, "");
}

TEST_F(JvmConfigTest, EmptyLineGivesBothWarningsAndNoEntry) {
    ReadResult result = ReadConfigText("-server KNOWN\n\n-client KNOWN\n");
    EXPECT_EQ(result.names, (std::vector<std::string>{"-server", "-client"}));
    EXPECT_EQ(result.warnings,
              "Warning: no leading - on line 2 of Config File\n"
              "Warning: missing VM type on line 2 of Config File\n");
}

TEST_F(JvmConfigTest, LineStartingWithBlankGivesNoEmptyEntry) {
    ReadResult result = ReadConfigText(" -server KNOWN\n\t-client KNOWN\n-hotspot KNOWN\n");
    EXPECT_EQ(result.names, (std::vector<std::string>{"-hotspot"}));
    EXPECT_EQ(result.warnings,
              "Warning: no leading - on line 1 of Config File\n"
              "Warning: unknown VM type on line 1 (-server KNOWN) of Config File\n"
              "Warning: no leading - on line 2 of Config File\n"
              "Warning: unknown VM type on line 2 (-client KNOWN) of Config File\n");
}

TEST_F(JvmConfigTest, EmptyNamesDoNotUseUpTheTenEntries) {
    std::string text;
    for (int i = 0; i < 5; i++) text += "\n";
    for (int i = 0; i < 10; i++) text += "-vm" + std::to_string(i) + " KNOWN\n";
    ReadResult result = ReadConfigText(text);
    EXPECT_EQ(result.count, 10);
    for (const std::string& name : result.names) EXPECT_FALSE(name.empty());
}

TEST_F(JvmConfigTest, LongLineArrivesInPiecesWithoutOverflow) {
    // 1043 characters make one piece; the rest of the line is read as a line of its own.
    std::string name = "-" + std::string(1100, 'a');
    ReadResult result = ReadConfigText(name + " KNOWN\n-server KNOWN\n");
    ASSERT_EQ(result.count, 3);
    // First piece: 1043 characters, its last one dropped like a line feed, no separator in it.
    EXPECT_EQ(result.names[0], name.substr(0, 1042));
    // Second piece: the remaining 58 a's and " KNOWN" with its line feed removed.
    EXPECT_EQ(result.names[1], std::string(1101 - 1043, 'a'));
    EXPECT_EQ(result.names[2], "-server");
    EXPECT_EQ(result.warnings,
              "Warning: missing VM type on line 1 of Config File\n"
              "Warning: no leading - on line 2 of Config File\n");
}

TEST_F(JvmConfigTest, ReadingAgainReplacesTheTable) {
    ReadConfigText("-a KNOWN\n-b KNOWN\n-c KNOWN\n");
    ReadResult result = ReadConfigText("-d KNOWN\n");
    EXPECT_EQ(result.count, 1);
    EXPECT_STREQ(g_knownVms[0], "-d");
    EXPECT_EQ(g_knownVms[1], nullptr);
}

TEST_F(JvmConfigTest, ReleaseEmptiesEveryEntry) {
    ReadConfigText("-a KNOWN\n-b KNOWN\n");
    ReleaseKnownVmTable();
    for (int i = 0; i < kMaxKnownVms; i++) EXPECT_EQ(g_knownVms[i], nullptr);
}

// ReadKnownVms forms Windows paths; on this host a backslash is an ordinary file name character,
// so "{dir}/h\lib\jvm.cfg" is a single file that the formed path names exactly.
class JvmConfigFileTest : public JvmConfigTest {
protected:
    void SetUp() override {
        JvmConfigTest::SetUp();
        char pattern[] = "/tmp/jvmcfgXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        home_ = dir_ + "/h";
    }
    void TearDown() override {
        for (const std::string& file : created_) unlink(file.c_str());
        rmdir(dir_.c_str());
        JvmConfigTest::TearDown();
    }
    void Put(const std::string& path, const std::string& text) {
        FILE* file = fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fputs(text.c_str(), file);
        fclose(file);
        created_.push_back(path);
    }
    std::string dir_;
    std::string home_;
    std::vector<std::string> created_;
};

TEST_F(JvmConfigFileTest, ReadsLibJvmCfg) {
    Put(home_ + "\\lib\\jvm.cfg", "-server KNOWN\n-client KNOWN\n");
    Put(home_ + "\\lib\\amd64\\jvm.cfg", "-other KNOWN\n");
    EXPECT_EQ(ReadKnownVms(home_.c_str()), 2);
    EXPECT_STREQ(g_knownVms[0], "-server");
    EXPECT_TRUE(g_fake.fatalTexts.empty());
}

TEST_F(JvmConfigFileTest, FallsBackToProcessorFolder) {
    g_fake.archName = "amd64";
    Put(home_ + "\\lib\\amd64\\jvm.cfg", "-client KNOWN\n");
    EXPECT_EQ(ReadKnownVms(home_.c_str()), 1);
    EXPECT_STREQ(g_knownVms[0], "-client");
}

TEST_F(JvmConfigFileTest, MissingFileIsFatalAndGivesZero) {
    EXPECT_EQ(ReadKnownVms(home_.c_str()), 0);
    ASSERT_EQ(g_fake.fatalTexts.size(), 1u);
    EXPECT_EQ(g_fake.fatalTexts[0], "Error: could not open Config File on (" + home_ + ")\n");
}

TEST_F(JvmConfigFileTest, OnlyCommentsGiveZeroWithoutBox) {
    Put(home_ + "\\lib\\jvm.cfg", "# one\n# two\n");
    EXPECT_EQ(ReadKnownVms(home_.c_str()), 0);
    EXPECT_TRUE(g_fake.fatalTexts.empty());
}

}  // namespace
