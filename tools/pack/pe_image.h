// Reading and rewriting the resources of a PE32+ image (the launcher exe).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A resource type, name or language: either a 16-bit number or a UTF-16 string.
struct ResName {
    bool isString = false;
    uint16_t id = 0;
    std::u16string text;
};

ResName NumericName(uint16_t id);
ResName StringName(const std::string& ascii);
// Decimal for numbers, the name (non-ASCII escaped) for strings.
std::string DisplayName(const ResName& name);

// Windows order inside a resource directory: string names first, compared by their upper-case
// UTF-16 code units, then numbers ascending. Names that differ only in case are equal, as they
// are to FindResource: they share one directory entry.
int CompareNames(const ResName& a, const ResName& b);
// Equal as Windows looks names up (strings case-insensitively).
bool SameName(const ResName& a, const ResName& b);

struct Resource {
    ResName type;
    ResName name;
    ResName lang;
    uint32_t codepage = 0;
    Bytes data;
};

struct Section {
    std::string name;  // up to 8 characters as stored
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
    uint32_t characteristics = 0;
    size_t headerOffset = 0;  // file offset of the section's header
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

enum : int {
    kDirSecurity = 4,
    kDirResource = 2,
    kDirDebug = 6,
};

// The fields of the headers that the packer reads or changes, plus where they live in the file.
struct PeInfo {
    size_t coffOffset = 0;     // just after "PE\0\0"
    size_t optionalOffset = 0;
    size_t sectionTableOffset = 0;
    uint16_t sizeOfOptionalHeader = 0;
    uint32_t symbolTablePointer = 0;
    uint32_t sectionAlignment = 0;
    uint32_t fileAlignment = 0;
    uint32_t sizeOfInitializedData = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t checksum = 0;
    uint32_t numberOfRvaAndSizes = 0;
    DataDirectory dirs[16];
    std::vector<Section> sections;
};

// File offsets of the checksum field and of data directory entry `index`.
size_t ChecksumOffset(const PeInfo& info);
size_t DirectoryOffset(const PeInfo& info, int index);
// File offset of `size` bytes at `rva`, if they all lie in one section's raw data.
bool RvaToOffset(const PeInfo& info, uint32_t rva, uint32_t size, size_t fileSize, size_t& offset);

// Checks the headers and section table; the message says what is wrong.
bool ParsePe(const Bytes& file, PeInfo& info, std::string& error);

// Reads the whole resource tree (type / name / language / data).
bool ReadResources(const Bytes& file, const PeInfo& info, std::vector<Resource>& out, std::string& error);

// Lays out a resource section whose data entries point at baseRva + offset.
bool BuildResourceSection(std::vector<Resource> resources, uint32_t baseRva, Bytes& out, std::string& error);

// Replaces the image's resources by `resources` and fixes every header field that depends on
// them, the checksum last.
bool WriteResources(Bytes& file, const std::vector<Resource>& resources, std::string& error);

// Adds `res`, dropping any resource of the same type and name in any language first.
void PutResource(std::vector<Resource>& set, Resource res);

// The PE checksum: 16-bit one's complement sum of the file, the checksum field counted as zero,
// plus the file length.
uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksumOffset);
