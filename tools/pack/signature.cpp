#include "signature.h"

#include <algorithm>

namespace qpack {

bool HasSignature(const PeInfo& info) {
    if (info.number_of_rva_and_sizes <= kDirSecurity) return false;
    return info.dirs[kDirSecurity].rva != 0 || info.dirs[kDirSecurity].size != 0;
}

bool StripSignature(Bytes& file, std::string& error) {
    PeInfo info;
    if (!parse_pe(file, info, error)) return false;
    if (!HasSignature(info)) return true;
    // The certificate table's "RVA" is a file offset.
    uint64_t start = info.dirs[kDirSecurity].rva, length = info.dirs[kDirSecurity].size;
    uint64_t sectionsEnd = info.size_of_headers;
    for (const Section& s : info.sections) {
        if (s.raw_size > 0) sectionsEnd = std::max<uint64_t>(sectionsEnd, uint64_t(s.raw_pointer) + s.raw_size);
    }
    if (start < sectionsEnd || start + length > file.size()) {
        error = "its certificate table does not lie at the end of the file; it cannot be removed";
        return false;
    }
    file.erase(file.begin() + ptrdiff_t(start), file.begin() + ptrdiff_t(start + length));
    for (size_t i = 0; i < 8; ++i) file[info.directory_offset(kDirSecurity) + i] = 0;
    return true;
}

}  // namespace qpack
