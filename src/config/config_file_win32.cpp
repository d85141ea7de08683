#include <windows.h>

#include "config/config_edge.h"
#include "config/config_file.h"

unsigned ReadProfileValue(const char* key, char* buffer, unsigned size, const char* path) {
    if (size == 0) return 0;
    buffer[0] = '\0';
    return GetPrivateProfileStringA("java", key, "", buffer, size, path);
}

bool MakeAbsolutePath(const char* path, char* absolutePath, unsigned size) {
    DWORD length = GetFullPathNameA(path, size, absolutePath, nullptr);
    return length > 0 && length < size;
}
