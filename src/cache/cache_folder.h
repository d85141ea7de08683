// The hidden machine-wide cache directory and the embedded jar written there under its digest name.
#pragma once

#include <cstddef>

#include "cache/code_owner.h"
#include "cache/md5.h"

const char* GetCacheFolder();
// "{cache folder}\{exe base name}", the application's own cache folder; false, with buffer emptied,
// when it would not fit.
bool FormatAppCacheFolder(char* buffer, size_t size);
// "{cache folder}\{exe base name}\sync", the sync mirror's root, formed the same way.
bool FormatSyncDirectory(char* buffer, size_t size);
const char* GetCacheFileName(const char* digestText);
// Deletes this executable's other files in the cache directory (see IsOwnCacheEntryName), sparing
// pathToKeep, and the temporary files that no running process writes any more.
void RemoveStaleCacheFiles(const char* pathToKeep, const char* md5SumText);
// Deletes only the temporary files that no running process writes any more (JarPath mode).
void RemoveOrphanCacheTemps();
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

// Whether "~{stem}.{digits}.tmp" is the name (stem compared without regard to letter case), and the
// process id it carries.
bool ParseTempEntryName(const char* name, const char* stem, unsigned long* processId);

// 32 hexadecimal digits: a text that names content by its MD5 digest.
bool IsDigestText(const char* text);

// Whether a cache directory entry is one of this executable's own files: "{base}.dat" (the jar copy)
// or "{base}.{digest}.dat" with a digest of 32 hexadecimal digits or the MD5-SUM text (md5SumText,
// null when there is none). Letter case does not count, as in Windows file names; the files of
// App.Tool.exe or AppTool.exe are not App.exe's.
bool IsOwnCacheEntryName(const char* entryName, const char* baseName, const char* md5SumText);

// File edges of the embedded-jar cache.
enum CacheFileState {
    CacheFileAbsent,
    CacheFilePresent,  // opens for reading, or is held by another process
    CacheFileLink,     // a link stands at the name: not opened through
};
struct CacheFileProbe {
    CacheFileState state;
    EntryOwner owner;  // read when opened; a file held by another process counts as the user's
};
CacheFileProbe ProbeCacheFile(const char* path);
// Whether the file's content has this digest text (reads the whole file).
bool CacheFileHasDigest(const char* path, const char* digestText);
// Writes under a temporary name and moves it into place, so no partial file ever bears the name;
// a file that another launcher put there meanwhile counts as written, unless replace is set (the
// name held a link or a file to replace). Reports its own failures.
bool WriteCacheFile(const char* path, const void* bytes, size_t size, bool replace);

// Lets a later GetCacheFileName form its name again (unit tests only).
void ForgetCacheFileName();
