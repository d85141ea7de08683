#include "runtime/vm_library.h"

#include <cstdio>
#include <cstring>

#include "base/text.h"
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
