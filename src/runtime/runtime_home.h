// Finding the runtime home: beside the executable, in the sync mirror, or through the registry.
#pragma once

#include <cstddef>

bool FindRuntimeHome(char* home, size_t size);
bool FindSyncRuntimeHome(char* home, size_t size);
// The sync folder when one of more than three characters is set, otherwise the executable's folder;
// false, with home empty, when that does not fit.
bool GetApplicationHome(char* home, size_t size);

// Reads one maker's or public registry key; on success home holds the JavaHome of the required version.
bool GetJREHome(char* home, size_t size, const char* keyPath);

// Registry access under HKEY_LOCAL_MACHINE, read-only. A null parent opens keyPath from the root.
typedef void* RegistryKey;
RegistryKey OpenRegistryKey(RegistryKey parent, const char* keyPath);
void CloseRegistryKey(RegistryKey key);
// Only REG_SZ values whose stored size (terminator included) is below size are read.
bool ReadRegistryString(RegistryKey key, const char* valueName, char* buffer, size_t size);

// True when a file status query on path succeeds, whatever kind of entry it names.
bool PathExists(const char* path);
