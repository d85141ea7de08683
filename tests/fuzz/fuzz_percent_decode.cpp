// Percent decoding of one VM option item, against an independent reading of the same rule.
#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "config/resource_lists.h"
#include "fuzz_input.h"

static int Hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return (tolower(static_cast<unsigned char>(c)) - 'a') + 10;
}

static std::string Reference(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        bool escape = text[i] == '%' && i + 2 < text.size() &&
                      isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                      isxdigit(static_cast<unsigned char>(text[i + 2]));
        if (escape) {
            out += static_cast<char>(Hex(text[i + 1]) * 16 + Hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    char* item = ExactCopy(text);
    char* decoded = PercentDecode(item);
    // Compared as C texts: a decoded %00 ends both.
    FUZZ_CHECK(std::string(decoded) == AsCString(Reference(AsCString(text))));
    FUZZ_CHECK(strlen(decoded) <= strlen(item));
    free(decoded);
    free(item);
    return 0;
}
