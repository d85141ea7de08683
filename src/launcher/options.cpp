#include "launcher/options.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/exit_status.h"
#include "base/launch_state.h"
#include "base/text.h"

namespace {

enum ValueKind { NoValue, NextItemRequired, NextItemOptional };

enum OptionEffect {
    ClassPathOption,
    VerbatimVmOption,
    JreVersionOption,
    PublicJreOption,
    CryptOption,
    DpiOption,
    SplashOption,
    TranslatedVmOption,
    ConfigFileOption,
    InitialHeapPercentOption,
    InitialHeapSizeOption,
    MaxHeapPercentOption,
    MaxHeapSizeOption,
    SyncDirectoryOption,
};

struct OptionRow {
    const char* text;
    bool prefix;
    ValueKind value;
    OptionEffect effect;
    const char* vmOption;  // the translated switch, for TranslatedVmOption
};

// Tested in this order; the first row that matches decides.
const OptionRow kOptionTable[] = {
    {"-classpath", false, NextItemRequired, ClassPathOption, nullptr},
    {"-cp", false, NextItemRequired, ClassPathOption, nullptr},
    {"--module-path=", true, NoValue, VerbatimVmOption, nullptr},
    {"--add-modules=", true, NoValue, VerbatimVmOption, nullptr},
    {"--list-modules", false, NoValue, VerbatimVmOption, nullptr},
    {"-jreversion", false, NextItemRequired, JreVersionOption, nullptr},
    {"-jre", false, NextItemRequired, JreVersionOption, nullptr},
    {"-publicJRE", false, NoValue, PublicJreOption, nullptr},
    {"-crypt", false, NoValue, CryptOption, nullptr},
    {"-enableDPIScaling", false, NoValue, DpiOption, nullptr},
    {"-dpi", false, NoValue, DpiOption, nullptr},
    {"-splash:", true, NoValue, SplashOption, nullptr},
    {"-verbose", false, NoValue, TranslatedVmOption, "-verbose"},
    {"-verbosegc", false, NoValue, TranslatedVmOption, "-verbose:gc"},
    {"-verbose:gc", false, NoValue, TranslatedVmOption, "-verbose:gc"},
    {"-t", false, NoValue, TranslatedVmOption, "-Xt"},
    {"-Xt", false, NoValue, TranslatedVmOption, "-Xt"},
    {"-tm", false, NoValue, TranslatedVmOption, "-Xtm"},
    {"-Xtm", false, NoValue, TranslatedVmOption, "-Xtm"},
    {"-debug", false, NoValue, TranslatedVmOption, "-Xdebug"},
    {"-Xdebug", false, NoValue, TranslatedVmOption, "-Xdebug"},
    {"-noclassgc", false, NoValue, TranslatedVmOption, "-Xnoclassgc"},
    {"-Xnoclassgc", false, NoValue, TranslatedVmOption, "-Xnoclassgc"},
    {"-verifyall", false, NoValue, TranslatedVmOption, "-Xverify:all"},
    {"-Xverify:all", false, NoValue, TranslatedVmOption, "-Xverify:all"},
    {"-verify", false, NoValue, TranslatedVmOption, "-Xverify:all"},
    {"-verifyremote", false, NoValue, TranslatedVmOption, "-Xverify:remote"},
    {"-Xverify:remote", false, NoValue, TranslatedVmOption, "-Xverify:remote"},
    {"-noverify", false, NoValue, TranslatedVmOption, "-Xverify:none"},
    {"-Xverify:none", false, NoValue, TranslatedVmOption, "-Xverify:none"},
    {"-D", true, NoValue, VerbatimVmOption, nullptr},
    {"-configfile", false, NextItemOptional, ConfigFileOption, nullptr},
    {"-initialHeapPercent", false, NextItemOptional, InitialHeapPercentOption, nullptr},
    {"-initialHeapSize", false, NextItemOptional, InitialHeapSizeOption, nullptr},
    {"-maxHeapPercent", false, NextItemOptional, MaxHeapPercentOption, nullptr},
    {"-maxHeapSize", false, NextItemOptional, MaxHeapSizeOption, nullptr},
    {"-syncdirectory", false, NextItemOptional, SyncDirectoryOption, nullptr},
};

const OptionRow* MatchOption(const char* item) {
    for (const OptionRow& row : kOptionTable) {
        bool matches = row.prefix ? strncmp(item, row.text, strlen(row.text)) == 0 : strcmp(item, row.text) == 0;
        if (matches) return &row;
    }
    return nullptr;
}

void ApplyOption(const OptionRow& row, char* item, const char* value) {
    switch (row.effect) {
        case ClassPathOption: AppendClassPath(value); break;
        case VerbatimVmOption: AddVmOption(item, nullptr); break;
        case JreVersionOption: g_launch.jreVersion = CopyText(value); break;
        case PublicJreOption: g_launch.usePublicJre = true; break;
        case CryptOption: g_launch.cryptEnabled = true; break;
        case DpiOption: g_launch.dpiScaling = true; break;
        case SplashOption: g_launch.splashOption = item + strlen(row.text); break;
        case TranslatedVmOption: AddVmOption(row.vmOption, nullptr); break;
        case ConfigFileOption: SetConfigFilePath(value); break;
        case InitialHeapPercentOption:
            g_launch.initialHeapPercent = ParseDecimal(value);
            g_launch.heapOptionGiven = true;
            break;
        case InitialHeapSizeOption:
            g_launch.initialHeapSize = ParseDecimal(value);
            g_launch.heapOptionGiven = true;
            break;
        case MaxHeapPercentOption:
            g_launch.maxHeapPercent = ParseDecimal(value);
            g_launch.heapOptionGiven = true;
            break;
        case MaxHeapSizeOption:
            g_launch.maxHeapSize = ParseDecimal(value);
            g_launch.heapOptionGiven = true;
            break;
        case SyncDirectoryOption: SetSyncPath(value, true); break;
    }
}

}  // namespace

bool ParseLauncherOptions(int* count, char*** items, int* status) {
    *status = kExitLaunchFailed;
    int inputCount = *count;
    char** input = *items;
    char** output = static_cast<char**>(AllocOrExit(sizeof(char*) * (inputCount > 0 ? inputCount : 1)));
    int outputCount = 0;

    for (int i = 0; i < inputCount; i++) {
        char* item = input[i];
        const OptionRow* row = MatchOption(item);
        if (row == nullptr) {
            PrintNote(stdout, "Option not recognized, is it an argument?(%s)\n", item);
            output[outputCount++] = item;
            continue;
        }
        const char* value = nullptr;
        if (row->value != NoValue) {
            if (i + 1 >= inputCount) {
                if (row->effect == ClassPathOption) {
                    PrintMessage(stderr, "%s requires class path specification\n", item);
                    return false;
                }
                if (row->effect == JreVersionOption) {
                    PrintMessage(stderr, "%s requires a version specification\n", item);
                    return false;
                }
                // A trailing option whose value is missing has nothing to act on: it is ignored
                // with a warning instead of reading past the list.
                PrintMessage(stderr, "%s requires a value; ignored\n", item);
                continue;
            }
            value = input[++i];
        }
        ApplyOption(*row, item, value);
    }

    if (!g_launch.heapOptionGiven && strcmp(GetProcessorArchName(), "amd64") == 0) {
        PrintNote(stdout, "There are %d total MB of physical memory.\n",
               static_cast<int>(QueryTotalPhysicalMemory() / 1048576));
    }
    *count = outputCount;
    *items = output;
    return true;
}

OptionItemKind ClassifyOptionItem(const char* item, bool* takesValue, const char** vmForm) {
    const OptionRow* row = MatchOption(item);
    *takesValue = row != nullptr && row->value != NoValue;
    *vmForm = item;
    if (row == nullptr) return UnknownOptionItem;
    if (row->effect == TranslatedVmOption) *vmForm = row->vmOption;
    bool toVm = row->effect == TranslatedVmOption || row->effect == VerbatimVmOption;
    return toVm ? VmSwitchItem : LauncherOptionItem;
}
