// SHA-256 for the packer: OpenSSL's libcrypto natively, the system's BCrypt on Windows. The buffer
// form (ComputeSha256) is declared with the sync index it serves.
#pragma once

#include <cstdint>
#include <string>

#include "files/sha256.h"

// The digest of a whole file, read in pieces; false with the system's reason in error.
bool Sha256OfFile(const std::string& path, uint8_t digest[kSha256Size], std::string& error);
