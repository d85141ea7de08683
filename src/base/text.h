// Text and allocation helpers every room uses.
#pragma once

#include <cstddef>

// malloc that never returns null: out of memory, it tells so on stderr and ends the process with 1.
void* AllocOrExit(size_t size);

// A heap copy of `text` (from AllocOrExit); the caller frees it.
char* CopyText(const char* text);

// Whether `text` is null or "".
bool IsEmpty(const char* text);

// Leading white space, optional sign, decimal digits up to the first other character; no digits gives 0.
// Saturates at the int range.
int ParseDecimal(const char* text);

// Formats a path into buffer; false, with the buffer emptied, when the text would not fit.
// No path is ever cut short: a cut path names another file.
bool FormatPathText(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
