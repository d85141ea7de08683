#include "config/options_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "config/config_edge.h"
#include "config/env_expansion.h"

struct OptionsKey {
    const char* name;
    OptionsItemKind kind;
};

// Lines that start with "-" are VM options; every other item is KEY=VALUE.
static const OptionsKey kOptionsKeys[] = {
    {"class-path-append", kClassPathAppendItem},
    {"class-path-prepend", kClassPathPrependItem},
    {"argument", kArgumentItem},
    {"initial-heap-percent", kInitialHeapPercentItem},
    {"max-heap-percent", kMaxHeapPercentItem},
    {"include", kIncludeItem},
};

const char* OptionsItemKindName(OptionsItemKind kind) {
    switch (kind) {
        case kVmOptionItem:
            return "VM option";
        case kClassPathAppendItem:
            return "class path, appended";
        case kClassPathPrependItem:
            return "class path, prepended";
        case kArgumentItem:
            return "argument";
        case kInitialHeapPercentItem:
            return "initial heap percent";
        case kMaxHeapPercentItem:
            return "maximum heap percent";
        case kIncludeItem:
            return "include";
    }
    return "";
}

static bool Refuse(OptionsFileItems* into, const char* file, int line, const char* problem) {
    if (line > 0) {
        snprintf(into->error, sizeof into->error, "%s, line %d: %s\n", file, line, problem);
    } else {
        snprintf(into->error, sizeof into->error, "%s: %s\n", file, problem);
    }
    return false;
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// 0..100 written as digits only: a typo must not become another heap size.
static bool ParsePercent(const char* text, int* percent) {
    if (*text == '\0' || strlen(text) > 3) return false;
    int value = 0;
    for (const char* at = text; *at; at++) {
        if (*at < '0' || *at > '9') return false;
        value = value * 10 + (*at - '0');
    }
    *percent = value;
    return value <= 100;
}

// One trimmed, non-empty line that is not a comment.
static bool TakeLine(char* line, const char* file, int number, OptionsFileItems* into) {
    OptionsItemKind kind = kVmOptionItem;
    const char* value = line;
    if (line[0] != '-') {
        char* equals = strchr(line, '=');
        if (equals == nullptr)
            return Refuse(into, file, number,
                          "not an option (a VM option starts with \"-\", other items are KEY=VALUE)");
        char* keyEnd = equals;
        while (keyEnd > line && IsBlank(keyEnd[-1])) keyEnd--;
        *keyEnd = '\0';
        const OptionsKey* key = nullptr;
        for (const OptionsKey& k : kOptionsKeys) {
            if (EqualsIgnoringCase(line, k.name)) key = &k;
        }
        if (key == nullptr) return Refuse(into, file, number, "unknown key");
        kind = key->kind;
        value = equals + 1;
        while (IsBlank(*value)) value++;
        if (*value == '\0') return Refuse(into, file, number, "the key needs a value");
    }
    if (into->count >= kOptionsItemLimit) return Refuse(into, file, number, "too many items (the limit is 256)");
    char expanded[kOptionsLineLimit];
    char name[256];
    ExpandStatus status = ExpandVariables(value, expanded, sizeof expanded, name, sizeof name);
    if (status != kExpandOk) {
        char problem[512];
        DescribeExpandFailure(status, name, problem, sizeof problem);
        return Refuse(into, file, number, problem);
    }
    OptionsItem& item = into->items[into->count];
    item.kind = kind;
    item.file = file;
    item.line = number;
    item.percent = 0;
    if ((kind == kInitialHeapPercentItem || kind == kMaxHeapPercentItem) && !ParsePercent(expanded, &item.percent))
        return Refuse(into, file, number, "a heap percentage is a whole number from 0 to 100");
    item.value = CopyText(expanded);
    into->count++;
    return true;
}

bool ParseOptionsText(const char* text, size_t size, const char* file, OptionsFileItems* into) {
    size_t at = 0;
    if (size >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0) at = 3;
    for (int number = 1; at < size; number++) {
        size_t end = at;
        while (end < size && text[end] != '\n') end++;
        if (memchr(text + at, '\0', end - at) != nullptr) return Refuse(into, file, number, "holds a NUL byte");
        size_t first = at, last = end;
        while (first < last && IsBlank(text[first])) first++;
        while (last > first && IsBlank(text[last - 1])) last--;
        if (last - first >= kOptionsLineLimit) return Refuse(into, file, number, "the line is longer than 1023 bytes");
        char line[kOptionsLineLimit];
        memcpy(line, text + first, last - first);
        line[last - first] = '\0';
        if (line[0] != '\0' && line[0] != '#' && !TakeLine(line, file, number, into)) return false;
        at = end + 1;
    }
    return true;
}

// An include names a file relative to the including file's folder unless it is absolute.
static bool FormIncludePath(const char* including, const char* path, char* out, size_t size) {
    bool absolute = path[0] == '\\' || path[0] == '/' || (path[0] != '\0' && path[1] == ':');
    if (absolute) return FormatPathText(out, size, "%s", path);
    const char* name = including;
    for (const char* at = including; *at; at++) {
        if (*at == '\\' || *at == '/') name = at + 1;
    }
    return FormatPathText(out, size, "%.*s%s", static_cast<int>(name - including), including, path);
}

static bool ReadWithChain(const char* path, const char** chain, int depth, OptionsFileItems* into) {
    static char buffer[kOptionsFileLimit];
    size_t length = 0;
    OptionsFileRead read = ReadOptionsFileBytes(path, buffer, sizeof buffer, &length);
    if (read == kOptionsFileMissing) return true;
    if (read == kOptionsFileTooLarge) return Refuse(into, path, 0, "larger than 64 KiB");
    if (read == kOptionsFileUnreadable) return Refuse(into, path, 0, "cannot be read");
    if (read == kOptionsFileNotInCodePage)
        return Refuse(into, path, 0, "holds characters this PC's code page cannot hold (pack the exe with --utf8)");
    // The items keep pointing at the file's name for their messages.
    char* file = CopyText(path);
    int first = into->count;
    if (!ParseOptionsText(buffer, length, file, into)) return false;
    int last = into->count;
    chain[depth] = file;
    for (int i = first; i < last; i++) {
        const OptionsItem& item = into->items[i];
        if (item.kind != kIncludeItem) continue;
        if (depth + 1 > kOptionsIncludeDepth)
            return Refuse(into, file, item.line, "includes nest more than 4 files deep");
        char included[kOptionsLineLimit];
        if (!FormIncludePath(file, item.value, included, sizeof included))
            return Refuse(into, file, item.line, "the included file's path is too long");
        for (int k = 0; k <= depth; k++) {
            if (EqualsIgnoringCase(chain[k], included))
                return Refuse(into, file, item.line, "includes a file that is already being read (a loop)");
        }
        if (!ReadWithChain(included, chain, depth + 1, into)) return false;
    }
    return true;
}

bool ReadOptionsFile(const char* path, OptionsFileItems* into) {
    const char* chain[kOptionsIncludeDepth + 1];
    return ReadWithChain(path, chain, 0, into);
}
