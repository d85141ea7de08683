#include "runtime/runtime_search.h"

#include <cstdio>
#include <cstring>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/text.h"
#include "config/config_edge.h"
#include "files/app_folder.h"
#include "runtime/release_file.h"
#include "runtime/runtime_edge.h"
#include "runtime/runtime_home.h"
#include "runtime/runtime_search_edge.h"

// How an installer names the runtime home under its key.
enum RegistryLayout {
    kLayoutJavaHome,          // {key}\{version}: JavaHome
    kLayoutInstallerPath,     // {key}\JDK|JRE\{version}\{jvm}\MSI|EXE: Path
    kLayoutInstallationPath,  // {key}: InstallationPath, or {key}\{name}: InstallationPath
};

struct RegistrySource {
    const char* keyPath;
    RegistryLayout layout;
    bool userHiveToo;  // the installer offers a per-user install
};

// The keys today's 64-bit installers write (the README's table lists each with its installer).
// A key that is missing is simply no candidate.
static const RegistrySource kRegistrySources[] = {
    {"SOFTWARE\\JavaSoft\\JDK", kLayoutJavaHome, false},
    {"SOFTWARE\\JavaSoft\\JRE", kLayoutJavaHome, false},
    {"SOFTWARE\\JavaSoft\\Java Development Kit", kLayoutJavaHome, false},
    {"SOFTWARE\\JavaSoft\\Java Runtime Environment", kLayoutJavaHome, false},
    {"SOFTWARE\\Eclipse Adoptium", kLayoutInstallerPath, true},
    {"SOFTWARE\\Eclipse Foundation", kLayoutInstallerPath, true},
    {"SOFTWARE\\AdoptOpenJDK", kLayoutInstallerPath, true},
    {"SOFTWARE\\Temurin", kLayoutInstallerPath, true},
    {"SOFTWARE\\Microsoft", kLayoutInstallerPath, true},
    {"SOFTWARE\\Semeru", kLayoutInstallerPath, true},
    {"SOFTWARE\\SapMachine\\JDK", kLayoutJavaHome, false},
    {"SOFTWARE\\SapMachine\\JRE", kLayoutJavaHome, false},
    {"SOFTWARE\\Azul Systems\\Zulu", kLayoutInstallationPath, true},
    {"SOFTWARE\\BellSoft\\Liberica", kLayoutInstallationPath, true},
};

static const char* const kPackageKinds[] = {"JDK", "JRE"};
static const char* const kPackageFormats[] = {"MSI", "EXE"};

// Registry key names are at most 255 characters.
static const size_t kKeyNameSize = 256;
static const int kCandidateCapacity = 24;

// The collection being filled.
struct CandidateList {
    RuntimeCandidate* items;
    int count;
    int capacity;
};

static void ValueOrDefaultNote(const char* what) {
    PrintMessage(stderr, "Ignored the packed %s: it is not valid.\n", what);
}

// A text resource up to its first NUL; false when absent or too long.
static bool ReadRuleText(const LaunchResource& resource, char* text, size_t size) {
    size_t length = 0;
    const char* bytes = static_cast<const char*>(LoadLaunchResource(resource, &length, nullptr));
    if (bytes == nullptr) return false;
    size_t used = 0;
    while (used < length && bytes[used] != '\0') used++;
    if (used >= size) return false;
    memcpy(text, bytes, used);
    text[used] = '\0';
    return true;
}

void ReadRuntimeRule(RuntimeRule* rule) {
    char text[kTextResourceLimit];
    rule->packed = false;
    rule->range = JavaVersionRange{0, 0};
    DefaultRuntimeSearchOrder(&rule->order);
    rule->downloadUrl[0] = '\0';
    if (ReadRuleText(kJavaVersionResource, text, sizeof text)) {
        rule->packed = true;
        if (!ParseJavaVersionRange(text, &rule->range)) ValueOrDefaultNote(kJavaVersionResource.typeName);
    }
    if (ReadRuleText(kRuntimeSearchResource, text, sizeof text)) {
        rule->packed = true;
        if (!ParseRuntimeSearchOrder(text, &rule->order)) {
            ValueOrDefaultNote(kRuntimeSearchResource.typeName);
            DefaultRuntimeSearchOrder(&rule->order);
        }
    }
    if (ReadRuleText(kDownloadUrlResource, text, sizeof text)) {
        rule->packed = true;
        if (IsDownloadUrl(text)) {
            memcpy(rule->downloadUrl, text, strlen(text) + 1);
        } else {
            ValueOrDefaultNote(kDownloadUrlResource.typeName);
        }
    }
}

bool RuntimeRulePacked(RuntimeRule* rule) {
    static RuntimeRule read;
    ReadRuntimeRule(&read);
    if (rule != nullptr) *rule = read;
    return read.packed;
}

static bool HomeHas(const char* home, const char* suffix) {
    char path[kCandidateHomeSize + 32];
    return FormatPathText(path, sizeof path, "%s%s", home, suffix) && PathExists(path);
}

// Reads what the home's files say: the runtime's own files and its release file.
static void ReadCandidateFiles(RuntimeCandidate* candidate) {
    const char* home = candidate->home;
    candidate->hasRuntimeFiles = HomeHas(home, "\\bin\\java.dll") && HomeHas(home, "\\lib\\jvm.cfg") &&
                                 (HomeHas(home, "\\bin\\server\\jvm.dll") || HomeHas(home, "\\bin\\client\\jvm.dll"));
    static char release[kReleaseFileLimit];
    char path[kCandidateHomeSize + 16];
    size_t length = 0;
    candidate->hasRelease =
        FormatPathText(path, sizeof path, "%s\\release", home) && ReadSmallFile(path, release, sizeof release, &length);
    candidate->version = candidate->hasRelease ? ReadReleaseJavaVersion(release, length) : 0;
    candidate->arch = candidate->hasRelease ? ReadReleaseArch(release, length) : kArchUnknown;
}

// Adds a home named by a source; blanks, quotes and a trailing backslash (installers write both
// forms) are left out, and a home already listed is not listed again.
static void AddCandidate(CandidateList* list, RuntimeSource source, const char* home, const char* origin) {
    if (list->count == list->capacity) return;
    while (*home == ' ' || *home == '"') home++;
    size_t length = strlen(home);
    while (length > 0 && (home[length - 1] == '\\' || home[length - 1] == '"' || home[length - 1] == ' ')) length--;
    if (length == 0 || length >= kCandidateHomeSize) return;
    RuntimeCandidate* candidate = &list->items[list->count];
    memcpy(candidate->home, home, length);
    candidate->home[length] = '\0';
    for (int i = 0; i < list->count; i++) {
        if (EqualsIgnoringCase(list->items[i].home, candidate->home)) return;
    }
    candidate->source = source;
    if (!FormatPathText(candidate->origin, sizeof candidate->origin, "%s", origin)) {
        candidate->origin[sizeof candidate->origin - 1] = '\0';  // a cut label is still a fair label
    }
    ReadCandidateFiles(candidate);
    list->count++;
}

// A bundled runtime as today's search finds it: in home itself, or in its jre folder.
static void AddBundled(CandidateList* list, const char* home, const char* origin) {
    char jre[kCandidateHomeSize];
    if (HomeHas(home, "\\bin\\java.dll")) {
        AddCandidate(list, kSourceBundled, home, origin);
    } else if (FormatPathText(jre, sizeof jre, "%s\\jre", home) && HomeHas(jre, "\\bin\\java.dll")) {
        AddCandidate(list, kSourceBundled, jre, origin);
    }
}

static void AddValueOf(CandidateList* list, RegistryKey key, const char* valueName, const char* origin) {
    char home[kCandidateHomeSize];
    if (ReadRegistryString(key, valueName, home, sizeof home)) AddCandidate(list, kSourceRegistry, home, origin);
}

// Calls visit for each subkey of key, opened, and closes it afterwards.
template <typename Visit>
static void ForEachSubkey(RegistryHive hive, RegistryKey key, Visit visit) {
    char name[kKeyNameSize];
    for (unsigned long i = 0; EnumRegistrySubkey(key, i, name, sizeof name); i++) {
        RegistryKey subkey = OpenRegistryKey64(hive, key, name);
        if (subkey == nullptr) continue;
        visit(subkey);
        CloseRegistryKey(subkey);
    }
}

static void AddRegistrySource(CandidateList* list, RegistryHive hive, const RegistrySource& source) {
    RegistryKey key = OpenRegistryKey64(hive, nullptr, source.keyPath);
    if (key == nullptr) return;
    char origin[kCandidateOriginSize];
    if (!FormatPathText(origin, sizeof origin, "%s\\%s", hive == kMachineHive ? "HKLM" : "HKCU", source.keyPath)) {
        origin[0] = '\0';
    }
    switch (source.layout) {
        case kLayoutJavaHome:
            ForEachSubkey(hive, key, [&](RegistryKey version) { AddValueOf(list, version, "JavaHome", origin); });
            break;
        case kLayoutInstallationPath:
            AddValueOf(list, key, "InstallationPath", origin);
            ForEachSubkey(hive, key, [&](RegistryKey sub) { AddValueOf(list, sub, "InstallationPath", origin); });
            break;
        case kLayoutInstallerPath:
            for (const char* kind : kPackageKinds) {
                RegistryKey kindKey = OpenRegistryKey64(hive, key, kind);
                if (kindKey == nullptr) continue;
                ForEachSubkey(hive, kindKey, [&](RegistryKey version) {
                    ForEachSubkey(hive, version, [&](RegistryKey jvm) {
                        for (const char* format : kPackageFormats) {
                            RegistryKey formatKey = OpenRegistryKey64(hive, jvm, format);
                            if (formatKey == nullptr) continue;
                            AddValueOf(list, formatKey, "Path", origin);
                            CloseRegistryKey(formatKey);
                        }
                    });
                });
                CloseRegistryKey(kindKey);
            }
            break;
    }
    CloseRegistryKey(key);
}

// The environment's PATH is at most 32767 characters.
static char g_pathVariable[32768];

// Each PATH folder that holds java.exe names the home above its bin folder, links resolved (some
// installers put a folder of links to java.exe on PATH).
static void AddPathSource(CandidateList* list) {
    if (!ReadEnvironmentText("PATH", g_pathVariable, sizeof g_pathVariable)) return;
    for (char* folder = g_pathVariable; folder != nullptr;) {
        char* next = strchr(folder, ';');
        if (next != nullptr) *next++ = '\0';
        char program[kCandidateHomeSize];
        char resolved[kCandidateHomeSize];
        size_t length = strlen(folder);
        while (length > 0 && (folder[length - 1] == '\\' || folder[length - 1] == '"')) folder[--length] = '\0';
        if (*folder == '"') folder++;
        if (*folder != '\0' && FormatPathText(program, sizeof program, "%s\\java.exe", folder) && PathExists(program)) {
            if (!ResolveFinalPath(program, resolved, sizeof resolved)) memcpy(resolved, program, strlen(program) + 1);
            // {home}\bin\java.exe: cut the file and its bin folder.
            for (int cut = 0; cut < 2; cut++) {
                char* separator = strrchr(resolved, '\\');
                if (separator != nullptr) *separator = '\0';
            }
            AddCandidate(list, kSourcePath, resolved, "PATH");
        }
        folder = next;
    }
}

int CollectRuntimeCandidates(const RuntimeSearchOrder& order, bool syncMode, RuntimeCandidate* candidates,
                             int capacity) {
    CandidateList list = {candidates, 0, capacity};
    char home[kCandidateHomeSize];
    for (int s = 0; s < order.count; s++) {
        switch (order.sources[s]) {
            case kSourceBundled:
                if (syncMode && FormatMirrorRoot(home, sizeof home)) AddBundled(&list, home, "sync mirror");
                if (GetApplicationHome(home, sizeof home)) AddBundled(&list, home, "application folder");
                break;
            case kSourceRegistry:
                for (const RegistrySource& source : kRegistrySources) {
                    AddRegistrySource(&list, kMachineHive, source);
                    if (source.userHiveToo) AddRegistrySource(&list, kUserHive, source);
                }
                break;
            case kSourceJavaHome:
                if (ReadEnvironmentText("JAVA_HOME", home, sizeof home)) {
                    AddCandidate(&list, kSourceJavaHome, home, "JAVA_HOME");
                }
                break;
            case kSourcePath:
                AddPathSource(&list);
                break;
            case kRuntimeSourceCount:
                break;
        }
    }
    return list.count;
}

static RuntimeCandidate g_candidates[kCandidateCapacity];
static int g_candidateCount;
static bool g_searchedByRule;

bool RuntimeSearchedByRule() { return g_searchedByRule; }

const RuntimeCandidate* LastRuntimeCandidates(int* count) {
    *count = g_candidateCount;
    return g_candidates;
}

static void PrintVerdicts() {
    for (int i = 0; i < g_candidateCount; i++) {
        const RuntimeCandidate& c = g_candidates[i];
        if (c.version > 0) {
            PrintNote(stdout, "Runtime %s (%s): Java %d, %s\n", c.home, c.origin, c.version,
                      CandidateVerdictText(c.verdict));
        } else {
            PrintNote(stdout, "Runtime %s (%s): %s\n", c.home, c.origin, CandidateVerdictText(c.verdict));
        }
    }
}

// One message: what is needed, where it was looked for, what was found; the page when one is packed.
static void ReportNoRuntime(const RuntimeRule& rule) {
    static char message[4096];
    size_t used = 0;
    if (!FormatNoRuntimeMessage(message, sizeof message - 1024, g_candidates, g_candidateCount, rule.range,
                                rule.order)) {
        message[sizeof message - 1025] = '\0';  // cut: the first lines say the most
    }
    used = strlen(message);
    if (rule.downloadUrl[0] == '\0') {
        ShowFatalText(message);
    } else if (IsConsoleProgram()) {
        snprintf(message + used, sizeof message - used, RuntimeChoiceTextOf(kTextDownloadAt), rule.downloadUrl);
        ShowFatalText(message);
    } else {
        snprintf(message + used, sizeof message - used, "%s", RuntimeChoiceTextOf(kTextOfferDownload));
        if (AskFatalYesNo(message) && !OpenPageWithShell(rule.downloadUrl)) {
            PrintMessage(stderr, "Could not open %s\n", rule.downloadUrl);
        }
    }
}

bool FindRuntimeByRule(const RuntimeRule& rule, bool syncMode, char* home, size_t size) {
    g_searchedByRule = true;
    g_candidateCount = CollectRuntimeCandidates(rule.order, syncMode, g_candidates, kCandidateCapacity);
    int chosen = ChooseRuntimeCandidate(g_candidates, g_candidateCount, rule.range, rule.order);
    PrintVerdicts();
    if (chosen >= 0 && FormatPathText(home, size, "%s", g_candidates[chosen].home)) return true;
    ReportNoRuntime(rule);
    return false;
}
