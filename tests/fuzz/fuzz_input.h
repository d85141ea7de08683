// Helpers shared by the fuzz targets: fields cut from the input, exact-size heap copies (so that a
// read one byte too far is caught by AddressSanitizer), and checks that stop the run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// A violated property aborts, which libFuzzer reports as a crash with the input saved.
#define FUZZ_CHECK(condition)                                                   \
    do {                                                                        \
        if (!(condition)) {                                                     \
            fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition,      \
                    __FILE__, __LINE__);                                        \
            abort();                                                            \
        }                                                                       \
    } while (0)

// Splits the input at NUL bytes into at most `maxFields` fields; the last field takes the rest,
// NULs included.
inline std::vector<std::string> SplitFields(const uint8_t* data, size_t size, size_t maxFields) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < maxFields) {
        const void* nul = start < size ? memchr(data + start, 0, size - start) : nullptr;
        if (nul == nullptr) break;
        size_t end = static_cast<size_t>(static_cast<const uint8_t*>(nul) - data);
        fields.emplace_back(reinterpret_cast<const char*>(data + start), end - start);
        start = end + 1;
    }
    fields.emplace_back(reinterpret_cast<const char*>(data + start), size - start);
    return fields;
}

// A heap copy of the text up to its first NUL, exactly as long as that text plus its terminator.
inline char* ExactCopy(const std::string& text) {
    size_t length = strlen(text.c_str());
    char* copy = static_cast<char*>(malloc(length + 1));
    memcpy(copy, text.c_str(), length + 1);
    return copy;
}

// The text up to its first NUL, as the C functions under test see it.
inline std::string AsCString(const std::string& text) { return std::string(text.c_str()); }
