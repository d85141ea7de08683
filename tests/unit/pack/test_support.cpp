#include "test_support.h"

#include <gtest/gtest.h>

#include "pack/pack_tool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace packtest {

namespace fs = std::filesystem;

std::string fixture(const std::string& name) { return std::string(PACK_FIXTURE_DIR) + "/" + name; }
std::string source_fixture(const std::string& name) {
    return std::string(PACK_SOURCE_FIXTURE_DIR) + "/" + name;
}

Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes text(const std::string& s, bool terminated) {
    Bytes b(s.begin(), s.end());
    if (terminated) b.push_back(0);
    return b;
}

TempDir::TempDir() {
    std::random_device rd;
    for (int i = 0; i < 100 && dir_.empty(); ++i) {
        fs::path p = fs::temp_directory_path() / ("packtest-" + std::to_string(rd()));
        if (fs::create_directory(p)) dir_ = p.string();
    }
    if (dir_.empty()) throw std::runtime_error("cannot make a temp folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::vector<std::string> TempDir::entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
}

uint16_t get16(const Bytes& b, size_t at) { return uint16_t(b.at(at) | b.at(at + 1) << 8); }
uint32_t get32(const Bytes& b, size_t at) { return uint32_t(get16(b, at)) | uint32_t(get16(b, at + 2)) << 16; }
void set16(Bytes& b, size_t at, uint16_t v) {
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}
void set32(Bytes& b, size_t at, uint32_t v) {
    set16(b, at, uint16_t(v));
    set16(b, at + 2, uint16_t(v >> 16));
}

size_t optional_header_offset(const Bytes& image) { return get32(image, 0x3C) + 24; }

std::vector<RawSection> raw_sections(const Bytes& image) {
    size_t coff = get32(image, 0x3C) + 4;
    size_t table = coff + 20 + get16(image, coff + 16);
    std::vector<RawSection> out;
    for (size_t i = 0; i < get16(image, coff + 2); ++i) {
        size_t h = table + 40 * i;
        RawSection s;
        s.name.assign(reinterpret_cast<const char*>(&image.at(h)), strnlen(reinterpret_cast<const char*>(&image.at(h)), 8));
        s.vsize = get32(image, h + 8);
        s.va = get32(image, h + 12);
        s.rawSize = get32(image, h + 16);
        s.rawPointer = get32(image, h + 20);
        s.characteristics = get32(image, h + 36);
        out.push_back(s);
    }
    return out;
}

uint32_t reference_checksum(const Bytes& image) {
    size_t field = optional_header_offset(image) + 64;
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        if (i == field || i == field + 2) continue;
        sum += image[i] + (i + 1 < image.size() ? uint32_t(image[i + 1]) << 8 : 0);
    }
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum) + uint32_t(image.size());
}

namespace {

// File offset of an RVA, or SIZE_MAX.
size_t file_offset(const Bytes& image, uint32_t rva) {
    for (const RawSection& s : raw_sections(image)) {
        if (rva >= s.va && rva - s.va < s.rawSize) return s.rawPointer + (rva - s.va);
    }
    return SIZE_MAX;
}

std::u16string upper16(const std::string& s) {
    std::u16string out;
    for (char c : s) out.push_back(char16_t(c >= 'a' && c <= 'z' ? c - 32 : c));
    return out;
}

// Binary search in one directory; returns the entry's target or nullopt.
std::optional<uint32_t> find_entry(const Bytes& image, size_t base, uint32_t dir, const std::string& key) {
    size_t d = base + dir;
    uint16_t named = get16(image, d + 12), ids = get16(image, d + 14);
    size_t first = d + 16;
    if (!key.empty() && key[0] == '#') {
        uint32_t id = uint32_t(std::stoul(key.substr(1)));
        size_t lo = 0, hi = ids;
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            uint32_t v = get32(image, first + 8 * (named + mid));
            if (v == id) return get32(image, first + 8 * (named + mid) + 4);
            if (v < id) lo = mid + 1; else hi = mid;
        }
        return std::nullopt;
    }
    std::u16string want = upper16(key);
    size_t lo = 0, hi = named;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        uint32_t str = base + (get32(image, first + 8 * mid) & 0x7FFFFFFF);
        std::u16string got;
        for (uint16_t i = 0; i < get16(image, str); ++i) {
            char16_t c = get16(image, str + 2 + 2 * i);
            got.push_back(c >= u'a' && c <= u'z' ? char16_t(c - 32) : c);
        }
        if (got == want) return get32(image, first + 8 * mid + 4);
        if (got < want) lo = mid + 1; else hi = mid;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Bytes> find_like_windows(const Bytes& image, const std::string& type,
                                       const std::string& name, uint16_t lang) {
    uint32_t rva = get32(image, optional_header_offset(image) + 112 + 16);
    size_t base = file_offset(image, rva);
    if (rva == 0 || base == SIZE_MAX) return std::nullopt;
    auto t = find_entry(image, base, 0, type);
    if (!t || !(*t & 0x80000000)) return std::nullopt;
    auto n = find_entry(image, base, *t & 0x7FFFFFFF, name);
    if (!n || !(*n & 0x80000000)) return std::nullopt;
    auto l = find_entry(image, base, *n & 0x7FFFFFFF, "#" + std::to_string(lang));
    if (!l || (*l & 0x80000000)) return std::nullopt;
    size_t entry = base + *l;
    size_t data = file_offset(image, get32(image, entry));
    uint32_t size = get32(image, entry + 4);
    if (data == SIZE_MAX || data + size > image.size()) return std::nullopt;
    return Bytes(image.begin() + long(data), image.begin() + long(data + size));
}

uint32_t synth_section_va(const SynthImage& spec, size_t i) {
    uint32_t va = spec.sectionAlignment;
    for (size_t k = 0; k < i; ++k) {
        uint32_t size = spec.sections[k].vsize ? spec.sections[k].vsize : uint32_t(spec.sections[k].raw.size());
        va += (size + spec.sectionAlignment - 1) / spec.sectionAlignment * spec.sectionAlignment;
        if (size == 0) va += spec.sectionAlignment;
    }
    return va;
}

Bytes make_image(const SynthImage& spec) {
    const uint32_t fa = spec.fileAlignment, sa = spec.sectionAlignment;
    auto align = [](size_t v, size_t a) { return (v + a - 1) / a * a; };
    const size_t pe = 0x40, opt = pe + 24, table = opt + 240;
    size_t headers = align(table + 40 * spec.sections.size() + spec.header_padding, fa);
    Bytes img(headers, 0);
    img[0] = 'M';
    img[1] = 'Z';
    set32(img, 0x3C, pe);
    memcpy(&img[pe], "PE\0\0", 4);
    set16(img, pe + 4, 0x8664);
    set16(img, pe + 6, uint16_t(spec.sections.size()));
    set16(img, pe + 20, 240);
    set16(img, pe + 22, 0x22);
    set16(img, opt, 0x20B);
    set32(img, opt + 16, 0x1000);                  // entry point
    img[opt + 24 + 4] = 0x40;                      // image base 0x140000000
    img[opt + 24 + 5] = 0x01;
    set32(img, opt + 32, sa);
    set32(img, opt + 36, fa);
    set16(img, opt + 48, 6);                       // subsystem version
    set32(img, opt + 60, uint32_t(headers));
    set16(img, opt + 68, 3);                       // console
    set32(img, opt + 108, 16);
    uint32_t image_end = sa;
    uint32_t initialized = 0;
    for (size_t i = 0; i < spec.sections.size(); ++i) {
        const SynthSection& s = spec.sections[i];
        uint32_t va = synth_section_va(spec, i);
        uint32_t vsize = s.vsize ? s.vsize : uint32_t(s.raw.size());
        size_t rawSize = align(s.raw.size(), fa);
        size_t h = table + 40 * i;
        memcpy(&img[h], s.name.data(), std::min<size_t>(8, s.name.size()));
        set32(img, h + 8, vsize);
        set32(img, h + 12, va);
        set32(img, h + 16, uint32_t(rawSize));
        set32(img, h + 20, rawSize ? uint32_t(img.size()) : 0);
        set32(img, h + 36, s.characteristics);
        img.insert(img.end(), s.raw.begin(), s.raw.end());
        img.resize(align(img.size(), fa), 0);
        image_end = uint32_t(align(va + std::max<size_t>(vsize, 1), sa));
        if (s.characteristics & 0x40) initialized += uint32_t(rawSize);
        if (int(i) == spec.resource_section) {
            set32(img, opt + 112 + 16, va);
            set32(img, opt + 112 + 20, vsize);
        }
    }
    set32(img, opt + 8, initialized);
    set32(img, opt + 56, image_end);
    set32(img, opt + 112 + 32, spec.certificate_offset);
    set32(img, opt + 112 + 36, spec.certificate_size);
    set32(img, opt + 112 + 48, spec.debug_rva);
    set32(img, opt + 112 + 52, spec.debug_size);
    img.insert(img.end(), spec.overlay.begin(), spec.overlay.end());
    set32(img, opt + 64, reference_checksum(img));
    return img;
}

Bytes one_resource_tree(uint32_t base_rva, uint16_t type, uint16_t name, uint16_t lang,
                        const Bytes& data) {
    // root @0, type dir @24, name dir @48, data entry @72, data @88
    Bytes t(88, 0);
    set16(t, 14, 1);
    set32(t, 16, type);
    set32(t, 20, 0x80000000u | 24);
    set16(t, 24 + 14, 1);
    set32(t, 24 + 16, name);
    set32(t, 24 + 20, 0x80000000u | 48);
    set16(t, 48 + 14, 1);
    set32(t, 48 + 16, lang);
    set32(t, 48 + 20, 72);
    set32(t, 72, base_rva + 88);
    set32(t, 76, uint32_t(data.size()));
    // resize and copy rather than insert: GCC 12 at -O3 warns falsely about the insert.
    t.resize(88 + data.size());
    std::copy(data.begin(), data.end(), t.begin() + 88);
    return t;
}

static std::string Slurp(FILE* f) {
    std::string s;
    rewind(f);
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

Outcome RunCaptured(const std::vector<std::string>& args, const std::string& defaultLauncher) {
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    Outcome r;
    if (out == nullptr || err == nullptr) {
        ADD_FAILURE() << "tmpfile failed";
        return r;
    }
    r.status = RunPackTool(args, defaultLauncher, out, err);
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
}

}  // namespace packtest
