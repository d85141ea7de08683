// The hidden machine-wide cache directory and the embedded jar written there under its digest name.
#pragma once

#include <cstddef>

#include "cache/cache_edge.h"
#include "cache/md5.h"

// "{cache folder}\{exe base name}", the application's own cache folder; false, with buffer emptied,
// when it would not fit.
bool FormatAppCacheFolder(char* buffer, size_t size);
// "{cache folder}\{exe base name}\sync", the sync mirror's root, formed the same way.
bool FormatSyncDirectory(char* buffer, size_t size);
const char* GetCacheFileName(const char* digestText);
// The digest text that named the cache file (empty before GetCacheFileName formed it): the start-up
// archive takes the same, so that a new jar gets a new archive.
const char* GetCacheDigestText();
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


// Lets a later GetCacheFileName form its name again (unit tests only).
void ForgetCacheFileName();
