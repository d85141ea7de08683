// quorvia-pack --check reading a class file taken from a jar: any bytes must give either an error or
// a class whose name lies within the input, never a read outside it.
#include <cstdint>
#include <string>

#include "pack/class_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ClassFileInfo info;
    std::string error;
    if (ReadClassFile(data, size, info, error)) {
        if (info.name.empty() || info.name.size() > size) __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
