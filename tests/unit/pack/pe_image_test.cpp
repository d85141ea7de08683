#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "pack/pe_image.h"
#include "test_support.h"

namespace {

using namespace packtest;

Resource res(const std::string& type, uint16_t id, Bytes data, uint16_t lang = 1033) {
    Resource r;
    r.type = StringName(type);
    r.name = NumericName(id);
    r.lang = NumericName(lang);
    r.data = std::move(data);
    return r;
}

std::vector<Resource> read_all(const Bytes& image) {
    PeInfo info;
    std::string error;
    std::vector<Resource> out;
    EXPECT_TRUE(ParsePe(image, info, error)) << error;
    EXPECT_TRUE(ReadResources(image, info, out, error)) << error;
    return out;
}

// Reads the resources, applies `added` and rewrites them, as the tool does.
Bytes pack(Bytes image, const std::vector<Resource>& added) {
    std::vector<Resource> all = read_all(image);
    for (const Resource& r : added) PutResource(all, r);
    std::string error;
    EXPECT_TRUE(WriteResources(image, all, error)) << error;
    return image;
}

uint32_t align(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// Header fields that must agree with the section table after any rewrite.
void expect_consistent_headers(const Bytes& image) {
    size_t opt = optional_header_offset(image);
    uint32_t sa = get32(image, opt + 32), fa = get32(image, opt + 36);
    std::vector<RawSection> sections = raw_sections(image);
    ASSERT_FALSE(sections.empty());
    uint32_t end = 0;
    for (const RawSection& s : sections) {
        EXPECT_EQ(s.rawSize % fa, 0u) << s.name;
        EXPECT_EQ(s.rawPointer % fa, 0u) << s.name;
        EXPECT_LE(uint64_t(s.rawPointer) + s.rawSize, image.size()) << s.name;
        end = std::max(end, s.va + std::max(s.vsize, s.rawSize));
    }
    EXPECT_EQ(get32(image, opt + 56), align(end, sa)) << "SizeOfImage";
    EXPECT_EQ(get32(image, opt + 64), reference_checksum(image)) << "CheckSum";
    uint32_t rsrc_rva = get32(image, opt + 128), rsrc_size = get32(image, opt + 132);
    bool inside = false;
    for (const RawSection& s : sections) {
        if (rsrc_rva == s.va && rsrc_size <= s.vsize && s.vsize <= s.rawSize) inside = true;
    }
    EXPECT_TRUE(inside) << "the resource directory must start a section and fit it";
    EXPECT_LE(get32(image, 0x3C) + 24 + 240 + 40 * sections.size(), get32(image, opt + 60))
        << "section table inside SizeOfHeaders";
}

const Bytes kManifest = read_bytes(source_fixture("fixture.manifest"));

class PackFixture : public ::testing::TestWithParam<const char*> {
protected:
    Bytes original = read_bytes(fixture(GetParam()));
};

TEST_P(PackFixture, ReadsWhatWindresWrote) {
    std::vector<Resource> all = read_all(original);
    ASSERT_EQ(all.size(), 6u);
    auto manifest = find_like_windows(original, "#24", "#1", 1033);
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(*manifest, kManifest);
    bool saw_manifest = false, saw_old_main = false, saw_named = false;
    for (const Resource& r : all) {
        if (!r.type.isString && r.type.id == 24) {
            saw_manifest = true;
            EXPECT_EQ(r.data, kManifest);
            EXPECT_EQ(r.lang.id, 1033);
        }
        if (DisplayName(r.type) == "MAIN-CLASS") {
            saw_old_main = true;
            EXPECT_EQ(r.lang.id, 0x407);
            EXPECT_EQ(r.data, text("old.Main"));
        }
        if (DisplayName(r.type) == "ZETA") {
            saw_named = true;
            EXPECT_EQ(DisplayName(r.name), "ALPHA");  // windres upper-cases names
        }
    }
    EXPECT_TRUE(saw_manifest && saw_old_main && saw_named);
}

TEST_P(PackFixture, ChecksumAgreesWithTheLinkers) {
    size_t field = optional_header_offset(original) + 64;
    uint32_t stored = get32(original, field);
    ASSERT_NE(stored, 0u) << "ld is expected to set the checksum";
    EXPECT_EQ(PeChecksum(original.data(), original.size(), field), stored);
    EXPECT_EQ(reference_checksum(original), stored);
}

TEST_P(PackFixture, RoundTripKeepsOthersAndReplacesLanguages) {
    Bytes jar(70000);
    std::mt19937 rng(7);
    for (uint8_t& b : jar) b = uint8_t(rng());
    Bytes packed = pack(original, {res("CLASSES", 1000, jar), res("MAIN-CLASS", 3000, text("com.example.Main")),
                                   res("VM-OPTIONS", 5000, text("-Xmx1g"))});
    expect_consistent_headers(packed);

    std::vector<Resource> all = read_all(packed);
    EXPECT_EQ(all.size(), 8u);
    for (const Resource& r : all) {
        if (DisplayName(r.type) == "MAIN-CLASS") {
            EXPECT_EQ(r.lang.id, 1033) << "the German one must be gone";
            EXPECT_EQ(r.name.id, 3000);
        }
    }
    EXPECT_EQ(find_like_windows(packed, "CLASSES", "#1000", 1033), jar);
    EXPECT_EQ(find_like_windows(packed, "MAIN-CLASS", "#3000", 1033), text("com.example.Main"));
    EXPECT_FALSE(find_like_windows(packed, "MAIN-CLASS", "#3000", 0x407).has_value());
    EXPECT_EQ(find_like_windows(packed, "VM-OPTIONS", "#5000", 1033), text("-Xmx1g"));
    EXPECT_EQ(find_like_windows(packed, "#24", "#1", 1033), kManifest);
    EXPECT_EQ(find_like_windows(packed, "ZETA", "alpha", 1033), text("named in a named type"));
    EXPECT_EQ(find_like_windows(packed, "#10", "#7", 1033), text("numbered data"));
    EXPECT_TRUE(find_like_windows(packed, "#6", "#1", 1033).has_value());
}

TEST_P(PackFixture, KeepsTheCodeAndTheSymbolTable) {
    Bytes packed = pack(original, {res("CLASSES", 1000, Bytes(30000, 0x5A))});
    std::vector<RawSection> before = raw_sections(original), after = raw_sections(packed);
    size_t rsrc_before = 0;
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i].va == get32(original, optional_header_offset(original) + 128)) rsrc_before = i;
    }
    ASSERT_GE(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        if (i == rsrc_before) continue;
        ASSERT_EQ(after[i].va, before[i].va);
        ASSERT_EQ(after[i].rawSize, before[i].rawSize);
        EXPECT_TRUE(std::equal(original.begin() + before[i].rawPointer,
                               original.begin() + before[i].rawPointer + before[i].rawSize,
                               packed.begin() + after[i].rawPointer))
            << before[i].name << " moved with its bytes intact";
    }
    size_t coff_before = get32(original, 0x3C) + 4, coff_after = get32(packed, 0x3C) + 4;
    uint32_t sym_before = get32(original, coff_before + 8), sym_after = get32(packed, coff_after + 8);
    EXPECT_EQ(sym_before == 0, sym_after == 0);
    if (sym_before != 0) {
        // Symbols and the string table after them run to the end of the file.
        ASSERT_EQ(original.size() - sym_before, packed.size() - sym_after);
        EXPECT_TRUE(std::equal(original.begin() + sym_before, original.end(), packed.begin() + sym_after));
    }
}

TEST_P(PackFixture, RepackingIsStableAndShrinks) {
    std::vector<Resource> small = {res("CLASSES", 1000, Bytes(2000, 1)), res("MAIN-CLASS", 3000, text("a.B"))};
    std::vector<Resource> big = {res("CLASSES", 1000, Bytes(3000000, 2)), res("MAIN-CLASS", 3000, text("a.B"))};
    Bytes once = pack(original, small);
    Bytes twice = pack(once, small);
    EXPECT_EQ(twice, once) << "packing the same values again changes nothing";
    Bytes grown = pack(once, big);
    EXPECT_GT(grown.size(), once.size() + 2900000);
    expect_consistent_headers(grown);
    Bytes shrunk = pack(grown, small);
    EXPECT_EQ(shrunk, once) << "the big jar must not leave anything behind";
    EXPECT_EQ(raw_sections(shrunk).size(), raw_sections(once).size());
}

INSTANTIATE_TEST_SUITE_P(Layouts, PackFixture,
                         ::testing::Values("checker.exe", "checker_stripped.exe", "checker_last.exe"));

TEST(PackPe, ResourceSectionFollowedByOthersMovesToANewLastSection) {
    Bytes original = read_bytes(fixture("checker_stripped.exe"));
    std::vector<RawSection> before = raw_sections(original);
    ASSERT_NE(before.back().name, ".rsrc") << "fixture should have .reloc after .rsrc";
    Bytes packed = pack(original, {res("CLASSES", 1000, Bytes(10000, 3))});
    std::vector<RawSection> after = raw_sections(packed);
    ASSERT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.back().name, ".rsrc");
    EXPECT_EQ(after.back().rawPointer % 4096, 0u);
    EXPECT_EQ(get32(packed, optional_header_offset(packed) + 128), after.back().va);
    // The old section stays where it was, emptied.
    for (size_t i = 0; i < before.size(); ++i) {
        if (before[i].name != ".rsrc") continue;
        EXPECT_TRUE(std::all_of(packed.begin() + after[i].rawPointer,
                                packed.begin() + after[i].rawPointer + after[i].rawSize,
                                [](uint8_t b) { return b == 0; }));
    }
    size_t opt = optional_header_offset(packed);
    EXPECT_EQ(get32(packed, opt + 8), get32(original, optional_header_offset(original) + 8) + after.back().rawSize)
        << "SizeOfInitializedData counts the new section";
}

TEST(PackPe, LastResourceSectionIsRewrittenInPlace) {
    Bytes original = read_bytes(fixture("checker_last.exe"));
    std::vector<RawSection> before = raw_sections(original);
    ASSERT_EQ(before.back().name, ".rsrc");
    Bytes packed = pack(original, {res("CLASSES", 1000, Bytes(10000, 3))});
    std::vector<RawSection> after = raw_sections(packed);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.back().va, before.back().va);
    // Its data moves up to the next page boundary in the file, so that it can be mapped.
    EXPECT_EQ(after.back().rawPointer % 4096, 0u);
    EXPECT_EQ(after.back().rawPointer, align(before.back().rawPointer, 4096));
    EXPECT_EQ(packed.size(), original.size() - before.back().rawSize + after.back().rawSize +
                                 (after.back().rawPointer - before.back().rawPointer));
    expect_consistent_headers(packed);
    Bytes repacked = pack(packed, {res("CLASSES", 1000, Bytes(10000, 3))});
    EXPECT_EQ(repacked, packed) << "an aligned section stays where it is";
    size_t opt0 = optional_header_offset(original), opt1 = optional_header_offset(packed);
    EXPECT_EQ(int64_t(get32(packed, opt1 + 8)) - get32(original, opt0 + 8),
              int64_t(after.back().rawSize) - before.back().rawSize);
}

TEST(PackPe, NamesAreOrderedAsWindowsSearchesThem) {
    Bytes original = read_bytes(fixture("checker_stripped.exe"));
    std::vector<Resource> added = {res("beta", 2, text("b")), res("Alpha", 9, text("a9")),
                                   res("ALPHA", 1, text("a1")), res("alpha_", 1, text("u")),
                                   res("_x", 1, text("x")), res("z", 65535, text("z"))};
    Resource named = res("Alpha", 0, text("named"));
    named.name = StringName("Kilo");
    added.push_back(named);
    Resource numeric = res("", 100, text("n100"));
    numeric.type = NumericName(10);
    added.push_back(numeric);
    Bytes packed = pack(original, added);
    EXPECT_EQ(find_like_windows(packed, "BETA", "#2", 1033), text("b"));
    EXPECT_EQ(find_like_windows(packed, "alpha", "#9", 1033), text("a9"));
    EXPECT_EQ(find_like_windows(packed, "alpha", "#1", 1033), text("a1"));
    EXPECT_EQ(find_like_windows(packed, "ALPHA", "kilo", 1033), text("named"));
    EXPECT_EQ(find_like_windows(packed, "ALPHA_", "#1", 1033), text("u"));
    EXPECT_EQ(find_like_windows(packed, "_X", "#1", 1033), text("x"));
    EXPECT_EQ(find_like_windows(packed, "Z", "#65535", 1033), text("z"));
    EXPECT_EQ(find_like_windows(packed, "#10", "#100", 1033), text("n100"));
    EXPECT_EQ(find_like_windows(packed, "#10", "#7", 1033), text("numbered data"));
    EXPECT_EQ(find_like_windows(packed, "#24", "#1", 1033), kManifest);
}

TEST(PackPe, SameTypeAndNameDifferingInCaseReplace) {
    std::vector<Resource> set = {res("main-class", 3000, text("x"), 0x407), res("MAIN-CLASS", 3001, text("y"))};
    PutResource(set, res("MAIN-CLASS", 3000, text("z")));
    ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(set[0].name.id, 3001);
    EXPECT_EQ(set[1].data, text("z"));
}

TEST(PackPe, DuplicateResourcesAreRefused) {
    Bytes out;
    std::string error;
    EXPECT_FALSE(BuildResourceSection({res("A", 1, text("1")), res("A", 1, text("2"))}, 0x1000, out, error));
    EXPECT_NE(error.find("duplicate"), std::string::npos);
    error.clear();
    EXPECT_FALSE(BuildResourceSection({res("ab", 1, text("1")), res("AB", 1, text("2"))}, 0x1000, out, error));
    EXPECT_NE(error.find("duplicate"), std::string::npos) << "names are compared as Windows does";
}

TEST(PackPe, BuiltSectionAlignsDataAndPointsAtItsRvas) {
    Bytes out;
    std::string error;
    std::vector<Resource> set = {res("A", 1, Bytes(3, 7)), res("B", 2, Bytes(5, 9)), res("C", 3, Bytes())};
    ASSERT_TRUE(BuildResourceSection(set, 0x5000, out, error)) << error;
    EXPECT_EQ(out.size() % 8, 0u);
    // Root, 3 type dirs, 3 name dirs, then 3 data entries.
    size_t entries = 16 + 3 * 8 + 3 * (16 + 8) + 3 * (16 + 8);
    for (size_t i = 0; i < 3; ++i) {
        uint32_t rva = get32(out, entries + 16 * i);
        EXPECT_EQ(rva % 8, 0u);
        ASSERT_GE(rva, 0x5000u);
        ASSERT_LE(rva - 0x5000 + get32(out, entries + 16 * i + 4), out.size());
        EXPECT_TRUE(std::equal(set[i].data.begin(), set[i].data.end(), out.begin() + (rva - 0x5000)));
    }
}

// --- synthetic layouts -------------------------------------------------------------------

SynthImage text_and_resources(const Bytes& tree_data) {
    SynthImage spec;
    spec.sections.push_back({".text", Bytes(0x300, 0xC3), 0, 0x60000020});
    spec.sections.push_back({".rsrc", {}, 0, 0xC0000040});
    spec.resource_section = 1;
    spec.sections[1].raw = one_resource_tree(synth_section_va(spec, 1), 24, 1, 1033, tree_data);
    return spec;
}

TEST(PackPe, SyntheticImageWithOverlayKeepsIt) {
    SynthImage spec = text_and_resources(kManifest);
    spec.overlay = text("overlay bytes at the end", false);
    Bytes original = make_image(spec);
    ASSERT_EQ(find_like_windows(original, "#24", "#1", 1033), kManifest);
    Bytes packed = pack(original, {res("CLASSES", 1000, Bytes(5000, 4))});
    expect_consistent_headers(packed);
    ASSERT_GE(packed.size(), spec.overlay.size());
    EXPECT_TRUE(std::equal(spec.overlay.begin(), spec.overlay.end(), packed.end() - long(spec.overlay.size())));
    EXPECT_EQ(find_like_windows(packed, "#24", "#1", 1033), kManifest);
}

TEST(PackPe, DebugDataPastTheSectionsMovesWithTheFile) {
    SynthImage spec = text_and_resources(kManifest);
    // A debug directory in .rdata whose data lies in the overlay after the resource section.
    spec.sections.insert(spec.sections.begin() + 1, {".rdata", Bytes(28, 0), 0, 0x40000040});
    spec.resource_section = 2;
    spec.sections[2].raw = one_resource_tree(synth_section_va(spec, 2), 24, 1, 1033, kManifest);
    spec.debug_rva = synth_section_va(spec, 1);
    spec.debug_size = 28;
    spec.overlay = text("debug payload", false);
    Bytes original = make_image(spec);
    std::vector<RawSection> s = raw_sections(original);
    uint32_t payload = uint32_t(original.size() - spec.overlay.size());
    set32(original, s[1].rawPointer + 24, payload);  // PointerToRawData
    set32(original, s[1].rawPointer + 16, uint32_t(spec.overlay.size()));

    Bytes packed = pack(original, {res("CLASSES", 1000, Bytes(9000, 4))});
    uint32_t moved = get32(packed, raw_sections(packed)[1].rawPointer + 24);
    EXPECT_NE(moved, payload);
    ASSERT_LE(moved + spec.overlay.size(), packed.size());
    EXPECT_TRUE(std::equal(spec.overlay.begin(), spec.overlay.end(), packed.begin() + moved));
}

TEST(PackPe, ImageWithoutResourcesGetsASection) {
    SynthImage spec;
    spec.sections.push_back({".text", Bytes(0x300, 0xC3), 0, 0x60000020});
    spec.sections.push_back({".reloc", Bytes(0x20, 1), 0, 0x42000040});
    Bytes original = make_image(spec);
    EXPECT_TRUE(read_all(original).empty());
    Bytes packed = pack(original, {res("MAIN-CLASS", 3000, text("x.Y"))});
    expect_consistent_headers(packed);
    EXPECT_EQ(raw_sections(packed).size(), 3u);
    EXPECT_EQ(raw_sections(packed).back().rawPointer % 4096, 0u);
    EXPECT_EQ(find_like_windows(packed, "MAIN-CLASS", "#3000", 1033), text("x.Y"));
}

TEST(PackPe, HeadersGrowWhenTheSectionTableIsFull) {
    // 0x40 + 24 + 240 + 4 * 40 = 488 bytes: a fifth header does not fit in 0x200.
    SynthImage spec;
    spec.sections.push_back({".d0", Bytes(0x10, 1), 0, 0x40000040});
    spec.sections.push_back({".d1", Bytes(0x10, 2), 0, 0x40000040});
    spec.sections.push_back({".rsrc", {}, 0, 0x40000040});
    spec.sections.push_back({".reloc", Bytes(0x10, 9), 0, 0x42000040});
    spec.resource_section = 2;
    spec.sections[2].raw = one_resource_tree(synth_section_va(spec, 2), 24, 1, 1033, kManifest);
    Bytes original = make_image(spec);
    ASSERT_EQ(get32(original, optional_header_offset(original) + 60), 0x200u);
    Bytes packed = pack(original, {res("CLASSES", 1000, Bytes(5000, 4))});
    expect_consistent_headers(packed);
    EXPECT_EQ(get32(packed, optional_header_offset(packed) + 60), 0x400u);
    std::vector<RawSection> before = raw_sections(original), after = raw_sections(packed);
    ASSERT_EQ(after.size(), 5u);
    for (size_t i = 0; i < before.size(); ++i) {
        if (i == 2) continue;  // the old resource section, emptied
        EXPECT_TRUE(std::equal(original.begin() + before[i].rawPointer,
                               original.begin() + before[i].rawPointer + before[i].rawSize,
                               packed.begin() + after[i].rawPointer));
    }
    EXPECT_EQ(find_like_windows(packed, "CLASSES", "#1000", 1033), Bytes(5000, 4));
    EXPECT_EQ(find_like_windows(packed, "#24", "#1", 1033), kManifest);
}

TEST(PackPe, HeaderDataAfterTheSectionTableIsNotOverwritten) {
    SynthImage spec;
    spec.sections.push_back({".text", Bytes(0x300, 0xC3), 0, 0x60000020});
    spec.sections.push_back({".reloc", Bytes(0x20, 1), 0, 0x42000040});
    Bytes image = make_image(spec);
    size_t table_end = get32(image, 0x3C) + 24 + 240 + 2 * 40;
    image[table_end + 8] = 0xAB;  // e.g. bound imports kept in the headers
    std::vector<Resource> all;
    std::string error;
    EXPECT_FALSE(WriteResources(image, {res("A", 1, text("a"))}, error));
    EXPECT_NE(error.find("room"), std::string::npos) << error;
}

TEST(PackPe, RefusesSignedImages) {
    SynthImage spec = text_and_resources(kManifest);
    spec.overlay = Bytes(0x200, 0x30);
    Bytes image = make_image(spec);
    set32(image, optional_header_offset(image) + 112 + 32, uint32_t(image.size() - 0x200));
    set32(image, optional_header_offset(image) + 112 + 36, 0x200);
    std::string error;
    EXPECT_FALSE(WriteResources(image, {res("A", 1, text("a"))}, error));
    EXPECT_NE(error.find("code signature"), std::string::npos) << error;
}

TEST(PackPe, RefusesWhatIsNotPe32Plus) {
    PeInfo info;
    std::string error;
    Bytes text_file = text("just some text, long enough to have room for an MZ header check......", false);
    EXPECT_FALSE(ParsePe(text_file, info, error));
    EXPECT_NE(error.find("not a PE32+ executable"), std::string::npos);

    Bytes pe32 = read_bytes(fixture("checker_stripped.exe"));
    set16(pe32, optional_header_offset(pe32), 0x10B);
    error.clear();
    EXPECT_FALSE(ParsePe(pe32, info, error));
    EXPECT_NE(error.find("not a PE32+ executable"), std::string::npos) << error;

    Bytes empty;
    EXPECT_FALSE(ParsePe(empty, info, error));
}

// Every cut of the file either fails cleanly or, when only trailing symbol data is lost, works.
TEST(PackPe, TruncatedFilesGiveErrorsNotCrashes) {
    Bytes original = read_bytes(fixture("checker_last.exe"));
    std::vector<RawSection> sections = raw_sections(original);
    size_t raw_end = 0;
    for (const RawSection& s : sections) raw_end = std::max<size_t>(raw_end, s.rawPointer + s.rawSize);
    ASSERT_EQ(raw_end, original.size());
    std::vector<size_t> cuts;
    for (size_t n = 0; n < 0x800; ++n) cuts.push_back(n);
    for (size_t n = 0x800; n < original.size(); n += 509) cuts.push_back(n);
    size_t rsrc_start = sections.back().rawPointer;
    for (size_t n = rsrc_start; n < original.size(); ++n) cuts.push_back(n);  // every cut of .rsrc
    for (size_t n : cuts) {
        Bytes cut(original.begin(), original.begin() + long(n));
        PeInfo info;
        std::string error;
        std::vector<Resource> all;
        bool ok = ParsePe(cut, info, error) && ReadResources(cut, info, all, error) &&
                  WriteResources(cut, all, error);
        EXPECT_FALSE(ok) << "cut at " << n;
        EXPECT_FALSE(error.empty()) << "cut at " << n;
    }
}

Bytes image_with_tree(const Bytes& tree) {
    SynthImage spec;
    spec.sections.push_back({".text", Bytes(0x100, 0xC3), 0, 0x60000020});
    spec.sections.push_back({".rsrc", tree, 0, 0x40000040});
    spec.resource_section = 1;
    return make_image(spec);
}

std::string read_error(const Bytes& image) {
    PeInfo info;
    std::string error;
    std::vector<Resource> all;
    if (!ParsePe(image, info, error)) return "parse: " + error;
    if (ReadResources(image, info, all, error)) return "";
    return error;
}

TEST(PackPe, MalformedTreesAreRefused) {
    Bytes good = one_resource_tree(0x2000, 24, 1, 1033, kManifest);
    ASSERT_EQ(read_error(image_with_tree(good)), "");

    Bytes loop = good;  // the name directory points back at the root
    set32(loop, 24 + 20, 0x80000000u);
    EXPECT_NE(read_error(image_with_tree(loop)).find("three levels"), std::string::npos);

    Bytes shallow = good;  // the type level points at a data entry
    set32(shallow, 20, 72);
    EXPECT_NE(read_error(image_with_tree(shallow)), "");

    Bytes far = good;  // subdirectory far outside the section
    set32(far, 20, 0x80000000u | 0x7FFFFFF0u);
    EXPECT_NE(read_error(image_with_tree(far)).find("outside"), std::string::npos);

    Bytes count = good;  // more entries than the section holds
    set16(count, 14, 0xFFFF);
    EXPECT_NE(read_error(image_with_tree(count)), "");

    Bytes data_out = good;  // data beyond the section
    set32(data_out, 76, 0x10000);
    EXPECT_NE(read_error(image_with_tree(data_out)).find("outside"), std::string::npos);

    Bytes bad_string = good;  // a name string past the end
    set32(bad_string, 16, 0x80000000u | 0x1000);
    EXPECT_NE(read_error(image_with_tree(bad_string)), "");

    Bytes long_string = good;  // a string whose length runs past the end
    set32(long_string, 16, 0x80000000u | 88);
    set16(long_string, 88, 0xFFFF);
    EXPECT_NE(read_error(image_with_tree(long_string)), "");
}

TEST(PackPe, SharedSubtreesCannotExplode) {
    // 300 types all pointing at one name directory with 300 names, all pointing at one language
    // directory: 90,000 resources from a 5 KB tree.
    const uint32_t n = 300;
    Bytes tree(16 + 8 * n, 0);
    set16(tree, 14, uint16_t(n));
    uint32_t names_at = uint32_t(tree.size());
    for (uint32_t i = 0; i < n; ++i) {
        set32(tree, 16 + 8 * i, i + 1);
        set32(tree, 20 + 8 * i, 0x80000000u | names_at);
    }
    tree.resize(names_at + 16 + 8 * n, 0);
    set16(tree, names_at + 14, uint16_t(n));
    uint32_t langs_at = uint32_t(tree.size());
    for (uint32_t i = 0; i < n; ++i) {
        set32(tree, names_at + 16 + 8 * i, i + 1);
        set32(tree, names_at + 20 + 8 * i, 0x80000000u | langs_at);
    }
    tree.resize(langs_at + 24 + 16, 0);
    set16(tree, langs_at + 14, 1);
    set32(tree, langs_at + 16, 1033);
    set32(tree, langs_at + 20, langs_at + 24);
    set32(tree, langs_at + 24, 0x2000);  // data: the tree itself
    set32(tree, langs_at + 28, 16);
    EXPECT_NE(read_error(image_with_tree(tree)).find("too many"), std::string::npos);
}

TEST(PackPe, RandomDamageNeverCrashes) {
    Bytes original = read_bytes(fixture("checker_last.exe"));
    RawSection rsrc = raw_sections(original).back();
    std::mt19937 rng(12345);
    size_t rejected = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes image = original;
        int flips = 1 + int(rng() % 4);
        for (int f = 0; f < flips; ++f) {
            // Mostly the resource directory, sometimes the headers.
            size_t at = (rng() % 4 != 0) ? rsrc.rawPointer + rng() % std::min<uint32_t>(rsrc.vsize, 0x200)
                                         : rng() % 0x400;
            image[at] = uint8_t(rng());
        }
        PeInfo info;
        std::string error;
        std::vector<Resource> all;
        if (ParsePe(image, info, error) && ReadResources(image, info, all, error)) {
            PutResource(all, res("MAIN-CLASS", 3000, text("a.B")));
            if (!WriteResources(image, all, error)) ++rejected;
        } else {
            ++rejected;
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_GT(rejected, 0u);
}

}  // namespace
