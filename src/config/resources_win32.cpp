#include <windows.h>

#include <cstring>

#include "config/config_edge.h"
#include "config/resources.h"

const void* LoadLaunchResource(const LaunchResource& resource, size_t* size, unsigned long* lastError) {
    *size = 0;
    HMODULE self = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(resource.numericName), resource.typeName);
    if (found == nullptr) {
        if (lastError) *lastError = GetLastError();
        return nullptr;
    }
    HGLOBAL loaded = LoadResource(self, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) {
        if (lastError) *lastError = GetLastError();
        return nullptr;
    }
    *size = SizeofResource(self, found);
    return bytes;
}
