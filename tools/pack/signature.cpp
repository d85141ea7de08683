#include "pack/signature.h"

#include <algorithm>

bool HasSignature(const PeInfo& info) {
    if (info.numberOfRvaAndSizes <= kDirSecurity) return false;
    return info.dirs[kDirSecurity].rva != 0 || info.dirs[kDirSecurity].size != 0;
}

bool StripSignature(Bytes& file, std::string& error) {
    PeInfo info;
    if (!ParsePe(file, info, error)) return false;
    if (!HasSignature(info)) return true;
    // The certificate table's "RVA" is a file offset.
    uint64_t start = info.dirs[kDirSecurity].rva, length = info.dirs[kDirSecurity].size;
    uint64_t sectionsEnd = info.sizeOfHeaders;
    for (const Section& s : info.sections) {
        if (s.rawSize > 0) sectionsEnd = std::max<uint64_t>(sectionsEnd, uint64_t(s.rawPointer) + s.rawSize);
    }
    if (start < sectionsEnd || start + length > file.size()) {
        error = "its certificate table does not lie at the end of the file; it cannot be removed";
        return false;
    }
    file.erase(file.begin() + ptrdiff_t(start), file.begin() + ptrdiff_t(start + length));
    for (size_t i = 0; i < 8; ++i) file[DirectoryOffset(info, kDirSecurity) + i] = 0;
    return true;
}
