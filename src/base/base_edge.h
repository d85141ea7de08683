// The platform edge every room uses: Win32 in diagnostics_win32.cpp and app_paths_win32.cpp; the
// unit tests replace these functions (tests/unit/fake_base_edge.cpp).
#pragma once

#include <cstdint>
#include <cstdio>

// Whether this exe was linked for the console subsystem (launcher-console.exe).
bool IsConsoleProgram();
// Shows a whole message in the "Fatal Error" box; the console variant writes it to stderr instead.
// ReportFatal (base/diagnostics.h) formats it.
int ShowFatalText(const char* text);
void PrintLastError();
const char* GetProcessorArchName();
bool IsWow64();
void SetDpiAwareness(bool dpiScaling);

// Physical memory figures in bytes (GlobalMemoryStatusEx).
uint64_t QueryTotalPhysicalMemory();
uint64_t QueryAvailablePhysicalMemory();

// fopen(path, "r"): a text file named by a Windows path (the pre-flight check maps it to its host).
FILE* OpenTextFile(const char* path);

// GetModuleFileNameA of the executable into `size` characters: the length written, or `size` when
// the path did not fit (the buffer then holds it cut).
unsigned long ReadModuleFileName(char* buffer, unsigned long size);

// "{machine-wide application data}\.quorvia\cache", made (hidden) when missing, so that every user
// may make a folder of their own in it but change no one else's.
const char* GetCacheFolder();
// "{the user's local application data}\.quorvia\cache", made (hidden) when missing; null when the
// user has no such folder or the path would not fit.
const char* GetUserCacheFolder();

// SetCurrentDirectoryA: the folder the application works in.
bool ChangeWorkingFolder(const char* path);
