#include "pack/md5_text.h"

#include "files/md5.h"

std::string Md5Hex(const void* data, size_t size) {
    unsigned char digest[16];
    char text[33];
    ComputeMd5(data, size, digest);
    FormatDigestText(digest, text);
    return text;
}
