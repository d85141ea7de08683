#include "base/text.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diagnostics.h"

void* AllocOrExit(size_t size) {
    void* block = malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        PrintMessage(stderr, "malloc: %s\n", strerror(ENOMEM));
        exit(1);
    }
    return block;
}

char* CopyText(const char* text) {
    size_t length = strlen(text);
    char* copy = static_cast<char*>(AllocOrExit(length + 1));
    memcpy(copy, text, length + 1);
    return copy;
}

bool IsEmpty(const char* text) { return text == nullptr || text[0] == '\0'; }

int ParseDecimal(const char* text) {
    if (text == nullptr) return 0;
    while (isspace(static_cast<unsigned char>(*text))) text++;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        text++;
    }
    // Accumulate in 64 bits and saturate, so a huge number cannot overflow into nonsense.
    long long value = 0;
    while (isdigit(static_cast<unsigned char>(*text))) {
        value = value * 10 + (*text - '0');
        if (value > 2147483648LL) value = 2147483648LL;
        text++;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return static_cast<int>(value);
}

bool FormatPathText(char* buffer, size_t size, const char* format, ...) {
    if (size == 0) return false;
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer, size, format, args);
    va_end(args);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

char* FormatMessageText(char* local, size_t localSize, int* length, const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    *length = vsnprintf(local, localSize, format, args);
    char* text = local;
    if (*length < 0) {
        text = nullptr;
    } else if (static_cast<size_t>(*length) >= localSize) {
        text = static_cast<char*>(malloc(static_cast<size_t>(*length) + 1));
        if (text != nullptr) vsnprintf(text, static_cast<size_t>(*length) + 1, format, again);
    }
    va_end(again);
    return text;
}

char FoldAsciiCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int CompareIgnoringCase(const char* left, const char* right) {
    for (;; left++, right++) {
        unsigned char l = static_cast<unsigned char>(FoldAsciiCase(*left));
        unsigned char r = static_cast<unsigned char>(FoldAsciiCase(*right));
        if (l != r) return l < r ? -1 : 1;
        if (l == '\0') return 0;
    }
}

bool EqualsIgnoringCase(const char* left, const char* right) { return CompareIgnoringCase(left, right) == 0; }

const char* SkipPrefixIgnoringCase(const char* text, const char* prefix) {
    for (; *prefix != '\0'; text++, prefix++) {
        if (*text == '\0' || FoldAsciiCase(*text) != FoldAsciiCase(*prefix)) return nullptr;
    }
    return text;
}

bool EndsWithIgnoringCase(const char* text, const char* suffix) {
    size_t length = strlen(text);
    size_t suffixLength = strlen(suffix);
    return length >= suffixLength && EqualsIgnoringCase(text + length - suffixLength, suffix);
}

const char* LastPathPart(const char* path) {
    const char* lastBackslash = strrchr(path, '\\');
    return lastBackslash != nullptr ? lastBackslash + 1 : path;
}
