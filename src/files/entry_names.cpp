#include "files/entry_names.h"

#include <cstring>

#include "base/text.h"
#include "files/files_edge.h"

bool IsJarName(const char* name) {
    const char* lastDot = strrchr(name, '.');
    return lastDot != nullptr && strcmp(lastDot, ".jar") == 0;
}

bool IsDotEntryName(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool IsCodeFileName(const char* name) {
    static const char* const kCodeSuffixes[] = {".jar", ".dll", ".exe", ".jsa", ".aot"};
    for (const char* suffix : kCodeSuffixes) {
        if (EndsWithIgnoringCase(name, suffix)) return true;
    }
    return EqualsIgnoringCase(name, "modules");
}

bool IsFolderAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && (attributes & kEntryAttributeFolder) != 0;
}

bool IsLinkAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && (attributes & kEntryAttributeLink) != 0;
}

bool IsReadOnlyAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && (attributes & kEntryAttributeReadOnly) != 0;
}

bool IsPlainFileAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && !IsFolderAttributes(attributes) && !IsLinkAttributes(attributes);
}

bool LookupErrorMeansAbsent(unsigned long error) {
    const unsigned long fileNotFound = 2;
    const unsigned long pathNotFound = 3;
    return error == fileNotFound || error == pathNotFound;
}

bool ParseTempEntryName(const char* name, const char* stem, unsigned long* processId) {
    const char* rest = name[0] == '~' ? SkipPrefixIgnoringCase(name + 1, stem) : nullptr;
    if (rest == nullptr || *rest != '.' || rest[1] < '0' || rest[1] > '9') return false;
    unsigned long value = 0;
    for (rest++; *rest >= '0' && *rest <= '9'; rest++) {
        if (value > (0xFFFFFFFFul - 9) / 10) return false;
        value = value * 10 + static_cast<unsigned long>(*rest - '0');
    }
    // The random part of today's names; earlier ones had none.
    if (*rest == '.' && strlen(rest) == 1 + 16 + 4) {
        for (int i = 1; i <= 16; i++) {
            char c = FoldAsciiCase(rest[i]);
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
        }
        rest += 17;
    }
    if (!EqualsIgnoringCase(rest, ".tmp")) return false;
    *processId = value;
    return true;
}
