// The exe's own path and the machine-wide cache folder.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/system_library.h"

unsigned long ReadModuleFileName(char* buffer, unsigned long size) {
    return GetModuleFileNameA(nullptr, buffer, size);
}

static char g_cacheFolder[kWindowsPathSize];

static void FailWithoutAppData() {
    PrintMessage(stderr, "Error: Could not find AppData folder\n");
    exit(1);
}

// A new folder level is hidden; one that exists keeps its attributes, and a failure shows later.
static void CreateHiddenLevel(const char* appData, const char* suffix) {
    int written = snprintf(g_cacheFolder, sizeof g_cacheFolder, "%s%s", appData, suffix);
    // No usable cache folder below an application-data path that long.
    if (written < 0 || static_cast<size_t>(written) >= sizeof g_cacheFolder) FailWithoutAppData();
    if (CreateDirectoryA(g_cacheFolder, nullptr)) SetFileAttributesA(g_cacheFolder, FILE_ATTRIBUTE_HIDDEN);
}

const char* GetCacheFolder() {
    if (g_cacheFolder[0] != '\0') return g_cacheFolder;
    char appData[MAX_PATH];
    if (!SystemGetCommonAppDataFolder(appData)) FailWithoutAppData();
    CreateHiddenLevel(appData, "\\.quorvia");
    CreateHiddenLevel(appData, "\\.quorvia\\cache");
    return g_cacheFolder;
}
