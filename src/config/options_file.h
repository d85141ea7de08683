// The options files an installed exe reads beside itself and in the user's profile: VM options,
// class path entries, application arguments, heap percentages and includes, one item per line.
#pragma once

#include <cstddef>

const size_t kOptionsFileLimit = 64 * 1024;  // bytes per file
const size_t kOptionsLineLimit = 1024;       // bytes per line and per expanded value, terminator included
const int kOptionsIncludeDepth = 4;          // files below the first one
const int kOptionsItemLimit = 256;           // items of all files together

enum OptionsItemKind {
    kVmOptionItem,
    kClassPathAppendItem,
    kClassPathPrependItem,
    kArgumentItem,
    kInitialHeapPercentItem,
    kMaxHeapPercentItem,
    kIncludeItem,
};

struct OptionsItem {
    OptionsItemKind kind;
    const char* file;  // the file it was read from (shared by its items)
    int line;
    char* value;  // expanded; heap copy kept for the life of the process (the VM option list points here)
    int percent;  // the heap items' value
};

// Items of every file read so far, in reading order; `error` holds the message of the first
// refused line or file ("FILE, line N: ..."), and reading stops there.
struct OptionsFileItems {
    OptionsItem items[kOptionsItemLimit];
    int count;
    char error[kOptionsLineLimit + 512];
};

// Parses the text of one file (UTF-8, optional byte-order mark, CRLF or LF). Appends its items
// to `into`; false with into->error set on the first line it refuses.
bool ParseOptionsText(const char* text, size_t size, const char* file, OptionsFileItems* into);

// Reads `path` when it exists, then the files it includes, after it and in their order. False
// with into->error set when a file is unreadable, too large, refused or its includes loop.
bool ReadOptionsFile(const char* path, OptionsFileItems* into);

// "VM option", "class path (append)" ... for reports.
const char* OptionsItemKindName(OptionsItemKind kind);
