// quorvia-pack reading a PNG of any bytes (--splash, and the splash area of --check). Every chunk's
// CRC is made right first, so that mutations reach the header checks and the image data instead
// of stopping at the checksum. A refusal gives a reason; an accepted image has a size whose
// decoded form stays within the limit, and the decode never allocates it.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "pack/png_reader.h"

static uint32_t ReadBig(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> png(data, data + size);
    for (size_t at = 8; png.size() >= 12 && at <= png.size() - 12;) {
        uint32_t length = ReadBig(&png[at]);
        if (length > png.size() - at - 12) break;
        uint32_t crc = uint32_t(crc32(0, &png[at + 4], uInt(length) + 4));
        for (int i = 0; i < 4; i++) png[at + 8 + length + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
        at += 12 + size_t(length);
    }
    uint32_t width = 0, height = 0;
    std::string error;
    if (!DecodePng(png.data(), png.size(), width, height, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    // One bit per pixel is the least any colour type and depth takes.
    FUZZ_CHECK(width > 0 && height > 0 && PngDecodedSize(width, height, 1, false) <= kPngDecodedLimit);
    return 0;
}
