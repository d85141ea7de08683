// The forwarded-arguments payload that a later start hands to the running instance:
// a 32-bit little-endian count, the strings each with its NUL, then five zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Tag carried in dwData, so the listener can tell a hand-off from any other WM_COPYDATA.
const uintptr_t kForwardTag = 0xCAFE;

// Bytes after the strings, and the smallest payload (no arguments at all).
const size_t kForwardedPayloadTail = 5;
const size_t kForwardedPayloadMinimum = 4 + kForwardedPayloadTail;

// Size of the payload for these arguments; false when the count is negative or the total does not
// fit the 32-bit cbData of WM_COPYDATA.
bool ForwardedPayloadSize(int argc, char* const* argv, uint32_t* size);

// A zero-filled heap payload for these arguments (release with free), its length in *size;
// null when ForwardedPayloadSize refuses the arguments.
unsigned char* BuildForwardedPayload(int argc, char* const* argv, uint32_t* size);

// Pointers to the arguments of a received payload of `size` bytes, in order, into the payload itself
// (release the array with free; it is never null on success, even for no arguments); the count goes
// to *count. Null when the payload is malformed: shorter than the minimum, a negative count, a count
// other than the number of strings present, a string whose NUL lies beyond `size`, or a tail that is
// not five zero bytes ending exactly at `size`. Nothing beyond `size` bytes is read.
char** SplitForwardedArguments(void* payload, size_t size, int* count);
