// The launch resources carried inside the executable and their readers.
#pragma once

#include <cstddef>

#include "config/resource_contract.h"

// A zero-filled heap copy of size + 1 bytes, read as a NUL-terminated text.
char* CopyResourceText(const void* bytes, size_t size);

const char* ReadMainClassResource();
char* ReadSyncPathResource();
char* ReadConfigPathResource();
const char* ReadJarPathResource();
// Whether the executable carries the STARTUP-CACHE mark.
bool ReadStartupCacheMark();

char* ReplaceAll(const char* text, const char* pattern, const char* replacement);
