// Small shared pieces of the end-to-end helper programs: hex decoding and exact writes.
#pragma once
#include <windows.h>

#include <string>

namespace e2e {

inline int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Hex keeps every byte (newlines, quotes, bytes above 127) intact across Wine's
// Unix-locale conversion of command lines.
inline bool from_hex(const std::string& hex, std::string& out) {
    if (hex.size() % 2 != 0) return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = hex_digit(hex[i]), lo = hex_digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

inline std::string to_hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// WriteFile instead of stdio: no CRT text-mode newline translation, no buffering surprises.
inline void write_all(HANDLE h, const std::string& data) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    size_t done = 0;
    while (done < data.size()) {
        DWORD chunk = static_cast<DWORD>(data.size() - done > 65536 ? 65536 : data.size() - done);
        DWORD written = 0;
        if (!WriteFile(h, data.data() + done, chunk, &written, nullptr) || written == 0) return;
        done += written;
    }
}

}  // namespace e2e
