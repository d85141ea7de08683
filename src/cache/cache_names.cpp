#include "cache/cache_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/text.h"
#include "files/app_folder.h"

static char g_cacheFileName[kWindowsPathSize];
static char g_cacheDigestText[kWindowsPathSize];

bool FormatCacheFileName(char* buffer, size_t size, const char* folder, const char* baseName,
                         const char* digestText) {
    return FormatPathText(buffer, size, "%s\\%s.%s.dat", folder, baseName, digestText);
}

static bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (FoldAsciiCase(c) >= 'A' && FoldAsciiCase(c) <= 'F');
}

bool IsDigestText(const char* text) {
    size_t length = 0;
    for (; text[length] != '\0'; length++) {
        if (!IsHexDigit(text[length])) return false;
    }
    return length == 32;
}

bool IsOwnCacheEntryName(const char* entryName, const char* baseName, const char* md5SumText) {
    const char* rest = SkipPrefixIgnoringCase(entryName, baseName);
    if (rest == nullptr || *rest != '.') return false;
    rest++;
    if (EqualsIgnoringCase(rest, "dat")) return true;
    // What stands between "{base}." and ".dat" must be the digest, nothing more.
    size_t length = strlen(rest);
    if (!EndsWithIgnoringCase(rest, ".dat")) return false;
    char digest[kWindowsPathSize];
    if (length - 4 >= sizeof digest) return false;
    memcpy(digest, rest, length - 4);
    digest[length - 4] = '\0';
    return IsDigestText(digest) ||
           (md5SumText != nullptr && md5SumText[0] != '\0' && EqualsIgnoringCase(digest, md5SumText));
}

const char* GetCacheFileName(const char* digestText) {
    if (g_cacheFileName[0] != '\0') return g_cacheFileName;
    if (digestText == nullptr) return nullptr;
    char* baseName = GetExeBaseName();
    // A name that does not fit is not formed at all: a cut name could belong to another digest.
    const char* folder = GetAppCacheFolder();
    bool formed = folder != nullptr && FormatCacheFileName(g_cacheFileName, sizeof g_cacheFileName, folder,
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
    int folderLength = static_cast<int>(LastPathPart(exePath) - exePath);
    return FormatPathText(buffer, size, "%.*s%s", folderLength, exePath, jarPath != nullptr ? jarPath : "");
}
