// The launch resources carried inside the executable, their readers, and paths relative to the executable.
#pragma once

#include <cstddef>

#include "resource_contract.h"

// A zero-filled heap copy of size + 1 bytes, read as a NUL-terminated text.
char* CopyResourceText(const void* bytes, size_t size);

const char* ReadMainClassResource();
char* ReadSyncPathResource();
char* ReadConfigPathResource();
const char* ReadJarPathResource();
// Whether the executable carries the STARTUP-CACHE mark.
bool ReadStartupCacheMark();

char* ReplaceAll(const char* text, const char* pattern, const char* replacement);

const char* GetExeFolder();
char* GetExeBaseName();

// Splits a module path into its folder (drive and directory, with the final separator) and base name.
void SplitModulePath(const char* path, char* folder, size_t folderSize, char* baseName, size_t baseNameSize);

// The running executable's full path, at most 259 characters and `size` - 1. False, with the buffer
// empty, when it does not fit: a cut path would name another file.
bool GetExePath(char* buffer, size_t size);

