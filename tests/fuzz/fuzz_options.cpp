// The launcher's own command-line options: any list of items, plus ParseDecimal against strtol.
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "base/launch_state.h"
#include "base/text.h"
#include "fake_platform.h"
#include "fuzz_input.h"
#include "launcher/options.h"

static void CheckParseDecimal(const std::string& field) {
    std::string text = AsCString(field);
    // Reference: the C library reads the same shape (blanks, sign, decimal digits) and clamps.
    long long reference = strtoll(text.c_str(), nullptr, 10);
    if (reference > INT_MAX) reference = INT_MAX;
    if (reference < INT_MIN) reference = INT_MIN;
    FUZZ_CHECK(ParseDecimal(text.c_str()) == reference);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetFakePlatformAndState();
    std::vector<std::string> fields = SplitFields(data, size, 48);
    CheckParseDecimal(fields[0]);

    std::vector<char*> input;
    for (const std::string& field : fields) input.push_back(ExactCopy(field));
    int count = static_cast<int>(input.size());
    char** items = input.data();
    int status = 0;
    bool parsed = ParseLauncherOptions(&count, &items, &status);
    if (parsed) {
        // The remaining items are some of the given ones, in their order.
        FUZZ_CHECK(count >= 0 && count <= static_cast<int>(input.size()));
        size_t next = 0;
        for (int i = 0; i < count; i++) {
            while (next < input.size() && input[next] != items[i]) next++;
            FUZZ_CHECK(next < input.size());
            next++;
        }
        free(items);
    } else {
        FUZZ_CHECK(status == 1);
    }
    const GrowableString& classPath = g_launch.classPath;
    if (classPath.text != nullptr) FUZZ_CHECK(strlen(classPath.text) < classPath.capacity);
    // The launch state keeps pointers into the items (splash, VM options): they stay allocated
    // until the next reset has dropped them.
    ResetFakePlatformAndState();
    for (char* item : input) free(item);
    return 0;
}
