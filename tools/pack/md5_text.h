// The jar's digest text as the launcher names its cache file: one MD5 implementation serves both.
#pragma once

#include <cstddef>
#include <string>

// Upper-case hex digest of a whole buffer, 32 characters.
std::string Md5Hex(const void* data, size_t size);
