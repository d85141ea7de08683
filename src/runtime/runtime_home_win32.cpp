#include <windows.h>

#include <sys/stat.h>

#include "runtime/runtime_edge.h"
#include "runtime/runtime_home.h"

RegistryKey OpenRegistryKey(RegistryKey parent, const char* keyPath) {
    HKEY root = parent != nullptr ? static_cast<HKEY>(parent) : HKEY_LOCAL_MACHINE;
    HKEY key = nullptr;
    // The process's own registry view: no WOW64 redirection flags.
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

void CloseRegistryKey(RegistryKey key) {
    if (key != nullptr) RegCloseKey(static_cast<HKEY>(key));
}

bool ReadRegistryString(RegistryKey key, const char* valueName, char* buffer, size_t size) {
    if (size == 0 || size > MAXDWORD) return false;
    DWORD type = 0;
    DWORD storedSize = 0;
    if (RegQueryValueExA(static_cast<HKEY>(key), valueName, nullptr, &type, nullptr, &storedSize) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_SZ || storedSize >= size) return false;
    // A value stored without its terminator still ends inside the buffer, since its size is below it.
    DWORD readSize = static_cast<DWORD>(size - 1);
    if (RegQueryValueExA(static_cast<HKEY>(key), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &readSize) != ERROR_SUCCESS) {
        return false;
    }
    if (type != REG_SZ) return false;  // changed under us between the two queries
    buffer[readSize] = '\0';
    return true;
}

bool PathExists(const char* path) {
    struct _stat status;
    return _stat(path, &status) == 0;
}
