#include "base/app_paths.h"

#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/text.h"

void SplitModulePath(const char* path, char* folder, size_t folderSize, char* baseName, size_t baseNameSize) {
    const char* lastSeparator = nullptr;
    for (const char* at = path; *at; at++) {
        if (*at == '\\' || *at == '/') lastSeparator = at;
    }
    const char* fileName = lastSeparator ? lastSeparator + 1 : path;
    // A bare "C:app.exe" has its drive and no directory.
    if (lastSeparator == nullptr && path[0] != '\0' && path[1] == ':') fileName = path + 2;
    const char* lastDot = strrchr(fileName, '.');
    size_t folderLength = static_cast<size_t>(fileName - path);
    size_t baseLength = lastDot ? static_cast<size_t>(lastDot - fileName) : strlen(fileName);
    if (folder != nullptr && folderSize > 0) {
        if (folderLength >= folderSize) folderLength = folderSize - 1;
        memcpy(folder, path, folderLength);
        folder[folderLength] = '\0';
    }
    if (baseName != nullptr && baseNameSize > 0) {
        if (baseLength >= baseNameSize) baseLength = baseNameSize - 1;
        memcpy(baseName, fileName, baseLength);
        baseName[baseLength] = '\0';
    }
}

bool GetExePath(char* buffer, size_t size) {
    if (size == 0) return false;
    // Limited to 259 characters like the folder and base name buffers built from it.
    unsigned long limit = size > kWindowsPathSize ? kWindowsPathSize : static_cast<unsigned long>(size);
    unsigned long length = ReadModuleFileName(buffer, limit);
    if (length == 0 || length >= limit) {
        buffer[0] = '\0';
        return false;
    }
    buffer[length] = '\0';
    return true;
}

const char* GetExeFolder() {
    static char folder[kWindowsPathSize];
    char path[kWindowsPathSize];
    GetExePath(path, sizeof path);
    SplitModulePath(path, folder, sizeof folder, nullptr, 0);
    return folder;
}

char* GetExeBaseName() {
    char path[kWindowsPathSize];
    char baseName[kWindowsPathSize];
    GetExePath(path, sizeof path);
    SplitModulePath(path, nullptr, 0, baseName, sizeof baseName);
    return CopyText(baseName);
}
