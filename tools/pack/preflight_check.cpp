#include "pack/preflight_check.h"

#include <dirent.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cctype>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <set>

#include "base/launch_state.h"
#include "base/text.h"
#include "pack/byte_order.h"
#include "pack/check_platform.h"
#include "pack/class_file.h"
#include "cache/embedded_jar.h"
#include "cache/cache_names.h"
#include "startup/startup_cache.h"
#include "files/replace.h"
#include "config/config_edge.h"
#include "config/config_file.h"
#include "config/resource_lists.h"
#include "config/resources.h"
#include "pack/file_io.h"
#include "pack/icon_file.h"
#include "pack/jar_reader.h"
#include "launcher/options.h"
#include "pack/pe_image.h"
#include "pack/pe_imports.h"
#include "runtime/jvm_config.h"
#include "runtime/runtime_home.h"
#include "startup/cache_mechanism.h"
#include "runtime/vm_library.h"
#include "splash/splash_image.h"
#include "pack/windows_system_dlls.h"
#include "base/app_paths.h"
#include "cache/cache_names.h"
#include "config/resource_contract.h"
#include "files/entry_names.h"
#include "runtime/release_file.h"

namespace {

const char kResources[] = "resources";
const char kRuntime[] = "runtime";
const char kVmLibrary[] = "vm library";
const char kApplication[] = "application";
const char kSplash[] = "splash";

// Class files and jar entries larger than this are refused rather than read.
const size_t kMaxEntrySize = 64u << 20;

struct Report {
    std::vector<Finding> findings;
    void Ok(const char* area, const std::string& text) { findings.push_back({Severity::Ok, area, text, ""}); }
    void Warn(const char* area, const std::string& text, const std::string& fix) {
        findings.push_back({Severity::Warn, area, text, fix});
    }
    void Fail(const char* area, const std::string& text, const std::string& fix) {
        findings.push_back({Severity::Fail, area, text, fix});
    }
};

std::string Chomp(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, strlen(prefix), prefix) == 0; }

std::string Lower(std::string text) {
    for (char& c : text) c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

// What the launcher printed since the last call becomes warnings of `area`; the expected notes of a
// launch (an absent optional resource, an item it passes on, the memory line) are left out.
void ReportLauncherMessages(Report& report, const char* area) {
    static const char* const kExpected[] = {
        "Unable to load CONFIG-PATH", "Unable to load SYNC-PATH", "Unable to load CLASS-PATH",
        "Unable to load INIT-HEAP-PERC", "Unable to load MAX-HEAP-PERCENT", "Option not recognized",
        "There are ", "GetJREHome(): Warning: could not open registry key", "Failed reading value of registry key",
    };
    for (const std::string& message : g_checkPlatform.messages) {
        bool expected = false;
        for (const char* prefix : kExpected) expected = expected || StartsWith(message, prefix);
        if (!expected)
            report.Warn(area, "the launcher says: " + Chomp(message), "Correct the value it names.");
    }
    g_checkPlatform.messages.clear();
}

std::string ResourceText(const LaunchResource& resource, bool* present) {
    size_t size = 0;
    const void* bytes = LoadLaunchResource(resource, &size, nullptr);
    *present = bytes != nullptr;
    if (bytes == nullptr) return "";
    char* text = CopyResourceText(bytes, size);
    std::string copy = text;
    free(text);
    return copy;
}

bool IsFile(const std::string& hostPath, bool* isFolder) {
    struct stat status;
    if (stat(hostPath.c_str(), &status) != 0) return false;
    *isFolder = S_ISDIR(status.st_mode);
    return true;
}

// Paths of another machine (a drive letter or a share, seen from Linux) cannot be looked at here.
bool CheckableHere(const std::string& windowsPath) {
#ifdef _WIN32
    (void)windowsPath;
    return true;
#else
    bool drive = windowsPath.size() >= 2 && windowsPath[1] == ':';
    bool share = StartsWith(windowsPath, "\\\\");
    return !drive && !share;
#endif
}

bool IsRelative(const std::string& windowsPath) {
    return !(windowsPath.size() >= 2 && windowsPath[1] == ':') && !StartsWith(windowsPath, "\\") &&
           !StartsWith(windowsPath, "/");
}

std::string ExeFolder() {
    const std::string& exe = g_checkPlatform.exeWindowsPath;
    return exe.substr(0, exe.find_last_of('\\'));
}

// ---- 1. Launch resources ----

struct Settings {
    std::string mainClass;
    int vmOptionCount = 0;
    char** vmOptionItems = nullptr;
};

void DescribeVmOptions(Report& report, Settings& settings) {
    settings.vmOptionCount = SplitVmOptions(&settings.vmOptionItems);
    for (int i = 0; i < settings.vmOptionCount; i++) {
        const char* item = settings.vmOptionItems[i];
        bool takesValue = false;
        const char* vmForm = item;
        OptionItemKind kind = ClassifyOptionItem(item, &takesValue, &vmForm);
        std::string value = takesValue && i + 1 < settings.vmOptionCount ? settings.vmOptionItems[i + 1] : "";
        if (kind == LauncherOptionItem) {
            report.Ok(kResources, std::string("VM-OPTIONS item ") + item + (value.empty() ? "" : " " + value) +
                                      ": launcher option");
        } else if (kind == VmSwitchItem) {
            report.Ok(kResources, std::string("VM-OPTIONS item ") + item + ": VM option" +
                                      (strcmp(vmForm, item) != 0 ? std::string(" ") + vmForm : std::string()));
        } else if (item[0] == '-') {
            report.Ok(kResources, std::string("VM-OPTIONS item ") + item + ": VM option (passed on as written)");
        } else {
            report.Warn(kResources, std::string("VM-OPTIONS item ") + item +
                                        ": application argument, but the launcher hands it to the VM, which refuses it",
                        "Remove it from VM-OPTIONS and pass it on the command line.");
        }
        if (takesValue && !value.empty()) i++;
    }
    int status = 0;
    ParseLauncherOptions(&settings.vmOptionCount, &settings.vmOptionItems, &status);
}

void DescribeConfigFile(Report& report) {
    bool hasResource = false;
    std::string resourcePath = ResourceText(kConfigPathResource, &hasResource);
    std::string named = !IsEmpty(g_launch.configFilePath.text) ? g_launch.configFilePath.text : resourcePath;
    bool read = ReadConfigFile();
    if (named.empty()) return;
    if (!read) {
        report.Warn(kResources, "configuration file " + named + " is not there" +
                                    (IsRelative(named) ? " (relative names are taken from the exe's folder)" : ""),
                    "Ship the file, or drop CONFIG-PATH if the app needs none.");
        return;
    }
    std::string keys;
    for (const auto& keyValue : g_checkPlatform.profileValues) keys += " " + keyValue.first + "=" + keyValue.second;
    report.Ok(kResources, "configuration file " + named + ":" + (keys.empty() ? std::string(" no keys in [java]") : keys));
}

void DescribeHeap(Report& report) {
    const LaunchResource* heapResources[] = {&kInitHeapPercentResource, &kMaxHeapPercentResource};
    const int configured[] = {g_launch.initialHeapPercent, g_launch.maxHeapPercent};
    for (int i = 0; i < 2; i++) {
        bool present = false;
        std::string text = ResourceText(*heapResources[i], &present);
        const char* what = i == 0 ? "initial heap" : "maximum heap";
        if (configured[i] != 0) {
            report.Ok(kResources, std::string(what) + " " + std::to_string(configured[i]) +
                                      "% of available memory (set before the resource is read)");
        } else if (present) {
            int percent = ParseDecimal(text.c_str());
            if (percent < 0 || percent > 100)
                report.Warn(kResources, std::string(what) + " percentage " + text + " is outside 0..100",
                            "Pack a percentage from 0 to 100.");
            else
                report.Ok(kResources, std::string(what) + " " + std::to_string(percent) + "% of available memory");
        }
    }
}

void DescribeResources(Report& report, Settings& settings) {
    for (const LaunchResource* resource : kLaunchResources) {
        size_t size = 0;
        if (LoadLaunchResource(*resource, &size, nullptr) != nullptr)
            report.Ok(kResources, std::string(resource->typeName) + " " + std::to_string(resource->numericName) +
                                      " present (" + std::to_string(size) + " bytes)");
    }
    DescribeVmOptions(report, settings);
    DescribeConfigFile(report);
    DescribeHeap(report);
    if (IsEmpty(g_launch.syncPath.text)) {
        char* resourceSyncPath = ReadSyncPathResource();
        SetSyncPath(resourceSyncPath, false);
        free(resourceSyncPath);
    }
    if (IsEmpty(g_launch.mainClassName)) g_launch.mainClassName = ReadMainClassResource();
    ReportLauncherMessages(report, kResources);
    if (IsEmpty(g_launch.mainClassName)) {
        report.Fail(kResources, "no main class: neither MAIN-CLASS nor the configuration file names one",
                    "Pack the exe with --main-class.");
    } else {
        settings.mainClass = g_launch.mainClassName;
        report.Ok(kResources, "main class " + settings.mainClass);
    }
}

// ---- 2. Runtime ----

// The release file as far as the launcher reads it.
std::string ReadReleaseText(const std::string& home) {
    FILE* file = fopen(HostPath(home + "\\release").c_str(), "rb");
    if (file == nullptr) return "";
    std::string text(kReleaseFileLimit, '\0');
    text.resize(fread(&text[0], 1, text.size(), file));
    fclose(file);
    return text;
}

// The JAVA_VERSION value as written, for the report.
std::string JavaVersionText(const std::string& release) {
    std::string version;
    size_t at = 0;
    while (at < release.size()) {
        size_t end = release.find('\n', at);
        if (end == std::string::npos) end = release.size();
        std::string line = Chomp(release.substr(at, end - at));
        if (StartsWith(line, "JAVA_VERSION=")) version = line.substr(13);
        at = end + 1;
    }
    if (version.size() >= 2 && version[0] == '"' && version.back() == '"') version = version.substr(1, version.size() - 2);
    return version;
}

struct RuntimeChoice {
    bool found = false;
    std::string home;
    std::string vmLibrary;
    int feature = 0;
};

void DescribeRuntime(Report& report, RuntimeChoice& runtime) {
    char home[1024] = "";
    bool syncMode = !IsEmpty(g_launch.syncPath.text);
    runtime.found = syncMode ? FindSyncRuntimeHome(home, sizeof home) : FindRuntimeHome(home, sizeof home);
    g_checkPlatform.fatalMessages.clear();
    ReportLauncherMessages(report, kRuntime);
    if (!runtime.found) {
        std::string keys;
        for (const std::string& key : g_checkPlatform.registryKeysAsked) keys += (keys.empty() ? "" : ", ") + key;
        bool isFolder = false;
        if (syncMode && !IsFile(HostPath(g_launch.syncPath.text), &isFolder)) {
            report.Warn(kRuntime, std::string("the sync folder ") + g_launch.syncPath.text +
                                      " cannot be read here: a runtime in it cannot be checked offline",
                        "Run the check where the sync folder can be read.");
        }
        std::string where = syncMode ? "beside the exe nor in the sync folder " + std::string(g_launch.syncPath.text)
                                     : "beside the exe (bin\\java.dll) nor in its jre\\ folder";
        report.Warn(kRuntime, "no runtime " + where + "; only the registry (" + keys +
                                  ") could supply one, which cannot be checked offline",
                    "Ship a runtime beside the exe, or make sure every PC has a registered one.");
        return;
    }
    runtime.home = home;
    std::string exeFolder = ExeFolder();
    if (runtime.home == exeFolder)
        report.Ok(kRuntime, "private runtime beside the exe: " + runtime.home);
    else if (runtime.home == exeFolder + "\\jre")
        report.Ok(kRuntime, "private runtime in the jre\\ folder: " + runtime.home);
    else if (syncMode && runtime.home.compare(0, strlen(g_launch.syncPath.text), g_launch.syncPath.text) == 0) {
        // Read here at the source; the launcher loads the same files from the mirror.
        char syncDirectory[1024] = "";
        FormatMirrorRoot(syncDirectory, sizeof syncDirectory);
        report.Ok(kRuntime, "runtime of the sync folder: " + runtime.home + ", loaded from its mirror " + syncDirectory +
                                runtime.home.substr(strlen(g_launch.syncPath.text)));
    }
    else
        report.Ok(kRuntime, "runtime: " + runtime.home);

    int known = ReadKnownVms(home);
    std::string names;
    for (int i = 0; i < known; i++) names += std::string(i ? ", " : "") + (g_knownVms[i] ? g_knownVms[i] : "");
    ReleaseKnownVmTable();
    ReportLauncherMessages(report, kRuntime);
    if (known < 1) {
        report.Fail(kRuntime, "jvm.cfg is missing or names no VM type (the launcher ends with status 3)",
                    "Ship the runtime's lib\\jvm.cfg with a line such as \"-server KNOWN\".");
        return;
    }
    report.Ok(kRuntime, "jvm.cfg lists " + names);
    char vmLibrary[1024] = "";
    int status = FindKnownVmLibrary(home, vmLibrary, sizeof vmLibrary);
    // It reads jvm.cfg again: its warnings are reported above already.
    g_checkPlatform.fatalMessages.clear();
    g_checkPlatform.messages.clear();
    if (status != 0) {
        report.Fail(kRuntime, "no VM type of jvm.cfg has its bin\\TYPE\\jvm.dll (the launcher ends with status 5)",
                    "Ship the VM library, for example bin\\server\\jvm.dll.");
        return;
    }
    runtime.vmLibrary = vmLibrary;
    std::string type = runtime.vmLibrary.substr(0, runtime.vmLibrary.find_last_of('\\'));
    type = type.substr(type.find_last_of('\\') + 1);
    report.Ok(kRuntime, "VM type " + type + ": " + runtime.vmLibrary);

    std::string release = ReadReleaseText(runtime.home);
    runtime.feature = ReadReleaseJavaVersion(release.data(), release.size());
    if (runtime.feature > 0)
        report.Ok(kRuntime, "runtime version " + JavaVersionText(release) + " (Java " + std::to_string(runtime.feature) + ")");
    else
        report.Warn(kRuntime, "the runtime's release file gives no JAVA_VERSION: class versions cannot be compared",
                    "Ship the runtime's release file.");
    if (ReadStartupCacheMark()) {
        StartupCacheMechanism mechanism = ChooseMechanismForRelease(release.data(), release.size());
        if (mechanism == StartupCacheNone)
            report.Warn(kRuntime, "the start-up cache mark has no effect: this runtime offers no archive the launcher uses",
                        "Ship Java 13 or later, or pack without --startup-cache.");
        else
            report.Ok(kRuntime, std::string("start-up cache with this runtime: ") + DescribeStartupCacheMechanism(mechanism));
    }
}

// ---- 3. The VM library loads ----

bool IsSystemDll(const std::string& name) {
    std::string lower = Lower(name);
    for (const char* system : kWindowsSystemDlls) {
        size_t length = strlen(system);
        bool prefix = length > 0 && system[length - 1] == '*';
        if (prefix ? lower.compare(0, length - 1, system, length - 1) == 0 : lower == system) return true;
    }
    return false;
}

// The file of that name in a folder, compared without regard to case as Windows does.
bool FindInFolder(const std::string& windowsFolder, const std::string& name, std::string& found) {
    DIR* folder = opendir(HostPath(windowsFolder).c_str());
    if (folder == nullptr) return false;
    std::string wanted = Lower(name);
    bool match = false;
    while (dirent* entry = readdir(folder)) {
        if (Lower(entry->d_name) == wanted) {
            found = windowsFolder + "\\" + entry->d_name;
            match = true;
            break;
        }
    }
    closedir(folder);
    return match;
}

void DescribeVmLibrary(Report& report, const RuntimeChoice& runtime) {
    if (runtime.vmLibrary.empty()) return;
    Bytes image;
    std::string error;
    PeImports imports;
    if (!ReadWholeFile(HostPath(runtime.vmLibrary), image, error) || !ReadPeImports(image, imports, error)) {
        report.Fail(kVmLibrary, runtime.vmLibrary + ": " + error, "Ship the runtime's own jvm.dll.");
        return;
    }
    if (imports.machine != kMachineAmd64 || !imports.isPe32Plus) {
        report.Fail(kVmLibrary, "jvm.dll is " + MachineName(imports.machine) +
                                    ", the launcher is x64: a 32-bit runtime cannot load into it",
                    "Ship a 64-bit (x64) Java runtime.");
        return;
    }
    report.Ok(kVmLibrary, "jvm.dll is PE32+ x64");
    // Where Windows looks for the imports: jvm.dll's folder, the bin folder the launcher adds, the
    // exe's folder, then the system.
    char binFolder[1024] = "";
    GetVmDependencyFolder(runtime.vmLibrary.c_str(), binFolder, sizeof binFolder);
    std::vector<std::string> folders = {runtime.vmLibrary.substr(0, runtime.vmLibrary.find_last_of('\\')), binFolder,
                                        ExeFolder()};
    std::set<std::string> visited = {Lower("jvm.dll")};
    std::vector<std::pair<std::string, std::vector<std::string>>> pending = {{"jvm.dll", imports.dllNames}};
    size_t missing = 0, shipped = 0;
    while (!pending.empty()) {
        auto [importer, names] = pending.back();
        pending.pop_back();
        for (const std::string& name : names) {
            if (!visited.insert(Lower(name)).second || IsSystemDll(name)) continue;
            std::string found;
            bool present = false;
            for (const std::string& folder : folders) present = present || FindInFolder(folder, name, found);
            if (!present) {
                missing++;
                report.Fail(kVmLibrary, importer + " imports " + name +
                                            ", which is not in the runtime and not part of every Windows: "
                                            "jvm.dll will not load on a PC without it",
                            "Copy " + name + " into " + std::string(binFolder) + ".");
                continue;
            }
            shipped++;
            Bytes dependency;
            PeImports dependencyImports;
            if (!ReadWholeFile(HostPath(found), dependency, error) || !ReadPeImports(dependency, dependencyImports, error)) {
                report.Fail(kVmLibrary, found + ": " + error, "Ship an intact copy of " + name + ".");
                continue;
            }
            if (dependencyImports.machine != kMachineAmd64)
                report.Fail(kVmLibrary, found + " is " + MachineName(dependencyImports.machine) + ", not x64",
                            "Ship the x64 build of " + name + ".");
            pending.push_back({name, dependencyImports.dllNames});
        }
    }
    if (missing == 0)
        report.Ok(kVmLibrary, "every DLL jvm.dll needs is in the runtime (" + std::to_string(shipped) +
                                  ") or part of every Windows");
    std::string javaDll = runtime.home + "\\bin\\java.dll";
    bool isFolder = false;
    if (IsFile(HostPath(javaDll), &isFolder) && !isFolder)
        report.Ok(kVmLibrary, "java.dll is present");
    else
        report.Fail(kVmLibrary, javaDll + " is missing", "Ship the whole runtime, bin\\java.dll included.");
}

// ---- 4. The application ----

struct ClassSource {
    std::string shown;     // as the class path names it
    std::string hostPath;  // empty for the embedded jar
    bool embedded = false;
};

void SplitClassPath(const char* text, std::vector<std::string>& entries) {
    std::string current;
    for (const char* at = text ? text : ""; ; at++) {
        if (*at == ';' || *at == '\0') {
            if (!current.empty()) entries.push_back(current);
            current.clear();
            if (*at == '\0') break;
        } else {
            current.push_back(*at);
        }
    }
}

// Reads the main class out of one class path entry; false when the entry does not hold it.
bool ReadMainClassFrom(const ClassSource& source, const std::string& classEntry, Bytes& classBytes, std::string& error) {
    Bytes jar;
    if (source.embedded) {
        size_t size = 0;
        const void* bytes = LoadLaunchResource(kClassesResource, &size, nullptr);
        if (bytes == nullptr) return false;
        jar.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
    } else {
        bool isFolder = false;
        if (!IsFile(source.hostPath, &isFolder)) return false;
        if (isFolder) return ReadWholeFile(source.hostPath + "/" + classEntry, classBytes, error);
        if (!ReadWholeFile(source.hostPath, jar, error)) return false;
    }
    std::vector<JarEntry> entries;
    if (!ReadJarDirectory(jar, entries, error)) return false;
    for (const JarEntry& entry : entries) {
        if (entry.name == classEntry) return ExtractJarEntry(jar, entry, kMaxEntrySize, classBytes, error);
    }
    return false;
}

bool IsReadableJar(const std::string& hostPath, std::string& error) {
    Bytes jar;
    std::vector<JarEntry> entries;
    return ReadWholeFile(hostPath, jar, error) && ReadJarDirectory(jar, entries, error);
}

void DescribeClassPathEntries(Report& report, std::vector<ClassSource>& sources) {
    std::string error;
    for (ClassSource& source : sources) {
        if (source.embedded) continue;
        const std::string& entry = source.shown;
        std::string windows = IsRelative(entry) ? ExeFolder() + "\\" + entry : entry;
        // Mirrored jars are read at their source; the mirror does not exist before the first start.
        if (source.hostPath.empty()) source.hostPath = HostPath(windows);
        else windows = WindowsPath(source.hostPath);
        if (!CheckableHere(windows)) {
            report.Warn(kApplication, "class path entry " + entry + " names another machine's path; not checked here",
                        "Run the check on Windows, or use #\\ to name files beside the exe.");
            continue;
        }
        bool isFolder = false;
        if (!IsFile(source.hostPath, &isFolder)) {
            report.Fail(kApplication, "class path entry " + entry + " does not exist",
                        "Ship " + entry + ", or correct the class path.");
        } else if (IsRelative(entry)) {
            report.Warn(kApplication, "class path entry " + entry +
                                          " is relative: it is found only when the current folder is the exe's",
                        "Write it as #\\" + entry + " so that it names the exe's folder.");
        } else if (!isFolder && !IsReadableJar(source.hostPath, error)) {
            report.Warn(kApplication, "class path entry " + entry + " is not a readable jar: " + error,
                        "Ship an intact copy of the jar.");
        } else {
            report.Ok(kApplication, "class path entry " + entry + (isFolder ? " (folder)" : ""));
        }
    }
}

// The class of that internal name, from the first class path entry holding it.
bool FindClass(Report& report, const std::vector<ClassSource>& sources, const std::string& className,
               ClassFileInfo& info, std::string& foundIn) {
    std::string classEntry = className + ".class", error;
    for (const ClassSource& source : sources) {
        Bytes classBytes;
        if (!ReadMainClassFrom(source, classEntry, classBytes, error)) continue;
        if (!ReadClassFile(classBytes.data(), classBytes.size(), info, error)) {
            report.Fail(kApplication, classEntry + " in " + source.shown + ": " + error, "Rebuild the jar.");
            return false;
        }
        foundIn = source.shown;
        return true;
    }
    return false;
}

void DescribeApplication(Report& report, const Settings& settings, const RuntimeChoice& runtime) {
    // The class path in the launcher's order: -cp and configuration entries, the application jar,
    // then the CLASS-PATH resource.
    std::vector<std::string> entries;
    SplitClassPath(g_launch.classPath.text, entries);
    std::vector<ClassSource> sources;
    for (const std::string& entry : entries) sources.push_back({entry, "", false});
    bool syncMode = !IsEmpty(g_launch.syncPath.text);
    if (!syncMode) {
        if (IsEmpty(g_launch.jarPath)) g_launch.jarPath = const_cast<char*>(ReadJarPathResource());
        char exePath[1024], resolved[1024];
        if (!IsEmpty(g_launch.jarPath) &&
            (!GetExePath(exePath, sizeof exePath) ||
             !FormResolvedJarPath(resolved, sizeof resolved, exePath, g_launch.jarPath))) {
            report.Fail(kApplication, std::string("jar path ") + g_launch.jarPath + " is too long beside the exe",
                        "Use a shorter jar path.");
        } else if (!IsEmpty(g_launch.jarPath)) {
            // Always taken from the exe's folder; one on a network path is used through a cache copy.
            report.Ok(kApplication, std::string("launch mode: the jar ") + g_launch.jarPath + ", that is " + resolved);
            sources.push_back({resolved, "", false});
        } else {
            size_t size = 0;
            if (LoadLaunchResource(kClassesResource, &size, nullptr) == nullptr) {
                report.Fail(kApplication, "no CLASSES jar and no jar path: the launcher has no application jar to cache",
                            "Pack the exe with --classes or --jar-path.");
            } else {
                // The VM reads the jar from its cache file, named by the configured or packed digest.
                bool hasDigest = false;
                std::string digest = !IsEmpty(g_launch.cacheDigest) ? g_launch.cacheDigest
                                                                    : ResourceText(kMd5SumResource, &hasDigest);
                ForgetCacheFileName();
                const char* cacheFile = GetCacheFileName(digest.c_str());
                std::string shown = cacheFile != nullptr ? cacheFile : "(embedded CLASSES jar)";
                report.Ok(kApplication, "launch mode: the embedded CLASSES jar, cached on the first start as " + shown);
                sources.push_back({shown, "", true});
            }
        }
    } else {
        char syncDirectory[1024] = "";
        FormatMirrorRoot(syncDirectory, sizeof syncDirectory);
        report.Ok(kApplication, std::string("launch mode: the sync folder ") + g_launch.syncPath.text +
                                    ", mirrored into " + syncDirectory + " on the first start");
        // The mirror puts the jars of the source's libs folder on the class path; read them at the source.
        std::string libs = std::string(g_launch.syncPath.text) + "\\libs";
        if (DIR* folder = opendir(HostPath(libs).c_str())) {
            std::vector<std::string> jars;
            while (dirent* entry = readdir(folder)) {
                if (IsJarName(entry->d_name)) jars.push_back(entry->d_name);
            }
            closedir(folder);
            std::sort(jars.begin(), jars.end());
            for (const std::string& jar : jars)
                sources.push_back({std::string(syncDirectory) + "\\libs\\" + jar, HostPath(libs + "\\" + jar), false});
        }
    }
    char* resourceClassPath = BuildResourceClassPath(runtime.home.empty() ? nullptr : runtime.home.c_str());
    if (resourceClassPath != nullptr) {
        std::vector<std::string> resourceEntries;
        SplitClassPath(resourceClassPath, resourceEntries);
        for (const std::string& entry : resourceEntries) sources.push_back({entry, "", false});
        free(resourceClassPath);
    }
    ReportLauncherMessages(report, kApplication);
    std::string shown;
    for (const ClassSource& source : sources) shown += (shown.empty() ? "" : ";") + source.shown;
    report.Ok(kApplication, "class path: " + shown);
    DescribeClassPathEntries(report, sources);

    if (settings.mainClass.empty()) return;
    std::string className = settings.mainClass;
    for (char& c : className) {
        if (c == '.') c = '/';
    }
    ClassFileInfo info;
    std::string foundIn;
    if (!FindClass(report, sources, className, info, foundIn)) {
        report.Fail(kApplication, "main class " + settings.mainClass + " is in no class path entry (" + className +
                                      ".class)",
                    "Correct the main class name, or add the jar that holds it.");
        return;
    }
    report.Ok(kApplication, "main class found in " + foundIn);
    // The launcher asks for static methods, which a class also inherits from its superclasses.
    EntryMethod main = info.main, initSingleApplication = info.initSingleApplication;
    ClassFileInfo ancestor = info;
    for (int depth = 0; depth < 32 && !ancestor.superName.empty() && ancestor.superName.compare(0, 5, "java/") != 0;
         depth++) {
        std::string ignored;
        ClassFileInfo parent;
        if (!FindClass(report, sources, ancestor.superName, parent, ignored)) break;
        if (!main.found) main = parent.main;
        if (!initSingleApplication.found) initSingleApplication = parent.initSingleApplication;
        ancestor = parent;
    }
    if (!main.found)
        report.Fail(kApplication, settings.mainClass + " has no main(String[])",
                    "Add public static void main(String[] args), or name the class that has it.");
    else if (!main.isStatic || !main.isPublic)
        report.Fail(kApplication, settings.mainClass + ".main(String[]) is not public static",
                    "Declare it public static void main(String[] args).");
    else
        report.Ok(kApplication, "public static void main(String[]) found");
    int needed = JavaReleaseOfClassVersion(info.majorVersion);
    std::string classVersion = "class-file version " + std::to_string(info.majorVersion) + " (Java " +
                               std::to_string(needed) + ")";
    if (runtime.feature == 0)
        report.Warn(kApplication, classVersion + "; the runtime's version is unknown", "Ship a runtime with its release file.");
    else if (needed > runtime.feature)
        report.Fail(kApplication, classVersion + " is newer than the runtime (Java " + std::to_string(runtime.feature) +
                                      "): UnsupportedClassVersionError",
                    "Compile with --release " + std::to_string(runtime.feature) + ", or ship a newer runtime.");
    else
        report.Ok(kApplication, classVersion + " runs on Java " + std::to_string(runtime.feature));
    if (initSingleApplication.found && initSingleApplication.isStatic)
        report.Ok(kApplication, "initSingleApplication(String[]) found: the app is single-instance");
}

// ---- 5. Splash ----

// Walks the chunks with their CRCs and inflates the image data; false with the reason.
bool DecodePng(const uint8_t* data, size_t size, uint32_t& width, uint32_t& height, std::string& error) {
    if (!HasPngSignature(data, size)) {
        error = "not a PNG image";
        return false;
    }
    Bytes compressed;
    uint32_t channels = 0, depth = 0;
    bool header = false, interlaced = false;
    for (size_t at = 8;;) {
        if (size - at < 12) {
            error = "PNG is cut short";
            return false;
        }
        uint32_t length = ReadBig32(data + at);
        if (length > size - at - 12) {
            error = "PNG is cut short";
            return false;
        }
        const uint8_t* type = data + at + 4;
        if (crc32(crc32(0, nullptr, 0), type, length + 4) != ReadBig32(data + at + 8 + length)) {
            error = "PNG chunk " + std::string(reinterpret_cast<const char*>(type), 4) + " fails its CRC";
            return false;
        }
        if (memcmp(type, "IHDR", 4) == 0 && length == 13) {
            width = ReadBig32(type + 4);
            height = ReadBig32(type + 8);
            depth = type[12];
            static const uint32_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
            channels = type[13] < 7 ? kChannels[type[13]] : 0;
            interlaced = type[16] != 0;
            header = true;
        } else if (memcmp(type, "IDAT", 4) == 0) {
            compressed.insert(compressed.end(), type + 4, type + 4 + length);
        } else if (memcmp(type, "IEND", 4) == 0) {
            break;
        }
        at += 12 + size_t(length);
    }
    if (!header || channels == 0 || width == 0 || height == 0 || width > 16384 || height > 16384) {
        error = "PNG has no valid header";
        return false;
    }
    uint64_t rowBytes = (uint64_t(width) * channels * depth + 7) / 8;
    uLongf expected = uLongf((rowBytes + 1) * height);
    Bytes pixels(interlaced ? expected * 2 : expected);
    uLongf produced = uLongf(pixels.size());
    int status = uncompress(pixels.data(), &produced, compressed.data(), uLong(compressed.size()));
    if (status != Z_OK || (!interlaced && produced != expected)) {
        error = "PNG image data does not decode";
        return false;
    }
    return true;
}

void DescribeSplash(Report& report) {
    // A -splash: item of VM-OPTIONS wins over the VM-SPLASH resource, as in the launcher.
    SplashImageSource source = {};
    if (!ChooseSplashImage(g_launch.splashOption, &source)) return;
    Bytes file;
    std::string error, from = source.path != nullptr ? source.path : "VM-SPLASH";
    const uint8_t* bytes = source.bytes;
    size_t size = source.size;
    if (source.path != nullptr) {
        if (!CheckableHere(source.path)) {
            report.Warn(kSplash, "splash image " + from + " names another machine's path; not checked here",
                        "Run the check on Windows.");
            ReleaseSplashImage(&source);
            return;
        }
        if (!ReadWholeFile(HostPath(source.path), file, error)) file.clear();
        bytes = file.data();
        size = file.size();
    }
    uint32_t width = 0, height = 0;
    if (!DecodePng(bytes, size, width, height, error)) {
        report.Fail(kSplash, from + ": " + error, "Pack a valid PNG image with --splash.");
    } else if (width > 1280 || height > 1024 || width < 16 || height < 16) {
        report.Warn(kSplash, "splash image is " + std::to_string(width) + "x" + std::to_string(height) +
                                 ": larger than 1280x1024 or smaller than 16x16",
                    "Use an image that fits a small screen, such as 600x400.");
    } else {
        report.Ok(kSplash, "splash image decodes, " + std::to_string(width) + "x" + std::to_string(height));
    }
    ReleaseSplashImage(&source);
    ReportLauncherMessages(report, kSplash);
}

const char* SeverityName(Severity severity) {
    return severity == Severity::Ok ? "OK" : severity == Severity::Warn ? "WARN" : "FAIL";
}

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

bool HasExeSuffix(const std::string& name) { return name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".exe"; }

// Whether the file is an exe carrying launch resources.
bool IsPackedExe(const std::string& path) {
    Bytes image;
    std::string error;
    PeInfo info;
    std::vector<Resource> resources;
    if (!ReadWholeFile(path, image, error) || !ParsePe(image, info, error) || !ReadResources(image, info, resources, error))
        return false;
    for (const Resource& r : resources) {
        for (const LaunchResource* launch : kLaunchResources) {
            if (SameName(r.type, StringName(launch->typeName))) return true;
        }
    }
    return false;
}

// The launcher knows its own full path; so must the check.
std::string FullPath(const std::string& path) {
#ifdef _WIN32
    char full[1024];
    return _fullpath(full, path.c_str(), sizeof full) != nullptr ? std::string(full) : path;
#else
    char* full = realpath(path.c_str(), nullptr);
    std::string result = full != nullptr ? full : path;
    free(full);
    return result;
#endif
}

}  // namespace

bool ChooseCheckedExe(const std::string& path, std::string& exe, std::string& error) {
    bool isFolder = false;
    if (!IsFile(path, &isFolder)) {
        error = path + ": no such file or folder";
        return false;
    }
    if (!isFolder) {
        exe = path;
        return true;
    }
    std::vector<std::string> packed;
    if (DIR* folder = opendir(path.c_str())) {
        while (dirent* entry = readdir(folder)) {
            std::string candidate = path + "/" + entry->d_name;
            if (HasExeSuffix(entry->d_name) && IsPackedExe(candidate)) packed.push_back(candidate);
        }
        closedir(folder);
    }
    if (packed.size() != 1) {
        error = path + ": holds " + std::to_string(packed.size()) + " packed exes; name the exe to check";
        return false;
    }
    exe = packed[0];
    return true;
}

std::vector<Finding> CheckPackedExe(const std::string& exePath) {
    Report report;
    Bytes image;
    std::string error;
    PeInfo info;
    std::vector<Resource> resources;
    if (!ReadWholeFile(exePath, image, error) || !ParsePe(image, info, error) ||
        !ReadResources(image, info, resources, error)) {
        report.Fail(kResources, exePath + ": " + error, "Name an exe written by quorvia-pack.");
        return report.findings;
    }
    BeginCheckPlatform(FullPath(exePath), resources);
    Settings settings;
    RuntimeChoice runtime;
    DescribeResources(report, settings);
    DescribeRuntime(report, runtime);
    DescribeVmLibrary(report, runtime);
    DescribeApplication(report, settings, runtime);
    DescribeSplash(report);
    EndCheckPlatform();
    return report.findings;
}

bool AnyFailed(const std::vector<Finding>& findings) {
    for (const Finding& finding : findings) {
        if (finding.severity == Severity::Fail) return true;
    }
    return false;
}

std::string FormatFindings(const std::vector<Finding>& findings) {
    std::string out;
    for (const Finding& finding : findings) {
        char severity[8];
        snprintf(severity, sizeof severity, "%-4s", SeverityName(finding.severity));
        out += std::string(severity) + "  " + finding.area + ": " + finding.text;
        if (!finding.fix.empty()) out += " -- fix: " + finding.fix;
        out += "\n";
    }
    return out;
}

std::string FormatFindingsJson(const std::string& exePath, const std::vector<Finding>& findings) {
    std::string out = "{\"exe\": " + JsonText(exePath) + ", \"failed\": " + (AnyFailed(findings) ? "true" : "false") +
                      ", \"findings\": [";
    for (size_t i = 0; i < findings.size(); i++) {
        const Finding& f = findings[i];
        out += std::string(i ? ",\n  " : "\n  ") + "{\"severity\": \"" + SeverityName(f.severity) +
               "\", \"area\": " + JsonText(f.area) + ", \"text\": " + JsonText(f.text) + ", \"fix\": " + JsonText(f.fix) +
               "}";
    }
    return out + "\n]}\n";
}

int RunPreflightCheck(const std::string& path, bool json, FILE* out, FILE* err) {
    std::string exe, error;
    if (!ChooseCheckedExe(path, exe, error)) {
        fprintf(err, "quorvia-pack: %s\n", error.c_str());
        return 1;
    }
    std::vector<Finding> findings = CheckPackedExe(exe);
    fputs(json ? FormatFindingsJson(exe, findings).c_str() : FormatFindings(findings).c_str(), out);
    return AnyFailed(findings) ? 1 : 0;
}
