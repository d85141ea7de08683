// The names of the application-jar cache's files in the application's cache folder: the jar under
// its digest, the jar copy, and which entries belong to this executable.
#pragma once

#include <cstddef>

const char* GetCacheFileName(const char* digestText);
// The digest text that named the cache file (empty before GetCacheFileName formed it): the start-up
// cache takes the same, so that a new jar gets a new archive.
const char* GetCacheDigestText();
// Lets a later GetCacheFileName form its name again (unit tests only).
void ForgetCacheFileName();

// Forms "{folder}\{base}.{digest}.dat"; false, with buffer emptied, when it would not fit.
bool FormatCacheFileName(char* buffer, size_t size, const char* folder, const char* baseName,
                         const char* digestText);

// 32 hexadecimal digits: a text that names content by its MD5 digest.
bool IsDigestText(const char* text);

// Whether a cache folder entry is one of this executable's own files: "{base}.dat" (the jar copy)
// or "{base}.{digest}.dat" with a digest of 32 hexadecimal digits or the MD5-SUM text (md5SumText,
// null when there is none). Letter case does not count, as in Windows file names; the files of
// App.Tool.exe or AppTool.exe are not App.exe's.
bool IsOwnCacheEntryName(const char* entryName, const char* baseName, const char* md5SumText);

// The executable's path cut right after its last backslash, then jarPath verbatim (even an absolute
// one). False, with the buffer emptied, when that would not fit.
bool FormResolvedJarPath(char* buffer, size_t size, const char* exePath, const char* jarPath);
