// The launch resources carried inside the executable, their readers, and paths relative to the executable.
#pragma once

#include <cstddef>

struct LaunchResource {
    const char* typeName;
    unsigned numericName;
};

extern const LaunchResource kClassesResource;        // "CLASSES" 1000
extern const LaunchResource kMainClassResource;      // "MAIN-CLASS" 3000
extern const LaunchResource kClassPathResource;      // "CLASS-PATH" 4000
extern const LaunchResource kJarPathResource;        // "JAR-PATH" 4500
extern const LaunchResource kVmOptionsResource;      // "VM-OPTIONS" 5000
extern const LaunchResource kMd5SumResource;         // "MD5-SUM" 6000
extern const LaunchResource kConfigPathResource;     // "CONFIG-PATH" 9000
extern const LaunchResource kSyncPathResource;       // "SYNC-PATH" 10000
extern const LaunchResource kInitHeapPercentResource;  // "VM-INIT-HEAP-PERC" 11000
extern const LaunchResource kMaxHeapPercentResource;   // "VM-MAX-HEAP-PERC" 11100
extern const LaunchResource kSplashResource;         // "VM-SPLASH" 20000

const size_t kTextResourceLimit = 1024;

// A zero-filled heap copy of size + 1 bytes, read as a NUL-terminated text.
char* CopyResourceText(const void* bytes, size_t size);

const char* ReadMainClassResource();
char* ReadSyncPathResource();
char* ReadConfigPathResource();
const char* ReadJarPathResource();

char* ReplaceAll(const char* text, const char* pattern, const char* replacement);

const char* GetExeFolder();
char* GetExeBaseName();

// Splits a module path into its folder (drive and directory, with the final separator) and base name.
void SplitModulePath(const char* path, char* folder, size_t folderSize, char* baseName, size_t baseNameSize);

// The running executable's full path, at most 259 characters and `size` - 1. False, with the buffer
// empty, when it does not fit: a cut path would name another file.
bool GetExePath(char* buffer, size_t size);

