// SHA-256 of a buffer: the system's BCrypt in the launcher, the platform's library in the packer.
#pragma once

#include <cstddef>
#include <cstdint>

const size_t kSha256Size = 32;

bool ComputeSha256(const void* bytes, size_t size, uint8_t digest[kSha256Size]);
