#include "launcher/installed_options.h"

#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "config/config_edge.h"
#include "config/env_expansion.h"
#include "config/resource_contract.h"
#include "config/resources.h"

static OptionsFileItems g_items;
// What the command line set before the files are read: it keeps precedence over them.
static int g_commandLineVmOptions;
static int g_commandLineInitialPercent;
static int g_commandLineMaxPercent;

const OptionsFileItems& InstalledOptionsItems() { return g_items; }

static bool ReadTextResource(const LaunchResource& resource, char** text) {
    size_t size = 0;
    const void* bytes = LoadLaunchResource(resource, &size, nullptr);
    *text = bytes != nullptr ? CopyResourceText(bytes, size) : nullptr;
    return bytes != nullptr;
}

bool ReadExpandedResource(const LaunchResource& resource, char** text) {
    char* raw = nullptr;
    *text = nullptr;
    if (!ReadTextResource(resource, &raw)) return true;
    ExpandStatus status = kExpandOk;
    char name[256];
    *text = ExpandVariablesCopy(raw, &status, name, sizeof name);
    free(raw);
    if (*text != nullptr) return true;
    char problem[512];
    DescribeExpandFailure(status, name, problem, sizeof problem);
    ReportFatal("The packed %s: %s.\n", resource.typeName, problem);
    return false;
}

static bool ReadOptionsFiles() {
    size_t size = 0;
    if (LoadLaunchResource(kOptionsFileResource, &size, nullptr) != nullptr) {
        char path[kWindowsPathSize];
        char* base = GetExeBaseName();
        bool formed = FormatPathText(path, sizeof path, "%s%s.options", GetExeFolder(), base);
        free(base);
        if (!formed) {
            ReportFatal("The options file's path beside the exe is too long.\n");
            return false;
        }
        if (!ReadOptionsFile(path, &g_items)) return false;
    }
    char* userFile = nullptr;
    if (!ReadExpandedResource(kUserOptionsFileResource, &userFile)) return false;
    bool read = userFile == nullptr || ReadOptionsFile(userFile, &g_items);
    // The items keep their own copy of the file name.
    free(userFile);
    return read;
}

bool ReadInstalledOptions() {
    g_commandLineVmOptions = g_launch.jvmOptions.count;
    g_commandLineInitialPercent = g_launch.initialHeapPercent;
    g_commandLineMaxPercent = g_launch.maxHeapPercent;
    g_items.count = 0;
    g_items.error[0] = '\0';
    if (!ReadOptionsFiles()) {
        // A packed path that does not expand has been reported already.
        if (g_items.error[0] != '\0') ReportFatal("%s", g_items.error);
        return false;
    }
    // Expanded later where they are read; a missing variable must stop the launch here.
    size_t size = 0;
    if (LoadLaunchResource(kExpandEnvResource, &size, nullptr) != nullptr) {
        char* text = nullptr;
        if (!ReadExpandedResource(kVmOptionsResource, &text)) return false;
        free(text);
        if (!ReadExpandedResource(kClassPathResource, &text)) return false;
        free(text);
    }
    for (int i = 0; i < g_items.count; i++) {
        if (g_items.items[i].kind == kClassPathPrependItem) AppendClassPath(g_items.items[i].value);
    }
    return true;
}

void ApplyInstalledHeapPercents() {
    for (int i = 0; i < g_items.count; i++) {
        const OptionsItem& item = g_items.items[i];
        if (item.kind == kInitialHeapPercentItem && g_commandLineInitialPercent == 0)
            g_launch.initialHeapPercent = item.percent;
        if (item.kind == kMaxHeapPercentItem && g_commandLineMaxPercent == 0) g_launch.maxHeapPercent = item.percent;
    }
}

void AddInstalledClassPath() {
    for (int i = 0; i < g_items.count; i++) {
        if (g_items.items[i].kind == kClassPathAppendItem) AppendClassPath(g_items.items[i].value);
    }
}

void AddInstalledVmOptions() {
    bool added = false;
    for (int i = 0; i < g_items.count; i++) {
        if (g_items.items[i].kind != kVmOptionItem) continue;
        AddVmOption(g_items.items[i].value, nullptr);
        added = true;
    }
    if (!added) return;
    for (int i = 0; i < g_commandLineVmOptions; i++) {
        const char* text = g_launch.jvmOptions.options[i].optionString;
        if (strncmp(text, "-D", 2) == 0) AddVmOption(text, nullptr);
    }
}

int SplitArgumentText(char* text, char** items, int max) {
    int count = 0;
    char* in = text;
    while (count < max) {
        while (*in == ' ' || *in == '\t') in++;
        if (*in == '\0') break;
        char* out = in;
        items[count++] = out;
        bool quoted = false;
        while (*in != '\0' && (quoted || (*in != ' ' && *in != '\t'))) {
            size_t backslashes = 0;
            while (in[backslashes] == '\\') backslashes++;
            if (in[backslashes] == '"') {
                for (size_t i = 0; i < backslashes / 2; i++) *out++ = '\\';
                in += backslashes;
                if (backslashes % 2 == 1) {
                    *out++ = '"';
                } else if (quoted && in[1] == '"') {
                    *out++ = '"';  // "" inside quotes is one quote
                    in++;
                } else {
                    quoted = !quoted;
                }
                in++;
            } else if (backslashes > 0) {
                for (size_t i = 0; i < backslashes; i++) *out++ = *in++;
            } else {
                *out++ = *in++;
            }
        }
        bool more = *in != '\0';
        *out = '\0';
        if (more) in++;
        if (!more) break;
    }
    return count;
}

bool ComposeApplicationArguments(int* argc, char*** argv) {
    char* packed = nullptr;
    if (!ReadExpandedResource(kArgumentsResource, &packed)) return false;
    // The packed text is under 1024 bytes, so it holds fewer than 512 arguments; the items point
    // into it for the life of the process.
    char* packedItems[512];
    int packedCount = packed != nullptr ? SplitArgumentText(packed, packedItems, 512) : 0;
    int fileCount = 0;
    for (int i = 0; i < g_items.count; i++) fileCount += g_items.items[i].kind == kArgumentItem;
    if (packedCount + fileCount == 0) return true;

    int count = packedCount + fileCount + *argc;
    char** all = static_cast<char**>(AllocOrExit((static_cast<size_t>(count) + 1) * sizeof(char*)));
    int at = 0;
    for (int i = 0; i < packedCount; i++) all[at++] = packedItems[i];
    for (int i = 0; i < g_items.count; i++) {
        if (g_items.items[i].kind == kArgumentItem) all[at++] = g_items.items[i].value;
    }
    for (int i = 0; i < *argc; i++) all[at++] = (*argv)[i];
    all[at] = nullptr;
    *argc = count;
    *argv = all;
    return true;
}
