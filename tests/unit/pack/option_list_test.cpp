#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "pack/pack_tool.h"
#include "test_support.h"

namespace {

using namespace packtest;

struct Listed {
    std::string option, kind;
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
