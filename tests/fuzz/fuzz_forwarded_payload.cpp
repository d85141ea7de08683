// The payload a later start forwards, read with exactly its received size. An accepted payload
// must be exactly what the sender side would build from the strings read out of it.
#include <cstdint>
#include <cstdlib>

#include "fuzz_input.h"
#include "instance/forwarded_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The received block is exactly `size` bytes: a read past it is an AddressSanitizer report.
    unsigned char* received = static_cast<unsigned char*>(malloc(size > 0 ? size : 1));
    if (size > 0) memcpy(received, data, size);
    int count = -1;
    char** strings = SplitForwardedArguments(received, size, &count);
    if (strings != nullptr) {
        FUZZ_CHECK(count >= 0);
        uint32_t builtSize = 0;
        unsigned char* rebuilt = BuildForwardedPayload(count, strings, &builtSize);
        FUZZ_CHECK(rebuilt != nullptr);
        FUZZ_CHECK(builtSize == size && memcmp(rebuilt, received, size) == 0);
        free(rebuilt);
        free(strings);
    } else {
        FUZZ_CHECK(count == -1);
    }
    free(received);
    return 0;
}
