// MD5 (RFC 1321) and its digest text. Shared by the launcher, where the system routines are
// missing, and by the packaging tool, which must name the jar the same way on every platform.
#pragma once

#include <cstddef>

void ComputeMd5(const void* bytes, size_t length, unsigned char digest[16]);

// 32 upper-case hexadecimal characters, high nibble first, plus a terminator.
void FormatDigestText(const unsigned char digest[16], char text[33]);
