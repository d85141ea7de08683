// Byte -> UTF-16 decoding the way Java's String(byte[]) does for the charsets tests use.
#pragma once

#include <string>

namespace rt {

enum class CharsetKind { Utf8, Latin1, Cp1252, Ascii, WindowsCodePage };

struct Charset {
    CharsetKind kind = CharsetKind::Cp1252;
    unsigned codePage = 1252;  // only for WindowsCodePage
    std::string name = "windows-1252";
};

// Charset.forName-style lookup (case-insensitive, common aliases); false if unknown.
bool LookUpCharset(const std::string& javaName, Charset* out);

// The platform (ANSI) charset, what Java on Windows uses when file.encoding is not given.
Charset PlatformCharset();

// Malformed input becomes U+FFFD like Java's REPLACE action: for UTF-8 the maximal-subpart rule,
// except that an encoded surrogate (0xED 0xA0..0xBF) is one malformed unit of up to three bytes.
std::u16string Decode(const std::string& bytes, const Charset& cs);

}  // namespace rt
