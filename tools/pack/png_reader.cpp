#include "pack/png_reader.h"

#include <zlib.h>

#include <cstring>
#include <vector>

#include "pack/byte_order.h"

static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool HasPngSignature(const uint8_t* data, size_t size) { return size >= 8 && memcmp(data, kPngSignature, 8) == 0; }

uint32_t PngSamplesPerPixel(uint8_t colorType) {
    switch (colorType) {
        case 0: return 1;
        case 2: return 3;
        case 3: return 1;
        case 4: return 2;
        case 6: return 4;
        default: return 0;
    }
}

// Walks the chunks with their CRCs and inflates the image data; false with the reason.
bool DecodePng(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height, std::string& error) {
    if (!HasPngSignature(data, size)) {
        error = "not a PNG image";
        return false;
    }
    std::vector<uint8_t> compressed;
    uint32_t channels = 0, depth = 0;
    bool header = false, interlaced = false;
    for (size_t at = 8;;) {
        if (size - at < 12) {
            error = "PNG is cut short";
            return false;
        }
        uint32_t length = ReadBig32(data + at);
        if (length > size - at - 12) {
            error = "PNG is cut short";
            return false;
        }
        const uint8_t* type = data + at + 4;
        if (crc32(crc32(0, nullptr, 0), type, length + 4) != ReadBig32(data + at + 8 + length)) {
            error = "PNG chunk " + std::string(reinterpret_cast<const char*>(type), 4) + " fails its CRC";
            return false;
        }
        if (memcmp(type, "IHDR", 4) == 0 && length == 13) {
            width = ReadBig32(type + 4);
            height = ReadBig32(type + 8);
            depth = type[12];
            channels = PngSamplesPerPixel(type[13]);
            interlaced = type[16] != 0;
            header = true;
        } else if (memcmp(type, "IDAT", 4) == 0) {
            compressed.insert(compressed.end(), type + 4, type + 4 + length);
        } else if (memcmp(type, "IEND", 4) == 0) {
            break;
        }
        at += 12 + size_t(length);
    }
    if (!header || channels == 0 || width == 0 || height == 0 || width > 16384 || height > 16384) {
        error = "PNG has no valid header";
        return false;
    }
    uint64_t rowBytes = (uint64_t(width) * channels * depth + 7) / 8;
    uLongf expected = uLongf((rowBytes + 1) * height);
    std::vector<uint8_t> pixels(interlaced ? expected * 2 : expected);
    uLongf produced = uLongf(pixels.size());
    int status = uncompress(pixels.data(), &produced, compressed.data(), uLong(compressed.size()));
    if (status != Z_OK || (!interlaced && produced != expected)) {
        error = "PNG image data does not decode";
        return false;
    }
    return true;
}

