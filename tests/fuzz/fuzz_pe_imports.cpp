// quorvia-pack --check reading the imports of a DLL of any bytes (jvm.dll and what it loads): the
// headers and import table are read or refused with a reason, never outside the file, and every
// name it gives is a whole one.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "pack/pe_imports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly as long as the input, so a read past the file's end is caught.
    std::vector<uint8_t> file(data, data + size);
    PeImports imports;
    std::string error;
    if (!ReadPeImports(file, imports, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    // Each import descriptor takes 20 bytes of the file.
    FUZZ_CHECK(imports.dllNames.size() <= size / 20);
    for (const std::string& name : imports.dllNames)
        FUZZ_CHECK(name.size() < 260 && name.find('\0') == std::string::npos);
    (void)MachineName(imports.machine);
    return 0;
}
