#include <gtest/gtest.h>

#include "base/text.h"

namespace {

TEST(Text, LastPathPartIsWhatFollowsTheLastBackslash) {
    EXPECT_STREQ(LastPathPart("C:\\Apps\\Quorvia\\app.exe"), "app.exe");
    EXPECT_STREQ(LastPathPart("app.exe"), "app.exe");
    EXPECT_STREQ(LastPathPart("C:\\Apps\\"), "");
    // Forward slashes are not separators here: only what GetModuleFileNameA gives matters.
    EXPECT_STREQ(LastPathPart("C:\\a/b.exe"), "a/b.exe");
}

TEST(Text, AsciiLettersCompareWithoutCase) {
    EXPECT_TRUE(EqualsIgnoringCase("App.EXE", "app.exe"));
    EXPECT_TRUE(EqualsIgnoringCase("", ""));
    EXPECT_FALSE(EqualsIgnoringCase("app.exe", "app.ex"));
    EXPECT_FALSE(EqualsIgnoringCase("app.ex", "app.exe"));
    EXPECT_FALSE(EqualsIgnoringCase("app1.exe", "app2.exe"));
    // Only A-Z fold: '@' and '`' sit next to the letters and must stay distinct.
    EXPECT_FALSE(EqualsIgnoringCase("@", "`"));
    EXPECT_FALSE(EqualsIgnoringCase("[", "{"));
    // Bytes above 127 are compared exactly.
    EXPECT_FALSE(EqualsIgnoringCase("\xc9.exe", "\xe9.exe"));
    EXPECT_TRUE(EqualsIgnoringCase("\xe9.exe", "\xe9.EXE"));
}

}  // namespace
