#include "runtime/vm_library.h"

#include <cstdio>
#include <cstring>

#include "runtime/runtime_home.h"

bool FindVmLibrary(const char* home, const char* vmType, char* path, size_t size) {
    if (size == 0) return false;
    int written = snprintf(path, size, "%s\\bin\\%s\\jvm.dll", home, vmType);
    // A cut path would name another file; it does not count as found.
    if (written < 0 || static_cast<size_t>(written) >= size) return false;
    return PathExists(path);
}

bool GetVmDependencyFolder(const char* vmLibraryPath, char* folder, size_t size) {
    if (size == 0) return false;
    int written = snprintf(folder, size, "%s", vmLibraryPath);
    if (written < 0 || static_cast<size_t>(written) >= size) return false;
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
