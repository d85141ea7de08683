// The jar's digest text as the launcher names its cache file: one MD5 implementation serves both.
#pragma once

#include <cstddef>
#include <string>

namespace qpack {

// Upper-case hex digest of a whole buffer, 32 characters.
std::string md5_hex(const void* data, size_t size);

}  // namespace qpack
