#include <gtest/gtest.h>

#include "pack/argument_file.h"

namespace {

std::vector<Argument> Split(const std::string& text, std::string* error = nullptr) {
    std::vector<Argument> out;
    std::string message;
    bool ok = SplitArgumentFile(text, "dir/app.args", out, message);
    if (error != nullptr) *error = ok ? "" : message;
    else EXPECT_TRUE(ok) << message;
    return out;
}

std::vector<std::string> Texts(const std::vector<Argument>& args) {
    std::vector<std::string> texts;
    for (const Argument& a : args) texts.push_back(a.text);
    return texts;
}

TEST(ArgumentFile, SplitsAsJavacDoes) {
    std::vector<Argument> args = Split(
        "\xEF\xBB\xBF# a comment line\r\n"
        "--main-class com.example.Main   # after an argument\n"
        "\t--vm-options \"-Xmx1g -Dname=two words\"\n"
        "--class-path '#/lib/a.jar;#/lib/b.jar'\n"
        "--jar-path C:\\apps\\x.jar -Dq=\"a b\"c\n"
        "\"tab\\there \\\"q\\\" \\\\ \\x\" ''\n"
        "\"joined \\\n"
        "     line\" last#not-a-comment");
    EXPECT_EQ(Texts(args), (std::vector<std::string>{
                               "--main-class", "com.example.Main", "--vm-options", "-Xmx1g -Dname=two words",
                               "--class-path", "#/lib/a.jar;#/lib/b.jar", "--jar-path", "C:\\apps\\x.jar",
                               "-Dq=a bc", "tab\there \"q\" \\ x", "", "joined line", "last#not-a-comment"}));
    std::vector<unsigned> lines;
    for (const Argument& a : args) lines.push_back(a.line);
    EXPECT_EQ(lines, (std::vector<unsigned>{2, 2, 3, 3, 4, 4, 5, 5, 5, 6, 6, 7, 8}));
    EXPECT_EQ(args[0].file, "dir/app.args");
}

TEST(ArgumentFile, UnterminatedQuoteNamesFileAndLine) {
    std::string error;
    Split("--out a.exe\n\n--main-class \"com.example.Main\n--splash s.png\n", &error);
    EXPECT_EQ(error, "dir/app.args:3: unterminated quote");
    Split("--main-class 'x", &error);
    EXPECT_EQ(error, "dir/app.args:1: unterminated quote");
    Split("--main-class \"x\\", &error);
    EXPECT_EQ(error, "dir/app.args:1: unterminated quote");
}

TEST(ArgumentFile, RelativePathsAreTakenFromTheFilesFolder) {
    Argument from_file{"--out", "conf/sub/app.args", 1};
    EXPECT_EQ(ArgumentPath(from_file, "App.exe"), "conf/sub/App.exe");
    EXPECT_EQ(ArgumentPath(from_file, "../lib/x.jar"), "conf/sub/../lib/x.jar");
    for (const char* absolute : {"/opt/app.jar", "C:\\app.jar", "d:/app.jar", "\\\\server\\share\\a.jar"})
        EXPECT_EQ(ArgumentPath(from_file, absolute), absolute);
    EXPECT_EQ(ArgumentPath(Argument{"--out", "app.args", 1}, "App.exe"), "App.exe");
    EXPECT_EQ(ArgumentPath(Argument{"--out", "c:\\build\\app.args", 1}, "App.exe"), "c:\\build\\App.exe");
    EXPECT_EQ(ArgumentPath(Argument{"--out", "", 0}, "App.exe"), "App.exe") << "command line: as given";
}

}  // namespace
