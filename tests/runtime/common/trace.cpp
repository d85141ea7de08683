#include "trace.h"

#include <windows.h>

#include <cstdio>

namespace rt {

namespace {

SRWLOCK g_writeLock = SRWLOCK_INIT;

void AppendUnit(std::string* out, char16_t c) {
    if (c == u'"') {
        *out += "\\\"";
    } else if (c == u'\\') {
        *out += "\\\\";
    } else if (c == u'\n') {
        *out += "\\n";
    } else if (c == u'\r') {
        *out += "\\r";
    } else if (c == u'\t') {
        *out += "\\t";
    } else if (c < 0x20 || c >= 0x7f) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
        *out += buf;
    } else {
        *out += static_cast<char>(c);
    }
}

}  // namespace

std::u16string Utf8To16(const std::string& s) {
    std::u16string out;
    size_t i = 0;
    const size_t n = s.size();
    auto cont = [&](size_t k) { return k < n && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80; };
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
            cp = ((b & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
            cp = ((b & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) {
                cp = 0xFFFD;
                len = 1;
            }
        } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            cp = ((b & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
            len = 4;
            if (cp < 0x10000 || cp > 0x10FFFF) {
                cp = 0xFFFD;
                len = 1;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

std::string Utf16To8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

std::wstring ToWide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
std::u16string FromWide(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

std::string JsonString16(const std::u16string& s) {
    std::string out = "\"";
    for (char16_t c : s) AppendUnit(&out, c);
    out += '"';
    return out;
}

std::string JsonString(const std::string& utf8) { return JsonString16(Utf8To16(utf8)); }

std::string JsonArray(const std::vector<std::string>& encodedValues) {
    std::string out = "[";
    for (size_t i = 0; i < encodedValues.size(); ++i) {
        if (i) out += ',';
        out += encodedValues[i];
    }
    return out + "]";
}

std::string Hex(const void* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string Hex(const std::string& bytes) { return Hex(bytes.data(), bytes.size()); }

void Json::Key(const char* key) {
    if (!body_.empty()) body_ += ',';
    body_ += '"';
    body_ += key;
    body_ += "\":";
}

Json& Json::Str(const char* key, const std::string& utf8) {
    Key(key);
    body_ += JsonString(utf8);
    return *this;
}

Json& Json::Str16(const char* key, const std::u16string& s) {
    Key(key);
    body_ += JsonString16(s);
    return *this;
}

Json& Json::Int(const char* key, long long v) {
    Key(key);
    body_ += std::to_string(v);
    return *this;
}

Json& Json::Bool(const char* key, bool v) {
    Key(key);
    body_ += v ? "true" : "false";
    return *this;
}

Json& Json::Null(const char* key) {
    Key(key);
    body_ += "null";
    return *this;
}

Json& Json::Raw(const char* key, const std::string& json) {
    Key(key);
    body_ += json;
    return *this;
}

bool GetEnv(const char* name, std::string* value) {
    std::wstring wname(name, name + std::char_traits<char>::length(name));
    DWORD needed = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (needed == 0) return false;
    std::wstring buf(needed, L'\0');
    DWORD got = GetEnvironmentVariableW(wname.c_str(), &buf[0], needed);
    if (got >= needed) return false;
    buf.resize(got);
    *value = Utf16To8(FromWide(buf));
    return true;
}

std::string CurrentDirectory() {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return std::string();
    std::wstring buf(needed, L'\0');
    DWORD got = GetCurrentDirectoryW(needed, &buf[0]);
    if (got >= needed) return std::string();
    buf.resize(got);
    return Utf16To8(FromWide(buf));
}

void Emit(const char* event, const Json& fields) {
    std::string path;
    if (!GetEnv("QUORVIA_TEST_TRACE", &path) || path.empty()) return;
    Json head;
    head.Str("event", event).Int("pid", static_cast<long long>(GetCurrentProcessId()))
        .Int("tick", static_cast<long long>(GetTickCount64()));
    std::string line = head.Text();
    std::string rest = fields.Text();
    if (rest.size() > 2) {
        line.pop_back();
        line += ',';
        line += rest.substr(1);
    }
    line += '\n';

    AcquireSRWLockExclusive(&g_writeLock);
    // FILE_APPEND_DATA makes each WriteFile an append, so lines from several processes
    // (single-instance tests) do not overwrite each other.
    std::wstring wpath = ToWide(Utf8To16(path));
    HANDLE h = CreateFileW(wpath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        FlushFileBuffers(h);
        CloseHandle(h);
    }
    ReleaseSRWLockExclusive(&g_writeLock);
}

}  // namespace rt
