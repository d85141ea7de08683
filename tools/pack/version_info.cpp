#include "pack/version_info.h"

#include <cstdio>
#include <cstring>

#include "pack/byte_order.h"
#include "pack/report_text.h"

constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr size_t kFixedFileInfoSize = 52;
constexpr size_t kMaxResourceLength = 0xFFFF;  // every block length is a 16-bit field
constexpr uint32_t kOsNtWindows32 = 0x00040004;
constexpr uint32_t kFileTypeApp = 1;
constexpr uint16_t kLangEnUs = 0x0409;
constexpr uint16_t kCodePageUnicode = 1200;


static void Set16(Bytes& out, size_t at, uint16_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
}
static void PadTo4(Bytes& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}
static void PutText(Bytes& out, const std::u16string& text) {
    for (char16_t c : text) Append16(out, uint16_t(c));
    Append16(out, 0);
}
static std::u16string Ascii16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

static uint32_t High(const uint16_t parts[4]) { return uint32_t(parts[0]) << 16 | parts[1]; }
static uint32_t Low(const uint16_t parts[4]) { return uint32_t(parts[2]) << 16 | parts[3]; }

// Starts a block (wLength, wValueLength, wType, key) and returns where its length goes.
static size_t BeginBlock(Bytes& out, uint16_t valueLength, uint16_t type, const std::string& key) {
    PadTo4(out);
    size_t start = out.size();
    Append16(out, 0);
    Append16(out, valueLength);
    Append16(out, type);
    std::u16string key16;
    if (!Utf8ToUtf16(key, key16)) key16 = Ascii16(key);
    PutText(out, key16);
    PadTo4(out);
    return start;
}

static bool EndBlock(Bytes& out, size_t start, std::string& error) {
    size_t length = out.size() - start;
    if (length > kMaxResourceLength) {
        error = "the version details are too long for a version resource (" + std::to_string(length) +
                " bytes, at most " + std::to_string(kMaxResourceLength) + ")";
        return false;
    }
    Set16(out, start, uint16_t(length));
    return true;
}

// A block of the version tree as read: its key, value bytes and children, all inside [begin, end).
struct Block {
    std::u16string key;
    size_t valueAt = 0;
    size_t valueLength = 0;  // bytes
    size_t childrenAt = 0;
    size_t end = 0;
};

static size_t Align4(size_t v) { return (v + 3) & ~size_t(3); }

// Reads the block at `at`, which must lie within `limit`; a text value's length counts UTF-16 units.
static bool ReadBlock(const Bytes& data, size_t at, size_t limit, Block& block, std::string& error) {
    error = "malformed version resource";
    if (at > limit || limit - at < 6) return false;
    size_t length = Read16(&data[at]);
    size_t valueLength = Read16(&data[at + 2]);
    uint16_t type = Read16(&data[at + 4]);
    if (length < 6 || length > limit - at) return false;
    block.end = at + length;
    block.key.clear();
    size_t p = at + 6;
    while (true) {
        if (p + 2 > block.end) return false;
        char16_t c = char16_t(Read16(&data[p]));
        p += 2;
        if (c == 0) break;
        block.key.push_back(c);
    }
    block.valueAt = Align4(p);
    block.valueLength = type == 1 ? valueLength * 2 : valueLength;
    if (block.valueAt > block.end) block.valueAt = block.end;
    // Some writers count the text's units generously; never read past the block.
    if (block.valueLength > block.end - block.valueAt) block.valueLength = block.end - block.valueAt;
    block.childrenAt = Align4(block.valueAt + block.valueLength);
    error.clear();
    return true;
}

bool ParseVersionNumber(const std::string& text, uint16_t parts[4]) {
    uint16_t values[4] = {};
    int count = 0;
    size_t at = 0;
    while (true) {
        size_t digits = 0;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = value * 10 + uint32_t(text[at] - '0');
            if (value > 0xFFFF) return false;
            ++at;
            ++digits;
        }
        if (digits == 0 || count == 4) return false;
        values[count++] = uint16_t(value);
        if (at == text.size()) break;
        if (text[at] != '.') return false;
        ++at;
    }
    memcpy(parts, values, sizeof values);
    return true;
}

bool Utf8ToUtf16(const std::string& text, std::u16string& out) {
    out.clear();
    size_t i = 0;
    while (i < text.size()) {
        uint8_t lead = uint8_t(text[i]);
        uint32_t cp = 0;
        size_t extra = 0;
        uint32_t minimum = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            cp = lead & 0x1F, extra = 1, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            cp = lead & 0x0F, extra = 2, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            cp = lead & 0x07, extra = 3, minimum = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i - 1 < extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            uint8_t c = uint8_t(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = cp << 6 | (c & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += 1 + extra;
    }
    return true;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        if (cp < 0x80) {
            out.push_back(char(cp));
        } else if (cp < 0x800) {
            out.push_back(char(0xC0 | cp >> 6));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(char(0xE0 | cp >> 12));
            out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(char(0xF0 | cp >> 18));
            out.push_back(char(0x80 | (cp >> 12 & 0x3F)));
            out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
            out.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool CheckVersionSetting(const VersionSetting& setting, std::string& error) {
    std::string key = setting.key;
    if (key == "FileVersion" || key == "ProductVersion") {
        uint16_t parts[4];
        if (!ParseVersionNumber(setting.value, parts)) {
            error = key + " must be 1 to 4 numbers from 0 to 65535 separated by dots, not '" +
                    setting.value + "'";
            return false;
        }
        return true;
    }
    std::u16string text;
    if (setting.value.empty()) {
        error = key + " needs a non-empty text";
        return false;
    }
    if (!Utf8ToUtf16(setting.value, text)) {
        error = key + " text is not valid UTF-8";
        return false;
    }
    if (text.size() > kMaxVersionTextUnits) {
        error = key + " text is " + std::to_string(text.size()) +
                " characters long; a version resource holds at most " + std::to_string(kMaxVersionTextUnits);
        return false;
    }
    return true;
}

static void SetVersionString(VersionDetails& details, const std::string& key, const std::u16string& value) {
    for (VersionString& s : details.strings) {
        if (s.key == key) {
            s.value = value;
            return;
        }
    }
    details.strings.push_back({key, value});
}

VersionDetails DefaultVersionDetails(const std::string& outputPath) {
    size_t slash = outputPath.find_last_of("/\\");
    std::string fileName = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
    size_t dot = fileName.rfind('.');
    std::string baseName = dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
    std::u16string base16, file16;
    // A name that is not UTF-8 still gives a name, byte by byte.
    if (!Utf8ToUtf16(baseName, base16)) base16 = Ascii16(baseName);
    if (!Utf8ToUtf16(fileName, file16)) file16 = Ascii16(fileName);

    VersionDetails details;
    details.fileVersion[0] = details.productVersion[0] = 1;
    details.strings = {
        {"FileDescription", base16}, {"FileVersion", u"1.0"},     {"InternalName", base16},
        {"OriginalFilename", file16}, {"ProductName", base16},    {"ProductVersion", u"1.0"},
    };
    return details;
}

void ApplyVersionSettings(VersionDetails& details, const std::vector<VersionSetting>& settings) {
    for (const VersionSetting& setting : settings) {
        std::string key = setting.key;
        if (key == "FileVersion") ParseVersionNumber(setting.value, details.fileVersion);
        if (key == "ProductVersion") ParseVersionNumber(setting.value, details.productVersion);
        std::u16string text;
        if (!Utf8ToUtf16(setting.value, text)) continue;  // CheckVersionSetting refused it already
        SetVersionString(details, key, text);
    }
}

const std::u16string* FindVersionString(const VersionDetails& details, const std::string& key) {
    for (const VersionString& s : details.strings) {
        if (s.key == key) return &s.value;
    }
    return nullptr;
}

bool ReadVersionInfo(const Bytes& data, VersionDetails& details, std::string& error) {
    details = VersionDetails();
    Block root;
    if (!ReadBlock(data, 0, data.size(), root, error)) return false;
    if (root.key != u"VS_VERSION_INFO" || root.valueLength < kFixedFileInfoSize ||
        Read32(&data[root.valueAt]) != kFixedFileInfoSignature) {
        error = "malformed version resource (no VS_VERSION_INFO with fixed file information)";
        return false;
    }
    const uint8_t* fixed = &data[root.valueAt];
    uint32_t words[4] = {Read32(fixed + 8), Read32(fixed + 12), Read32(fixed + 16), Read32(fixed + 20)};
    for (int i = 0; i < 2; ++i) {
        details.fileVersion[2 * i] = uint16_t(words[i] >> 16);
        details.fileVersion[2 * i + 1] = uint16_t(words[i]);
        details.productVersion[2 * i] = uint16_t(words[2 + i] >> 16);
        details.productVersion[2 * i + 1] = uint16_t(words[2 + i]);
    }
    for (size_t at = root.childrenAt; at + 6 <= root.end;) {
        Block child;
        if (!ReadBlock(data, at, root.end, child, error)) return false;
        // The first string table is the one Explorer shows.
        if (child.key == u"StringFileInfo" && child.childrenAt + 6 <= child.end) {
            Block table;
            if (!ReadBlock(data, child.childrenAt, child.end, table, error)) return false;
            for (size_t s = table.childrenAt; s + 6 <= table.end;) {
                Block entry;
                if (!ReadBlock(data, s, table.end, entry, error)) return false;
                std::u16string value;
                for (size_t i = 0; i + 1 < entry.valueLength; i += 2) {
                    char16_t c = char16_t(Read16(&data[entry.valueAt + i]));
                    if (c == 0) break;
                    value.push_back(c);
                }
                details.strings.push_back({Utf16ToUtf8(entry.key), value});
                s = Align4(entry.end);
            }
        }
        at = Align4(child.end);
    }
    return true;
}

bool BuildVersionInfo(const VersionDetails& details, Bytes& out, std::string& error) {
    out.clear();
    size_t root = BeginBlock(out, uint16_t(kFixedFileInfoSize), 0, "VS_VERSION_INFO");
    Append32(out, kFixedFileInfoSignature);
    Append32(out, 0x00010000);  // structure version 1.0
    Append32(out, High(details.fileVersion));
    Append32(out, Low(details.fileVersion));
    Append32(out, High(details.productVersion));
    Append32(out, Low(details.productVersion));
    Append32(out, 0x3F);  // flags mask
    Append32(out, 0);     // flags
    Append32(out, kOsNtWindows32);
    Append32(out, kFileTypeApp);
    Append32(out, 0);  // subtype
    Append32(out, 0);  // date
    Append32(out, 0);

    size_t stringInfo = BeginBlock(out, 0, 1, "StringFileInfo");
    size_t table = BeginBlock(out, 0, 1, "040904b0");
    for (const VersionString& s : details.strings) {
        if (s.value.size() + 1 > kMaxResourceLength / 2) {
            error = s.key + " text is too long for a version resource";
            return false;
        }
        size_t entry = BeginBlock(out, uint16_t(s.value.size() + 1), 1, s.key);
        PutText(out, s.value);
        if (!EndBlock(out, entry, error)) return false;
    }
    if (!EndBlock(out, table, error) || !EndBlock(out, stringInfo, error)) return false;

    size_t varInfo = BeginBlock(out, 0, 1, "VarFileInfo");
    size_t translation = BeginBlock(out, 4, 0, "Translation");
    Append16(out, kLangEnUs);
    Append16(out, kCodePageUnicode);
    if (!EndBlock(out, translation, error) || !EndBlock(out, varInfo, error)) return false;
    return EndBlock(out, root, error);
}

std::string VersionNumberText(const uint16_t parts[4]) {
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
}

std::string DescribeVersion(const std::vector<Resource>& resources) {
    std::string out;
    for (const Resource& r : resources) {
        if (r.type.isString || r.type.id != 16) continue;
        VersionDetails details;
        std::string error;
        if (!ReadVersionInfo(r.data, details, error)) {
            out += "version: " + error + "\n";
            continue;
        }
        out += "version: file " + VersionNumberText(details.fileVersion) + ", product " +
               VersionNumberText(details.productVersion) + "\n";
        for (const VersionString& s : details.strings)
            out += "version " + PrintableText(s.key) + "=" + QuotedPrintableText(Utf16ToUtf8(s.value)) + "\n";
    }
    return out;
}
