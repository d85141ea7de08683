#include "pack/png_reader.h"

#include <zlib.h>

#include <cstring>
#include <limits>

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

namespace {

// The bit depths the format allows with each colour type.
bool IsValidDepth(uint8_t colorType, uint8_t depth) {
    switch (colorType) {
        case 0: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6: return depth == 8 || depth == 16;
        default: return false;
    }
}

// Rows of one size in a row, as the image data holds them: the whole image, or one Adam7 pass.
struct RowRun {
    uint64_t rowBytes;  // the filter byte included
    uint64_t rows;
};

// The runs of the image data in order; empty passes are left out, as the format leaves them out.
int RowRuns(uint32_t width, uint32_t height, uint32_t bitsPerPixel, bool interlaced, RowRun runs[7]) {
    static const uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                           {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    static const uint32_t kWhole[1][4] = {{0, 0, 1, 1}};
    const uint32_t(*passes)[4] = interlaced ? kPasses : kWhole;
    int count = 0;
    for (int i = 0; i < (interlaced ? 7 : 1); i++) {
        uint32_t x = passes[i][0], y = passes[i][1], dx = passes[i][2], dy = passes[i][3];
        uint64_t columns = width > x ? (uint64_t(width) - x + dx - 1) / dx : 0;
        uint64_t rows = height > y ? (uint64_t(height) - y + dy - 1) / dy : 0;
        if (columns == 0 || rows == 0) continue;
        runs[count++] = {(columns * bitsPerPixel + 7) / 8 + 1, rows};
    }
    return count;
}

// Follows the inflated bytes through the rows: each row starts with a filter type of 0 to 4, and
// the data ends with the last row.
class RowChecker {
public:
    RowChecker(const RowRun* runs, int count) : runs_(runs), count_(count) {}

    bool Take(const uint8_t* bytes, size_t size, std::string& error) {
        for (size_t at = 0; at < size;) {
            if (run_ == count_) {
                error = "PNG image data inflates to more than its header declares";
                return false;
            }
            if (offset_ == 0 && bytes[at] > 4) {
                error = "PNG image data has a row of filter type " + std::to_string(bytes[at]);
                return false;
            }
            uint64_t step = runs_[run_].rowBytes - offset_;
            if (step > size - at) step = size - at;
            offset_ += step;
            at += size_t(step);
            if (offset_ == runs_[run_].rowBytes) {
                offset_ = 0;
                if (++row_ == runs_[run_].rows) {
                    row_ = 0;
                    run_++;
                }
            }
        }
        return true;
    }
    bool Complete() const { return run_ == count_; }

private:
    const RowRun* runs_;
    int count_;
    int run_ = 0;
    uint64_t row_ = 0, offset_ = 0;
};

class Inflater {
public:
    Inflater() {
        memset(&stream_, 0, sizeof stream_);
        ready_ = inflateInit(&stream_) == Z_OK;
    }
    ~Inflater() {
        if (ready_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Inflates one IDAT chunk's bytes through the checker; after the end of the stream the rest is ignored.
    bool Feed(const uint8_t* bytes, uint32_t size, RowChecker& rows, std::string& error) {
        if (!ready_) {
            error = "zlib cannot start";
            return false;
        }
        stream_.next_in = const_cast<uint8_t*>(bytes);
        stream_.avail_in = size;
        while (!ended_) {
            uint8_t out[65536];
            stream_.next_out = out;
            stream_.avail_out = sizeof out;
            int status = inflate(&stream_, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                error = "PNG image data does not inflate";
                return false;
            }
            if (!rows.Take(out, sizeof out - stream_.avail_out, error)) return false;
            ended_ = status == Z_STREAM_END;
            // Out of input: the next chunk goes on. A full buffer may leave more output waiting.
            if (status == Z_BUF_ERROR || (stream_.avail_in == 0 && stream_.avail_out != 0)) break;
        }
        return true;
    }
    bool Ended() const { return ended_; }

private:
    z_stream stream_;
    bool ready_ = false;
    bool ended_ = false;
};

}  // namespace

uint64_t PngDecodedSize(uint32_t width, uint32_t height, uint32_t bitsPerPixel, bool interlaced) {
    RowRun runs[7];
    int count = RowRuns(width, height, bitsPerPixel, interlaced, runs);
    const uint64_t most = std::numeric_limits<uint64_t>::max();
    uint64_t total = 0;
    for (int i = 0; i < count; i++) {
        if (runs[i].rows > most / runs[i].rowBytes) return most;
        uint64_t bytes = runs[i].rowBytes * runs[i].rows;
        if (bytes > most - total) return most;
        total += bytes;
    }
    return total;
}

// The header (IHDR) against the format, and the size it declares against kPngDecodedLimit.
static bool ReadPngHeader(const uint8_t* ihdr, uint32_t& width, uint32_t& height, RowRun runs[7], int& runCount,
                          std::string& error) {
    width = ReadBig32(ihdr);
    height = ReadBig32(ihdr + 4);
    uint8_t depth = ihdr[8], colorType = ihdr[9];
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        error = "PNG header declares " + std::to_string(width) + "x" + std::to_string(height) + " pixels";
        return false;
    }
    if (!IsValidDepth(colorType, depth)) {
        error = "PNG header declares bit depth " + std::to_string(depth) + " with colour type " +
                std::to_string(colorType) + ", which the format does not define";
        return false;
    }
    if (ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] > 1) {
        error = "PNG header declares an unknown compression, filter or interlace method";
        return false;
    }
    bool interlaced = ihdr[12] == 1;
    uint32_t bitsPerPixel = PngSamplesPerPixel(colorType) * depth;
    uint64_t decoded = PngDecodedSize(width, height, bitsPerPixel, interlaced);
    if (decoded > kPngDecodedLimit) {
        error = "PNG image of " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels would inflate to more than " + std::to_string(kPngDecodedLimit >> 20) + " MiB";
        return false;
    }
    runCount = RowRuns(width, height, bitsPerPixel, interlaced, runs);
    return true;
}

bool DecodePng(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height, std::string& error) {
    if (!HasPngSignature(data, size)) {
        error = "not a PNG image";
        return false;
    }
    RowRun runs[7];
    int runCount = 0;
    RowChecker rows(runs, 0);
    Inflater inflater;
    bool header = false, palette = false, imageData = false;
    uint8_t colorType = 0;
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
        const uint8_t* body = type + 4;
        std::string name(reinterpret_cast<const char*>(type), 4);
        if (crc32(crc32(0, nullptr, 0), type, length + 4) != ReadBig32(body + length)) {
            error = "PNG chunk " + name + " fails its CRC";
            return false;
        }
        at += 12 + size_t(length);
        if (!header) {
            if (name != "IHDR" || length != 13) {
                error = "PNG does not start with its header (IHDR)";
                return false;
            }
            if (!ReadPngHeader(body, width, height, runs, runCount, error)) return false;
            colorType = body[9];
            rows = RowChecker(runs, runCount);
            header = true;
        } else if (name == "PLTE") {
            palette = length > 0 && length % 3 == 0 && length / 3 <= 256;
        } else if (name == "IDAT") {
            if (colorType == 3 && !palette) {
                error = "PNG palette image has no valid palette (PLTE) before its image data";
                return false;
            }
            imageData = true;
            if (!inflater.Feed(body, length, rows, error)) return false;
        } else if (name == "IEND") {
            break;
        } else if ((type[0] & 0x20) == 0) {
            // A chunk a decoder must understand, and this one is not of the format.
            error = "PNG chunk " + name + " is critical and unknown";
            return false;
        }
    }
    if (!imageData || !inflater.Ended() || !rows.Complete()) {
        error = "PNG image data inflates to less than its header declares";
        return false;
    }
    return true;
}
