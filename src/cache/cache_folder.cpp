#include "cache_folder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../config/resources.h"
#include "../launcher/diagnostics.h"
#include "../launcher/launch_state.h"
#include "../launcher/vm_options.h"
#include "md5.h"

// Windows paths of the ANSI file functions stay below this length.
static const size_t kCachePathSize = 260;

static char g_cacheFileName[kCachePathSize];

// ---- Names in the cache directory ----

bool FormatCacheFileName(char* buffer, size_t size, const char* folder, const char* baseName,
                         const char* digestText) {
    if (size == 0) return false;
    int written = snprintf(buffer, size, "%s\\%s.%s.dat", folder, baseName, digestText);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool FormatCacheTempName(char* buffer, size_t size, const char* folder, const char* baseName,
                         unsigned long processId) {
    if (size == 0) return false;
    int written = snprintf(buffer, size, "%s\\~%s.%lu.tmp", folder, baseName, processId);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

static char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsOwnCacheEntryName(const char* entryName, const char* baseName) {
    size_t baseLength = strlen(baseName);
    for (size_t i = 0; i < baseLength; i++) {
        if (entryName[i] == '\0' || FoldCase(entryName[i]) != FoldCase(baseName[i])) return false;
    }
    return entryName[baseLength] == '.';
}

const char* GetCacheFileName(const char* digestText) {
    if (g_cacheFileName[0] != '\0') return g_cacheFileName;
    if (digestText == nullptr) return nullptr;
    char* baseName = GetExeBaseName();
    // A name that does not fit is not formed at all: a cut name could belong to another digest.
    bool formed = FormatCacheFileName(g_cacheFileName, sizeof g_cacheFileName, GetCacheFolder(),
                                      baseName != nullptr ? baseName : "", digestText);
    free(baseName);
    return formed ? g_cacheFileName : nullptr;
}

void ForgetCacheFileName() { g_cacheFileName[0] = '\0'; }

// ---- The embedded jar ----

// The digest text that names the file before the jar is touched: the configured one, else MD5-SUM.
// The MD5-SUM resource is read on every call, also when the configured text wins.
static char* ChooseKnownDigest() {
    size_t size = 0;
    const void* md5Sum = LoadLaunchResource(kMd5SumResource, &size, nullptr);
    if (md5Sum == nullptr) PrintMessage(stderr, "Unable to load MD5-SUM Resource (Resource not found)\n");
    const char* configured = g_launch.cacheDigest;
    if (configured != nullptr && configured[0] != '\0') {
        size_t length = strlen(configured);
        char* copy = static_cast<char*>(AllocOrExit(length + 1));
        memcpy(copy, configured, length + 1);
        return copy;
    }
    return md5Sum != nullptr ? CopyResourceText(md5Sum, size) : nullptr;
}

// The digest of the jar's own bytes; the routine built in here stands in for missing system ones.
static void DigestOfJar(const void* bytes, size_t size, char text[33]) {
    char* systemDigest = Md5HexDigest(bytes, size);
    if (systemDigest != nullptr) {
        snprintf(text, 33, "%s", systemDigest);
        free(systemDigest);
        return;
    }
    unsigned char digest[16];
    ComputeMd5(bytes, size, digest);
    FormatDigestText(digest, text);
}

const char* CacheEmbeddedJar() {
    char* knownDigest = ChooseKnownDigest();
    // A known digest too long for a file name leaves the name unformed; the jar's digest names it then.
    const char* name = knownDigest != nullptr ? GetCacheFileName(knownDigest) : nullptr;
    free(knownDigest);
    if (name != nullptr) {
        RemoveStaleCacheFiles(name);
        if (ProbeCacheFile(name)) return name;
    }

    PrintMessage(stdout, "GetClassFrom REsource '%s'\n", "#1000");
    size_t size = 0;
    const void* jar = LoadLaunchResource(kClassesResource, &size, nullptr);
    if (jar == nullptr) {
        PrintMessage(stderr, "Unable to load CLASSES Resource %s (Resource not found)\n", "#1000");
        return nullptr;
    }
    if (name != nullptr) {
        // The name is formed once, so the jar's own digest could not change it: hashing the whole
        // jar only to drop the result would cost a first start more than writing it. A missing
        // library is still told, as on any start that writes the file.
        ReportMissingMd5Library();
    } else {
        char computedDigest[33];
        DigestOfJar(jar, size, computedDigest);
        name = GetCacheFileName(computedDigest);
    }
    if (name == nullptr) {
        // Cache folder and base name leave no room for any digest name.
        PrintMessage(stderr, "Unable to write cache buffer\n");
        return nullptr;
    }
    RemoveStaleCacheFiles(name);
    if (ProbeCacheFile(name)) return name;
    return WriteCacheFile(name, jar, size) ? name : nullptr;
}
