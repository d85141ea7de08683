// Little-endian fields as PE, ICO, zip and version resources store them; big-endian as PNG does.
#pragma once

#include <cstdint>
#include <vector>

inline uint16_t Read16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t Read32(const uint8_t* p) { return uint32_t(Read16(p)) | uint32_t(Read16(p + 2)) << 16; }

inline uint32_t ReadBig32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline void Write16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Write32(uint8_t* p, uint32_t v) {
    Write16(p, uint16_t(v));
    Write16(p + 2, uint16_t(v >> 16));
}

inline void Append16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
inline void Append32(std::vector<uint8_t>& out, uint32_t v) {
    Append16(out, uint16_t(v));
    Append16(out, uint16_t(v >> 16));
}
