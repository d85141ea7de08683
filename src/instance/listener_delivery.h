// The running instance's side of a hand-off: forwarded arguments into initSingleApplication.
#pragma once

#include <cstddef>
#include <cstdint>

// One message to the debugger output, printf-style, cut at 1023 characters, followed by "\n".
void DebugLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Handles one received WM_COPYDATA (its dwData, lpData and cbData): writes "Callback!!!\n" to
// standard output, ignores anything without data or the forwarding tag or with a malformed payload,
// otherwise attaches this thread to the process's VM, calls className's static
// initSingleApplication(String[]) with the arguments, and detaches again.
void DeliverForwardedPayload(const char* className, uintptr_t tag, void* data, size_t size);
