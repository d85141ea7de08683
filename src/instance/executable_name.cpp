#include "instance/executable_name.h"

#include <cstring>

const char* FileNamePart(const char* path) {
    const char* slash = strrchr(path, '\\');
    return slash != nullptr ? slash + 1 : path;
}

static unsigned char AsciiLower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;; x++, y++) {
        if (AsciiLower(*x) != AsciiLower(*y)) return false;
        if (*x == 0) return true;
    }
}
