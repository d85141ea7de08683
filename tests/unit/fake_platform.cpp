#include "fake_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "cache/cache_edge.h"
#include "cache/cache_folder.h"
#include "config/config_edge.h"
#include "config/resources.h"
#include "runtime/jvm_config.h"
#include "runtime/runtime_edge.h"

// One section per edge header, in the order of the layers: base, configuration, runtime, cache.
// The file-system edge of the cache lives in test_sync_fake_fs.cpp.

// ---- base/base_edge.h ----

FakePlatform g_fake;

void ResetFakePlatformAndState() {
    g_fake = FakePlatform();
    ResetLaunchState();
    InitLaunchStateStrings();
}

void SetFakeResource(const char* typeName, unsigned number, const std::string& bytes) {
    g_fake.resources[std::string(typeName) + "/" + std::to_string(number)] = bytes;
}

int ReportFatal(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_fake.fatalTexts.push_back(text);
    return 1;
}

void PrintLastError() { g_fake.printLastErrorCalls++; }

const char* GetProcessorArchName() { return g_fake.archName.c_str(); }

bool IsWow64() { return false; }

FILE* OpenTextFile(const char* path) { return fopen(path, "r"); }

void SetDpiAwareness(bool dpiScaling) {
    g_fake.dpiAwarenessCalled = true;
    g_fake.dpiAwarenessFlag = dpiScaling;
}

uint64_t QueryTotalPhysicalMemory() { return g_fake.totalPhysical; }
uint64_t QueryAvailablePhysicalMemory() { return g_fake.availablePhysical; }

// ---- config/config_edge.h ----

const void* LoadLaunchResource(const LaunchResource& resource, size_t* size, unsigned long* lastError) {
    auto found = g_fake.resources.find(std::string(resource.typeName) + "/" + std::to_string(resource.numericName));
    if (found == g_fake.resources.end()) {
        *size = 0;
        if (lastError) *lastError = g_fake.resourceLookupError;
        return nullptr;
    }
    *size = found->second.size();
    return found->second.data();
}

// As Windows does it: a path that does not fit comes back cut, terminated, with `size` as the length.
unsigned long ReadModuleFileName(char* buffer, unsigned long size) {
    if (size == 0) return 0;
    size_t length = g_fake.exePath.size();
    size_t copied = length < size ? length : size - 1;
    memcpy(buffer, g_fake.exePath.data(), copied);
    buffer[copied] = '\0';
    return length < size ? static_cast<unsigned long>(length) : size;
}

unsigned ReadProfileValue(const char* key, char* buffer, unsigned size, const char* path) {
    auto found = g_fake.profile.find(std::string(path) + "|" + key);
    const std::string value = found == g_fake.profile.end() ? "" : found->second;
    if (size == 0) return 0;
    size_t copied = value.size() < size - 1 ? value.size() : size - 1;
    memcpy(buffer, value.data(), copied);
    buffer[copied] = '\0';
    return static_cast<unsigned>(copied);
}

bool MakeAbsolutePath(const char* path, char* absolutePath, unsigned size) {
    int written = snprintf(absolutePath, size, "%s", path);
    return written >= 0 && static_cast<unsigned>(written) < size;
}

// ---- runtime/runtime_edge.h ----

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

// ---- cache/cache_edge.h: the cache directory ----

const char* GetCacheFolder() { return g_fake.cacheFolder.c_str(); }

char* Md5HexDigest(const void* bytes, size_t length) {
    g_fakeRuntime.md5Calls++;
    if (!g_fakeRuntime.systemMd5Available) return nullptr;
    unsigned char digest[16];
    ComputeMd5(bytes, length, digest);
    char* text = static_cast<char*>(malloc(33));
    FormatDigestText(digest, text);
    return text;
}

void ReportMissingMd5Library() { g_fakeRuntime.md5LibraryChecks++; }

void RemoveStaleCacheFiles(const char* pathToKeep, const char* md5SumText) {
    g_fakeRuntime.staleCleanups.push_back(pathToKeep);
    g_fakeRuntime.staleMd5SumTexts.push_back(md5SumText != nullptr ? md5SumText : "(null)");
}

void RemoveOrphanCacheTemps() { g_fakeRuntime.orphanSweeps++; }

CacheFileProbe ProbeCacheFile(const char* path) {
    if (g_fakeRuntime.links.count(path) > 0) return {CacheFileLink, OwnerCurrentUser};
    if (g_fakeRuntime.existingPaths.count(path) == 0) return {CacheFileAbsent, OwnerUnreadable};
    return {CacheFilePresent, g_fakeRuntime.foreignOwned.count(path) > 0 ? OwnerOther : OwnerCurrentUser};
}

bool CacheFileHasDigest(const char* path, const char* digestText) {
    g_fakeRuntime.digestChecks++;
    const std::string& content = g_fakeRuntime.writtenFiles[path];
    unsigned char digest[16];
    ComputeMd5(content.data(), content.size(), digest);
    char text[33];
    FormatDigestText(digest, text);
    return strcmp(text, digestText) == 0;
}

bool WriteCacheFile(const char* path, const void* bytes, size_t size, bool replace) {
    g_fakeRuntime.writeReplaced.push_back(replace);
    g_fakeRuntime.writeAttempts++;
    if (g_fakeRuntime.writeFails) return false;
    g_fakeRuntime.writtenFiles[path] = std::string(static_cast<const char*>(bytes), size);
    g_fakeRuntime.existingPaths.insert(path);
    g_fakeRuntime.foreignOwned.erase(path);
    g_fakeRuntime.links.erase(path);
    return true;
}
