#include "pack/report_text.h"

#include <cstdint>
#include <cstdio>

namespace {

// The length of the UTF-8 sequence at `at`, or 0 when it is not one (overlong forms and surrogates
// included, as the standard has them).
size_t Utf8SequenceLength(const std::string& text, size_t at) {
    uint8_t lead = uint8_t(text[at]);
    size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || text.size() - at < length) return 0;
    uint8_t second = uint8_t(text[at + 1]);
    uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high) return 0;
    for (size_t i = 2; i < length; i++) {
        uint8_t next = uint8_t(text[at + i]);
        if (next < 0x80 || next > 0xBF) return 0;
    }
    return length;
}

void AppendEscaped(std::string& out, uint8_t c) {
    char escaped[8];
    int n = snprintf(escaped, sizeof escaped, "\\x%02X", unsigned(c));
    if (n > 0 && size_t(n) < sizeof escaped) out += escaped;
}

std::string Escape(const std::string& text, bool quoted) {
    std::string out;
    out.reserve(text.size() + 2);
    for (size_t at = 0; at < text.size();) {
        uint8_t c = uint8_t(text[at]);
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) {
                AppendEscaped(out, c);
            } else {
                if (quoted && (c == '"' || c == '\\')) out += '\\';
                out += char(c);
            }
            at++;
            continue;
        }
        size_t length = Utf8SequenceLength(text, at);
        // U+0080 to U+009F are the C1 controls, which some terminals obey.
        bool c1Control = length == 2 && c == 0xC2 && uint8_t(text[at + 1]) <= 0x9F;
        if (length == 0 || c1Control) {
            for (size_t i = 0; i < (length == 0 ? 1 : length); i++) AppendEscaped(out, uint8_t(text[at + i]));
            at += length == 0 ? 1 : length;
        } else {
            out.append(text, at, length);
            at += length;
        }
    }
    return out;
}

}  // namespace

std::string PrintableText(const std::string& text) { return Escape(text, false); }

std::string QuotedPrintableText(const std::string& text) { return "\"" + Escape(text, true) + "\""; }
