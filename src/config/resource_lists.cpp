#include "config/resource_lists.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/diagnostics.h"
#include "base/text.h"
#include "files/app_folder.h"
#include "config/config_edge.h"
#include "config/env_expansion.h"
#include "config/resources.h"

// Stands in for blanks while folder names are substituted, so their own blanks do not split items.
static const char kOptionSeparator[2] = {'\x01', '\0'};

static char* CopyMirrorRoot() {
    char mirrorRoot[1024];
    FormatMirrorRoot(mirrorRoot, sizeof mirrorRoot);
    return CopyText(mirrorRoot);
}

char* ReadVmOptionsResource() {
    size_t size = 0;
    const void* bytes = LoadLaunchResource(kVmOptionsResource, &size, nullptr);
    if (bytes == nullptr) return nullptr;
    if (size >= kTextResourceLimit) {
        PrintMessage(stderr, "VM-Options too long (%d)\n", static_cast<int>(size));
        return nullptr;
    }
    char* text = CopyResourceText(bytes, size);
    char* separated = ReplaceAll(text, " ", kOptionSeparator);
    char* withExeFolder = ReplaceAll(separated, "#", GetExeFolder());
    // The mirror's place is asked for only where a '%' needs it: the choice of the application folder
    // looks at the folder.
    char* mirrorRoot = strchr(withExeFolder, '%') != nullptr ? CopyMirrorRoot() : CopyText("");
    char* result = ReplaceAll(withExeFolder, "%", mirrorRoot);
    free(text);
    free(separated);
    free(withExeFolder);
    free(mirrorRoot);
    return result;
}

static bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

static int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

char* PercentDecode(const char* item) {
    size_t length = strlen(item);
    char* decoded = static_cast<char*>(AllocOrExit(length + 1));
    size_t out = 0;
    for (size_t i = 0; i < length; i++) {
        if (item[i] == '%' && i + 2 < length && IsHexDigit(item[i + 1]) && IsHexDigit(item[i + 2])) {
            decoded[out++] = static_cast<char>(HexValue(item[i + 1]) * 16 + HexValue(item[i + 2]));
            i += 2;
        } else {
            decoded[out++] = item[i];
        }
    }
    decoded[out] = '\0';
    return decoded;
}

int SplitVmOptions(char*** items) {
    char* text = ReadVmOptionsResource();
    if (text == nullptr) return 0;
    int count = 0;
    for (char* at = text; *at != '\0';) {
        while (*at == kOptionSeparator[0]) at++;
        if (*at == '\0') break;
        count++;
        while (*at != '\0' && *at != kOptionSeparator[0]) at++;
    }
    if (count == 0) {
        free(text);
        return 0;
    }
    char** list = static_cast<char**>(AllocOrExit(sizeof(char*) * count));
    int index = 0;
    for (char* at = text; *at != '\0';) {
        while (*at == kOptionSeparator[0]) at++;
        if (*at == '\0') break;
        char* item = at;
        while (*at != '\0' && *at != kOptionSeparator[0]) at++;
        char saved = *at;
        *at = '\0';
        list[index++] = ExpandPackedText(PercentDecode(item));
        *at = saved;
    }
    free(text);
    *items = list;
    return count;
}

// Formats one expanded entry into its 272-character buffer; an entry that would not fit is
// reported and skipped, since a cut path would name a different file.
static bool ExpandClassPathEntry(const char* entry, const char* runtimeHome, char* expanded, size_t size) {
    bool hasSeparator = entry[0] != '\0' && (entry[1] == '\\' || entry[1] == '/');
    const char* rest = entry + 1 + (hasSeparator ? 1 : 0);
    int written;
    if (entry[0] == '#') {
        written = hasSeparator ? snprintf(expanded, size, "%s%s;", GetExeFolder(), rest)
                               : snprintf(expanded, size, "%s\\%s;", GetExeFolder(), rest);
    } else if (entry[0] == '@') {
        written = snprintf(expanded, size, "%s\\%s;", runtimeHome ? runtimeHome : "", rest);
    } else if (entry[0] == '%') {
        char mirrorRoot[1024];
        written = FormatMirrorRoot(mirrorRoot, sizeof mirrorRoot)
                      ? snprintf(expanded, size, "%s\\%s;", mirrorRoot, rest)
                      : -1;
    } else {
        written = snprintf(expanded, size, "%s;", entry);
    }
    if (written < 0 || static_cast<size_t>(written) >= size) {
        PrintMessage(stderr, "Class path entry too long, skipped (%s)\n", entry);
        return false;
    }
    return true;
}

char* BuildResourceClassPath(const char* runtimeHome) {
    size_t size = 0;
    unsigned long lastError = 0;
    const void* bytes = LoadLaunchResource(kClassPathResource, &size, &lastError);
    if (bytes == nullptr) {
        PrintNote(stderr, "Unable to load CLASS-PATH Resource (Resource not found)%lu\n", lastError);
        return nullptr;
    }
    char* text = CopyResourceText(bytes, size);
    char* result = static_cast<char*>(AllocOrExit(1));
    result[0] = '\0';
    size_t used = 0;
    for (char* at = text; *at != '\0';) {
        while (*at == ';') at++;
        if (*at == '\0') break;
        char* entry = at;
        while (*at != '\0' && *at != ';') at++;
        if (*at == ';') *at++ = '\0';
        char expanded[272];
        if (!ExpandClassPathEntry(entry, runtimeHome, expanded, sizeof expanded)) continue;
        size_t length = strlen(expanded);
        char* grown = static_cast<char*>(AllocOrExit(used + length + 1));
        memcpy(grown, result, used);
        memcpy(grown + used, expanded, length + 1);
        free(result);
        result = grown;
        used += length;
    }
    free(text);
    if (used == 0) {
        free(result);
        return nullptr;
    }
    return ExpandPackedText(result);
}
