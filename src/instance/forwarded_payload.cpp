#include "instance/forwarded_payload.h"

#include <cstdlib>
#include <cstring>

#include "base/text.h"

bool ForwardedPayloadSize(int argc, char* const* argv, uint32_t* size) {
    if (argc < 0) return false;
    uint64_t total = kForwardedPayloadMinimum;
    for (int i = 0; i < argc; i++) {
        total += strlen(argv[i]) + 1;
        if (total > UINT32_MAX) return false;
    }
    *size = static_cast<uint32_t>(total);
    return true;
}

unsigned char* BuildForwardedPayload(int argc, char* const* argv, uint32_t* size) {
    uint32_t length = 0;
    if (!ForwardedPayloadSize(argc, argv, &length)) return nullptr;
    unsigned char* payload = static_cast<unsigned char*>(AllocOrExit(length));
    memset(payload, 0, length);
    // Little-endian whatever the host, since the layout is fixed.
    uint32_t count = static_cast<uint32_t>(argc);
    for (int b = 0; b < 4; b++) payload[b] = static_cast<unsigned char>(count >> (8 * b));
    size_t offset = 4;
    for (int i = 0; i < argc; i++) {
        size_t bytes = strlen(argv[i]) + 1;
        memcpy(payload + offset, argv[i], bytes);
        offset += bytes;
    }
    *size = length;
    return payload;
}

char** SplitForwardedArguments(void* payload, size_t size, int* count) {
    if (payload == nullptr || size < kForwardedPayloadMinimum) return nullptr;
    unsigned char* bytes = static_cast<unsigned char*>(payload);
    uint32_t raw = 0;
    for (int b = 0; b < 4; b++) raw |= static_cast<uint32_t>(bytes[b]) << (8 * b);
    if (raw > INT32_MAX) return nullptr;
    size_t wanted = raw;
    // Every string takes at least its NUL, so a larger count cannot be present; checking this first
    // also bounds the pointer array by the received size.
    size_t stringsEnd = size - kForwardedPayloadTail;
    if (wanted > stringsEnd - 4) return nullptr;

    char** strings = static_cast<char**>(AllocOrExit((wanted > 0 ? wanted : 1) * sizeof(char*)));
    size_t offset = 4;
    for (size_t i = 0; i < wanted; i++) {
        const void* nul = offset < stringsEnd ? memchr(bytes + offset, 0, stringsEnd - offset) : nullptr;
        if (nul == nullptr) {
            free(strings);
            return nullptr;
        }
        strings[i] = reinterpret_cast<char*>(bytes + offset);
        offset = static_cast<size_t>(static_cast<const unsigned char*>(nul) - bytes) + 1;
    }
    // The strings must end where the tail begins, and the tail must be zero: otherwise the count
    // and the strings disagree.
    if (offset != stringsEnd) {
        free(strings);
        return nullptr;
    }
    for (size_t t = stringsEnd; t < size; t++) {
        if (bytes[t] != 0) {
            free(strings);
            return nullptr;
        }
    }
    *count = static_cast<int>(wanted);
    return strings;
}
