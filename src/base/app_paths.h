// Where the running exe is: its path, folder and base name, which also names the application's
// folders in the cache (files/app_folder.h).
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
