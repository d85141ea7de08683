// The runtime search's edge for quorvia-pack --check: the PC's registry and environment are not
// here, so every key asked is recorded and none is found; the message a user would see is kept.
#include <cstdio>

#include "pack/check_platform.h"
#include "runtime/runtime_search_edge.h"

RegistryKey OpenRegistryKey64(RegistryHive hive, RegistryKey parent, const char* keyPath) {
    if (parent == nullptr) {
        g_checkPlatform.registryKeysAsked.push_back(std::string(hive == kUserHive ? "HKCU\\" : "HKLM\\") + keyPath);
    }
    return nullptr;
}

bool EnumRegistrySubkey(RegistryKey, unsigned long, char*, size_t) { return false; }

bool ReadEnvironmentText(const char*, char*, size_t) { return false; }

bool ResolveFinalPath(const char*, char*, size_t) { return false; }

bool ReadSmallFile(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    FILE* file = fopen(HostPath(path).c_str(), "rb");
    if (file == nullptr) return false;
    *length = fread(buffer, 1, size, file);
    bool read = ferror(file) == 0;
    fclose(file);
    return read;
}

bool AskFatalYesNo(const char* text) {
    g_checkPlatform.fatalMessages.push_back(text);
    return false;
}

bool OpenPageWithShell(const char*) { return false; }
