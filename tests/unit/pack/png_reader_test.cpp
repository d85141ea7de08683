// The PNG reader against the format: header fields, the decoded size before anything is inflated,
// and the inflated data row by row, in plain and interlaced images.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>

#include "pack/png_reader.h"
#include "test_support.h"

namespace {

using packtest::Bytes;

void Put32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

Bytes Chunk(const std::string& type, const Bytes& data) {
    Bytes chunk;
    Put32(chunk, uint32_t(data.size()));
    Bytes typed(type.begin(), type.end());
    typed.insert(typed.end(), data.begin(), data.end());
    chunk.insert(chunk.end(), typed.begin(), typed.end());
    Put32(chunk, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
    return chunk;
}

struct Image {
    Image(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace, Bytes rows)
        : width(width), height(height), depth(depth), colorType(colorType), interlace(interlace), rows(rows) {}
    Image& Methods(uint8_t compressionMethod, uint8_t filterMethod) {
        compression = compressionMethod;
        filter = filterMethod;
        return *this;
    }
    Image& WithPalette() {
        palette = true;
        return *this;
    }
    Image& ChunkBeforeHeader(const std::string& type) {
        before = type;
        return *this;
    }
    Image& ChunkBeforeData(const std::string& type) {
        extra = type;
        return *this;
    }

    uint32_t width, height;
    uint8_t depth, colorType, interlace;
    Bytes rows;  // the inflated image data, filter bytes included
    uint8_t compression = 0, filter = 0;
    bool palette = false;
    std::string before;  // a chunk type written before IHDR
    std::string extra;   // a chunk type written before IDAT
};

Bytes Png(const Image& image) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    auto add = [&png](const Bytes& chunk) { png.insert(png.end(), chunk.begin(), chunk.end()); };
    if (!image.before.empty()) add(Chunk(image.before, {}));
    Bytes header;
    Put32(header, image.width);
    Put32(header, image.height);
    header.insert(header.end(), {image.depth, image.colorType, image.compression, image.filter, image.interlace});
    add(Chunk("IHDR", header));
    if (image.palette) add(Chunk("PLTE", Bytes(6, 0x80)));
    if (!image.extra.empty()) add(Chunk(image.extra, {}));
    if (!image.rows.empty()) {
        uLongf size = compressBound(uLong(image.rows.size()));
        Bytes compressed(size);
        EXPECT_EQ(Z_OK, compress(compressed.data(), &size, image.rows.data(), uLong(image.rows.size())));
        compressed.resize(size);
        add(Chunk("IDAT", compressed));
    }
    add(Chunk("IEND", {}));
    return png;
}

// Rows of zero filter bytes and pixels, as many as the image data holds.
Bytes Rows(size_t count, size_t rowBytes) {
    Bytes rows;
    for (size_t i = 0; i < count; i++) {
        rows.push_back(0);
        rows.insert(rows.end(), rowBytes, 0x55);
    }
    return rows;
}

// 5x3 pixels of 1 bit: one row of one byte, or, in the seven passes, 1, 1, 0, 1, 1, 2 and 1 rows
// of one byte each (pass 3 starts at row 4 and is empty).
const Bytes kPlain5x3 = Rows(3, 1);
const Bytes kInterlaced5x3 = Rows(7, 1);

TEST(PngReader, DecodedSizeFollowsTheRowsAndPassesOfTheFormat) {
    EXPECT_EQ(6u, PngDecodedSize(5, 3, 1, false));
    EXPECT_EQ(14u, PngDecodedSize(5, 3, 1, true));
    EXPECT_EQ(2u, PngDecodedSize(1, 1, 8, true));
    // 64x48 RGB: 48 rows of 193 bytes; interlaced, pass widths 8 8 16 16 32 32 64 over 6 6 6 12 12 24 24 rows.
    EXPECT_EQ(48u * 193u, PngDecodedSize(64, 48, 24, false));
    EXPECT_EQ(6u * 25 + 6u * 25 + 6u * 49 + 12u * 49 + 12u * 97 + 24u * 97 + 24u * 193,
              PngDecodedSize(64, 48, 24, true));
    EXPECT_EQ(std::numeric_limits<uint64_t>::max(), PngDecodedSize(0x7FFFFFFF, 0x7FFFFFFF, 64, false)) << "saturates";
}

TEST(PngReader, DecodesWhatTheFormatDefines) {
    const Image good[] = {
        Image(5, 3, 1, 0, 0, kPlain5x3),
        Image(5, 3, 1, 0, 1, kInterlaced5x3),
        Image(2, 2, 16, 6, 0, Rows(2, 16)),
        Image(2, 1, 8, 3, 0, Rows(1, 2)).WithPalette(),
        Image(3, 1, 8, 2, 0, Rows(1, 9)).ChunkBeforeData("tEXt"),  // an ancillary chunk is skipped
    };
    for (const Image& image : good) {
        Bytes png = Png(image);
        uint32_t width = 0, height = 0;
        std::string error;
        EXPECT_TRUE(DecodePng(png.data(), png.size(), width, height, error)) << error;
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, height);
    }
}

TEST(PngReader, RefusesWhatTheFormatDoesNotDefineOrTheDataDoesNotHold) {
    Bytes badFilter = kPlain5x3;
    badFilter[2] = 5;  // the second row's filter type
    const struct {
        Image image;
        const char* error;
    } refused[] = {
        {Image(1, 1, 255, 6, 0, Rows(1, 8)), "bit depth 255 with colour type 6"},
        {Image(1, 1, 16, 3, 0, Rows(1, 2)).WithPalette(), "bit depth 16 with colour type 3"},
        {Image(1, 1, 4, 2, 0, Rows(1, 2)), "bit depth 4 with colour type 2"},
        {Image(1, 1, 8, 5, 0, Rows(1, 1)), "colour type 5"},
        {Image(1, 1, 8, 0, 2, Rows(1, 1)), "interlace method"},
        {Image(1, 1, 8, 0, 0, Rows(1, 1)).Methods(1, 0), "compression"},
        {Image(1, 1, 8, 0, 0, Rows(1, 1)).Methods(0, 1), "filter"},
        {Image(0, 3, 8, 0, 0, Rows(1, 1)), "declares 0x3 pixels"},
        {Image(0x80000000u, 1, 8, 0, 0, Rows(1, 1)), "pixels"},
        // 68 bytes declaring 2 GiB of 16-bit RGBA, interlaced: refused before anything is inflated.
        {Image(16384, 16384, 16, 6, 1, Rows(1, 8)), "would inflate to more than 256 MiB"},
        {Image(5, 3, 1, 0, 1, kPlain5x3), "inflates to less than its header declares"},
        {Image(5, 3, 1, 0, 0, kInterlaced5x3), "inflates to more than its header declares"},
        {Image(5, 3, 1, 0, 0, Bytes(kPlain5x3.begin(), kPlain5x3.end() - 1)), "inflates to less"},
        {Image(5, 3, 1, 0, 0, badFilter), "a row of filter type 5"},
        {Image(5, 3, 1, 0, 0, {}), "inflates to less"},  // no image data at all
        {Image(2, 1, 8, 3, 0, Rows(1, 2)), "no valid palette"},
        {Image(5, 3, 1, 0, 0, kPlain5x3).ChunkBeforeHeader("tEXt"), "does not start with its header"},
        {Image(5, 3, 1, 0, 0, kPlain5x3).ChunkBeforeData("QRST"), "QRST is critical and unknown"},
    };
    for (const auto& c : refused) {
        Bytes png = Png(c.image);
        uint32_t width = 0, height = 0;
        std::string error;
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(DecodePng(png.data(), png.size(), width, height, error)) << c.error;
        EXPECT_NE(std::string::npos, error.find(c.error)) << error;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.error;
    }
    Bytes damaged = Png(Image(5, 3, 1, 0, 0, kPlain5x3));
    damaged[damaged.size() - 20] ^= 0xFF;
    uint32_t width = 0, height = 0;
    std::string error;
    EXPECT_FALSE(DecodePng(damaged.data(), damaged.size(), width, height, error));
    EXPECT_NE(std::string::npos, error.find("fails its CRC")) << error;
}

}  // namespace
