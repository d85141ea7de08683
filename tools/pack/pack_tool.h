// The quorvia-pack command line, callable from tests without a process.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "pack/pe_image.h"

enum ExitCode : int {
    kExitOk = 0,
    kExitInput = 1,  // a file or a value is wrong
    kExitUsage = 2,  // the command line itself is wrong
};

// args excludes the program name. defaultLauncher is used when --launcher is not given.
int RunPackTool(const std::vector<std::string>& args, const std::string& defaultLauncher, FILE* out, FILE* err);

// One line per resource, as --show prints them.
std::string DescribeResources(const std::vector<Resource>& resources);

// The STARTUP-CACHE mark, and for reference the mechanism each range of runtime versions would use.
std::string DescribeStartupCache(const std::vector<Resource>& resources);

// Every packing option, one a line: OPTION<TAB>flag|text|path<TAB>DESCRIPTION.
std::string ListPackOptions();

// The runtime rule's line of --show; empty when the exe carries none.
std::string DescribeRuntimeRule(const std::vector<Resource>& resources);
