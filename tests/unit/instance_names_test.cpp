#include <gtest/gtest.h>

#include "instance/executable_name.h"

namespace {

TEST(InstanceExecutableName, FileNameIsThePartAfterTheLastBackslash) {
    EXPECT_STREQ(FileNamePart("C:\\Apps\\Quorvia\\app.exe"), "app.exe");
    EXPECT_STREQ(FileNamePart("app.exe"), "app.exe");
    EXPECT_STREQ(FileNamePart("C:\\Apps\\"), "");
    // Forward slashes are not separators here: only what GetModuleFileNameA gives matters.
    EXPECT_STREQ(FileNamePart("C:\\a/b.exe"), "a/b.exe");
}

TEST(InstanceExecutableName, AsciiLettersCompareWithoutCase) {
    EXPECT_TRUE(EqualIgnoringAsciiCase("App.EXE", "app.exe"));
    EXPECT_TRUE(EqualIgnoringAsciiCase("", ""));
    EXPECT_FALSE(EqualIgnoringAsciiCase("app.exe", "app.ex"));
    EXPECT_FALSE(EqualIgnoringAsciiCase("app.ex", "app.exe"));
    EXPECT_FALSE(EqualIgnoringAsciiCase("app1.exe", "app2.exe"));
    // Only A-Z fold: '@' and '`' sit next to the letters and must stay distinct.
    EXPECT_FALSE(EqualIgnoringAsciiCase("@", "`"));
    EXPECT_FALSE(EqualIgnoringAsciiCase("[", "{"));
    // Bytes above 127 are compared exactly.
    EXPECT_FALSE(EqualIgnoringAsciiCase("\xc9.exe", "\xe9.exe"));
    EXPECT_TRUE(EqualIgnoringAsciiCase("\xe9.exe", "\xe9.EXE"));
}

}  // namespace
