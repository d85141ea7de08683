// The certificate table of a signed exe (its Authenticode signature).
#pragma once

#include <string>

#include "pack/pe_image.h"

bool HasSignature(const PeInfo& info);

// Removes the certificate table and clears its directory entry (the checksum is left to the
// rewrite that follows). Refuses a table that does not lie after all section data, where
// removing it would move them.
bool StripSignature(Bytes& file, std::string& error);
