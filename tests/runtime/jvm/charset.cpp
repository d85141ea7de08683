#include "charset.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace rt {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// windows-1252 bytes 0x80..0x9F; Java maps the five unassigned ones to U+FFFD.
const char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::u16string DecodeUtf8(const std::string& s) {
    std::u16string out;
    const size_t n = s.size();
    size_t i = 0;
    auto byteAt = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    while (i < n) {
        unsigned b = byteAt(i);
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        size_t need;
        unsigned lo = 0x80, hi = 0xBF;  // allowed range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2;
            // 0xED with 0xA0..0xBF starts an encoded surrogate: Java's decoder takes it as a
            // well-formed prefix and rejects the finished sequence as a whole (below).
            if (b == 0xE0) lo = 0xA0;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        char32_t cp = b & (need == 1 ? 0x1F : need == 2 ? 0x0F : 0x07);
        size_t k = 1;
        bool ok = true;
        for (; k <= need; ++k) {
            if (i + k >= n) {
                ok = false;
                break;
            }
            unsigned c = byteAt(i + k);
            unsigned l = (k == 1) ? lo : 0x80, h = (k == 1) ? hi : 0xBF;
            if (c < l || c > h) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            // One replacement for the longest valid prefix, then resume at the offending byte.
            out += u'\uFFFD';
            i += k;
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            // One replacement for all three bytes, as Java 17's String(byte[]) gives.
            out += u'\uFFFD';
            i += need + 1;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += need + 1;
    }
    return out;
}

// The names Java on Windows gives the other ANSI code pages ("Cp1250", "MS932", "GBK", ...);
// 0 when the name is none of them or the system lacks that code page.
unsigned CodePageOfName(const std::string& lower) {
    unsigned page = 0;
    if (lower == "gbk") page = 936;
    else if (lower == "gb18030") page = 54936;
    for (const char* prefix : {"cp", "ms", "windows-"}) {
        const size_t length = strlen(prefix);
        if (page != 0 || lower.compare(0, length, prefix) != 0 || lower.size() == length || lower.size() > length + 5) continue;
        if (lower.find_first_not_of("0123456789", length) != std::string::npos) continue;
        page = static_cast<unsigned>(std::stoul(lower.substr(length)));
    }
    return page != 0 && IsValidCodePage(page) ? page : 0;
}

}  // namespace

bool LookUpCharset(const std::string& javaName, Charset* out) {
    const std::string n = Lower(javaName);
    Charset cs;
    if (n == "utf-8" || n == "utf8" || n == "unicode-1-1-utf-8") {
        cs.kind = CharsetKind::Utf8;
        cs.name = "UTF-8";
    } else if (n == "iso-8859-1" || n == "iso8859_1" || n == "iso_8859_1" || n == "iso8859-1" || n == "latin1" ||
               n == "l1" || n == "8859_1" || n == "iso_8859-1" || n == "cp819" || n == "ibm819" || n == "819") {
        cs.kind = CharsetKind::Latin1;
        cs.name = "ISO-8859-1";
    } else if (n == "windows-1252" || n == "cp1252" || n == "ibm1252" || n == "ibm-1252" || n == "cp5348") {
        cs.kind = CharsetKind::Cp1252;
        cs.name = "windows-1252";
    } else if (n == "us-ascii" || n == "ascii" || n == "646" || n == "us" || n == "cp367" || n == "ascii7" ||
               n == "iso646-us" || n == "default") {
        cs.kind = CharsetKind::Ascii;
        cs.name = "US-ASCII";
    } else if (const unsigned page = CodePageOfName(n)) {
        cs.kind = CharsetKind::WindowsCodePage;
        cs.codePage = page;
        cs.name = javaName;
    } else {
        return false;
    }
    *out = cs;
    return true;
}

Charset PlatformCharset() {
    Charset cs;
    const unsigned acp = GetACP();
    switch (acp) {
        case 1252:
            break;
        case 65001:
            cs.kind = CharsetKind::Utf8;
            cs.name = "UTF-8";
            break;
        case 28591:
            cs.kind = CharsetKind::Latin1;
            cs.name = "ISO-8859-1";
            break;
        case 20127:
            cs.kind = CharsetKind::Ascii;
            cs.name = "US-ASCII";
            break;
        default:
            cs.kind = CharsetKind::WindowsCodePage;
            cs.codePage = acp;
            cs.name = "cp" + std::to_string(acp);
    }
    return cs;
}

std::u16string Decode(const std::string& bytes, const Charset& cs) {
    std::u16string out;
    switch (cs.kind) {
        case CharsetKind::Utf8:
            return DecodeUtf8(bytes);
        case CharsetKind::Latin1:
            for (unsigned char b : bytes) out += static_cast<char16_t>(b);
            return out;
        case CharsetKind::Ascii:
            for (unsigned char b : bytes) out += b < 0x80 ? static_cast<char16_t>(b) : u'\uFFFD';
            return out;
        case CharsetKind::Cp1252:
            for (unsigned char b : bytes) {
                out += (b >= 0x80 && b <= 0x9F) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
            }
            return out;
        case CharsetKind::WindowsCodePage: {
            if (bytes.empty()) return out;
            if (bytes.size() > 0x7FFFFFFF) return out;
            const int len = static_cast<int>(bytes.size());
            int need = MultiByteToWideChar(cs.codePage, 0, bytes.data(), len, nullptr, 0);
            if (need <= 0) return out;
            std::wstring w(static_cast<size_t>(need), L'\0');
            MultiByteToWideChar(cs.codePage, 0, bytes.data(), len, &w[0], need);
            return std::u16string(w.begin(), w.end());
        }
    }
    return out;
}

}  // namespace rt
