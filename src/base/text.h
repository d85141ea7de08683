// Text and allocation helpers every room uses.
#pragma once

#include <cstdarg>
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

// Formats a whole message: into `local` when it fits, otherwise into a heap block that the caller
// frees (the result is then not `local`). Null when the format fails or memory runs out; *length
// gets the text's length.
char* FormatMessageText(char* local, size_t localSize, int* length, const char* format, va_list args);

// Letter case as Windows file names ignore it, for ASCII letters: other bytes compare as they are.
char FoldAsciiCase(char c);
int CompareIgnoringCase(const char* left, const char* right);
bool EqualsIgnoringCase(const char* left, const char* right);
// The rest of `text` after `prefix` (case ignored), or null when text does not begin with it.
const char* SkipPrefixIgnoringCase(const char* text, const char* prefix);
bool EndsWithIgnoringCase(const char* text, const char* suffix);

// What follows a path's last backslash: the file or folder name (the whole text without one).
const char* LastPathPart(const char* path);
