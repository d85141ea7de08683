#include "files/app_folder.h"

#include <cstdio>
#include <cstdlib>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"

static char g_appCacheFolder[kWindowsPathSize];
static bool g_chosen;

AppFolderVerdict JudgeAppFolder(const FolderSecurity& security) {
    switch (security.kind) {
        case FolderAbsent:
            return AppFolderMissing;
        case FolderLink:
        case FolderNotAFolder:
            return AppFolderForeign;
        case FolderReal:
            break;
    }
    if (!IsTrustedOwner(security.owner) || security.othersMayWrite) return AppFolderForeign;
    return security.userMayWrite ? AppFolderUsable : AppFolderReadOnly;
}

static const char* DescribeVerdict(AppFolderVerdict verdict) {
    return verdict == AppFolderReadOnly ? "this user may not write to it"
                                        : "another account owns it or may change it";
}

// The application's folder under root, made private when missing; true, with the folder held open,
// when the launch may use it.
static bool TryAppFolderIn(const char* root, char* folder, size_t size) {
    char* baseName = GetExeBaseName();
    bool fits = root != nullptr && FormatPathText(folder, size, "%s\\%s", root, baseName);
    free(baseName);
    if (!fits) return false;
    AppFolderVerdict verdict = JudgeAppFolder(QueryFolderSecurity(folder));
    if (verdict == AppFolderMissing && MakePrivateFolder(folder)) {
        verdict = JudgeAppFolder(QueryFolderSecurity(folder));
    }
    if (verdict == AppFolderUsable) return true;
    ReleaseQueriedFolder();
    if (g_launch.debugEnabled) {
        PrintMessage(stdout, "Not using the cache folder %s: %s\n", folder,
                     verdict == AppFolderMissing ? "it could not be made" : DescribeVerdict(verdict));
    }
    return false;
}

const char* GetAppCacheFolder() {
    if (g_chosen) return g_appCacheFolder[0] != '\0' ? g_appCacheFolder : nullptr;
    g_chosen = true;
    if (TryAppFolderIn(GetCacheFolder(), g_appCacheFolder, sizeof g_appCacheFolder)) return g_appCacheFolder;
    if (TryAppFolderIn(GetUserCacheFolder(), g_appCacheFolder, sizeof g_appCacheFolder)) {
        if (g_launch.debugEnabled) PrintMessage(stdout, "Using the user's own cache folder %s\n", g_appCacheFolder);
        return g_appCacheFolder;
    }
    g_appCacheFolder[0] = '\0';
    PrintMessage(stderr, "No cache folder that only this user may change: nothing is cached\n");
    return nullptr;
}

bool FormatMirrorRoot(char* buffer, size_t size) {
    const char* folder = GetAppCacheFolder();
    if (folder == nullptr) {
        if (size > 0) buffer[0] = '\0';
        return false;
    }
    return FormatPathText(buffer, size, "%s\\sync", folder);
}

void ForgetAppCacheFolder() {
    g_appCacheFolder[0] = '\0';
    g_chosen = false;
}
