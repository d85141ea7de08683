// Running the build tools the packer drives (wixl, jlink, jdeps) and capturing what they print.
#pragma once

#include <string>
#include <vector>

// Runs argv[0] (looked up in PATH when it has no folder) with the other arguments, each passed as
// one argument whatever it holds. `output` receives its standard output and error together.
// Returns the exit status, or -1 when the program could not be started.
int RunProgram(const std::vector<std::string>& argv, std::string& output);
