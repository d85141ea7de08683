// The CLASS-PATH resource expanded into class path entries.
// Input: executable path NUL cache folder NUL runtime home NUL resource bytes.
#include <cstdint>
#include <cstdlib>

#include "config/resource_lists.h"
#include "fake_platform.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetFakePlatformAndState();
    std::vector<std::string> fields = SplitFields(data, size, 4);
    if (fields.size() < 4) return 0;
    g_fake.exePath = AsCString(fields[0]);
    g_fake.cacheFolder = AsCString(fields[1]);
    std::string home = AsCString(fields[2]);
    SetFakeResource("CLASS-PATH", 4000, fields[3]);
    char* classPath = BuildResourceClassPath(home.empty() ? nullptr : home.c_str());
    if (classPath != nullptr) {
        // Entries each end with ';' and none is longer than its 272-character buffer allowed.
        size_t length = strlen(classPath);
        FUZZ_CHECK(length > 0 && classPath[length - 1] == ';');
        size_t entryStart = 0;
        for (size_t i = 0; i < length; i++) {
            if (classPath[i] != ';') continue;
            FUZZ_CHECK(i - entryStart < 272);
            entryStart = i + 1;
        }
        free(classPath);
    }
    return 0;
}
