// The configuration's platform edge: Win32 in resources_win32.cpp and config_file_win32.cpp; the unit
// tests replace these functions (tests/unit/fake_config_edge.cpp).
#pragma once

#include <cstddef>

struct LaunchResource;

// Bytes and size of a resource of the running executable; size 0 and null when absent.
// `lastError` receives the system's error code of a failed lookup (may be null).
const void* LoadLaunchResource(const LaunchResource& resource, size_t* size, unsigned long* lastError);

// Reads one key of section "java" with default ""; returns the number of characters read.
unsigned ReadProfileValue(const char* key, char* buffer, unsigned size, const char* path);

// The full path of `path` against the current directory; false when it does not fit.
bool MakeAbsolutePath(const char* path, char* absolutePath, unsigned size);

// ---- Settings read after installation (config/options_file.cpp, config/env_expansion.cpp) ----

enum OptionsFileRead {
    kOptionsFileMissing,
    kOptionsFileRead,
    kOptionsFileTooLarge,
    kOptionsFileUnreadable,
    kOptionsFileNotInCodePage,  // UTF-8 text the exe's ANSI code page cannot hold
};
// Reads a whole file of at most `size` bytes into `buffer`; *length gets the bytes read.
OptionsFileRead ReadOptionsFileBytes(const char* path, char* buffer, size_t size, size_t* length);
// An environment variable (names compare without regard to case, as Windows does). False when it
// is not set; otherwise *length is the value's length, and the value with its terminator is in
// `value` when it fits in `size` bytes (nothing is written beyond them).
bool ReadEnvironmentValue(const char* name, char* value, size_t size, size_t* length);
