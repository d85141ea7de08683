// Helpers for the quorvia-pack tests: fixture files, a small PE32+ image writer for layouts the
// linker does not produce, and checks written independently of the tool's own PE code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace packtest {

using Bytes = std::vector<uint8_t>;

std::string fixture(const std::string& name);         // built at build time
std::string source_fixture(const std::string& name);  // committed text files
Bytes read_bytes(const std::string& path);
void write_bytes(const std::string& path, const Bytes& data);
Bytes text(const std::string& s, bool terminated = true);

// A fresh empty folder under the system temp folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::vector<std::string> entries() const;

private:
    std::string dir_;
};

uint16_t get16(const Bytes& b, size_t at);
uint32_t get32(const Bytes& b, size_t at);
void set16(Bytes& b, size_t at, uint16_t v);
void set32(Bytes& b, size_t at, uint32_t v);

// Offsets from the headers, read directly.
size_t optional_header_offset(const Bytes& image);
struct RawSection {
    std::string name;
    uint32_t vsize, va, rawSize, rawPointer, characteristics;
};
std::vector<RawSection> raw_sections(const Bytes& image);

// The PE checksum as the imagehlp documentation describes it, summed then folded at the end.
uint32_t reference_checksum(const Bytes& image);

// Looks a resource up as the Windows loader does: binary search by type, name and language in
// each directory, which only works when entries are in the order Windows expects. A type or name
// starting with '#' is numeric. Returns nullopt when not found.
std::optional<Bytes> find_like_windows(const Bytes& image, const std::string& type,
                                       const std::string& name, uint16_t lang);

// A PE32+ image with the given sections laid out one after another.
struct SynthSection {
    std::string name;
    Bytes raw;             // file data, padded to the file alignment
    uint32_t vsize = 0;    // 0: the raw size before padding
    uint32_t characteristics = 0x40000040;
};
struct SynthImage {
    std::vector<SynthSection> sections;
    int resource_section = -1;  // index; its data directory entry covers the whole section
    uint32_t fileAlignment = 0x200;
    uint32_t sectionAlignment = 0x1000;
    uint32_t certificate_offset = 0, certificate_size = 0;
    uint32_t debug_rva = 0, debug_size = 0;
    Bytes overlay;               // appended after the last section
    size_t header_padding = 0;   // extra bytes to reserve after the section table
};
Bytes make_image(const SynthImage& spec);
// Virtual address make_image gives section i.
uint32_t synth_section_va(const SynthImage& spec, size_t i);

// A resource tree holding one resource of numeric type/name/language, written by hand.
Bytes one_resource_tree(uint32_t base_rva, uint16_t type, uint16_t name, uint16_t lang,
                        const Bytes& data);

// What one run of the tool printed and returned.
struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs the tool in-process with its output captured.
Outcome RunCaptured(const std::vector<std::string>& args,
                    const std::string& defaultLauncher = "/nonexistent/launcher.exe");

}  // namespace packtest
