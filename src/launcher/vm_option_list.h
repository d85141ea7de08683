// The VM option list of a launch, formed from the settings: the launch sequence hands it to the VM,
// and quorvia-pack --try hands the same list to the build machine's java.
#pragma once

#include <cstddef>

struct StartupCacheOptions;

// Puts the application jar (agentJarPath, when set) and the CLASS-PATH resource on the class path;
// with -crypt the jar also becomes the VM's agent, whose option is formed in agentOption, which the
// caller keeps until the VM exists.
void CompleteClassPath(char* agentOption, size_t agentOptionSize, const char* runtimeHome);

// Appends the start-up cache options (may be null), the VM-OPTIONS items, the options of the options
// files (addInstalled, may be null; after the packed ones so that they win) and the class path option.
void AddCollectedVmOptions(const StartupCacheOptions* startupCache, int vmOptionCount, char** vmOptionItems,
                           void (*addInstalled)() = nullptr);
