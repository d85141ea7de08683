// MD5 (RFC 1321). The launcher compares the jar it unpacks against the digest stored next to it,
// and neither the C++ library nor mingw's runtime offers one we can use on both platforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qpack {

class Md5 {
public:
    Md5();
    void update(const void* data, size_t size);
    // Finishes the digest; the object must not be updated afterwards.
    void finish(uint8_t digest[16]);

private:
    void block(const uint8_t* p);

    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes seen so far
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};

// Upper-case hex digest of a whole buffer, 32 characters.
std::string md5_hex(const void* data, size_t size);

}  // namespace qpack
