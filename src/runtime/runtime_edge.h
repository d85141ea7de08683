// The runtime search's platform edge: Win32 in runtime_home_win32.cpp and vm_library_win32.cpp; the
// unit tests replace the registry and file status (tests/unit/fake_platform.cpp), the HotSpot driver
// the VM library loading (tests/hotspot/native_edges.cpp).
#pragma once

#include <cstddef>

#include "base/launch_state.h"

// Registry access under HKEY_LOCAL_MACHINE, read-only. A null parent opens keyPath from the root.
typedef void* RegistryKey;
RegistryKey OpenRegistryKey(RegistryKey parent, const char* keyPath);
void CloseRegistryKey(RegistryKey key);
// Only REG_SZ values whose stored size (terminator included) is below size are read.
bool ReadRegistryString(RegistryKey key, const char* valueName, char* buffer, size_t size);

// True when a file status query on path succeeds, whatever kind of entry it names.
bool PathExists(const char* path);

bool LoadVmLibrary(const char* path, VmEntryPoints* entryPoints);
