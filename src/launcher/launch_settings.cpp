#include "launcher/launch_settings.h"

#include <cstdlib>

#include "base/base_edge.h"
#include "base/exit_status.h"
#include "base/text.h"
#include "config/config_file.h"
#include "config/resource_lists.h"
#include "config/resources.h"
#include "launcher/installed_options.h"
#include "launcher/options.h"
#include "runtime/heap_sizing.h"
#include "runtime/runtime_home.h"
#include "runtime/runtime_search.h"

bool ReadLaunchSettings(int* argc, char*** argv, int* vmOptionCount, char*** vmOptionItems, int* status) {
    if (!ReadLaunchOptions(argc, argv, vmOptionCount, vmOptionItems, status)) return false;
    CompleteLaunchSettings();
    return true;
}

bool ReadLaunchOptions(int* argc, char*** argv, int* vmOptionCount, char*** vmOptionItems, int* status) {
    if (!ParseLauncherOptions(argc, argv, status)) return false;
    if (!ReadInstalledOptions()) {
        *status = kExitLaunchFailed;
        return false;
    }
    *vmOptionCount = SplitVmOptions(vmOptionItems);
    int ignoredStatus = 0;
    ParseLauncherOptions(vmOptionCount, vmOptionItems, &ignoredStatus);
    ReadConfigFile();
    ApplyInstalledHeapPercents();
    return true;
}

void CompleteLaunchSettings() {
    ApplyHeapSizing();
    if (IsEmpty(g_launch.syncPath.text)) {
        char* resourceSyncPath = ReadSyncPathResource();
        SetSyncPath(resourceSyncPath, false);
        free(resourceSyncPath);
    }
    SetDpiAwareness(g_launch.dpiScaling);
    g_launch.startupCacheMarked = ReadStartupCacheMark();
}

bool ReadMainClassName() {
    if (IsEmpty(g_launch.mainClassName)) g_launch.mainClassName = ReadMainClassResource();
    return !IsEmpty(g_launch.mainClassName);
}

LaunchMode ChooseLaunchMode() {
    if (!IsEmpty(g_launch.syncPath.text)) {
        g_launch.launchMode = SyncFolder;
    } else {
        if (IsEmpty(g_launch.jarPath)) g_launch.jarPath = const_cast<char*>(ReadJarPathResource());
        g_launch.launchMode = IsEmpty(g_launch.jarPath) ? EmbeddedCache : JarPath;
    }
    return g_launch.launchMode;
}

bool FindLaunchRuntimeHome(char* home, size_t size) {
    static RuntimeRule rule;
    if (RuntimeRulePacked(&rule)) return FindRuntimeByRule(rule, g_launch.launchMode == SyncFolder, home, size);
    return g_launch.launchMode == SyncFolder ? FindSyncRuntimeHome(home, size) : FindRuntimeHome(home, size);
}
