// The runtime search's platform edge beyond runtime_edge.h: the 64-bit registry view of both hives,
// the environment, and the offer of a download page. Win32 in runtime_search_win32.cpp; the unit
// tests replace it (tests/unit/fake_runtime_search_edge.cpp).
#pragma once

#include <cstddef>

#include "runtime/runtime_edge.h"

enum RegistryHive { kMachineHive, kUserHive };

// Opens keyPath read-only in the 64-bit view (an x64 launcher loads only x64 runtimes, whose
// installers write there), under the hive's root, or under parent when it is not null. Read its
// values with ReadRegistryString and close it with CloseRegistryKey.
RegistryKey OpenRegistryKey64(RegistryHive hive, RegistryKey parent, const char* keyPath);
// The name of the index-th subkey; false past the last one, or when the name does not fit size.
bool EnumRegistrySubkey(RegistryKey key, unsigned long index, char* name, size_t size);

// An environment variable's value; false when it is unset, empty, or does not fit size.
bool ReadEnvironmentText(const char* name, char* buffer, size_t size);
// The path of an existing file with its links resolved; false when that cannot be had.
bool ResolveFinalPath(const char* path, char* resolved, size_t size);

// The first bytes of a small file (a runtime's release file) into buffer; false when it cannot be read.
bool ReadSmallFile(const char* path, char* buffer, size_t size, size_t* length);

// Shows the message with Yes and No buttons in the "Fatal Error" box; true for Yes. The console
// variant writes it to stderr and answers No.
bool AskFatalYesNo(const char* text);
// Asks the shell to open the page in the user's browser; false when it refused.
bool OpenPageWithShell(const char* url);
