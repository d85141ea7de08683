// The runtime edge (runtime/runtime_edge.h): file status and the registry.
#include "fake_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache/cache_names.h"
#include "runtime/jvm_config.h"
#include "runtime/runtime_edge.h"

FakeRuntimeAndCache g_fakeRuntime;

void ResetFakeRuntimeAndCache() {
    ResetFakePlatformAndState();
    g_fakeRuntime = FakeRuntimeAndCache();
    ForgetCacheFileName();
    ReleaseKnownVmTable();
}

bool PathExists(const char* path) { return g_fakeRuntime.existingPaths.count(path) > 0; }

// A fake key handle is a heap copy of its full path.
RegistryKey OpenRegistryKey(RegistryKey parent, const char* keyPath) {
    std::string full = parent != nullptr ? *static_cast<std::string*>(parent) + "\\" + keyPath : keyPath;
    if (g_fakeRuntime.registryStrings.count(full) == 0) return nullptr;
    g_fakeRuntime.openRegistryKeys++;
    return new std::string(full);
}

void CloseRegistryKey(RegistryKey key) {
    if (key == nullptr) return;
    g_fakeRuntime.openRegistryKeys--;
    delete static_cast<std::string*>(key);
}

bool ReadRegistryString(RegistryKey key, const char* valueName, char* buffer, size_t size) {
    const std::string& path = *static_cast<std::string*>(key);
    if (g_fakeRuntime.registryOtherTypes.count(path + "|" + valueName) > 0) return false;
    const auto& values = g_fakeRuntime.registryStrings[path];
    auto found = values.find(valueName);
    if (found == values.end() || found->second.size() + 1 >= size) return false;
    memcpy(buffer, found->second.c_str(), found->second.size() + 1);
    return true;
}

