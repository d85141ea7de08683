// The launch's phases before anything is written or loaded: the settings from their sources, the
// main class, the launch mode and the runtime home. The launch sequence runs them, and so does the
// packer's --check, over the checked exe, so that both read a package the same way.
#pragma once

#include <cstddef>

#include "base/launch_state.h"

// The settings phase: ReadLaunchOptions, then CompleteLaunchSettings. *argc and *argv become the
// unrecognised command-line items, *vmOptionCount and *vmOptionItems the VM-OPTIONS items left for the
// VM. False, with *status set, on a malformed command-line option.
bool ReadLaunchSettings(int* argc, char*** argv, int* vmOptionCount, char*** vmOptionItems, int* status);
// Its first half: the launcher's options from the command line and from VM-OPTIONS, then the
// configuration file, each filling only what is still unset.
bool ReadLaunchOptions(int* argc, char*** argv, int* vmOptionCount, char*** vmOptionItems, int* status);
// Its second half: heap sizing (the heap resources fill unset percentages), the SYNC-PATH resource,
// DPI awareness and the STARTUP-CACHE mark.
void CompleteLaunchSettings();

// The main class from the configuration file or MAIN-CLASS; false when neither names one.
bool ReadMainClassName();

// The mode the settings ask for: SyncFolder with a sync folder; otherwise JarPath with a jar path
// (command line, configuration file or JAR-PATH) and EmbeddedCache without. Sets launchMode, and
// jarPath from JAR-PATH where nothing set it before.
LaunchMode ChooseLaunchMode();

// The runtime home the launch mode searches: the mirror first in the SyncFolder mode, then the
// standard search; with a runtime rule packed, the rule's search. False when none is found.
bool FindLaunchRuntimeHome(char* home, size_t size);
