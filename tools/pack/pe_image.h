// Reading and rewriting the resources of a PE32+ image (the launcher exe).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qpack {

using Bytes = std::vector<uint8_t>;

// A resource type, name or language: either a 16-bit number or a UTF-16 string.
struct ResName {
    bool is_string = false;
    uint16_t id = 0;
    std::u16string text;

    static ResName number(uint16_t id);
    static ResName string(const std::string& ascii);
    // Decimal for numbers, the name (non-ASCII escaped) for strings.
    std::string display() const;
};

// Windows order inside a resource directory: string names first, compared by their upper-case
// UTF-16 code units, then numbers ascending. Names that differ only in case are equal, as they
// are to FindResource: they share one directory entry.
int compare_names(const ResName& a, const ResName& b);
// Equal as Windows looks names up (strings case-insensitively).
bool same_name(const ResName& a, const ResName& b);

struct Resource {
    ResName type;
    ResName name;
    ResName lang;
    uint32_t codepage = 0;
    Bytes data;
};

struct Section {
    std::string name;  // up to 8 characters as stored
    uint32_t virtual_size = 0;
    uint32_t virtual_address = 0;
    uint32_t raw_size = 0;
    uint32_t raw_pointer = 0;
    uint32_t characteristics = 0;
    size_t header_offset = 0;  // file offset of the section's header
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
    size_t coff_offset = 0;     // just after "PE\0\0"
    size_t optional_offset = 0;
    size_t section_table_offset = 0;
    uint16_t size_of_optional_header = 0;
    uint32_t symbol_table_pointer = 0;
    uint64_t image_base = 0;
    uint32_t section_alignment = 0;
    uint32_t file_alignment = 0;
    uint32_t size_of_initialized_data = 0;
    uint32_t size_of_image = 0;
    uint32_t size_of_headers = 0;
    uint32_t checksum = 0;
    uint32_t number_of_rva_and_sizes = 0;
    DataDirectory dirs[16];
    std::vector<Section> sections;

    size_t checksum_offset() const { return optional_offset + 64; }
    size_t directory_offset(int index) const { return optional_offset + 112 + 8 * size_t(index); }
    // File offset of `size` bytes at `rva`, if they all lie in one section's raw data.
    bool rva_to_offset(uint32_t rva, uint32_t size, size_t file_size, size_t& offset) const;
};

// Checks the headers and section table; the message says what is wrong.
bool parse_pe(const Bytes& file, PeInfo& info, std::string& error);

// Reads the whole resource tree (type / name / language / data).
bool read_resources(const Bytes& file, const PeInfo& info, std::vector<Resource>& out,
                    std::string& error);

// Lays out a resource section whose data entries point at base_rva + offset.
bool build_resource_section(std::vector<Resource> resources, uint32_t base_rva, Bytes& out,
                            std::string& error);

// Replaces the image's resources by `resources` and fixes every header field that depends on
// them, the checksum last.
bool write_resources(Bytes& file, const std::vector<Resource>& resources, std::string& error);

// Adds `res`, dropping any resource of the same type and name in any language first.
void put_resource(std::vector<Resource>& set, Resource res);

// The PE checksum: 16-bit one's complement sum of the file, the checksum field counted as zero,
// plus the file length.
uint32_t pe_checksum(const uint8_t* data, size_t size, size_t checksum_offset);

}  // namespace qpack
