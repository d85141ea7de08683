#include "runtime/vm_library.h"

#include <cstdio>
#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/exit_status.h"
#include "base/text.h"
#include "runtime/jvm_config.h"
#include "runtime/runtime_edge.h"
#include "runtime/runtime_home.h"

bool FindVmLibrary(const char* home, const char* vmType, char* path, size_t size) {
    return FormatPathText(path, size, "%s\\bin\\%s\\jvm.dll", home, vmType) && PathExists(path);
}

bool GetVmDependencyFolder(const char* vmLibraryPath, char* folder, size_t size) {
    if (!FormatPathText(folder, size, "%s", vmLibraryPath)) return false;
    // {home}\bin\{type}\jvm.dll: drop the file name, then the VM type folder.
    for (int level = 0; level < 2; level++) {
        char* separator = strrchr(folder, '\\');
        if (separator == nullptr || separator == folder) {
            folder[0] = '\0';
            return false;
        }
        *separator = '\0';
    }
    return true;
}

int FindKnownVmLibrary(const char* home, char* vmLibraryPath, size_t vmLibraryPathSize) {
    int knownVms = ReadKnownVms(home);
    if (knownVms < 1) return kExitNoVmType;
    bool vmFound = false;
    for (int i = 0; i < knownVms && !vmFound; i++) {
        const char* entry = g_knownVms[i];
        // The type is the name after its first character (the dash). An empty name has none to drop,
        // and a one-character name leaves the empty type, which would name bin\jvm.dll: no runtime
        // keeps a VM there, and a VM there could not find its home. Both are skipped.
        if (entry == nullptr || entry[0] == '\0' || entry[1] == '\0') continue;
        vmFound = FindVmLibrary(home, entry + 1, vmLibraryPath, vmLibraryPathSize);
    }
    if (!vmFound) {
        ReportFatal("Error: could not find a Java Virtual Machine.\n");
        return kExitNoVmLibrary;
    }
    ReleaseKnownVmTable();
    return 0;
}
