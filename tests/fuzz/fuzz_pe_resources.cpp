// quorvia-pack reading an exe: headers, section table and the resource tree of any bytes. A
// malformed or cut file must give an error; an accepted one must survive rewriting its own
// resources and read back the same.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "pack/pe_image.h"


static int CompareKeys(const Resource& a, const Resource& b) {
    if (int c = CompareNames(a.type, b.type)) return c;
    if (int c = CompareNames(a.name, b.name)) return c;
    return CompareNames(a.lang, b.lang);
}

// Sorted by type, name and language; false when two resources share all three, as only a
// malformed tree can give (which one a rewrite keeps is then not defined).
static bool SortedUnique(std::vector<Resource>& resources) {
    std::stable_sort(resources.begin(), resources.end(),
                     [](const Resource& a, const Resource& b) { return CompareKeys(a, b) < 0; });
    for (size_t i = 1; i < resources.size(); i++) {
        if (CompareKeys(resources[i - 1], resources[i]) == 0) return false;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly as long as the input, so a read past the file's end is caught.
    Bytes file(data, data + size);
    PeInfo info;
    std::string error;
    if (!ParsePe(file, info, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    std::vector<Resource> resources;
    if (!ReadResources(file, info, resources, error)) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    for (const Resource& r : resources) (void)DisplayName(r.type);

    Bytes rewritten = file;
    std::string writeError;
    if (!WriteResources(rewritten, resources, writeError)) {
        FUZZ_CHECK(!writeError.empty());
        return 0;
    }
    PeInfo again;
    std::vector<Resource> reread;
    FUZZ_CHECK(ParsePe(rewritten, again, error));
    FUZZ_CHECK(ReadResources(rewritten, again, reread, error));
    std::vector<Resource> before = resources;
    if (!SortedUnique(before)) return 0;
    FUZZ_CHECK(SortedUnique(reread) && reread.size() == before.size());
    for (size_t i = 0; i < before.size(); i++) {
        FUZZ_CHECK(CompareKeys(before[i], reread[i]) == 0 && before[i].data == reread[i].data);
    }
    return 0;
}
