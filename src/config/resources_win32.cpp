#include <windows.h>

#include <cstring>

#include "resources.h"

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

void GetExePath(char* buffer, size_t size) {
    if (size == 0) return;
    // Limited to 259 characters like the folder and base name buffers built from it.
    DWORD limit = size > 260 ? 260 : static_cast<DWORD>(size);
    DWORD length = GetModuleFileNameA(nullptr, buffer, limit - 1);
    if (length >= limit - 1) length = limit - 1;
    buffer[length] = '\0';
}
