#include "pack/icon_file.h"

#include <algorithm>
#include <cstring>

#include "pack/byte_order.h"
#include "pack/png_reader.h"

constexpr uint16_t kTypeIcon = 3;
constexpr uint16_t kTypeIconGroup = 14;
constexpr uint16_t kLangEnUs = 1033;
constexpr size_t kDirectoryHeaderSize = 6;
constexpr size_t kFileEntrySize = 16;
constexpr size_t kGroupEntrySize = 14;
constexpr size_t kBitmapHeaderSize = 40;
constexpr uint16_t kLargestSide = 256;

static std::string ImageLabel(size_t index) { return "image " + std::to_string(index + 1); }

// Checks one image and completes what the directory left out (sizes of PNG images, bit counts).
static bool CheckImage(size_t index, IconImage& image, std::string& error) {
    const uint8_t* d = image.data.data();
    size_t size = image.data.size();
    if (HasPngSignature(d, size)) {
        // The IHDR chunk comes first: length, "IHDR", width, height, bit depth, colour type.
        if (size < 26 || memcmp(d + 12, "IHDR", 4) != 0) {
            error = ImageLabel(index) + " is a PNG image without its header";
            return false;
        }
        uint32_t width = ReadBig32(d + 16), height = ReadBig32(d + 20);
        if (width == 0 || height == 0 || width > kLargestSide || height > kLargestSide) {
            error = ImageLabel(index) + " is " + std::to_string(width) + "x" + std::to_string(height) +
                    " pixels; an icon image is at most 256x256";
            return false;
        }
        image.png = true;
        image.width = uint16_t(width);
        image.height = uint16_t(height);
        if (image.bitCount == 0) image.bitCount = uint16_t(d[24] * PngSamplesPerPixel(d[25]));
        if (image.planes == 0) image.planes = 1;
        return true;
    }
    uint32_t headerSize = size >= 4 ? Read32(d) : 0;
    if (size < kBitmapHeaderSize || headerSize < kBitmapHeaderSize || headerSize > size) {
        error = ImageLabel(index) + " is neither a PNG image nor a bitmap";
        return false;
    }
    if (image.bitCount == 0) image.bitCount = Read16(d + 14);
    if (image.planes == 0) image.planes = 1;
    return true;
}

bool ReadIcoFile(const Bytes& file, std::vector<IconImage>& images, std::string& error) {
    images.clear();
    const uint8_t* d = file.data();
    size_t size = file.size();
    if (HasPngSignature(d, size)) {
        error = "not an .ico file: it is a PNG image (make an .ico of it first)";
        return false;
    }
    if (size < kDirectoryHeaderSize || Read16(d) != 0 || (Read16(d + 2) != 1 && Read16(d + 2) != 2)) {
        error = "not an .ico file (no icon directory at its start)";
        return false;
    }
    if (Read16(d + 2) == 2) {
        error = "a cursor file, not an icon";
        return false;
    }
    size_t count = Read16(d + 4);
    if (count == 0) {
        error = "the icon file holds no images";
        return false;
    }
    if (count > kMaxIconImages) {
        error = "the icon file holds " + std::to_string(count) + " images; at most " +
                std::to_string(kMaxIconImages) + " are taken";
        return false;
    }
    if (size < kDirectoryHeaderSize + kFileEntrySize * count) {
        error = "the icon directory is cut short (" + std::to_string(count) + " entries, " +
                std::to_string(size) + " bytes in the file)";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = d + kDirectoryHeaderSize + kFileEntrySize * i;
        IconImage image;
        image.width = e[0] == 0 ? kLargestSide : e[0];
        image.height = e[1] == 0 ? kLargestSide : e[1];
        image.colorCount = e[2];
        image.planes = Read16(e + 4);
        image.bitCount = Read16(e + 6);
        uint32_t length = Read32(e + 8), offset = Read32(e + 12);
        if (length == 0) {
            error = ImageLabel(i) + " is empty";
            return false;
        }
        if (offset > size || length > size - offset) {
            error = "the icon directory points past the end of the file (" + ImageLabel(i) + ": " +
                    std::to_string(length) + " bytes at offset " + std::to_string(offset) + ", file of " +
                    std::to_string(size) + " bytes)";
            return false;
        }
        image.data.assign(file.begin() + ptrdiff_t(offset), file.begin() + ptrdiff_t(offset + length));
        if (!CheckImage(i, image, error)) return false;
        images.push_back(std::move(image));
    }
    return true;
}

void ReplaceIcons(std::vector<Resource>& resources, const std::vector<IconImage>& images) {
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [](const Resource& r) {
                                       return !r.type.isString &&
                                              (r.type.id == kTypeIcon || r.type.id == kTypeIconGroup);
                                   }),
                    resources.end());
    Resource group;
    group.type = NumericName(kTypeIconGroup);
    group.name = NumericName(kIconGroupId);
    group.lang = NumericName(kLangEnUs);
    Append16(group.data, 0);
    Append16(group.data, 1);
    Append16(group.data, uint16_t(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& image = images[i];
        uint16_t id = uint16_t(i + 1);
        // 256 is stored as 0: the field is one byte.
        group.data.push_back(uint8_t(image.width >= kLargestSide ? 0 : image.width));
        group.data.push_back(uint8_t(image.height >= kLargestSide ? 0 : image.height));
        group.data.push_back(image.colorCount);
        group.data.push_back(0);
        Append16(group.data, image.planes);
        Append16(group.data, image.bitCount);
        Append32(group.data, uint32_t(image.data.size()));
        Append16(group.data, id);

        Resource icon;
        icon.type = NumericName(kTypeIcon);
        icon.name = NumericName(id);
        icon.lang = NumericName(kLangEnUs);
        icon.data = image.data;
        resources.push_back(std::move(icon));
    }
    resources.push_back(std::move(group));
}

std::string DescribeIcons(const std::vector<Resource>& resources) {
    std::string out;
    for (const Resource& group : resources) {
        if (group.type.isString || group.type.id != kTypeIconGroup) continue;
        std::string line = "icon group " + DisplayName(group.name) + ":";
        const Bytes& g = group.data;
        size_t count = g.size() >= kDirectoryHeaderSize ? Read16(&g[4]) : 0;
        if (g.size() < kDirectoryHeaderSize || g.size() < kDirectoryHeaderSize + kGroupEntrySize * count) {
            out += line + " malformed\n";
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* e = &g[kDirectoryHeaderSize + kGroupEntrySize * i];
            unsigned width = e[0] == 0 ? kLargestSide : e[0], height = e[1] == 0 ? kLargestSide : e[1];
            uint16_t id = Read16(e + 12);
            line += (i == 0 ? " " : ", ") + std::to_string(width) + "x" + std::to_string(height) + " " +
                    std::to_string(Read16(e + 6)) + "bpp";
            for (const Resource& icon : resources) {
                if (!icon.type.isString && icon.type.id == kTypeIcon && !icon.name.isString && icon.name.id == id) {
                    if (HasPngSignature(icon.data.data(), icon.data.size())) line += " png";
                    break;
                }
            }
        }
        out += line + "\n";
    }
    return out;
}
