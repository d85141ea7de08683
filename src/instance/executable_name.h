// Matching executables by file name, for raising the running instance's window.
#pragma once

// The part of a path after its last backslash (the whole path when it has none).
const char* FileNamePart(const char* path);

// Equal texts when ASCII letters are compared without case; other bytes must match exactly.
bool EqualIgnoringAsciiCase(const char* a, const char* b);
