// The application's start-up cache in the cache folder: the archive's family of names, the cleanup of
// stale and broken ones, and the VM options that write or use it, chosen by the runtime's release file.
#pragma once

#include <cstddef>

#include "startup/cache_mechanism.h"

// Names the archive of an application without a jar digest: 16 hex digits hashed from the main
// class, the class path and the size and last-write time of each class path entry, so that a jar
// replaced at the same path gets a new archive instead of one the VM rejects on every start.
bool FormatApplicationKey(char* buffer, size_t size, const char* mainClass, const char* classPath);

enum ArchiveEntryKind {
    NotArchiveEntry,
    ArchiveEntry,          // "{base}.{digest}.{version}-{hash}.{exe path key}.jsa" or ".aot"
    ArchiveTrainingEntry,  // "{archive}.config": what an AOT training run leaves while it assembles
    ArchiveTempEntry,      // "{archive}.{process id}.tmp": a dynamic archive being written at exit
};

struct ArchiveEntryName {
    ArchiveEntryKind kind;
    unsigned long processId;                 // of a temp entry
    char exePathKey[kExePathKeyLength + 1];  // whose exe of that base name; "" in an earlier launcher's names
};

// Which member of the archive family of executables of this base name an entry of the cache folder
// is. Letter case does not count; the files of App.Tool.exe or AppTool.exe are not App.exe's.
ArchiveEntryName ParseArchiveEntryName(const char* entryName, const char* baseName);

// Reads the runtime's release file, readies the archive named by digestText, the runtime and the
// class path (removing stale, broken, linked or foreign ones, and moving a finished dynamic archive
// into place) and forms the options. None when the runtime has no mechanism, lacks the base archive
// its mechanism needs (looked for beside vmLibraryPath), or the archive can't be used safely.
void PrepareStartupCache(const char* runtimeHome, const char* vmLibraryPath, const char* digestText,
                         const char* classPath, StartupCacheOptions* options);

// The launch's start-up cache options: none without the STARTUP-CACHE mark, when the user's own VM
// options (those collected so far, and the VM-OPTIONS items still to come) manage an archive, or with
// a folder on the class path (the VM archives jars only). Otherwise the archive named by the embedded
// jar's digest text, or by the application key where there is none (JarPath and SyncFolder modes).
// Reads the launch state once the class path is complete; vmLibraryPath is the loaded jvm.dll.
void FormLaunchStartupCacheOptions(const char* vmLibraryPath, int vmOptionCount, char** vmOptionItems,
                                   StartupCacheOptions* options);
