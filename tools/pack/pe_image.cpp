#include "pe_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qpack {

namespace {

constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kMaxSections = 96;  // what the Windows loader accepts
constexpr uint32_t kScnInitializedData = 0x00000040;
constexpr uint32_t kScnMemRead = 0x40000000;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kDebugEntrySize = 28;
constexpr uint32_t kPageSize = 4096;
// Limits on what a resource tree may make us read, so that shared or looping subtrees in a
// crafted file cannot blow up time or memory.
constexpr size_t kMaxResourceEntries = 65536;
constexpr uint64_t kMaxResourceBytes = uint64_t(1) << 30;

uint16_t rd16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t rd32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t rd64(const uint8_t* p) { return uint64_t(rd32(p)) | uint64_t(rd32(p + 4)) << 32; }
void wr16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void wr32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

bool fits(size_t file_size, uint64_t offset, uint64_t length) {
    return offset <= file_size && length <= file_size - offset;
}

uint64_t align_up(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

bool power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

char16_t upper(char16_t c) {
    if (c >= u'a' && c <= u'z') return char16_t(c - 32);
    // Latin-1 letters; the rest of Unicode is left as is.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 32);
    return c;
}

int compare_upper(const std::u16string& a, const std::u16string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = upper(a[i]), y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return 0;
}

std::string hex32(uint32_t v) {
    char buf[16];
    int n = snprintf(buf, sizeof buf, "0x%X", unsigned(v));
    return (n > 0 && size_t(n) < sizeof buf) ? std::string(buf) : std::string("?");
}

}  // namespace

ResName ResName::number(uint16_t id) {
    ResName r;
    r.id = id;
    return r;
}

ResName ResName::string(const std::string& ascii) {
    ResName r;
    r.is_string = true;
    for (unsigned char c : ascii) r.text.push_back(char16_t(c));
    return r;
}

std::string ResName::display() const {
    if (!is_string) return std::to_string(id);
    std::string out;
    for (char16_t c : text) {
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

int compare_names(const ResName& a, const ResName& b) {
    if (a.is_string != b.is_string) return a.is_string ? -1 : 1;
    if (!a.is_string) return a.id == b.id ? 0 : (a.id < b.id ? -1 : 1);
    return compare_upper(a.text, b.text);
}

bool same_name(const ResName& a, const ResName& b) { return compare_names(a, b) == 0; }

bool PeInfo::rva_to_offset(uint32_t rva, uint32_t size, size_t file_size, size_t& offset) const {
    for (const Section& s : sections) {
        if (rva < s.virtual_address) continue;
        uint64_t rel = uint64_t(rva) - s.virtual_address;
        if (rel + size > s.raw_size) continue;
        uint64_t off = uint64_t(s.raw_pointer) + rel;
        if (!fits(file_size, off, size)) return false;
        offset = size_t(off);
        return true;
    }
    return false;
}

bool parse_pe(const Bytes& file, PeInfo& info, std::string& error) {
    info = PeInfo();
    const size_t size = file.size();
    const uint8_t* d = file.data();
    if (size < 64 || d[0] != 'M' || d[1] != 'Z') {
        error = "not a PE32+ executable (no MZ header)";
        return false;
    }
    uint32_t pe = rd32(d + 0x3C);
    if (!fits(size, pe, 4 + 20) || memcmp(d + pe, "PE\0\0", 4) != 0) {
        error = "not a PE32+ executable (no PE signature)";
        return false;
    }
    info.coff_offset = size_t(pe) + 4;
    const uint8_t* coff = d + info.coff_offset;
    uint16_t nsections = rd16(coff + 2);
    info.symbol_table_pointer = rd32(coff + 8);
    info.size_of_optional_header = rd16(coff + 16);
    info.optional_offset = info.coff_offset + 20;
    if (info.size_of_optional_header < 2 || !fits(size, info.optional_offset, 2)) {
        error = "not a PE32+ executable (no optional header)";
        return false;
    }
    const uint8_t* opt = d + info.optional_offset;
    uint16_t magic = rd16(opt);
    if (magic != kPe32PlusMagic) {
        error = magic == kPe32Magic ? "not a PE32+ executable (it is a 32-bit PE32 image)"
                                    : "not a PE32+ executable";
        return false;
    }
    if (info.size_of_optional_header < 112 ||
        !fits(size, info.optional_offset, info.size_of_optional_header)) {
        error = "truncated or malformed optional header";
        return false;
    }
    info.size_of_initialized_data = rd32(opt + 8);
    info.image_base = rd64(opt + 24);
    info.section_alignment = rd32(opt + 32);
    info.file_alignment = rd32(opt + 36);
    info.size_of_image = rd32(opt + 56);
    info.size_of_headers = rd32(opt + 60);
    info.checksum = rd32(opt + 64);
    info.number_of_rva_and_sizes = rd32(opt + 108);
    uint32_t ndirs = std::min<uint32_t>(info.number_of_rva_and_sizes, 16);
    if (112 + 8 * size_t(ndirs) > info.size_of_optional_header) {
        error = "malformed optional header (data directories do not fit)";
        return false;
    }
    for (uint32_t i = 0; i < ndirs; ++i) {
        info.dirs[i].rva = rd32(opt + 112 + 8 * i);
        info.dirs[i].size = rd32(opt + 116 + 8 * i);
    }
    if (!power_of_two(info.file_alignment) || !power_of_two(info.section_alignment) ||
        info.file_alignment > 0x10000 || info.section_alignment < info.file_alignment) {
        error = "malformed optional header (bad section or file alignment)";
        return false;
    }
    if (info.size_of_headers > size) {
        error = "truncated file (headers end at " + hex32(info.size_of_headers) + ")";
        return false;
    }
    if (nsections > kMaxSections) {
        error = "malformed section table (" + std::to_string(nsections) + " sections)";
        return false;
    }
    info.section_table_offset = info.optional_offset + info.size_of_optional_header;
    if (!fits(size, info.section_table_offset, kSectionHeaderSize * nsections)) {
        error = "truncated section table";
        return false;
    }
    // The headers must cover the section table: the rewrite places section data after them.
    if (info.size_of_headers < info.section_table_offset + kSectionHeaderSize * nsections) {
        error = "malformed optional header (headers end before the section table)";
        return false;
    }
    uint64_t previous_end = 0;
    for (uint16_t i = 0; i < nsections; ++i) {
        Section s;
        s.header_offset = info.section_table_offset + kSectionHeaderSize * i;
        const uint8_t* h = d + s.header_offset;
        size_t name_len = 0;
        while (name_len < 8 && h[name_len] != 0) ++name_len;
        s.name.assign(reinterpret_cast<const char*>(h), name_len);
        s.virtual_size = rd32(h + 8);
        s.virtual_address = rd32(h + 12);
        s.raw_size = rd32(h + 16);
        s.raw_pointer = rd32(h + 20);
        s.characteristics = rd32(h + 36);
        if (s.raw_size > 0 && !fits(size, s.raw_pointer, s.raw_size)) {
            error = "truncated file (section " + s.name + " extends past its end)";
            return false;
        }
        // Raw data inside the headers would have the rewrite move or overwrite the headers.
        if (s.raw_size > 0 && s.raw_pointer < info.size_of_headers) {
            error = "malformed section table (section " + s.name + " lies inside the headers)";
            return false;
        }
        uint64_t end = uint64_t(s.virtual_address) + std::max(s.virtual_size, s.raw_size);
        if (s.virtual_address < previous_end || end > 0xFFFFFFFFu) {
            error = "malformed section table (section " + s.name + " overlaps or is out of order)";
            return false;
        }
        previous_end = end;
        info.sections.push_back(s);
    }
    return true;
}

namespace {

class TreeReader {
public:
    TreeReader(const Bytes& file, const PeInfo& info, std::vector<Resource>& out)
        : file_(file), info_(info), out_(out) {}

    bool read(std::string& error) {
        base_ = info_.dirs[kDirResource].rva;
        if (base_ == 0) return true;  // no resources at all
        Resource partial;
        return directory(0, 0, partial, error);
    }

private:
    bool at(uint32_t offset, uint32_t length, const uint8_t*& p, std::string& error) {
        size_t off = 0;
        uint64_t rva = uint64_t(base_) + offset;
        if (rva > 0xFFFFFFFFu || !info_.rva_to_offset(uint32_t(rva), length, file_.size(), off)) {
            error = "malformed resource directory (offset " + hex32(offset) +
                    " lies outside the file's sections)";
            return false;
        }
        p = file_.data() + off;
        return true;
    }

    bool name_of(uint32_t raw, ResName& name, std::string& error) {
        if ((raw & 0x80000000u) == 0) {
            if (raw > 0xFFFF) {
                error = "malformed resource directory (ID " + hex32(raw) + " out of range)";
                return false;
            }
            name = ResName::number(uint16_t(raw));
            return true;
        }
        const uint8_t* p = nullptr;
        uint32_t offset = raw & 0x7FFFFFFFu;
        if (!at(offset, 2, p, error)) return false;
        uint16_t length = rd16(p);
        if (!at(offset, 2 + 2 * uint32_t(length), p, error)) return false;
        name.is_string = true;
        name.id = 0;
        name.text.clear();
        for (uint16_t i = 0; i < length; ++i) name.text.push_back(char16_t(rd16(p + 2 + 2 * i)));
        return true;
    }

    // depth 0: types, 1: names, 2: languages, whose entries point at data.
    bool directory(uint32_t offset, int depth, Resource& partial, std::string& error) {
        const uint8_t* p = nullptr;
        if (!at(offset, 16, p, error)) return false;
        uint32_t count = uint32_t(rd16(p + 12)) + rd16(p + 14);
        if (!at(offset, 16 + 8 * count, p, error)) return false;
        for (uint32_t i = 0; i < count; ++i) {
            if (++entries_ > kMaxResourceEntries) {
                error = "malformed resource directory (too many entries)";
                return false;
            }
            const uint8_t* e = p + 16 + 8 * i;
            uint32_t raw_name = rd32(e), target = rd32(e + 4);
            ResName name;
            if (!name_of(raw_name, name, error)) return false;
            bool is_dir = (target & 0x80000000u) != 0;
            if (is_dir != (depth < 2)) {
                error = "malformed resource directory (not three levels deep)";
                return false;
            }
            if (depth == 0) partial.type = name;
            if (depth == 1) partial.name = name;
            if (depth == 2) partial.lang = name;
            if (is_dir) {
                if (!directory(target & 0x7FFFFFFFu, depth + 1, partial, error)) return false;
            } else if (!data(target, partial, error)) {
                return false;
            }
        }
        return true;
    }

    bool data(uint32_t offset, const Resource& partial, std::string& error) {
        const uint8_t* p = nullptr;
        if (!at(offset, 16, p, error)) return false;
        uint32_t rva = rd32(p), length = rd32(p + 4);
        total_bytes_ += length;
        if (total_bytes_ > kMaxResourceBytes) {
            error = "malformed resource directory (more than 1 GiB of data)";
            return false;
        }
        size_t off = 0;
        if (!info_.rva_to_offset(rva, length, file_.size(), off)) {
            error = "malformed resource directory (data at RVA " + hex32(rva) + ", " +
                    std::to_string(length) + " bytes, lies outside the file's sections)";
            return false;
        }
        Resource r = partial;
        r.codepage = rd32(p + 8);
        r.data.assign(file_.begin() + ptrdiff_t(off), file_.begin() + ptrdiff_t(off + length));
        out_.push_back(std::move(r));
        return true;
    }

    const Bytes& file_;
    const PeInfo& info_;
    std::vector<Resource>& out_;
    uint32_t base_ = 0;
    size_t entries_ = 0;
    uint64_t total_bytes_ = 0;
};

}  // namespace

bool read_resources(const Bytes& file, const PeInfo& info, std::vector<Resource>& out,
                    std::string& error) {
    out.clear();
    TreeReader reader(file, info, out);
    return reader.read(error);
}

bool build_resource_section(std::vector<Resource> res, uint32_t base_rva, Bytes& out,
                            std::string& error) {
    std::stable_sort(res.begin(), res.end(), [](const Resource& a, const Resource& b) {
        int c = compare_names(a.type, b.type);
        if (c == 0) c = compare_names(a.name, b.name);
        if (c == 0) c = compare_names(a.lang, b.lang);
        return c < 0;
    });
    for (size_t i = 1; i < res.size(); ++i) {
        if (compare_names(res[i - 1].type, res[i].type) == 0 &&
            compare_names(res[i - 1].name, res[i].name) == 0 &&
            compare_names(res[i - 1].lang, res[i].lang) == 0) {
            error = "duplicate resource " + res[i].type.display() + "/" + res[i].name.display() +
                    " language " + res[i].lang.display();
            return false;
        }
    }

    // Group boundaries: the first resource of each type, and of each (type, name).
    std::vector<size_t> type_starts, name_starts;
    for (size_t i = 0; i < res.size(); ++i) {
        bool new_type = i == 0 || compare_names(res[i - 1].type, res[i].type) != 0;
        if (new_type) type_starts.push_back(i);
        if (new_type || compare_names(res[i - 1].name, res[i].name) != 0) name_starts.push_back(i);
    }

    // Layout, as resource compilers do it: all directory tables (root, types, names), then the
    // data entries, then the name strings, then the data itself, each piece 8-byte aligned.
    uint64_t dir_size = 16 + 8 * uint64_t(type_starts.size());
    dir_size += 16 * uint64_t(type_starts.size()) + 8 * uint64_t(name_starts.size());
    dir_size += 16 * uint64_t(name_starts.size()) + 8 * uint64_t(res.size());
    uint64_t data_entries = dir_size;
    uint64_t strings = data_entries + 16 * uint64_t(res.size());
    uint64_t strings_end = strings;
    auto string_size = [](const ResName& n) { return n.is_string ? 2 + 2 * n.text.size() : 0; };
    for (size_t t : type_starts) strings_end += string_size(res[t].type);
    for (size_t n : name_starts) strings_end += string_size(res[n].name);
    for (const Resource& r : res) strings_end += string_size(r.lang);
    uint64_t total = align_up(strings_end, 8);
    for (const Resource& r : res) total = align_up(total + r.data.size(), 8);
    if (total > 0x7FFFFFFFu || uint64_t(base_rva) + total > 0xFFFFFFFFu) {
        error = "resources too large (" + std::to_string(total) + " bytes)";
        return false;
    }
    out.assign(size_t(total), 0);
    uint8_t* o = out.data();

    uint32_t string_pos = uint32_t(strings);
    auto put_name = [&](uint8_t* entry, const ResName& n) {
        if (!n.is_string) {
            wr32(entry, n.id);
            return;
        }
        wr32(entry, 0x80000000u | string_pos);
        wr16(o + string_pos, uint16_t(n.text.size()));
        for (size_t i = 0; i < n.text.size(); ++i) wr16(o + string_pos + 2 + 2 * i, n.text[i]);
        string_pos += uint32_t(2 + 2 * n.text.size());
    };
    auto put_dir_header = [&](uint32_t at, const std::vector<const ResName*>& names) {
        uint16_t named = 0, ids = 0;
        for (const ResName* n : names) ++(n->is_string ? named : ids);
        wr16(o + at + 12, named);
        wr16(o + at + 14, ids);
    };

    // Offsets of each type directory and each name directory.
    uint32_t pos = uint32_t(16 + 8 * type_starts.size());
    std::vector<uint32_t> type_dir_at, name_dir_at;
    for (size_t ti = 0; ti < type_starts.size(); ++ti) {
        type_dir_at.push_back(pos);
        size_t end = ti + 1 < type_starts.size() ? type_starts[ti + 1] : res.size();
        size_t names = 0;
        for (size_t n : name_starts) names += (n >= type_starts[ti] && n < end);
        pos += uint32_t(16 + 8 * names);
    }
    for (size_t ni = 0; ni < name_starts.size(); ++ni) {
        name_dir_at.push_back(pos);
        size_t end = ni + 1 < name_starts.size() ? name_starts[ni + 1] : res.size();
        pos += uint32_t(16 + 8 * (end - name_starts[ni]));
    }

    // Root.
    std::vector<const ResName*> names;
    for (size_t t : type_starts) names.push_back(&res[t].type);
    put_dir_header(0, names);
    for (size_t ti = 0; ti < type_starts.size(); ++ti) {
        put_name(o + 16 + 8 * ti, res[type_starts[ti]].type);
        wr32(o + 16 + 8 * ti + 4, 0x80000000u | type_dir_at[ti]);
    }
    // Type directories.
    size_t ni = 0;
    for (size_t ti = 0; ti < type_starts.size(); ++ti) {
        size_t end = ti + 1 < type_starts.size() ? type_starts[ti + 1] : res.size();
        names.clear();
        size_t first = ni;
        while (ni < name_starts.size() && name_starts[ni] < end) names.push_back(&res[name_starts[ni++]].name);
        put_dir_header(type_dir_at[ti], names);
        for (size_t k = first; k < ni; ++k) {
            uint8_t* entry = o + type_dir_at[ti] + 16 + 8 * (k - first);
            put_name(entry, res[name_starts[k]].name);
            wr32(entry + 4, 0x80000000u | name_dir_at[k]);
        }
    }
    // Name directories, pointing at data entries.
    for (size_t k = 0; k < name_starts.size(); ++k) {
        size_t end = k + 1 < name_starts.size() ? name_starts[k + 1] : res.size();
        names.clear();
        for (size_t i = name_starts[k]; i < end; ++i) names.push_back(&res[i].lang);
        put_dir_header(name_dir_at[k], names);
        for (size_t i = name_starts[k]; i < end; ++i) {
            uint8_t* entry = o + name_dir_at[k] + 16 + 8 * (i - name_starts[k]);
            put_name(entry, res[i].lang);
            wr32(entry + 4, uint32_t(data_entries + 16 * i));
        }
    }
    // Data entries and data.
    uint64_t data_pos = align_up(strings_end, 8);
    for (size_t i = 0; i < res.size(); ++i) {
        uint8_t* entry = o + data_entries + 16 * i;
        wr32(entry, uint32_t(base_rva + data_pos));
        wr32(entry + 4, uint32_t(res[i].data.size()));
        wr32(entry + 8, res[i].codepage);
        if (!res[i].data.empty()) memcpy(o + data_pos, res[i].data.data(), res[i].data.size());
        data_pos = align_up(data_pos + res[i].data.size(), 8);
    }
    return true;
}

void put_resource(std::vector<Resource>& set, Resource res) {
    set.erase(std::remove_if(set.begin(), set.end(),
                             [&](const Resource& r) {
                                 return same_name(r.type, res.type) && same_name(r.name, res.name);
                             }),
              set.end());
    set.push_back(std::move(res));
}

uint32_t pe_checksum(const uint8_t* data, size_t size, size_t checksum_offset) {
    uint32_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        uint32_t word = data[i];
        if (i + 1 < size) word |= uint32_t(data[i + 1]) << 8;
        // The checksum field's two words count as zero.
        if (i >= checksum_offset && i < checksum_offset + 4) word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return sum + uint32_t(size);
}

namespace {

// Moves every file offset at or past `threshold` by `delta` after bytes were inserted or removed
// there: section data, the COFF symbol table, and the debug data that the debug directory points
// at. `skip` is a section whose header the caller sets itself.
void shift_file_offsets(Bytes& file, PeInfo& info, size_t threshold, int64_t delta, size_t skip) {
    for (size_t i = 0; i < info.sections.size(); ++i) {
        Section& s = info.sections[i];
        if (i == skip || s.raw_size == 0 || s.raw_pointer < threshold) continue;
        s.raw_pointer = uint32_t(int64_t(s.raw_pointer) + delta);
        wr32(file.data() + s.header_offset + 20, s.raw_pointer);
    }
    if (info.symbol_table_pointer != 0 && info.symbol_table_pointer >= threshold) {
        info.symbol_table_pointer = uint32_t(int64_t(info.symbol_table_pointer) + delta);
        wr32(file.data() + info.coff_offset + 8, info.symbol_table_pointer);
    }
    const DataDirectory& debug = info.dirs[kDirDebug];
    size_t at = 0;
    if (debug.rva != 0 && debug.size >= kDebugEntrySize &&
        info.rva_to_offset(debug.rva, debug.size, file.size(), at)) {
        for (size_t e = 0; e + kDebugEntrySize <= debug.size; e += kDebugEntrySize) {
            uint8_t* pointer = file.data() + at + e + 24;
            uint32_t v = rd32(pointer);
            if (v != 0 && v >= threshold) wr32(pointer, uint32_t(int64_t(v) + delta));
        }
    }
}

// Whether another section's file data overlaps [start, start + length).
bool raw_overlaps_other(const PeInfo& info, size_t self, uint64_t start, uint64_t length) {
    for (size_t i = 0; i < info.sections.size(); ++i) {
        const Section& s = info.sections[i];
        if (i == self || s.raw_size == 0) continue;
        if (s.raw_pointer < start + length && start < uint64_t(s.raw_pointer) + s.raw_size) return true;
    }
    return false;
}

void set_directory(Bytes& file, PeInfo& info, int index, uint32_t rva, uint32_t size) {
    info.dirs[index] = {rva, size};
    wr32(file.data() + info.directory_offset(index), rva);
    wr32(file.data() + info.directory_offset(index) + 4, size);
}

void set_section_sizes(Bytes& file, Section& s, uint32_t virtual_size, uint32_t raw_size) {
    s.virtual_size = virtual_size;
    s.raw_size = raw_size;
    wr32(file.data() + s.header_offset + 8, virtual_size);
    wr32(file.data() + s.header_offset + 16, raw_size);
}

}  // namespace

bool write_resources(Bytes& file, const std::vector<Resource>& resources, std::string& error) {
    PeInfo info;
    if (!parse_pe(file, info, error)) return false;
    if (info.number_of_rva_and_sizes <= kDirResource) {
        error = "the optional header has no resource directory entry";
        return false;
    }
    if (info.number_of_rva_and_sizes > kDirSecurity &&
        (info.dirs[kDirSecurity].rva != 0 || info.dirs[kDirSecurity].size != 0)) {
        error = "carries a code signature, which packing would break; pack the unsigned exe and "
                "sign the result";
        return false;
    }

    const uint32_t fa = info.file_alignment, sa = info.section_alignment;
    // The resource section's data starts on a page boundary in the file, so that a loader can map
    // it instead of reading it whole at every start, as Wine does for an unaligned one: with a jar
    // of 64 MiB inside, that read costs each start about half a second. Images mapped flat
    // (section alignment below a page) must keep file offsets equal to their RVAs.
    const uint32_t rsrc_file_alignment = sa >= kPageSize ? std::max(fa, kPageSize) : fa;
    const uint32_t old_rva = info.dirs[kDirResource].rva;
    size_t rsrc = info.sections.size();  // the section that holds only the resources, if any
    for (size_t i = 0; i < info.sections.size(); ++i) {
        if (old_rva != 0 && info.sections[i].virtual_address == old_rva && info.sections[i].raw_size > 0) rsrc = i;
    }
    uint64_t raw_end = info.size_of_headers;  // end of all section data in the file
    uint64_t image_end = 0;                   // end of all sections in memory
    for (const Section& s : info.sections) {
        if (s.raw_size > 0) raw_end = std::max<uint64_t>(raw_end, uint64_t(s.raw_pointer) + s.raw_size);
        image_end = std::max<uint64_t>(image_end, uint64_t(s.virtual_address) + std::max(s.virtual_size, s.raw_size));
    }
    auto bump_initialized = [&](int64_t delta) {
        info.size_of_initialized_data = uint32_t(int64_t(info.size_of_initialized_data) + delta);
        wr32(file.data() + info.optional_offset + 8, info.size_of_initialized_data);
    };
    auto set_image_size = [&](uint64_t end) {
        info.size_of_image = uint32_t(align_up(end, sa));
        wr32(file.data() + info.optional_offset + 56, info.size_of_image);
    };

    Bytes tree;
    bool done = false;
    if (rsrc < info.sections.size()) {
        Section& s = info.sections[rsrc];
        bool last_in_memory = uint64_t(s.virtual_address) + std::max(s.virtual_size, s.raw_size) == image_end;
        bool last_in_file = uint64_t(s.raw_pointer) + s.raw_size == raw_end;
        bool alone = !raw_overlaps_other(info, rsrc, s.raw_pointer, s.raw_size);
        if (alone && last_in_memory && last_in_file) {
            // The resource section ends the image: rewrite it at its size, moving whatever
            // follows in the file (symbol table, overlay).
            if (!build_resource_section(resources, s.virtual_address, tree, error)) return false;
            uint64_t new_raw = align_up(tree.size(), fa);
            size_t start = s.raw_pointer, old_end = start + s.raw_size;
            uint64_t new_start = align_up(start, rsrc_file_alignment);
            if (file.size() - s.raw_size + (new_start - start) + new_raw > 0xFFFFFFFFu) {
                error = "the packed file would exceed 4 GiB";
                return false;
            }
            Bytes rebuilt;
            rebuilt.reserve(size_t(file.size() - s.raw_size + (new_start - start) + new_raw));
            rebuilt.insert(rebuilt.end(), file.begin(), file.begin() + ptrdiff_t(start));
            rebuilt.resize(size_t(new_start), 0);
            rebuilt.insert(rebuilt.end(), tree.begin(), tree.end());
            rebuilt.resize(size_t(new_start + new_raw), 0);
            rebuilt.insert(rebuilt.end(), file.begin() + ptrdiff_t(old_end), file.end());
            file.swap(rebuilt);
            int64_t delta = int64_t(new_start - start) + int64_t(new_raw) - int64_t(s.raw_size);
            shift_file_offsets(file, info, old_end, delta, rsrc);
            s.raw_pointer = uint32_t(new_start);
            wr32(file.data() + s.header_offset + 20, s.raw_pointer);
            if (s.characteristics & kScnInitializedData) bump_initialized(int64_t(new_raw) - int64_t(s.raw_size));
            set_section_sizes(file, s, uint32_t(tree.size()), uint32_t(new_raw));
            set_image_size(uint64_t(s.virtual_address) + tree.size());
            done = true;
        } else if (alone) {
            // Sections follow it; it can still be reused when the new tree fits its room.
            uint64_t room = s.raw_size;
            for (const Section& other : info.sections) {
                if (other.virtual_address > s.virtual_address)
                    room = std::min<uint64_t>(room, other.virtual_address - s.virtual_address);
            }
            if (!build_resource_section(resources, s.virtual_address, tree, error)) return false;
            if (tree.size() <= room) {
                std::fill(file.begin() + s.raw_pointer, file.begin() + s.raw_pointer + s.raw_size, 0);
                std::copy(tree.begin(), tree.end(), file.begin() + s.raw_pointer);
                set_section_sizes(file, s, uint32_t(tree.size()), s.raw_size);
                if (uint64_t(s.virtual_address) + tree.size() > info.size_of_image)
                    set_image_size(uint64_t(s.virtual_address) + tree.size());
                done = true;
            } else {
                // Moving to a new section: the old one is left in place, emptied, since the
                // sections after it cannot move.
                std::fill(file.begin() + s.raw_pointer, file.begin() + s.raw_pointer + s.raw_size, 0);
            }
        }
    }

    if (!done) {
        // Append a new section at the end of the image and of the section data.
        size_t table_end = info.section_table_offset + kSectionHeaderSize * info.sections.size();
        size_t header_end = table_end + kSectionHeaderSize;
        uint64_t first_raw = raw_end;
        uint32_t lowest_va = 0xFFFFFFFFu;
        for (const Section& s : info.sections) {
            if (s.raw_size > 0) first_raw = std::min<uint64_t>(first_raw, s.raw_pointer);
            lowest_va = std::min(lowest_va, s.virtual_address);
        }
        if (info.sections.size() >= kMaxSections) {
            error = "the image already has the most sections Windows accepts";
            return false;
        }
        for (size_t i = table_end; i < std::min<uint64_t>(header_end, first_raw); ++i) {
            if (file[i] != 0) {
                error = "no free room after the section table for another section";
                return false;
            }
        }
        uint64_t headers = std::max<uint64_t>(info.size_of_headers, align_up(header_end, fa));
        if (header_end <= first_raw && headers > first_raw) {
            // The section data begins off the file alignment: headers that grow to a whole unit
            // would cover it, and moving it is not worth doing for an image no loader accepts.
            error = "malformed section table (section data not aligned to the file alignment)";
            return false;
        }
        if (headers > lowest_va) {
            error = "no room in the headers for another section";
            return false;
        }
        if (header_end > first_raw) {
            // Grow the headers by whole file-alignment units, moving all section data.
            uint64_t grow = align_up(header_end - first_raw, fa);
            file.insert(file.begin() + ptrdiff_t(first_raw), size_t(grow), 0);
            shift_file_offsets(file, info, size_t(first_raw), int64_t(grow), info.sections.size());
            raw_end += grow;
        }
        info.size_of_headers = uint32_t(headers);
        wr32(file.data() + info.optional_offset + 60, info.size_of_headers);

        uint64_t va = std::max(align_up(image_end, sa), align_up(info.size_of_image, sa));
        if (va > 0xFFFFFFFFu) {
            error = "no room in the address space for another section";
            return false;
        }
        if (!build_resource_section(resources, uint32_t(va), tree, error)) return false;
        uint64_t raw_pointer = align_up(raw_end, rsrc_file_alignment);
        uint64_t new_raw = align_up(tree.size(), fa);
        uint64_t inserted = raw_pointer - raw_end + new_raw;
        if (file.size() + inserted > 0xFFFFFFFFu || va + tree.size() > 0xFFFFFFFFu) {
            error = "the packed file would exceed 4 GiB";
            return false;
        }
        file.insert(file.begin() + ptrdiff_t(raw_end), size_t(inserted), 0);
        shift_file_offsets(file, info, size_t(raw_end), int64_t(inserted), info.sections.size());
        std::copy(tree.begin(), tree.end(), file.begin() + ptrdiff_t(raw_pointer));

        Section s;
        s.name = ".rsrc";
        s.header_offset = table_end;
        s.virtual_address = uint32_t(va);
        s.raw_pointer = uint32_t(raw_pointer);
        s.characteristics = kScnInitializedData | kScnMemRead;
        uint8_t* h = file.data() + table_end;
        memset(h, 0, kSectionHeaderSize);
        memcpy(h, ".rsrc", 5);
        wr32(h + 12, s.virtual_address);
        wr32(h + 20, s.raw_pointer);
        wr32(h + 36, s.characteristics);
        set_section_sizes(file, s, uint32_t(tree.size()), uint32_t(new_raw));
        info.sections.push_back(s);
        wr16(file.data() + info.coff_offset + 2, uint16_t(info.sections.size()));
        bump_initialized(int64_t(new_raw));
        set_image_size(va + tree.size());
        set_directory(file, info, kDirResource, uint32_t(va), uint32_t(tree.size()));
    } else {
        set_directory(file, info, kDirResource, info.sections[rsrc].virtual_address, uint32_t(tree.size()));
    }

    wr32(file.data() + info.checksum_offset(), 0);
    info.checksum = pe_checksum(file.data(), file.size(), info.checksum_offset());
    wr32(file.data() + info.checksum_offset(), info.checksum);
    return true;
}

}  // namespace qpack
