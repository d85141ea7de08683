// The base edge (base/base_edge.h): messages, processor, memory, DPI, the exe's path and the cache folder.
#include "fake_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "files/app_folder.h"

FakePlatform g_fake;

void ResetFakePlatformAndState() {
    g_fake = FakePlatform();
    ResetLaunchState();
    InitLaunchStateStrings();
    ForgetAppCacheFolder();
}

int ShowFatalText(const char* text) {
    g_fake.fatalTexts.push_back(text);
    return 1;
}

void PrintLastError() { g_fake.printLastErrorCalls++; }

bool IsConsoleProgram() { return g_fake.consoleProgram; }

const char* GetProcessorArchName() { return g_fake.archName.c_str(); }

bool IsWow64() { return false; }

FILE* OpenTextFile(const char* path) { return fopen(path, "r"); }

void SetDpiAwareness(bool dpiScaling) {
    g_fake.dpiAwarenessCalled = true;
    g_fake.dpiAwarenessFlag = dpiScaling;
}

uint64_t QueryTotalPhysicalMemory() { return g_fake.totalPhysical; }
uint64_t QueryAvailablePhysicalMemory() { return g_fake.availablePhysical; }


// As Windows does it: a path that does not fit comes back cut, terminated, with `size` as the length.
unsigned long ReadModuleFileName(char* buffer, unsigned long size) {
    if (size == 0) return 0;
    size_t length = g_fake.exePath.size();
    size_t copied = length < size ? length : size - 1;
    memcpy(buffer, g_fake.exePath.data(), copied);
    buffer[copied] = '\0';
    return length < size ? static_cast<unsigned long>(length) : size;
}


// The fake file system holds both folders from its reset on, as they are once these have made them.
const char* GetCacheFolder() { return g_fake.cacheFolder.c_str(); }

const char* GetUserCacheFolder() { return g_fake.userCacheFolder.empty() ? nullptr : g_fake.userCacheFolder.c_str(); }

bool ChangeWorkingFolder(const char* path) {
    if (g_fake.folders.count(path) == 0) return false;
    g_fake.workingFolder = path;
    return true;
}
