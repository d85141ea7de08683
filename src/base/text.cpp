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
