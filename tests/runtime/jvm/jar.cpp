#include "jar.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace rt {

namespace {

constexpr size_t kMaxJarSize = 256u << 20;
constexpr uint32_t kMaxEntrySize = 64u << 20;

uint16_t Le16(const std::string& d, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(d[at]) | (static_cast<unsigned char>(d[at + 1]) << 8));
}
uint32_t Le32(const std::string& d, size_t at) { return Le16(d, at) | (static_cast<uint32_t>(Le16(d, at + 2)) << 16); }

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

Jar::~Jar() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

std::unique_ptr<Jar> Jar::Open(const std::wstring& path, std::string* error) {
    std::unique_ptr<Jar> jar(new Jar());
    jar->file_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (jar->file_ == INVALID_HANDLE_VALUE) {
        *error = "cannot open";
        return nullptr;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(jar->file_, &size) || size.QuadPart < 22 || static_cast<unsigned long long>(size.QuadPart) > kMaxJarSize) {
        *error = "zip file is empty or too large";
        return nullptr;
    }
    std::string& d = jar->data_;
    d.resize(static_cast<size_t>(size.QuadPart));
    size_t got = 0;
    while (got < d.size()) {
        DWORD n = 0;
        DWORD want = static_cast<DWORD>(std::min<size_t>(d.size() - got, 1u << 20));
        if (!ReadFile(jar->file_, &d[got], want, &n, nullptr) || n == 0) {
            *error = "read error";
            return nullptr;
        }
        got += n;
    }
    // End of central directory: the last "PK\5\6" record whose comment reaches the end of file.
    size_t eocd = std::string::npos;
    const size_t lowest = d.size() > 22 + 0xFFFF ? d.size() - 22 - 0xFFFF : 0;
    for (size_t at = d.size() - 22 + 1; at-- > lowest;) {
        if (Le32(d, at) == 0x06054b50 && at + 22 + Le16(d, at + 20) == d.size()) {
            eocd = at;
            break;
        }
    }
    if (eocd == std::string::npos) {
        *error = "zip END header not found";
        return nullptr;
    }
    const uint16_t count = Le16(d, eocd + 10);
    const uint32_t cdSize = Le32(d, eocd + 12);
    const uint32_t cdOffset = Le32(d, eocd + 16);
    if (static_cast<uint64_t>(cdOffset) + cdSize > eocd) {
        *error = "invalid END header (bad central directory offset)";
        return nullptr;
    }
    size_t at = cdOffset;
    for (uint16_t i = 0; i < count; ++i) {
        if (at + 46 > eocd || Le32(d, at) != 0x02014b50) {
            *error = "invalid CEN header (bad signature)";
            return nullptr;
        }
        Entry e;
        e.method = Le16(d, at + 10);
        e.compressedSize = Le32(d, at + 20);
        e.size = Le32(d, at + 24);
        const uint16_t nameLen = Le16(d, at + 28), extraLen = Le16(d, at + 30), commentLen = Le16(d, at + 32);
        e.localHeader = Le32(d, at + 42);
        if (at + 46 + nameLen + extraLen + commentLen > eocd) {
            *error = "invalid CEN header (bad header size)";
            return nullptr;
        }
        jar->entries_[d.substr(at + 46, nameLen)] = e;
        at += 46 + nameLen + extraLen + commentLen;
    }
    return jar;
}

bool Jar::Read(const std::string& name, std::string* out, std::string* error) const {
    auto it = entries_.find(name);
    if (it == entries_.end()) {
        *error = "no such entry";
        return false;
    }
    const Entry& e = it->second;
    const std::string& d = data_;
    if (static_cast<uint64_t>(e.localHeader) + 30 > d.size() || Le32(d, e.localHeader) != 0x04034b50) {
        *error = "invalid LOC header (bad signature)";
        return false;
    }
    const uint64_t start = static_cast<uint64_t>(e.localHeader) + 30 + Le16(d, e.localHeader + 26) + Le16(d, e.localHeader + 28);
    if (start + e.compressedSize > d.size() || e.size > kMaxEntrySize) {
        *error = "entry extends past end of file";
        return false;
    }
    const char* src = d.data() + start;
    if (e.method == 0) {
        if (e.compressedSize != e.size) {
            *error = "stored entry sizes differ";
            return false;
        }
        out->assign(src, e.size);
        return true;
    }
    if (e.method != 8) {
        *error = "invalid compression method";
        return false;
    }
    out->assign(e.size, '\0');
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) {
        *error = "inflateInit failed";
        return false;
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(src));
    z.avail_in = e.compressedSize;
    // One spare byte so that data longer than the recorded size is noticed.
    std::vector<char> buf(static_cast<size_t>(e.size) + 1);
    z.next_out = reinterpret_cast<Bytef*>(buf.data());
    z.avail_out = static_cast<uInt>(buf.size());
    const int rc = inflate(&z, Z_FINISH);
    const uLong produced = z.total_out;
    inflateEnd(&z);
    if (rc != Z_STREAM_END || produced != e.size) {
        *error = "invalid stored block lengths or corrupt deflate data";
        return false;
    }
    out->assign(buf.data(), e.size);
    return true;
}

bool Jar::ManifestAttribute(const std::string& name, std::string* value) const {
    std::string mf, error;
    if (!Read("META-INF/MANIFEST.MF", &mf, &error)) return false;
    // Join continuation lines (a line starting with one space continues the previous one).
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < mf.size()) {
        size_t end = mf.find_first_of("\r\n", at);
        if (end == std::string::npos) end = mf.size();
        std::string line = mf.substr(at, end - at);
        if (end < mf.size() && mf[end] == '\r' && end + 1 < mf.size() && mf[end + 1] == '\n') ++end;
        at = end + 1;
        if (line.empty()) break;  // end of the main section
        if (line[0] == ' ' && !lines.empty()) {
            lines.back() += line.substr(1);
        } else {
            lines.push_back(line);
        }
    }
    for (const std::string& l : lines) {
        const size_t colon = l.find(": ");
        if (colon != std::string::npos && EqualsIgnoreCase(l.substr(0, colon), name)) {
            *value = l.substr(colon + 2);
            return true;
        }
    }
    return false;
}

}  // namespace rt
