// quorvia-pack --check reading a jar of any bytes (zip64 included): the directory is read or refused
// with a reason, never read outside the file; an entry it lists is extracted or refused, and what
// comes out has the size the directory records.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "pack/jar_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly as long as the input, so a read past the file's end is caught.
    std::vector<uint8_t> jar(data, data + size);
    std::vector<JarEntry> entries;
    std::string error;
    if (!ReadJarDirectory(jar, entries, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    // Each directory record takes 46 bytes at least.
    FUZZ_CHECK(entries.size() <= size / 46);
    for (size_t i = 0; i < entries.size() && i < 64; i++) {
        std::vector<uint8_t> bytes;
        if (ExtractJarEntry(jar, entries[i], 1 << 20, bytes, error)) {
            FUZZ_CHECK(bytes.size() == entries[i].size);
        } else {
            FUZZ_CHECK(!error.empty() && bytes.empty());
        }
    }
    return 0;
}
