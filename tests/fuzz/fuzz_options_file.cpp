// The options-file reader and the ${NAME} expander: any file text and any variable value.
#include <cstdint>
#include <cstring>

#include "config/env_expansion.h"
#include "config/options_file.h"
#include "fake_platform.h"
#include "fuzz_input.h"

static OptionsFileItems g_items;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetFakePlatformAndState();
    std::vector<std::string> fields = SplitFields(data, size, 3);
    g_fake.environment["V"] = AsCString(fields[0]);
    std::string text = fields.back();

    // The expander: the bounded form agrees with the unbounded one and never overflows `out`.
    char out[64];
    char name[16];
    char* expandedText = ExactCopy(text);
    ExpandStatus bounded = ExpandVariables(expandedText, out, sizeof out, name, sizeof name);
    ExpandStatus status = kExpandOk;
    char* copy = ExpandVariablesCopy(expandedText, &status, name, sizeof name);
    FUZZ_CHECK((copy != nullptr) == (status == kExpandOk));
    if (bounded == kExpandOk) FUZZ_CHECK(copy != nullptr && strcmp(copy, out) == 0);
    if (bounded == kExpandTooLong) FUZZ_CHECK(copy != nullptr && strlen(copy) >= sizeof out);
    free(copy);
    free(expandedText);

    // The reader: every item is a whole value within the line limit, or the file is refused.
    g_fake.optionsFiles["C:\\a.options"] = text;
    g_fake.optionsFiles["C:\\b.options"] = fields.size() > 2 ? fields[1] : "include=a.options\n";
    g_items.count = 0;
    g_items.error[0] = '\0';
    bool read = ReadOptionsFile("C:\\a.options", &g_items);
    FUZZ_CHECK(read == (g_items.error[0] == '\0'));
    FUZZ_CHECK(g_items.count <= kOptionsItemLimit);
    for (int i = 0; i < g_items.count; i++) {
        const OptionsItem& item = g_items.items[i];
        FUZZ_CHECK(strlen(item.value) < kOptionsLineLimit && item.line > 0);
        FUZZ_CHECK(item.percent >= 0 && item.percent <= 100);
    }
    return 0;
}
