// Reading PNG images (icons, the splash image): the signature, and a decode that checks every
// chunk's CRC and inflates the image data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Whether the bytes start as a PNG file does.
bool HasPngSignature(const uint8_t* data, size_t size);
// Samples per pixel of a PNG colour type (0 for types PNG does not define).
uint32_t PngSamplesPerPixel(uint8_t colorType);
// Walks the chunks with their CRCs and inflates the image data; false with the reason in error.
bool DecodePng(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height, std::string& error);
