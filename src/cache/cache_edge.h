// The application-jar cache's platform edge: Win32 in cache_win32.cpp; the unit tests replace these
// functions (tests/unit/fake_cache_edge.cpp).
#pragma once

#include <cstddef>

#include "files/files_edge.h"

// Deletes this executable's other files in the cache folder (see IsOwnCacheEntryName), sparing
// pathToKeep, and the temporary files that no running process writes any more.
void RemoveStaleCacheFiles(const char* pathToKeep, const char* md5SumText);
// Deletes only the temporary files that no running process writes any more (JarPath mode).
void RemoveOrphanCacheTemps();

// The MD5 digest text of a buffer from the system's routines (cryptdll), heap-allocated; null when
// the library can't be had (the cache then hashes with its own MD5).
char* Md5HexDigest(const void* bytes, size_t length);
// Tells on stderr when the system MD5 library can't be loaded; loads it only to find out.
void ReportMissingMd5Library();

struct CacheFileProbe {
    EntryState state;
    EntryOwner owner;  // read when opened; a file held by another process counts as the user's
};
CacheFileProbe ProbeCacheFile(const char* path);
// Whether the file's content has this digest text (reads the whole file).
bool CacheFileHasDigest(const char* path, const char* digestText);
// Writes under a temporary name and moves it into place, so no partial file ever bears the name;
// a file that another launcher put there meanwhile counts as written, unless replace is set (the
// name held a link or a file to replace). Reports its own failures.
bool WriteCacheFile(const char* path, const void* bytes, size_t size, bool replace);
