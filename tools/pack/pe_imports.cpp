#include "pack/pe_imports.h"

#include <cstdio>

#include "pack/byte_order.h"

namespace {

struct SectionSpan {
    uint32_t virtualAddress, virtualSize, rawPointer, rawSize;
};

// The file offset of an RVA inside a section's raw data, with the bytes left there.
bool RvaToFile(const std::vector<SectionSpan>& sections, size_t fileSize, uint32_t rva, size_t& offset, size_t& left) {
    for (const SectionSpan& s : sections) {
        uint32_t span = s.virtualSize > s.rawSize ? s.rawSize : s.virtualSize;
        if (span == 0) span = s.rawSize;
        if (rva < s.virtualAddress || rva - s.virtualAddress >= span) continue;
        offset = size_t(s.rawPointer) + (rva - s.virtualAddress);
        if (offset >= fileSize) return false;
        left = span - (rva - s.virtualAddress);
        if (left > fileSize - offset) left = fileSize - offset;
        return true;
    }
    return false;
}

}  // namespace

bool ReadPeImports(const std::vector<uint8_t>& file, PeImports& imports, std::string& error) {
    imports = PeImports();
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
        error = "not a PE file (no MZ header)";
        return false;
    }
    size_t pe = Read32(&file[0x3c]);
    if (pe > file.size() || file.size() - pe < 24 || Read32(&file[pe]) != 0x00004550) {
        error = "not a PE file (no PE signature)";
        return false;
    }
    const uint8_t* coff = &file[pe + 4];
    imports.machine = uint16_t(Read16(coff));
    size_t sectionCount = Read16(coff + 2), optionalSize = Read16(coff + 16);
    size_t optional = pe + 24;
    if (optionalSize < 2 || file.size() - optional < optionalSize) {
        error = "optional header lies outside the file";
        return false;
    }
    uint32_t magic = Read16(&file[optional]);
    if (magic != 0x10b && magic != 0x20b) {
        error = "unknown optional header magic";
        return false;
    }
    imports.isPe32Plus = magic == 0x20b;
    size_t directoryCountAt = imports.isPe32Plus ? 108 : 92;
    size_t sectionTable = optional + optionalSize;
    if (sectionTable > file.size() || (file.size() - sectionTable) / 40 < sectionCount) {
        error = "section table lies outside the file";
        return false;
    }
    std::vector<SectionSpan> sections;
    for (size_t i = 0; i < sectionCount; i++) {
        const uint8_t* s = &file[sectionTable + i * 40];
        sections.push_back(SectionSpan{Read32(s + 12), Read32(s + 8), Read32(s + 20), Read32(s + 16)});
    }
    // The import directory is entry 1 of the data directories.
    if (optionalSize < directoryCountAt + 4 + 16 || Read32(&file[optional + directoryCountAt]) < 2) return true;
    uint32_t importRva = Read32(&file[optional + directoryCountAt + 4 + 8]);
    if (importRva == 0) return true;
    size_t at = 0, left = 0;
    if (!RvaToFile(sections, file.size(), importRva, at, left)) {
        error = "import table lies outside the file";
        return false;
    }
    for (;; at += 20, left -= 20) {
        if (left < 20) {
            error = "import table is not terminated";
            return false;
        }
        const uint8_t* descriptor = &file[at];
        uint32_t nameRva = Read32(descriptor + 12);
        if (nameRva == 0 && Read32(descriptor) == 0 && Read32(descriptor + 16) == 0) break;
        size_t nameAt = 0, nameLeft = 0;
        if (!RvaToFile(sections, file.size(), nameRva, nameAt, nameLeft)) {
            error = "an imported DLL name lies outside the file";
            return false;
        }
        std::string name;
        for (; nameLeft > 0 && file[nameAt] != 0 && name.size() < 260; nameAt++, nameLeft--) name.push_back(char(file[nameAt]));
        if (nameLeft == 0 || name.size() >= 260) {
            error = "an imported DLL name is not terminated";
            return false;
        }
        imports.dllNames.push_back(name);
    }
    return true;
}

std::string MachineName(uint16_t machine) {
    if (machine == kMachineAmd64) return "x64";
    if (machine == kMachineI386) return "x86 (32-bit)";
    char text[16];
    snprintf(text, sizeof text, "0x%04x", machine);
    return text;
}
