#include "cache/jar_copy.h"

#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "cache/cache_edge.h"
#include "cache/cache_names.h"
#include "files/app_folder.h"
#include "files/replace.h"

static char g_jarCopyPath[kWindowsPathSize];
static char g_resolvedJarPath[kWindowsPathSize];

// The copy's name in the application folder, and a temporary name beside it; false when there is no
// folder to copy into or a name would not fit.
static bool FormCopyNames(char* temp, size_t tempSize) {
    const char* folder = GetAppCacheFolder();
    char* baseName = GetExeBaseName();
    bool formed = folder != nullptr &&
                  FormatPathText(g_jarCopyPath, sizeof g_jarCopyPath, "%s\\%s.dat", folder, baseName) &&
                  FormatTempNameIn(temp, tempSize, folder, baseName);
    free(baseName);
    return formed;
}

static bool g_jarMissing = false;

const char* MissingJarPath() { return g_jarMissing ? g_resolvedJarPath : nullptr; }

const char* CacheJarPath() {
    g_jarMissing = false;
    char exePath[kWindowsPathSize];
    // Too long to name: the VM gets no jar from here rather than a cut path naming another file.
    if (!GetExePath(exePath, sizeof exePath) ||
        !FormResolvedJarPath(g_resolvedJarPath, sizeof g_resolvedJarPath, exePath, g_launch.jarPath)) {
        PrintMessage(stderr, "Error: jar path too long: %s\n", g_launch.jarPath);
        return g_resolvedJarPath;
    }
    if (!IsNetworkPath(g_resolvedJarPath)) return g_resolvedJarPath;
    // Without a copy's name the jar on the network is used in place.
    char temp[kWindowsPathSize];
    if (!FormCopyNames(temp, sizeof temp)) return g_resolvedJarPath;

    // Temporary files of copies that a crash or a kill cut short.
    RemoveOrphanCacheTemps();
    FileEntryInfo networkJar;
    unsigned long error = 0;
    if (LookUpEntry(g_resolvedJarPath, &networkJar, &error) && networkJar.attributes != kEntryAttributesInvalid) {
        switch (CopyWhenDifferent(g_resolvedJarPath, temp, g_jarCopyPath, networkJar.sizeLow,
                                  networkJar.lastWriteTime, true)) {
            case CopyNotNeeded:
            case CopyMade:
                return g_jarCopyPath;
            case CopyLinkKept:
                return g_resolvedJarPath;  // the jar in place, never what a link points to
            case CopyFailed:
                // The copy is older than the jar and could not be replaced: running it would run
                // another version than the one on the share.
                PrintMessage(stderr, "Could not replace %s with a copy of %s\n", g_jarCopyPath, g_resolvedJarPath);
                return nullptr;
            case CopyForeignCodeKept:
                return nullptr;
        }
        return nullptr;
    }
    // The share can't be reached: a copy from an earlier start serves meanwhile, if it is a file
    // this user can trust.
    CopyTargetProbe copy = ProbeCopyTarget(g_jarCopyPath);
    if (copy.state == CopyTargetLink) {
        ReportLinkKept(g_jarCopyPath);
        return g_resolvedJarPath;
    }
    if (copy.state == CopyTargetOpened && !IsTrustedOwner(copy.owner)) {
        ReportForeignCode(g_jarCopyPath);
        return nullptr;
    }
    // Neither the jar nor an earlier copy: the VM could only fail to find the main class, so the
    // user is told which jar is missing instead.
    if (copy.state == CopyTargetMissing) {
        g_jarMissing = true;
        return nullptr;
    }
    return g_jarCopyPath;
}
