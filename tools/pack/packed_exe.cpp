#include "pack/packed_exe.h"

#include "config/resource_contract.h"
#include "pack/file_io.h"

bool LoadPackedExe(const std::string& path, PackedExe& exe, std::string& error) {
    exe = PackedExe();
    exe.path = path;
    return ReadWholeFile(path, kExeFile, exe.file, error) && ParsePe(exe.file, exe.layout, error) &&
           ReadResources(exe.file, exe.layout, exe.resources, error);
}

bool WritePackedExe(PackedExe& exe, const std::string& path, std::string& error) {
    if (!WriteResources(exe.file, exe.resources, error) || !ParsePe(exe.file, exe.layout, error)) {
        error = exe.path + ": " + error;
        return false;
    }
    if (WriteFileReplacing(path, exe.file, error)) return true;
    error = path + ": " + error;
    return false;
}

bool CarriesLaunchResources(const PackedExe& exe) {
    for (const Resource& r : exe.resources) {
        for (const LaunchResource* launch : kLaunchResources) {
            if (SameName(r.type, StringName(launch->typeName))) return true;
        }
    }
    return false;
}
