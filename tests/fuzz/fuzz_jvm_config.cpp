// The runtime's jvm.cfg, read line by line from any bytes.
#include <cstdint>
#include <cstdio>

#include "fuzz_input.h"
#include "runtime/jvm_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = tmpfile();
    if (file == nullptr) return 0;
    if (size > 0 && fwrite(data, 1, size, file) != size) {
        fclose(file);
        return 0;
    }
    rewind(file);
    int count = ReadKnownVmsFromFile(file);
    fclose(file);
    FUZZ_CHECK(count >= 0 && count <= kMaxKnownVms);
    for (int i = 0; i < kMaxKnownVms; i++) {
        if (i >= count) {
            FUZZ_CHECK(g_knownVms[i] == nullptr);
            continue;
        }
        // A name is one blank-free word of one line.
        FUZZ_CHECK(g_knownVms[i] != nullptr && g_knownVms[i][0] != '\0');
        FUZZ_CHECK(strpbrk(g_knownVms[i], " \t\n") == nullptr);
        FUZZ_CHECK(strlen(g_knownVms[i]) < 1044);
    }
    ReleaseKnownVmTable();
    return 0;
}
