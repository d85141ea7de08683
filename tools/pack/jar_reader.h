// Reading entries of a jar (zip) file: the central directory, zip64 included (more than 65,535
// entries, or sizes and offsets past 4 GB), and one entry's bytes, stored or deflated (zlib).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct JarEntry {
    std::string name;
    uint16_t method = 0;  // 0 stored, 8 deflated
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;
};

// False, with the reason, when the file has no readable central directory.
bool ReadJarDirectory(const std::vector<uint8_t>& jar, std::vector<JarEntry>& entries, std::string& error);

// The entry's bytes; refuses entries larger than maxSize, so a damaged size cannot exhaust memory.
bool ExtractJarEntry(const std::vector<uint8_t>& jar, const JarEntry& entry, size_t maxSize, std::vector<uint8_t>& out,
                     std::string& error);
