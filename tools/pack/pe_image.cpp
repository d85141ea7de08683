#include "pack/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pack/byte_order.h"

constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kMaxSections = 96;  // what the Windows loader accepts
constexpr uint32_t kScnInitializedData = 0x00000040;
constexpr uint32_t kScnMemRead = 0x40000000;
constexpr size_t kDebugEntrySize = 28, kDebugPointerToRawData = 24;
constexpr uint32_t kPageSize = 4096;
// Limits on what a resource tree may make us read, so that shared or looping subtrees in a
// crafted file cannot blow up time or memory.
constexpr size_t kMaxResourceEntries = 65536;
constexpr uint64_t kMaxResourceBytes = uint64_t(1) << 30;

// Field offsets and sizes of the headers. DOS header, from the start of the file:
constexpr size_t kDosHeaderSize = 64, kDosPeOffset = 0x3C, kPeSignatureSize = 4;
// COFF header, from PeInfo::coffOffset:
constexpr size_t kCoffNumberOfSections = 2, kCoffSymbolTablePointer = 8, kCoffSizeOfOptionalHeader = 16,
                 kCoffHeaderSize = 20;
// PE32+ optional header, from PeInfo::optionalOffset:
constexpr size_t kOptSizeOfInitializedData = 8, kOptSectionAlignment = 32, kOptFileAlignment = 36,
                 kOptSizeOfImage = 56, kOptSizeOfHeaders = 60, kOptCheckSum = 64, kOptNumberOfRvaAndSizes = 108,
                 kOptDataDirectories = 112, kDataDirectorySize = 8, kMaxDataDirectories = 16;
// Section header, from Section::headerOffset:
constexpr size_t kSectionNameSize = 8, kSecVirtualSize = 8, kSecVirtualAddress = 12, kSecSizeOfRawData = 16,
                 kSecPointerToRawData = 20, kSecCharacteristics = 36, kSectionHeaderSize = 40;
// A resource directory table: 16 bytes whose last two words count the named and the numbered
// entries, then 8 bytes per entry (name, target); a data entry is 16 bytes (RVA, size, code page).
constexpr size_t kResDirNamedCount = 12, kResDirIdCount = 14, kResDirHeaderSize = 16, kResDirEntrySize = 8,
                 kResDataEntrySize = 16;
constexpr uint32_t kResHighBit = 0x80000000u;  // a string name, or a subdirectory target


static bool Fits(size_t fileSize, uint64_t offset, uint64_t length) {
    return offset <= fileSize && length <= fileSize - offset;
}

static uint64_t AlignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

static bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

static char16_t UpperUnit(char16_t c) {
    if (c >= u'a' && c <= u'z') return char16_t(c - 32);
    // Latin-1 letters; the rest of Unicode is left as is.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 32);
    return c;
}

static int CompareUpper(const std::u16string& a, const std::u16string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = UpperUnit(a[i]), y = UpperUnit(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return 0;
}

static std::string Hex32(uint32_t v) {
    char buf[16];
    int n = snprintf(buf, sizeof buf, "0x%X", unsigned(v));
    return (n > 0 && size_t(n) < sizeof buf) ? std::string(buf) : std::string("?");
}

ResName NumericName(uint16_t id) {
    ResName r;
    r.id = id;
    return r;
}

ResName StringName(const std::string& ascii) {
    ResName r;
    r.isString = true;
    for (unsigned char c : ascii) r.text.push_back(char16_t(c));
    return r;
}

std::string DisplayName(const ResName& name) {
    if (!name.isString) return std::to_string(name.id);
    std::string out;
    for (char16_t c : name.text) {
        if (c >= 0x21 && c < 0x7F && c != '\\' && c != '"') {
            out.push_back(char(c));
        } else {
            char buf[8];
            int n = snprintf(buf, sizeof buf, "\\u%04X", unsigned(c));
            if (n > 0 && size_t(n) < sizeof buf) out.append(buf);
        }
    }
    return out;
}

int CompareNames(const ResName& a, const ResName& b) {
    if (a.isString != b.isString) return a.isString ? -1 : 1;
    if (!a.isString) return a.id == b.id ? 0 : (a.id < b.id ? -1 : 1);
    return CompareUpper(a.text, b.text);
}

bool SameName(const ResName& a, const ResName& b) { return CompareNames(a, b) == 0; }

bool RvaToOffset(const PeInfo& info, uint32_t rva, uint32_t size, size_t fileSize, size_t& offset) {
    for (const Section& s : info.sections) {
        if (rva < s.virtualAddress) continue;
        uint64_t rel = uint64_t(rva) - s.virtualAddress;
        if (rel + size > s.rawSize) continue;
        uint64_t off = uint64_t(s.rawPointer) + rel;
        if (!Fits(fileSize, off, size)) return false;
        offset = size_t(off);
        return true;
    }
    return false;
}

static bool ReadOptionalHeader(const Bytes& file, PeInfo& info, std::string& error) {
    const uint8_t* opt = file.data() + info.optionalOffset;
    uint16_t magic = Read16(opt);
    if (magic != kPe32PlusMagic) {
        error = magic == kPe32Magic ? "not a PE32+ executable (it is a 32-bit PE32 image)" : "not a PE32+ executable";
        return false;
    }
    if (info.sizeOfOptionalHeader < kOptDataDirectories ||
        !Fits(file.size(), info.optionalOffset, info.sizeOfOptionalHeader)) {
        error = "truncated or malformed optional header";
        return false;
    }
    info.sizeOfInitializedData = Read32(opt + kOptSizeOfInitializedData);
    info.sectionAlignment = Read32(opt + kOptSectionAlignment);
    info.fileAlignment = Read32(opt + kOptFileAlignment);
    info.sizeOfImage = Read32(opt + kOptSizeOfImage);
    info.sizeOfHeaders = Read32(opt + kOptSizeOfHeaders);
    info.checksum = Read32(opt + kOptCheckSum);
    info.numberOfRvaAndSizes = Read32(opt + kOptNumberOfRvaAndSizes);
    uint32_t ndirs = std::min<uint32_t>(info.numberOfRvaAndSizes, kMaxDataDirectories);
    if (kOptDataDirectories + kDataDirectorySize * size_t(ndirs) > info.sizeOfOptionalHeader) {
        error = "malformed optional header (data directories do not fit)";
        return false;
    }
    for (uint32_t i = 0; i < ndirs; ++i) {
        info.dirs[i].rva = Read32(opt + kOptDataDirectories + kDataDirectorySize * i);
        info.dirs[i].size = Read32(opt + kOptDataDirectories + kDataDirectorySize * i + 4);
    }
    if (!IsPowerOfTwo(info.fileAlignment) || !IsPowerOfTwo(info.sectionAlignment) || info.fileAlignment > 0x10000 ||
        info.sectionAlignment < info.fileAlignment) {
        error = "malformed optional header (bad section or file alignment)";
        return false;
    }
    if (info.sizeOfHeaders > file.size()) {
        error = "truncated file (headers end at " + Hex32(info.sizeOfHeaders) + ")";
        return false;
    }
    return true;
}

static bool ReadSection(const Bytes& file, const PeInfo& info, size_t index, Section& s, std::string& error) {
    s.headerOffset = info.sectionTableOffset + kSectionHeaderSize * index;
    const uint8_t* h = file.data() + s.headerOffset;
    size_t nameLen = 0;
    while (nameLen < kSectionNameSize && h[nameLen] != 0) ++nameLen;
    s.name.assign(reinterpret_cast<const char*>(h), nameLen);
    s.virtualSize = Read32(h + kSecVirtualSize);
    s.virtualAddress = Read32(h + kSecVirtualAddress);
    s.rawSize = Read32(h + kSecSizeOfRawData);
    s.rawPointer = Read32(h + kSecPointerToRawData);
    s.characteristics = Read32(h + kSecCharacteristics);
    if (s.rawSize > 0 && !Fits(file.size(), s.rawPointer, s.rawSize)) {
        error = "truncated file (section " + s.name + " extends past its end)";
        return false;
    }
    // Raw data inside the headers would have the rewrite move or overwrite the headers.
    if (s.rawSize > 0 && s.rawPointer < info.sizeOfHeaders) {
        error = "malformed section table (section " + s.name + " lies inside the headers)";
        return false;
    }
    return true;
}

static bool ReadSectionTable(const Bytes& file, PeInfo& info, uint16_t nsections, std::string& error) {
    if (nsections > kMaxSections) {
        error = "malformed section table (" + std::to_string(nsections) + " sections)";
        return false;
    }
    info.sectionTableOffset = info.optionalOffset + info.sizeOfOptionalHeader;
    if (!Fits(file.size(), info.sectionTableOffset, kSectionHeaderSize * nsections)) {
        error = "truncated section table";
        return false;
    }
    // The headers must cover the section table: the rewrite places section data after them.
    if (info.sizeOfHeaders < info.sectionTableOffset + kSectionHeaderSize * nsections) {
        error = "malformed optional header (headers end before the section table)";
        return false;
    }
    uint64_t previousEnd = 0;
    for (uint16_t i = 0; i < nsections; ++i) {
        Section s;
        if (!ReadSection(file, info, i, s, error)) return false;
        uint64_t end = uint64_t(s.virtualAddress) + std::max(s.virtualSize, s.rawSize);
        if (s.virtualAddress < previousEnd || end > 0xFFFFFFFFu) {
            error = "malformed section table (section " + s.name + " overlaps or is out of order)";
            return false;
        }
        previousEnd = end;
        info.sections.push_back(s);
    }
    return true;
}

size_t ChecksumOffset(const PeInfo& info) { return info.optionalOffset + kOptCheckSum; }

size_t DirectoryOffset(const PeInfo& info, int index) {
    return info.optionalOffset + kOptDataDirectories + kDataDirectorySize * size_t(index);
}

bool ParsePe(const Bytes& file, PeInfo& info, std::string& error) {
    info = PeInfo();
    const size_t size = file.size();
    const uint8_t* d = file.data();
    if (size < kDosHeaderSize || d[0] != 'M' || d[1] != 'Z') {
        error = "not a PE32+ executable (no MZ header)";
        return false;
    }
    uint32_t pe = Read32(d + kDosPeOffset);
    if (!Fits(size, pe, kPeSignatureSize + kCoffHeaderSize) || memcmp(d + pe, "PE\0\0", kPeSignatureSize) != 0) {
        error = "not a PE32+ executable (no PE signature)";
        return false;
    }
    info.coffOffset = size_t(pe) + kPeSignatureSize;
    const uint8_t* coff = d + info.coffOffset;
    uint16_t nsections = Read16(coff + kCoffNumberOfSections);
    info.symbolTablePointer = Read32(coff + kCoffSymbolTablePointer);
    info.sizeOfOptionalHeader = Read16(coff + kCoffSizeOfOptionalHeader);
    info.optionalOffset = info.coffOffset + kCoffHeaderSize;
    if (info.sizeOfOptionalHeader < 2 || !Fits(size, info.optionalOffset, 2)) {
        error = "not a PE32+ executable (no optional header)";
        return false;
    }
    return ReadOptionalHeader(file, info, error) && ReadSectionTable(file, info, nsections, error);
}

// A walk over a resource tree: where it lies, what it found so far, and the counts that limit it.
struct TreeWalk {
    const Bytes& file;
    const PeInfo& info;
    std::vector<Resource>& out;
    uint32_t base;
    size_t entries;
    uint64_t totalBytes;
};

// The bytes at `offset` from the start of the resource tree, if `length` of them lie in a section.
static bool TreeBytesAt(const TreeWalk& walk, uint32_t offset, uint32_t length, const uint8_t*& p, std::string& error) {
    size_t off = 0;
    uint64_t rva = uint64_t(walk.base) + offset;
    if (rva > 0xFFFFFFFFu || !RvaToOffset(walk.info, uint32_t(rva), length, walk.file.size(), off)) {
        error = "malformed resource directory (offset " + Hex32(offset) + " lies outside the file's sections)";
        return false;
    }
    p = walk.file.data() + off;
    return true;
}

static bool ReadEntryName(const TreeWalk& walk, uint32_t raw, ResName& name, std::string& error) {
    if ((raw & kResHighBit) == 0) {
        if (raw > 0xFFFF) {
            error = "malformed resource directory (ID " + Hex32(raw) + " out of range)";
            return false;
        }
        name = NumericName(uint16_t(raw));
        return true;
    }
    const uint8_t* p = nullptr;
    uint32_t offset = raw & ~kResHighBit;
    if (!TreeBytesAt(walk, offset, 2, p, error)) return false;
    uint16_t length = Read16(p);
    if (!TreeBytesAt(walk, offset, 2 + 2 * uint32_t(length), p, error)) return false;
    name.isString = true;
    name.id = 0;
    name.text.clear();
    for (uint16_t i = 0; i < length; ++i) name.text.push_back(char16_t(Read16(p + 2 + 2 * i)));
    return true;
}

static bool ReadDataEntry(TreeWalk& walk, uint32_t offset, const Resource& partial, std::string& error) {
    const uint8_t* p = nullptr;
    if (!TreeBytesAt(walk, offset, kResDataEntrySize, p, error)) return false;
    uint32_t rva = Read32(p), length = Read32(p + 4);
    walk.totalBytes += length;
    if (walk.totalBytes > kMaxResourceBytes) {
        error = "malformed resource directory (more than 1 GiB of data)";
        return false;
    }
    size_t off = 0;
    if (!RvaToOffset(walk.info, rva, length, walk.file.size(), off)) {
        error = "malformed resource directory (data at RVA " + Hex32(rva) + ", " + std::to_string(length) +
                " bytes, lies outside the file's sections)";
        return false;
    }
    Resource r = partial;
    r.codepage = Read32(p + 8);
    r.data.assign(walk.file.begin() + ptrdiff_t(off), walk.file.begin() + ptrdiff_t(off + length));
    walk.out.push_back(std::move(r));
    return true;
}

// depth 0: types, 1: names, 2: languages, whose entries point at data.
static bool ReadDirectory(TreeWalk& walk, uint32_t offset, int depth, Resource& partial, std::string& error) {
    const uint8_t* p = nullptr;
    if (!TreeBytesAt(walk, offset, kResDirHeaderSize, p, error)) return false;
    uint32_t count = uint32_t(Read16(p + kResDirNamedCount)) + Read16(p + kResDirIdCount);
    if (!TreeBytesAt(walk, offset, uint32_t(kResDirHeaderSize + kResDirEntrySize * count), p, error)) return false;
    for (uint32_t i = 0; i < count; ++i) {
        if (++walk.entries > kMaxResourceEntries) {
            error = "malformed resource directory (too many entries)";
            return false;
        }
        const uint8_t* e = p + kResDirHeaderSize + kResDirEntrySize * i;
        uint32_t rawName = Read32(e), target = Read32(e + 4);
        ResName name;
        if (!ReadEntryName(walk, rawName, name, error)) return false;
        bool isDir = (target & kResHighBit) != 0;
        if (isDir != (depth < 2)) {
            error = "malformed resource directory (not three levels deep)";
            return false;
        }
        if (depth == 0) partial.type = name;
        if (depth == 1) partial.name = name;
        if (depth == 2) partial.lang = name;
        if (isDir) {
            if (!ReadDirectory(walk, target & ~kResHighBit, depth + 1, partial, error)) return false;
        } else if (!ReadDataEntry(walk, target, partial, error)) {
            return false;
        }
    }
    return true;
}

bool ReadResources(const Bytes& file, const PeInfo& info, std::vector<Resource>& out, std::string& error) {
    out.clear();
    TreeWalk walk{file, info, out, info.dirs[kDirResource].rva, 0, 0};
    if (walk.base == 0) return true;  // no resources at all
    Resource partial;
    return ReadDirectory(walk, 0, 0, partial, error);
}

// Sorts into the order of the directories; false on two resources of one type, name and language.
static bool SortResources(std::vector<Resource>& res, std::string& error) {
    std::stable_sort(res.begin(), res.end(), [](const Resource& a, const Resource& b) {
        int c = CompareNames(a.type, b.type);
        if (c == 0) c = CompareNames(a.name, b.name);
        if (c == 0) c = CompareNames(a.lang, b.lang);
        return c < 0;
    });
    for (size_t i = 1; i < res.size(); ++i) {
        if (CompareNames(res[i - 1].type, res[i].type) == 0 && CompareNames(res[i - 1].name, res[i].name) == 0 &&
            CompareNames(res[i - 1].lang, res[i].lang) == 0) {
            error = "duplicate resource " + DisplayName(res[i].type) + "/" + DisplayName(res[i].name) + " language " +
                    DisplayName(res[i].lang);
            return false;
        }
    }
    return true;
}

// Where each piece of a tree of sorted resources goes, as resource compilers lay it out: all
// directory tables (root, types, names), then the data entries, then the name strings, then the
// data itself, each piece 8-byte aligned.
struct TreeLayout {
    std::vector<size_t> typeStarts, nameStarts;  // the first resource of each type, of each (type, name)
    std::vector<uint32_t> typeDirAt, nameDirAt;  // offsets of the type and name directories
    uint64_t dataEntries = 0, strings = 0, stringsEnd = 0, total = 0;
};

static size_t GroupEnd(const std::vector<size_t>& starts, size_t k, size_t count) {
    return k + 1 < starts.size() ? starts[k + 1] : count;
}

static void PlanTree(const std::vector<Resource>& res, TreeLayout& l) {
    for (size_t i = 0; i < res.size(); ++i) {
        bool newType = i == 0 || CompareNames(res[i - 1].type, res[i].type) != 0;
        if (newType) l.typeStarts.push_back(i);
        if (newType || CompareNames(res[i - 1].name, res[i].name) != 0) l.nameStarts.push_back(i);
    }
    uint64_t pos = kResDirHeaderSize + kResDirEntrySize * uint64_t(l.typeStarts.size());
    for (size_t ti = 0; ti < l.typeStarts.size(); ++ti) {
        l.typeDirAt.push_back(uint32_t(pos));
        size_t end = GroupEnd(l.typeStarts, ti, res.size()), names = 0;
        for (size_t n : l.nameStarts) names += (n >= l.typeStarts[ti] && n < end);
        pos += kResDirHeaderSize + kResDirEntrySize * names;
    }
    for (size_t ni = 0; ni < l.nameStarts.size(); ++ni) {
        l.nameDirAt.push_back(uint32_t(pos));
        pos += kResDirHeaderSize + kResDirEntrySize * (GroupEnd(l.nameStarts, ni, res.size()) - l.nameStarts[ni]);
    }
    l.dataEntries = pos;
    l.strings = l.dataEntries + kResDataEntrySize * uint64_t(res.size());
    l.stringsEnd = l.strings;
    auto stringSize = [](const ResName& n) { return n.isString ? 2 + 2 * n.text.size() : 0; };
    for (size_t t : l.typeStarts) l.stringsEnd += stringSize(res[t].type);
    for (size_t n : l.nameStarts) l.stringsEnd += stringSize(res[n].name);
    for (const Resource& r : res) l.stringsEnd += stringSize(r.lang);
    l.total = AlignUp(l.stringsEnd, 8);
    for (const Resource& r : res) l.total = AlignUp(l.total + r.data.size(), 8);
}

// Writes directory entries; string names go to the string area in the order they are written.
struct TreeWriter {
    uint8_t* o;
    uint32_t stringPos;
};

static void PutEntryName(TreeWriter& w, uint8_t* entry, const ResName& n) {
    if (!n.isString) {
        Write32(entry, n.id);
        return;
    }
    Write32(entry, kResHighBit | w.stringPos);
    Write16(w.o + w.stringPos, uint16_t(n.text.size()));
    for (size_t i = 0; i < n.text.size(); ++i) Write16(w.o + w.stringPos + 2 + 2 * i, n.text[i]);
    w.stringPos += uint32_t(2 + 2 * n.text.size());
}

static void PutDirHeader(TreeWriter& w, uint32_t at, const std::vector<const ResName*>& names) {
    uint16_t named = 0, ids = 0;
    for (const ResName* n : names) ++(n->isString ? named : ids);
    Write16(w.o + at + kResDirNamedCount, named);
    Write16(w.o + at + kResDirIdCount, ids);
}

// The root, pointing at the type directories, and those, pointing at the name directories.
static void WriteTypeDirectories(TreeWriter& w, const std::vector<Resource>& res, const TreeLayout& l) {
    std::vector<const ResName*> names;
    for (size_t t : l.typeStarts) names.push_back(&res[t].type);
    PutDirHeader(w, 0, names);
    for (size_t ti = 0; ti < l.typeStarts.size(); ++ti) {
        uint8_t* entry = w.o + kResDirHeaderSize + kResDirEntrySize * ti;
        PutEntryName(w, entry, res[l.typeStarts[ti]].type);
        Write32(entry + 4, kResHighBit | l.typeDirAt[ti]);
    }
    size_t ni = 0;
    for (size_t ti = 0; ti < l.typeStarts.size(); ++ti) {
        size_t end = GroupEnd(l.typeStarts, ti, res.size());
        names.clear();
        size_t first = ni;
        while (ni < l.nameStarts.size() && l.nameStarts[ni] < end) names.push_back(&res[l.nameStarts[ni++]].name);
        PutDirHeader(w, l.typeDirAt[ti], names);
        for (size_t k = first; k < ni; ++k) {
            uint8_t* entry = w.o + l.typeDirAt[ti] + kResDirHeaderSize + kResDirEntrySize * (k - first);
            PutEntryName(w, entry, res[l.nameStarts[k]].name);
            Write32(entry + 4, kResHighBit | l.nameDirAt[k]);
        }
    }
}

// The name directories, pointing at data entries, then the data entries and the data.
static void WriteNameDirectoriesAndData(TreeWriter& w, const std::vector<Resource>& res, const TreeLayout& l,
                                 uint32_t baseRva) {
    std::vector<const ResName*> names;
    for (size_t k = 0; k < l.nameStarts.size(); ++k) {
        size_t end = GroupEnd(l.nameStarts, k, res.size());
        names.clear();
        for (size_t i = l.nameStarts[k]; i < end; ++i) names.push_back(&res[i].lang);
        PutDirHeader(w, l.nameDirAt[k], names);
        for (size_t i = l.nameStarts[k]; i < end; ++i) {
            uint8_t* entry = w.o + l.nameDirAt[k] + kResDirHeaderSize + kResDirEntrySize * (i - l.nameStarts[k]);
            PutEntryName(w, entry, res[i].lang);
            Write32(entry + 4, uint32_t(l.dataEntries + kResDataEntrySize * i));
        }
    }
    uint64_t dataPos = AlignUp(l.stringsEnd, 8);
    for (size_t i = 0; i < res.size(); ++i) {
        uint8_t* entry = w.o + l.dataEntries + kResDataEntrySize * i;
        Write32(entry, uint32_t(baseRva + dataPos));
        Write32(entry + 4, uint32_t(res[i].data.size()));
        Write32(entry + 8, res[i].codepage);
        if (!res[i].data.empty()) memcpy(w.o + dataPos, res[i].data.data(), res[i].data.size());
        dataPos = AlignUp(dataPos + res[i].data.size(), 8);
    }
}

bool BuildResourceSection(std::vector<Resource> res, uint32_t baseRva, Bytes& out, std::string& error) {
    if (!SortResources(res, error)) return false;
    TreeLayout layout;
    PlanTree(res, layout);
    if (layout.total > 0x7FFFFFFFu || uint64_t(baseRva) + layout.total > 0xFFFFFFFFu) {
        error = "resources too large (" + std::to_string(layout.total) + " bytes)";
        return false;
    }
    out.assign(size_t(layout.total), 0);
    TreeWriter writer{out.data(), uint32_t(layout.strings)};
    WriteTypeDirectories(writer, res, layout);
    WriteNameDirectoriesAndData(writer, res, layout, baseRva);
    return true;
}

void PutResource(std::vector<Resource>& set, Resource res) {
    set.erase(std::remove_if(set.begin(), set.end(),
                             [&](const Resource& r) {
                                 return SameName(r.type, res.type) && SameName(r.name, res.name);
                             }),
              set.end());
    set.push_back(std::move(res));
}

uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksumOffset) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        uint32_t word = data[i];
        if (i + 1 < size) word |= uint32_t(data[i + 1]) << 8;
        // The checksum field's two words count as zero.
        if (i >= checksumOffset && i < checksumOffset + 4) word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return sum + uint32_t(size);
}

// Moves every file offset at or past `threshold` by `delta` after bytes were inserted or removed
// there: section data, the COFF symbol table, and the debug data that the debug directory points
// at. `skip` is a section whose header the caller sets itself.
static void ShiftFileOffsets(Bytes& file, PeInfo& info, size_t threshold, int64_t delta, size_t skip) {
    for (size_t i = 0; i < info.sections.size(); ++i) {
        Section& s = info.sections[i];
        if (i == skip || s.rawSize == 0 || s.rawPointer < threshold) continue;
        s.rawPointer = uint32_t(int64_t(s.rawPointer) + delta);
        Write32(file.data() + s.headerOffset + kSecPointerToRawData, s.rawPointer);
    }
    if (info.symbolTablePointer != 0 && info.symbolTablePointer >= threshold) {
        info.symbolTablePointer = uint32_t(int64_t(info.symbolTablePointer) + delta);
        Write32(file.data() + info.coffOffset + kCoffSymbolTablePointer, info.symbolTablePointer);
    }
    const DataDirectory& debug = info.dirs[kDirDebug];
    size_t at = 0;
    if (debug.rva != 0 && debug.size >= kDebugEntrySize && RvaToOffset(info, debug.rva, debug.size, file.size(), at)) {
        for (size_t e = 0; e + kDebugEntrySize <= debug.size; e += kDebugEntrySize) {
            uint8_t* pointer = file.data() + at + e + kDebugPointerToRawData;
            uint32_t v = Read32(pointer);
            if (v != 0 && v >= threshold) Write32(pointer, uint32_t(int64_t(v) + delta));
        }
    }
}

// Whether another section's file data overlaps [start, start + length).
static bool RawOverlapsOther(const PeInfo& info, size_t self, uint64_t start, uint64_t length) {
    for (size_t i = 0; i < info.sections.size(); ++i) {
        const Section& s = info.sections[i];
        if (i == self || s.rawSize == 0) continue;
        if (s.rawPointer < start + length && start < uint64_t(s.rawPointer) + s.rawSize) return true;
    }
    return false;
}

static void SetDirectory(Bytes& file, PeInfo& info, int index, uint32_t rva, uint32_t size) {
    info.dirs[index] = {rva, size};
    Write32(file.data() + DirectoryOffset(info, index), rva);
    Write32(file.data() + DirectoryOffset(info, index) + 4, size);
}

static void SetSectionSizes(Bytes& file, Section& s, uint32_t virtualSize, uint32_t rawSize) {
    s.virtualSize = virtualSize;
    s.rawSize = rawSize;
    Write32(file.data() + s.headerOffset + kSecVirtualSize, virtualSize);
    Write32(file.data() + s.headerOffset + kSecSizeOfRawData, rawSize);
}

// An image whose resources are being replaced, with what the layout strategies below share.
struct ResourceRewrite {
    Bytes& file;
    PeInfo info;
    uint32_t rsrcFileAlignment = 0;  // where the new resource data may start in the file
    size_t rsrc = 0;                 // the section that holds only the resources, or sections.size()
    uint64_t rawEnd = 0;             // end of all section data in the file
    uint64_t imageEnd = 0;           // end of all sections in memory
};

static void AddInitializedData(ResourceRewrite& w, int64_t delta) {
    w.info.sizeOfInitializedData = uint32_t(int64_t(w.info.sizeOfInitializedData) + delta);
    Write32(w.file.data() + w.info.optionalOffset + kOptSizeOfInitializedData, w.info.sizeOfInitializedData);
}

static void SetImageSize(ResourceRewrite& w, uint64_t end) {
    w.info.sizeOfImage = uint32_t(AlignUp(end, w.info.sectionAlignment));
    Write32(w.file.data() + w.info.optionalOffset + kOptSizeOfImage, w.info.sizeOfImage);
}

static bool StartRewrite(ResourceRewrite& w, std::string& error) {
    PeInfo& info = w.info;
    if (!ParsePe(w.file, info, error)) return false;
    if (info.numberOfRvaAndSizes <= kDirResource) {
        error = "the optional header has no resource directory entry";
        return false;
    }
    if (info.numberOfRvaAndSizes > kDirSecurity &&
        (info.dirs[kDirSecurity].rva != 0 || info.dirs[kDirSecurity].size != 0)) {
        error = "carries a code signature, which packing would break; pack the unsigned exe and sign the result";
        return false;
    }
    // The resource section's data starts on a page boundary in the file, so that a loader can map
    // it instead of reading it whole at every start, as Wine does for an unaligned one: with a jar
    // of 64 MiB inside, that read costs each start about half a second. Images mapped flat
    // (section alignment below a page) must keep file offsets equal to their RVAs.
    const uint32_t fa = info.fileAlignment;
    w.rsrcFileAlignment = info.sectionAlignment >= kPageSize ? std::max(fa, kPageSize) : fa;
    const uint32_t oldRva = info.dirs[kDirResource].rva;
    w.rsrc = info.sections.size();
    for (size_t i = 0; i < info.sections.size(); ++i) {
        if (oldRva != 0 && info.sections[i].virtualAddress == oldRva && info.sections[i].rawSize > 0) w.rsrc = i;
    }
    w.rawEnd = info.sizeOfHeaders;
    for (const Section& s : info.sections) {
        if (s.rawSize > 0) w.rawEnd = std::max<uint64_t>(w.rawEnd, uint64_t(s.rawPointer) + s.rawSize);
        w.imageEnd = std::max<uint64_t>(w.imageEnd, uint64_t(s.virtualAddress) + std::max(s.virtualSize, s.rawSize));
    }
    return true;
}

// The resource section ends the image: rewrite it at its size, moving whatever follows in the
// file (symbol table, overlay).
static bool RewriteLastSection(ResourceRewrite& w, const std::vector<Resource>& resources, Bytes& tree,
                               std::string& error) {
    Section& s = w.info.sections[w.rsrc];
    if (!BuildResourceSection(resources, s.virtualAddress, tree, error)) return false;
    uint64_t newRaw = AlignUp(tree.size(), w.info.fileAlignment);
    size_t start = s.rawPointer, oldEnd = start + s.rawSize;
    uint64_t newStart = AlignUp(start, w.rsrcFileAlignment);
    if (w.file.size() - s.rawSize + (newStart - start) + newRaw > 0xFFFFFFFFu) {
        error = "the packed file would exceed 4 GiB";
        return false;
    }
    Bytes rebuilt;
    rebuilt.reserve(size_t(w.file.size() - s.rawSize + (newStart - start) + newRaw));
    rebuilt.insert(rebuilt.end(), w.file.begin(), w.file.begin() + ptrdiff_t(start));
    rebuilt.resize(size_t(newStart), 0);
    rebuilt.insert(rebuilt.end(), tree.begin(), tree.end());
    rebuilt.resize(size_t(newStart + newRaw), 0);
    rebuilt.insert(rebuilt.end(), w.file.begin() + ptrdiff_t(oldEnd), w.file.end());
    w.file.swap(rebuilt);
    int64_t delta = int64_t(newStart - start) + int64_t(newRaw) - int64_t(s.rawSize);
    ShiftFileOffsets(w.file, w.info, oldEnd, delta, w.rsrc);
    s.rawPointer = uint32_t(newStart);
    Write32(w.file.data() + s.headerOffset + kSecPointerToRawData, s.rawPointer);
    if (s.characteristics & kScnInitializedData) AddInitializedData(w, int64_t(newRaw) - int64_t(s.rawSize));
    SetSectionSizes(w.file, s, uint32_t(tree.size()), uint32_t(newRaw));
    SetImageSize(w, uint64_t(s.virtualAddress) + tree.size());
    return true;
}

// Sections follow the resource section: it is reused when the new tree fits its room. When it
// does not, it is left in place emptied, since the sections after it cannot move, and `reused`
// is false.
static bool ReuseSection(ResourceRewrite& w, const std::vector<Resource>& resources, Bytes& tree, bool& reused,
                  std::string& error) {
    Section& s = w.info.sections[w.rsrc];
    uint64_t room = s.rawSize;
    for (const Section& other : w.info.sections) {
        if (other.virtualAddress > s.virtualAddress)
            room = std::min<uint64_t>(room, other.virtualAddress - s.virtualAddress);
    }
    if (!BuildResourceSection(resources, s.virtualAddress, tree, error)) return false;
    std::fill(w.file.begin() + s.rawPointer, w.file.begin() + s.rawPointer + s.rawSize, 0);
    reused = tree.size() <= room;
    if (!reused) return true;
    std::copy(tree.begin(), tree.end(), w.file.begin() + s.rawPointer);
    SetSectionSizes(w.file, s, uint32_t(tree.size()), s.rawSize);
    uint64_t end = uint64_t(s.virtualAddress) + tree.size();
    if (end > w.info.sizeOfImage) SetImageSize(w, end);
    return true;
}

// Makes room for one more section header, growing the headers by whole file-alignment units and
// moving all section data when the free room after the section table is too small.
static bool AddSectionHeaderRoom(ResourceRewrite& w, std::string& error) {
    PeInfo& info = w.info;
    size_t tableEnd = info.sectionTableOffset + kSectionHeaderSize * info.sections.size();
    size_t headerEnd = tableEnd + kSectionHeaderSize;
    uint64_t firstRaw = w.rawEnd;
    uint32_t lowestVa = 0xFFFFFFFFu;
    for (const Section& s : info.sections) {
        if (s.rawSize > 0) firstRaw = std::min<uint64_t>(firstRaw, s.rawPointer);
        lowestVa = std::min(lowestVa, s.virtualAddress);
    }
    if (info.sections.size() >= kMaxSections) {
        error = "the image already has the most sections Windows accepts";
        return false;
    }
    for (size_t i = tableEnd; i < std::min<uint64_t>(headerEnd, firstRaw); ++i) {
        if (w.file[i] != 0) {
            error = "no free room after the section table for another section";
            return false;
        }
    }
    uint64_t headers = std::max<uint64_t>(info.sizeOfHeaders, AlignUp(headerEnd, info.fileAlignment));
    if (headerEnd <= firstRaw && headers > firstRaw) {
        // The section data begins off the file alignment: headers that grow to a whole unit
        // would cover it, and moving it is not worth doing for an image no loader accepts.
        error = "malformed section table (section data not aligned to the file alignment)";
        return false;
    }
    if (headers > lowestVa) {
        error = "no room in the headers for another section";
        return false;
    }
    if (headerEnd > firstRaw) {
        uint64_t grow = AlignUp(headerEnd - firstRaw, info.fileAlignment);
        w.file.insert(w.file.begin() + ptrdiff_t(firstRaw), size_t(grow), 0);
        ShiftFileOffsets(w.file, info, size_t(firstRaw), int64_t(grow), info.sections.size());
        w.rawEnd += grow;
    }
    info.sizeOfHeaders = uint32_t(headers);
    Write32(w.file.data() + info.optionalOffset + kOptSizeOfHeaders, info.sizeOfHeaders);
    return true;
}

// Appends a new resource section at the end of the image and of the section data.
static bool AppendSection(ResourceRewrite& w, const std::vector<Resource>& resources, Bytes& tree, std::string& error) {
    PeInfo& info = w.info;
    if (!AddSectionHeaderRoom(w, error)) return false;
    const uint32_t sa = info.sectionAlignment;
    uint64_t va = std::max(AlignUp(w.imageEnd, sa), AlignUp(info.sizeOfImage, sa));
    if (va > 0xFFFFFFFFu) {
        error = "no room in the address space for another section";
        return false;
    }
    if (!BuildResourceSection(resources, uint32_t(va), tree, error)) return false;
    uint64_t rawPointer = AlignUp(w.rawEnd, w.rsrcFileAlignment);
    uint64_t newRaw = AlignUp(tree.size(), info.fileAlignment);
    uint64_t inserted = rawPointer - w.rawEnd + newRaw;
    if (w.file.size() + inserted > 0xFFFFFFFFu || va + tree.size() > 0xFFFFFFFFu) {
        error = "the packed file would exceed 4 GiB";
        return false;
    }
    w.file.insert(w.file.begin() + ptrdiff_t(w.rawEnd), size_t(inserted), 0);
    ShiftFileOffsets(w.file, info, size_t(w.rawEnd), int64_t(inserted), info.sections.size());
    std::copy(tree.begin(), tree.end(), w.file.begin() + ptrdiff_t(rawPointer));

    Section s;
    s.name = ".rsrc";
    s.headerOffset = info.sectionTableOffset + kSectionHeaderSize * info.sections.size();
    s.virtualAddress = uint32_t(va);
    s.rawPointer = uint32_t(rawPointer);
    s.characteristics = kScnInitializedData | kScnMemRead;
    uint8_t* h = w.file.data() + s.headerOffset;
    memset(h, 0, kSectionHeaderSize);
    memcpy(h, ".rsrc", 5);
    Write32(h + kSecVirtualAddress, s.virtualAddress);
    Write32(h + kSecPointerToRawData, s.rawPointer);
    Write32(h + kSecCharacteristics, s.characteristics);
    SetSectionSizes(w.file, s, uint32_t(tree.size()), uint32_t(newRaw));
    info.sections.push_back(s);
    Write16(w.file.data() + info.coffOffset + kCoffNumberOfSections, uint16_t(info.sections.size()));
    AddInitializedData(w, int64_t(newRaw));
    SetImageSize(w, va + tree.size());
    SetDirectory(w.file, info, kDirResource, uint32_t(va), uint32_t(tree.size()));
    return true;
}

bool WriteResources(Bytes& file, const std::vector<Resource>& resources, std::string& error) {
    ResourceRewrite w{file, PeInfo()};
    if (!StartRewrite(w, error)) return false;
    Bytes tree;
    bool placed = false;
    if (w.rsrc < w.info.sections.size()) {
        const Section& s = w.info.sections[w.rsrc];
        bool lastInMemory = uint64_t(s.virtualAddress) + std::max(s.virtualSize, s.rawSize) == w.imageEnd;
        bool lastInFile = uint64_t(s.rawPointer) + s.rawSize == w.rawEnd;
        bool alone = !RawOverlapsOther(w.info, w.rsrc, s.rawPointer, s.rawSize);
        if (alone && lastInMemory && lastInFile) {
            if (!RewriteLastSection(w, resources, tree, error)) return false;
            placed = true;
        } else if (alone && !ReuseSection(w, resources, tree, placed, error)) {
            return false;
        }
    }
    if (!placed && !AppendSection(w, resources, tree, error)) return false;
    if (placed) SetDirectory(file, w.info, kDirResource, w.info.sections[w.rsrc].virtualAddress, uint32_t(tree.size()));

    size_t checksumAt = ChecksumOffset(w.info);
    Write32(file.data() + checksumAt, 0);
    w.info.checksum = PeChecksum(file.data(), file.size(), checksumAt);
    Write32(file.data() + checksumAt, w.info.checksum);
    return true;
}
