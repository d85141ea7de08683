// The hidden machine-wide cache directory and the embedded jar written there under its digest name.
#pragma once

#include <cstddef>

#include "md5.h"

const char* GetCacheFolder();
const char* GetCacheFileName(const char* digestText);
void RemoveStaleCacheFiles(const char* pathToKeep);
char* Md5HexDigest(const void* bytes, size_t length);
// Tells on stderr when the system MD5 library can't be loaded; loads it only to find out.
void ReportMissingMd5Library();
const char* CacheEmbeddedJar();

// Forms "{folder}\{base}.{digest}.dat"; false, with buffer emptied, when it would not fit.
bool FormatCacheFileName(char* buffer, size_t size, const char* folder, const char* baseName,
                         const char* digestText);

// Forms "{folder}\~{base}.{processId}.tmp": a name outside the "{base}." family, so that the
// stale cleanup of a launcher starting meanwhile never deletes a file still being written.
bool FormatCacheTempName(char* buffer, size_t size, const char* folder, const char* baseName,
                         unsigned long processId);

// Whether a cache directory entry is one of this executable's files: its base name followed by '.',
// compared without regard to letter case as Windows file names are (App.x is; AppTool.x is not).
bool IsOwnCacheEntryName(const char* entryName, const char* baseName);

// File edges of the embedded-jar cache.
// Present when the file opens for reading, or is held by another process.
bool ProbeCacheFile(const char* path);
// Writes under a temporary name and moves it into place, so no partial file ever bears the name;
// a file that another launcher put there meanwhile counts as written. Reports its own failures.
bool WriteCacheFile(const char* path, const void* bytes, size_t size);

// Lets a later GetCacheFileName form its name again (unit tests only).
void ForgetCacheFileName();
