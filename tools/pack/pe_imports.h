// The machine and the load-time imports of a PE image (PE32 or PE32+): what Windows must find
// before a DLL such as jvm.dll can load.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

const uint16_t kMachineI386 = 0x14c;
const uint16_t kMachineAmd64 = 0x8664;

struct PeImports {
    uint16_t machine = 0;
    bool isPe32Plus = false;
    std::vector<std::string> dllNames;  // as the import table writes them
};

// False, with the reason, when the headers or the import table cannot be read within the file.
bool ReadPeImports(const std::vector<uint8_t>& file, PeImports& imports, std::string& error);

// "x64", "x86 (32-bit)" or the machine number.
std::string MachineName(uint16_t machine);
