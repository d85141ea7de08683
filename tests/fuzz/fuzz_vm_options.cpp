// The VM-OPTIONS resource split into items, with any executable path and cache folder substituted.
// Input: executable path NUL cache folder NUL resource bytes.
#include <cstdint>
#include <cstdlib>

#include "config/resource_lists.h"
#include "config/resources.h"
#include "fake_platform.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetFakePlatformAndState();
    std::vector<std::string> fields = SplitFields(data, size, 3);
    if (fields.size() < 3) return 0;
    g_fake.exePath = AsCString(fields[0]);
    g_fake.cacheFolder = AsCString(fields[1]);
    SetFakeResource("VM-OPTIONS", 5000, fields[2]);
    char** items = nullptr;
    int count = SplitVmOptions(&items);
    FUZZ_CHECK(count >= 0);
    if (fields[2].size() >= kTextResourceLimit) FUZZ_CHECK(count == 0);
    // A text with no blank, '#' or '%' and no escapes is one item, itself.
    std::string resource = AsCString(fields[2]);
    if (!resource.empty() && resource.find_first_of(" #%\x01") == std::string::npos &&
        fields[2].size() < kTextResourceLimit) {
        FUZZ_CHECK(count == 1 && resource == items[0]);
    }
    for (int i = 0; i < count; i++) {
        FUZZ_CHECK(items[i] != nullptr);
        free(items[i]);
    }
    if (count > 0) free(items);
    return 0;
}
