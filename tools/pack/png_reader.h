// Reading PNG images (icons, the splash image): the signature, and a decode that checks the header
// against the PNG format, every chunk's CRC, and the inflated image data row by row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The most an image may inflate to, filter bytes included: a header declaring more is refused before
// anything is inflated. A 4096x4096 RGBA image with 16-bit samples takes just over 128 MiB.
inline constexpr uint64_t kPngDecodedLimit = uint64_t(256) << 20;

// Whether the bytes start as a PNG file does.
bool HasPngSignature(const uint8_t* data, size_t size);
// Samples per pixel of a PNG colour type (0 for types PNG does not define).
uint32_t PngSamplesPerPixel(uint8_t colorType);
// The bytes the image data inflates to: each row of each pass with its filter byte (seven passes
// when interlaced); 0 for an empty image.
uint64_t PngDecodedSize(uint32_t width, uint32_t height, uint32_t bitsPerPixel, bool interlaced);
// Checks the header, walks the chunks with their CRCs and inflates the image data, checking its
// length and each row's filter type; false with the reason in error.
bool DecodePng(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height, std::string& error);
