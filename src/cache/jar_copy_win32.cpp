#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache_folder.h"
#include "config/resources.h"
#include "jar_copy.h"
#include "launcher/launch_state.h"

static char g_jarCopyPath[260];
static char g_resolvedJarPath[260];

// True when the copy's size or last-write time differ from the network jar's, or it cannot be read.
static bool JarCopyIsStale(const WIN32_FIND_DATAA& networkJar) {
    HANDLE copy = CreateFileA(g_jarCopyPath, GENERIC_READ | FILE_READ_DATA, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (copy == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) return true;
    if (copy == INVALID_HANDLE_VALUE) return true;  // held open elsewhere: its size and time cannot be read
    FILETIME copyWriteTime = {};
    bool timeRead = GetFileTime(copy, nullptr, nullptr, &copyWriteTime) != FALSE;
    DWORD copySize = GetFileSize(copy, nullptr);
    CloseHandle(copy);
    return !timeRead || copySize != networkJar.nFileSizeLow ||
           CompareFileTime(&networkJar.ftLastWriteTime, &copyWriteTime) != 0;
}

const char* CacheJarPath() {
    char* baseName = GetExeBaseName();
    int copyLength = snprintf(g_jarCopyPath, sizeof g_jarCopyPath, "%s\\%s.dat", GetCacheFolder(), baseName);
    free(baseName);

    char exePath[260];
    GetExePath(exePath, sizeof exePath);
    char* lastBackslash = strrchr(exePath, '\\');
    if (lastBackslash != nullptr) lastBackslash[1] = '\0';
    int resolvedLength = snprintf(g_resolvedJarPath, sizeof g_resolvedJarPath, "%s%s", exePath, g_launch.jarPath);
    // A path that does not fit would name another file: hand the VM nothing rather than a cut path.
    if (resolvedLength < 0 || resolvedLength >= static_cast<int>(sizeof g_resolvedJarPath)) return nullptr;

    if (!PathIsNetworkPathA(g_resolvedJarPath)) return g_resolvedJarPath;
    if (copyLength < 0 || copyLength >= static_cast<int>(sizeof g_jarCopyPath)) return g_resolvedJarPath;

    WIN32_FIND_DATAA networkJar;
    HANDLE lookup = FindFirstFileA(g_resolvedJarPath, &networkJar);
    if (lookup != INVALID_HANDLE_VALUE) {
        if (networkJar.dwFileAttributes != INVALID_FILE_ATTRIBUTES && JarCopyIsStale(networkJar)) {
            CopyFileA(g_resolvedJarPath, g_jarCopyPath, FALSE);
        }
        FindClose(lookup);
    }
    return g_jarCopyPath;
}
