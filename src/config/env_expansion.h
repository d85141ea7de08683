// ${NAME} in the texts an administrator edits or packs, replaced by the environment variable's value.
#pragma once

#include <cstddef>

enum ExpandStatus {
    kExpandOk,
    kExpandUndefined,  // the variable is not set: an empty value would silently change a path
    kExpandBadName,    // "${" without "}" or with an empty name
    kExpandTooLong,    // the result does not fit: a cut path would name another file
};

// Writes `text` with every ${NAME} replaced into `out` (`size` bytes, terminator included). A "$"
// not followed by "{" stays as it is. On kExpandUndefined, `name` receives the variable's name.
ExpandStatus ExpandVariables(const char* text, char* out, size_t size, char* name, size_t nameSize);

// The same into a new heap string of any length; null with *status set on failure.
char* ExpandVariablesCopy(const char* text, ExpandStatus* status, char* name, size_t nameSize);

// "refers to the undefined environment variable NAME" and the like, for a message naming the source.
void DescribeExpandFailure(ExpandStatus status, const char* name, char* out, size_t size);

// With the EXPAND-ENV mark: `text` (a heap string, taken over) expanded, as a new heap string.
// Without it, or when a variable is missing (the launch checked that before), `text` itself.
char* ExpandPackedText(char* text);
