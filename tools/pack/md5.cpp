#include "md5.h"

#include "../../src/cache/md5.h"

namespace qpack {

std::string md5_hex(const void* data, size_t size) {
    unsigned char digest[16];
    char text[33];
    ComputeMd5(data, size, digest);
    FormatDigestText(digest, text);
    return text;
}

}  // namespace qpack
