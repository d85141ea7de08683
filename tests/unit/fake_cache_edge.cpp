// The application-jar cache's edge (cache/cache_edge.h), by path in memory.
#include "fake_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache/cache_edge.h"
#include "files/md5.h"


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
    if (g_fakeRuntime.links.count(path) > 0) return {EntryLink, OwnerCurrentUser};
    if (g_fakeRuntime.existingPaths.count(path) == 0) return {EntryAbsent, OwnerUnreadable};
    auto owner = g_fakeRuntime.owners.find(path);
    if (owner != g_fakeRuntime.owners.end()) return {EntryPresent, owner->second};
    return {EntryPresent, g_fakeRuntime.foreignOwned.count(path) > 0 ? OwnerOther : OwnerCurrentUser};
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
    g_fakeRuntime.owners.erase(path);
    g_fakeRuntime.links.erase(path);
    return true;
}
