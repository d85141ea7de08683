// A launcher exe as the packer works on it: loaded once (the file, its PE layout and its resource
// tree), changed in memory, and written once.
#pragma once

#include <string>
#include <vector>

#include "pack/pe_image.h"

struct PackedExe {
    std::string path;
    Bytes file;
    PeInfo layout;
    std::vector<Resource> resources;
};

// Reads the file and its PE headers and resources; false with the reason in error.
bool LoadPackedExe(const std::string& path, PackedExe& exe, std::string& error);
// Lays out exe.resources into the image (headers and checksum fixed) and writes it to path, replacing
// a file there only once the new one is complete. The error names the file it is about.
bool WritePackedExe(PackedExe& exe, const std::string& path, std::string& error);
// Whether the exe carries at least one launch resource, that is, was packed before.
bool CarriesLaunchResources(const PackedExe& exe);
