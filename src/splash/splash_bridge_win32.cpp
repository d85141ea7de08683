#include <windows.h>

#include "splash/splash_bridge.h"
#include "splash/splash_edge.h"

void* LoadSplashLibrary(const char* path) { return LoadLibraryA(path); }

SplashEntry FindSplashLibraryExport(void* library, const char* name) {
    FARPROC entry = GetProcAddress(static_cast<HMODULE>(library), name);
    return reinterpret_cast<SplashEntry>(reinterpret_cast<void*>(entry));
}

bool GetCurrentFolder(char* buffer, size_t size) {
    if (size == 0) return false;
    DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(size), buffer);
    // A result of `size` or more is the length the folder would need: it did not fit.
    return length > 0 && length < size;
}

bool SetCurrentFolder(const char* path) { return SetCurrentDirectoryA(path) != 0; }
