// quorvia-pack --index and --check on a real folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

using namespace packtest;

namespace {

void SetTime(const std::string& path, long seconds) {
    struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(0, utimes(path.c_str(), times));
}

TEST(SyncIndexTool, IndexListsEveryFileAndCheckFindsContentChangedBehindItsSizeAndTime) {
    TempDir dir;
    ASSERT_EQ(0, mkdir(dir.path("libs").c_str(), 0755));
    write_bytes(dir.path("libs/app.jar"), text("abc", false));
    write_bytes(dir.path("top.txt"), text("", false));
    SetTime(dir.path("libs/app.jar"), 1600000000);
    SetTime(dir.path("top.txt"), 1600000001);

    Outcome indexed = RunCaptured({"--index", dir.path("")});
    ASSERT_EQ(0, indexed.status) << indexed.err;
    std::string index;
    for (uint8_t c : read_bytes(dir.path("quorvia-sync.index"))) index.push_back(char(c));
    // SHA-256 of "abc" and of nothing, as sha256sum gives them; FILETIME counts 100 ns from 1601, 11644473600 s before 1970.
    const std::string lines =
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad 3 132444736000000000 libs\\app.jar\n"
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855 0 132444736010000000 top.txt\n";
    EXPECT_NE(std::string::npos, index.find("\nentries 2\n" + lines + "end\n")) << index;
    EXPECT_EQ(1u, dir.entries().size() - 2) << "the index only, no temporary file left";

    Outcome clean = RunCaptured({"--check", dir.path("")});
    EXPECT_EQ(0, clean.status) << clean.out << clean.err;

    write_bytes(dir.path("libs/app.jar"), text("abd", false));
    SetTime(dir.path("libs/app.jar"), 1600000000);
    write_bytes(dir.path("extra.txt"), text("x", false));
    Outcome changed = RunCaptured({"--check", dir.path("")});
    EXPECT_EQ(1, changed.status);
    EXPECT_EQ("extra.txt: not in the index\nlibs\\app.jar: content differs from the index\n", changed.out);
}

TEST(SyncIndexTool, NamesWindowsCannotHoldAreRefusedEachByNameAndCheckReportsThem) {
    TempDir dir;
    const std::string root = dir.path("share");
    for (const char* folder : {"", "/dir.", "/CON", "/ok"}) ASSERT_EQ(0, mkdir((root + folder).c_str(), 0755));
    const std::vector<std::string> refused = {"CON/a.txt", "COM1.log", "aux.txt", "dir./x.txt", "esc\x1b[2J",
                                              "lpt9",      "nul.jar",  "space ",  "trail."};
    for (const std::string& name : refused) write_bytes(root + "/" + name, text("x", false));
    for (const char* name : {"ok/CONX", "ok/COM10.log", "ok/console.txt"})
        write_bytes(root + "/" + name, text("x", false));

    Outcome indexed = RunCaptured({"--index", root});
    EXPECT_EQ(1, indexed.status);
    EXPECT_EQ(std::string::npos, indexed.err.find('\x1b')) << "a name reaches the terminal escaped";
    std::vector<std::string> expected, named;
    for (std::string name : refused)
        expected.push_back("quorvia-pack: " + root + "/" + (name[0] == 'e' ? "esc\\x1B[2J" : name) +
                           ": the name can't be indexed");
    std::istringstream lines(indexed.err);
    for (std::string line; std::getline(lines, line);) named.push_back(line.substr(0, line.find(": a ")));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, named) << "each file named once, in order";
    EXPECT_EQ(std::vector<std::string>{"share"}, dir.entries()) << "no index written";

    // An index written by hand, naming one of them: --check refuses it and names every file again.
    write_bytes(root + "/quorvia-sync.index", text("quorvia-sync-index 1\n", false));
    Outcome checked = RunCaptured({"--check", root});
    EXPECT_EQ(1, checked.status);
    EXPECT_NE(std::string::npos, checked.err.find(root + "/CON/a.txt: the name can't be indexed")) << checked.err;
    EXPECT_NE(std::string::npos, checked.err.find(root + "/trail.: the name can't be indexed")) << checked.err;
}

}  // namespace
