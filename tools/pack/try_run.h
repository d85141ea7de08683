// quorvia-pack --try: runs a packed exe's application on this machine, with the VM options, heap
// sizing, class path and main class that the launcher's own code builds from the exe's resources,
// started through the host's java (a static packer cannot load libjvm.so safely).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "pack/pe_image.h"

// What the host's java is started with.
struct TryPlan {
    std::vector<std::string> vmOptions;  // in the launcher's order, host paths
    std::string classPath;               // entries joined with ':'
    std::string mainClass;
    std::vector<std::string> appArguments;
    std::vector<std::string> notes;  // what the launcher's readers printed
    std::string error;               // why the launcher would not start; empty when it would
};

// The plan for the exe at exePath (its resources already read), started with `arguments` on the
// runtime at javaHome; applicationJar is the host file holding the CLASSES jar (for the embedded
// jar's launch mode), availableMemory this machine's, for the heap percentages.
TryPlan PlanTryRun(const std::string& exePath, const std::vector<Resource>& resources, const std::string& javaHome,
                   const std::vector<std::string>& arguments, const std::string& applicationJar,
                   uint64_t availableMemory);

// --try APP.exe [--java-home DIR] [--verbose] [-- ARGS...]; returns -1 when the command line is
// not a --try, else the application's exit status or the packer's own.
int RunTryCommand(const std::vector<std::string>& args, FILE* out, FILE* err);
