#include "runtime/jvm_config.h"

#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/text.h"

char* g_knownVms[kMaxKnownVms];

// A jvm.cfg line is read in pieces of at most this many characters minus one.
static const int kLineBufferSize = 1044;
static const size_t kPathBufferSize = 1024;

static bool IsSeparator(char c) { return c == ' ' || c == '\t'; }

static char* SkipSeparators(char* text) {
    while (IsSeparator(*text)) text++;
    return text;
}

static char* FindSeparator(char* text) {
    while (*text != '\0' && !IsSeparator(*text)) text++;
    return text;
}

static bool StartsWith(const char* text, const char* keyword) {
    return strncmp(text, keyword, strlen(keyword)) == 0;
}

static void AddKnownVm(int* count, const char* name) {
    // An empty name has no type to test for and nothing after its terminator; it is left out.
    if (name[0] == '\0') return;
    g_knownVms[*count] = CopyText(name);
    (*count)++;
}

FILE* OpenJvmConfig(const char* home) {
    char path[kPathBufferSize];
    if (FormatPathText(path, sizeof path, "%s\\lib\\jvm.cfg", home)) {
        FILE* file = OpenTextFile(path);
        if (file != nullptr) return file;
    }
    if (!FormatPathText(path, sizeof path, "%s\\lib\\%s\\jvm.cfg", home, GetProcessorArchName())) return nullptr;
    return OpenTextFile(path);
}

int ReadKnownVmsFromFile(FILE* file) {
    ReleaseKnownVmTable();
    int count = 0;
    int lineNumber = 0;
    char line[kLineBufferSize];
    while (fgets(line, sizeof line, file) != nullptr) {
        lineNumber++;
        if (line[0] == '#') continue;
        if (line[0] != '-') PrintMessage(stderr, "Warning: no leading - on line %d of Config File\n", lineNumber);
        if (count >= kMaxKnownVms) {
            PrintMessage(stderr, "Warning: can't read more than %d entries from config file\n", kMaxKnownVms);
            break;
        }
        size_t length = strlen(line);
        if (length > 0) line[length - 1] = '\0';

        char* name = line;
        char* nameEnd = FindSeparator(line);
        if (*nameEnd == '\0') {
            PrintMessage(stderr, "Warning: missing VM type on line %d of Config File\n", lineNumber);
            AddKnownVm(&count, name);
            continue;
        }
        *nameEnd = '\0';
        char* kind = SkipSeparators(nameEnd + 1);
        if (*kind == '\0') {
            PrintMessage(stderr, "Warning: missing VM type on line %d of Config File\n", lineNumber);
            continue;
        }
        if (StartsWith(kind, "KNOWN")) {
            AddKnownVm(&count, name);
        } else if (StartsWith(kind, "ALIASED_TO")) {
            char* target = SkipSeparators(FindSeparator(kind));
            if (*target == '\0') {
                PrintMessage(stderr, "Warning: missing VM alias on line %d of Config File\n", lineNumber);
                continue;
            }
            *FindSeparator(target) = '\0';
            AddKnownVm(&count, target);
        } else if (StartsWith(kind, "WARN") || StartsWith(kind, "ERROR") || StartsWith(kind, "IGNORE")) {
            AddKnownVm(&count, name);
        } else {
            PrintMessage(stderr, "Warning: unknown VM type on line %d (%s) of Config File\n", lineNumber, kind);
            AddKnownVm(&count, name);
        }
    }
    return count;
}

int ReadKnownVms(const char* home) {
    FILE* file = OpenJvmConfig(home);
    if (file == nullptr) {
        ReportFatal("Error: could not open Config File on (%s)\n", home);
        return 0;
    }
    int count = ReadKnownVmsFromFile(file);
    fclose(file);
    return count;
}

void ReleaseKnownVmTable() {
    for (int i = 0; i < kMaxKnownVms; i++) {
        free(g_knownVms[i]);
        g_knownVms[i] = nullptr;
    }
}
