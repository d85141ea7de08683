// Where the running exe is, and where the application's own folders are: the cache folder, the
// application's folder in it and the mirror of the sync folder. Every room that forms these paths
// asks here, so they are named one way.
#pragma once

#include <cstddef>

// Windows paths of the ANSI file functions stay below this length, terminator included.
const size_t kWindowsPathSize = 260;

// The running executable's full path, at most 259 characters and `size` - 1. False, with the buffer
// empty, when it does not fit: a cut path would name another file.
bool GetExePath(char* buffer, size_t size);
// The exe's folder with its final separator; empty when the exe's path does not fit.
const char* GetExeFolder();
// A heap copy of the exe's file name without its extension (free it).
char* GetExeBaseName();

// Splits a module path into its folder (drive and directory, with the final separator) and base name.
void SplitModulePath(const char* path, char* folder, size_t folderSize, char* baseName, size_t baseNameSize);

// "{cache folder}\{exe base name}", the application's own folder in the cache; false, with buffer
// emptied, when it would not fit.
bool FormatAppCacheFolder(char* buffer, size_t size);
// "{cache folder}\{exe base name}\sync": the mirror, the local copy of the sync folder on the share.
bool FormatMirrorRoot(char* buffer, size_t size);
