// Jar (zip) reading for the class path: central directory lookup, stored and deflated entries,
// and the manifest's main attributes.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

namespace rt {

class Jar {
public:
    // Opens and indexes the file. Like Java's zip code it keeps the file open without
    // FILE_SHARE_DELETE, so the jar cannot be deleted or renamed while the VM uses it.
    static std::unique_ptr<Jar> Open(const std::wstring& path, std::string* error);
    ~Jar();
    Jar(const Jar&) = delete;
    Jar& operator=(const Jar&) = delete;

    bool Has(const std::string& name) const { return entries_.count(name) != 0; }
    // Entry contents; false (with a reason) when missing or damaged.
    bool Read(const std::string& name, std::string* out, std::string* error) const;
    // Main section attribute of META-INF/MANIFEST.MF (name compared case-insensitively).
    bool ManifestAttribute(const std::string& name, std::string* value) const;

private:
    struct Entry {
        uint16_t method = 0;
        uint32_t compressedSize = 0;
        uint32_t size = 0;
        uint32_t localHeader = 0;
    };
    Jar() = default;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::string data_;
    std::map<std::string, Entry> entries_;
};

}  // namespace rt
