// quorvia-pack reading what a user hands it besides the launcher: an .ico file (--icon) and a
// version resource (carried over from an earlier pack, listed by --show). The first byte picks
// which. A refused input must say why; an accepted one must come out of the packer's own
// writing as it went in.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "pack/icon_file.h"
#include "pack/version_info.h"


static void FuzzIcon(const Bytes& file) {
    std::vector<IconImage> images;
    std::string error;
    if (!ReadIcoFile(file, images, error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    FUZZ_CHECK(!images.empty() && images.size() <= kMaxIconImages);
    std::vector<Resource> resources;
    ReplaceIcons(resources, images);
    FUZZ_CHECK(resources.size() == images.size() + 1);
    std::string listed = DescribeIcons(resources);
    FUZZ_CHECK(listed.compare(0, 13, "icon group 1:") == 0 && listed.find("malformed") == std::string::npos);
    // The group directory as listed by --show, also when its bytes are arbitrary.
    resources.back().data = file;
    (void)DescribeIcons(resources);
}

static void FuzzVersion(const Bytes& data) {
    VersionDetails details;
    std::string error;
    if (!ReadVersionInfo(data, details, error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    Bytes rebuilt;
    if (!BuildVersionInfo(details, rebuilt, error)) {
        FUZZ_CHECK(!error.empty());
        return;
    }
    VersionDetails again;
    FUZZ_CHECK(ReadVersionInfo(rebuilt, again, error));
    FUZZ_CHECK(VersionNumberText(again.fileVersion) == VersionNumberText(details.fileVersion));
    FUZZ_CHECK(VersionNumberText(again.productVersion) == VersionNumberText(details.productVersion));
    FUZZ_CHECK(again.strings.size() == details.strings.size());
    for (size_t i = 0; i < details.strings.size(); i++) {
        FUZZ_CHECK(again.strings[i].key == details.strings[i].key);
        FUZZ_CHECK(again.strings[i].value == details.strings[i].value);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // Exactly as long as the rest of the input, so a read past the end is caught.
    Bytes rest(data + 1, data + size);
    if (data[0] & 1)
        FuzzVersion(rest);
    else
        FuzzIcon(rest);
    return 0;
}
