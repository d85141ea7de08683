#include "cache/cache_folder.h"
#include "cache/jar_copy.h"
#include "cache/sync_rules.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "config/resources.h"

// Names of the cache directory's entries, apart from the embedded jar's caching itself, so that the
// packer's pre-flight check forms the same folders without the cache's file operations.

// Windows paths of the ANSI file functions stay below this length.
static const size_t kCachePathSize = 260;

static char g_cacheFileName[kCachePathSize];
static char g_cacheDigestText[kCachePathSize];

bool FormatAppCacheFolder(char* buffer, size_t size) {
    char* baseName = GetExeBaseName();
    bool fits = FormatPathText(buffer, size, "%s\\%s", GetCacheFolder(), baseName);
    free(baseName);
    return fits;
}

bool FormatSyncDirectory(char* buffer, size_t size) {
    char* baseName = GetExeBaseName();
    bool fits = FormatPathText(buffer, size, "%s\\%s\\sync", GetCacheFolder(), baseName);
    free(baseName);
    return fits;
}

bool FormatCacheFileName(char* buffer, size_t size, const char* folder, const char* baseName,
                         const char* digestText) {
    return FormatPathText(buffer, size, "%s\\%s.%s.dat", folder, baseName, digestText);
}

bool FormatCacheTempName(char* buffer, size_t size, const char* folder, const char* baseName,
                         unsigned long processId) {
    return FormatPathText(buffer, size, "%s\\~%s.%lu.tmp", folder, baseName, processId);
}

static char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The text after a case-insensitive prefix, or null when text does not begin with it.
static const char* SkipPrefix(const char* text, const char* prefix) {
    for (; *prefix != '\0'; text++, prefix++) {
        if (*text == '\0' || FoldCase(*text) != FoldCase(*prefix)) return nullptr;
    }
    return text;
}

static bool EqualsFolded(const char* text, const char* other) {
    const char* rest = SkipPrefix(text, other);
    return rest != nullptr && *rest == '\0';
}

static bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (FoldCase(c) >= 'A' && FoldCase(c) <= 'F'); }

bool IsDigestText(const char* text) {
    size_t length = 0;
    for (; text[length] != '\0'; length++) {
        if (!IsHexDigit(text[length])) return false;
    }
    return length == 32;
}

bool ParseTempEntryName(const char* name, const char* stem, unsigned long* processId) {
    const char* rest = name[0] == '~' ? SkipPrefix(name + 1, stem) : nullptr;
    if (rest == nullptr || *rest != '.' || rest[1] < '0' || rest[1] > '9') return false;
    unsigned long value = 0;
    for (rest++; *rest >= '0' && *rest <= '9'; rest++) {
        if (value > (0xFFFFFFFFul - 9) / 10) return false;
        value = value * 10 + static_cast<unsigned long>(*rest - '0');
    }
    if (!EqualsFolded(rest, ".tmp")) return false;
    *processId = value;
    return true;
}

bool IsOwnCacheEntryName(const char* entryName, const char* baseName, const char* md5SumText) {
    const char* rest = SkipPrefix(entryName, baseName);
    if (rest == nullptr || *rest != '.') return false;
    rest++;
    if (EqualsFolded(rest, "dat")) return true;
    // What stands between "{base}." and ".dat" must be the digest, nothing more.
    size_t length = strlen(rest);
    if (length < 4 || !EqualsFolded(rest + length - 4, ".dat")) return false;
    char digest[kCachePathSize];
    if (length - 4 >= sizeof digest) return false;
    memcpy(digest, rest, length - 4);
    digest[length - 4] = '\0';
    return IsDigestText(digest) || (md5SumText != nullptr && md5SumText[0] != '\0' && EqualsFolded(digest, md5SumText));
}

const char* GetCacheFileName(const char* digestText) {
    if (g_cacheFileName[0] != '\0') return g_cacheFileName;
    if (digestText == nullptr) return nullptr;
    char* baseName = GetExeBaseName();
    // A name that does not fit is not formed at all: a cut name could belong to another digest.
    bool formed = FormatCacheFileName(g_cacheFileName, sizeof g_cacheFileName, GetCacheFolder(),
                                      baseName != nullptr ? baseName : "", digestText);
    free(baseName);
    if (!formed) return nullptr;
    snprintf(g_cacheDigestText, sizeof g_cacheDigestText, "%s", digestText);
    return g_cacheFileName;
}

const char* GetCacheDigestText() { return g_cacheDigestText; }

void ForgetCacheFileName() {
    g_cacheFileName[0] = '\0';
    g_cacheDigestText[0] = '\0';
}

bool FormResolvedJarPath(char* buffer, size_t size, const char* exePath, const char* jarPath) {
    const char* lastBackslash = strrchr(exePath, '\\');
    int folderLength = lastBackslash != nullptr ? static_cast<int>(lastBackslash - exePath + 1) : 0;
    return FormatPathText(buffer, size, "%.*s%s", folderLength, exePath, jarPath != nullptr ? jarPath : "");
}

bool IsJarName(const char* name) {
    const char* lastDot = strrchr(name, '.');
    return lastDot != nullptr && strcmp(lastDot, ".jar") == 0;
}
