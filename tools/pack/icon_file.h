// An exe's icon: the images of an .ico file become RT_ICON resources, its directory one
// RT_GROUP_ICON that Explorer, the taskbar and Alt+Tab read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/pe_image.h"

struct IconImage {
    uint16_t width = 0;   // 1..256
    uint16_t height = 0;  // 1..256
    uint8_t colorCount = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    bool png = false;  // stored as a PNG file rather than a bitmap
    Bytes data;
};

constexpr size_t kMaxIconImages = 256;
constexpr uint16_t kIconGroupId = 1;

// Reads an .ico file; the message says what is wrong with it.
bool ReadIcoFile(const Bytes& file, std::vector<IconImage>& images, std::string& error);

// Drops every icon and icon group of `resources` and adds these images as icons 1..n with one
// group, kIconGroupId, so that packing again replaces the icon instead of adding to it.
void ReplaceIcons(std::vector<Resource>& resources, const std::vector<IconImage>& images);

// One line per icon group: "icon group 1: 16x16 8bpp, 256x256 32bpp png".
std::string DescribeIcons(const std::vector<Resource>& resources);
