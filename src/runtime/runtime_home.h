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

