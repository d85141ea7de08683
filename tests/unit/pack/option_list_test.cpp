#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "pack/pack_tool.h"
#include "test_support.h"

namespace {

using namespace packtest;

struct Listed {
    std::string option, kind, group;
};

std::vector<Listed> listed() {
    Outcome r = RunCaptured({"--list-options"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<Listed> options;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Listed l;
        std::getline(fields, l.option, '\t');
        std::getline(fields, l.kind, '\t');
        std::getline(fields, l.group, '\t');
        options.push_back(l);
    }
    return options;
}

// The Maven plugin passes each listed option as the listing says: a flag alone, else --option=VALUE.
// The parser must take each so, and the listing must name every packing option that --help shows.
TEST(ListOptions, MatchesWhatTheParserAndHelpTake) {
    std::set<std::string> names;
    for (const Listed& l : listed()) {
        ASSERT_TRUE(l.kind == "flag" || l.kind == "text" || l.kind == "path") << l.option << " " << l.kind;
        names.insert(l.option);
        if (l.option == "--out") continue;
        std::string arg = l.kind == "flag" ? l.option : l.option + "=1";
        Outcome r = RunCaptured({"--out=/nonexistent/x.exe", arg});
        for (const char* refusal : {"unknown option", "takes no value", "needs a value"})
            EXPECT_EQ(r.err.find(refusal), std::string::npos) << arg << ": " << r.err;
        // The plugin's goals go by the group: an image or MSI option is one the exe alone refuses,
        // and an MSI option one that an image without --msi refuses.
        ASSERT_TRUE(l.group == "exe" || l.group == "image" || l.group == "msi") << l.option << " " << l.group;
        EXPECT_EQ(r.err.find("need --image DIR") != std::string::npos, l.group != "exe" && l.option != "--image") << arg << ": " << r.err;
        if (l.group == "exe" || l.option == "--image" || l.option == "--msi") continue;
        Outcome image = RunCaptured({"--image=/nonexistent/App", "--main-class=a.Main", arg});
        EXPECT_EQ(image.err.find("go with --msi") != std::string::npos, l.group == "msi") << arg << ": " << image.err;
    }
    std::istringstream help(RunCaptured({"--help"}).out);
    const std::set<std::string> commands = {"--show", "--check", "--index", "--version", "--list-options", "--try"};
    for (std::string line; std::getline(help, line);) {
        if (line.compare(0, 4, "  --") != 0) continue;
        std::string option = line.substr(2, line.find(' ', 2) - 2);
        if (commands.count(option) == 0) {
            EXPECT_EQ(names.count(option), 1u) << option << " is not listed";
        }
    }
}

}  // namespace
