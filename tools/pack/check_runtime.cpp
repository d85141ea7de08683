#include <dirent.h>

#include <cstring>
#include <set>

#include "base/app_paths.h"
#include "base/exit_status.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "files/app_folder.h"
#include "config/resources.h"
#include "launcher/launch_settings.h"
#include "pack/check_platform.h"
#include "pack/check_report.h"
#include "pack/file_io.h"
#include "pack/pe_imports.h"
#include "pack/windows_system_dlls.h"
#include "runtime/jvm_config.h"
#include "runtime/release_file.h"
#include "runtime/runtime_search.h"
#include "runtime/vm_library.h"
#include "startup/cache_mechanism.h"

// The runtime and VM library areas of quorvia-pack --check.
namespace check {

namespace {

// The release file as far as the launcher reads it.
std::string ReadReleaseText(const std::string& home) {
    Bytes start;
    std::string error;
    if (!ReadFileStart(HostPath(home + "\\release"), kReleaseFileLimit, start, error)) return "";
    return std::string(start.begin(), start.end());
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

}  // namespace

// A runtime for another system where the launcher looks for one: a Linux JDK copied as jre\ has
// lib\server\libjvm.so and no bin\java.dll, so the search passes it by.
static bool DescribeLinuxRuntime(Report& report) {
    for (const char* folder : {"", "\\jre"}) {
        for (const char* library : {"\\lib\\server\\libjvm.so", "\\lib\\libjvm.so"}) {
            std::string path = ExeFolder() + folder + library;
            bool isFolder = false;
            if (!IsFile(HostPath(path), &isFolder) || isFolder) continue;
            report.Fail(kRuntime, ExeFolder() + folder + " holds a Linux runtime (" + path +
                                      ", no bin\\java.dll): Windows cannot load it",
                        "Ship a Windows x64 runtime there, with bin\\java.dll and bin\\server\\jvm.dll.");
            return true;
        }
    }
    return false;
}

// Runs the launch's own search for a runtime home; false when only the registry could supply one.
static bool FindCheckedRuntime(Report& report, RuntimeChoice& runtime, char* home, size_t homeSize) {
    bool syncMode = ChooseLaunchMode() == SyncFolder;
    runtime.found = FindLaunchRuntimeHome(home, homeSize);
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
        if (!syncMode && DescribeLinuxRuntime(report)) return false;
        std::string where = syncMode ? "beside the exe nor in the sync folder " + std::string(g_launch.syncPath.text)
                                     : "beside the exe (bin\\java.dll) nor in its jre\\ folder";
        report.Warn(kRuntime, "no runtime " + where + "; only the registry (" + keys +
                                  ") could supply one, which cannot be checked offline",
                    "Ship a runtime beside the exe, or make sure every PC has a registered one.");
        return false;
    }
    runtime.home = home;
    return true;
}

// Which kind of runtime the search found: beside the exe, in jre\, in the sync folder, elsewhere.
static void DescribeRuntimeHome(Report& report, const RuntimeChoice& runtime) {
    bool syncMode = g_launch.launchMode == SyncFolder;
    std::string exeFolder = ExeFolder();
    if (runtime.home == exeFolder)
        report.Ok(kRuntime, "private runtime beside the exe: " + runtime.home);
    else if (runtime.home == exeFolder + "\\jre")
        report.Ok(kRuntime, "private runtime in the jre\\ folder: " + runtime.home);
    else if (syncMode && runtime.home.compare(0, strlen(g_launch.syncPath.text), g_launch.syncPath.text) == 0) {
        // Read here at the source; the launcher loads the same files from the mirror.
        char mirrorRoot[1024] = "";
        FormatMirrorRoot(mirrorRoot, sizeof mirrorRoot);
        report.Ok(kRuntime, "runtime of the sync folder: " + runtime.home + ", loaded from its mirror " + mirrorRoot +
                                runtime.home.substr(strlen(g_launch.syncPath.text)));
    } else {
        report.Ok(kRuntime, "runtime: " + runtime.home);
    }
}

// jvm.cfg and the VM type whose library the launcher would load; false when there is none.
static bool DescribeVmType(Report& report, RuntimeChoice& runtime) {
    const char* home = runtime.home.c_str();
    int known = ReadKnownVms(home);
    std::string names;
    for (int i = 0; i < known; i++) names += std::string(i ? ", " : "") + (g_knownVms[i] ? g_knownVms[i] : "");
    ReleaseKnownVmTable();
    ReportLauncherMessages(report, kRuntime);
    if (known < 1) {
        report.Fail(kRuntime, "jvm.cfg is missing or names no VM type (the launcher ends with status " +
                                  std::to_string(kExitNoVmType) + ")",
                    "Ship the runtime's lib\\jvm.cfg with a line such as \"-server KNOWN\".");
        return false;
    }
    report.Ok(kRuntime, "jvm.cfg lists " + names);
    char vmLibrary[1024] = "";
    int status = FindKnownVmLibrary(home, vmLibrary, sizeof vmLibrary);
    // It reads jvm.cfg again: its warnings are reported above already.
    g_checkPlatform.fatalMessages.clear();
    g_checkPlatform.messages.clear();
    if (status != 0) {
        report.Fail(kRuntime, "no VM type of jvm.cfg has its bin\\TYPE\\jvm.dll (the launcher ends with status " +
                                  std::to_string(kExitNoVmLibrary) + ")",
                    "Ship the VM library, for example bin\\server\\jvm.dll.");
        return false;
    }
    runtime.vmLibrary = vmLibrary;
    std::string type = runtime.vmLibrary.substr(0, runtime.vmLibrary.find_last_of('\\'));
    type = type.substr(type.find_last_of('\\') + 1);
    report.Ok(kRuntime, "VM type " + type + ": " + runtime.vmLibrary);
    return true;
}

// The mechanism the launcher would use with this runtime, and why a dynamic archive would not be kept
// where the runtime lacks the base archive it builds on.
static void DescribeStartupCacheOfRuntime(Report& report, const RuntimeChoice& runtime, const std::string& release) {
    StartupCacheMechanism mechanism = ChooseMechanismForRelease(release.data(), release.size());
    if (mechanism == StartupCacheNone) {
        report.Warn(kRuntime, "the start-up cache mark has no effect: this runtime offers no archive the launcher uses",
                    "Ship Java 13 or later, or pack without --startup-cache.");
        return;
    }
    char baseArchive[1024] = "";
    bool isFolder = false;
    bool hasBase = FormatBaseArchivePath(baseArchive, sizeof baseArchive, runtime.vmLibrary.c_str()) &&
                   IsFile(HostPath(baseArchive), &isFolder) && !isFolder;
    const std::string fix = "Make the runtime with jlink --generate-cds-archive, or run its java -Xshare:dump once "
                            "to write " + std::string(baseArchive) + ".";
    std::string java = "Java " + std::to_string(runtime.feature);
    if (!hasBase && MechanismNeedsBaseArchive(mechanism)) {
        report.Warn(kRuntime, "the start-up cache mark has no effect: the runtime has no base class-data archive " +
                                  std::string(baseArchive) + ", without which " + java +
                                  " refuses to write a dynamic archive and would not start, so the launcher adds "
                                  "no archive options", fix);
    } else if (!hasBase && mechanism == StartupCacheAutoArchive) {
        report.Warn(kRuntime, "the start-up cache keeps no archive: the runtime has no base class-data archive " +
                                  std::string(baseArchive) + ", so " + java +
                                  " warns at every start and runs without a dynamic archive", fix);
    } else {
        report.Ok(kRuntime, std::string("start-up cache with this runtime: ") + DescribeStartupCacheMechanism(mechanism));
    }
}

// The runtime's version from its release file, and the start-up cache mechanism it offers.
static void DescribeRuntimeVersion(Report& report, RuntimeChoice& runtime) {
    std::string release = ReadReleaseText(runtime.home);
    runtime.feature = ReadReleaseJavaVersion(release.data(), release.size());
    if (runtime.feature > 0)
        report.Ok(kRuntime, "runtime version " + JavaVersionText(release) + " (Java " + std::to_string(runtime.feature) + ")");
    else
        report.Warn(kRuntime, "the runtime's release file gives no JAVA_VERSION: class versions cannot be compared",
                    "Ship the runtime's release file.");
    if (ReadStartupCacheMark()) DescribeStartupCacheOfRuntime(report, runtime, release);
}

void DescribeRuntime(Report& report, RuntimeChoice& runtime) {
    char home[1024] = "";
    bool found = RuntimeRulePacked(nullptr) ? FindRuledRuntime(report, runtime, home, sizeof home)
                                            : FindCheckedRuntime(report, runtime, home, sizeof home);
    if (!found) return;
    DescribeRuntimeHome(report, runtime);
    if (!DescribeVmType(report, runtime)) return;
    DescribeRuntimeVersion(report, runtime);
}

namespace {

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

}  // namespace

void DescribeVmLibrary(Report& report, const RuntimeChoice& runtime) {
    if (runtime.vmLibrary.empty()) return;
    Bytes image;
    std::string error;
    PeImports imports;
    if (!ReadWholeFile(HostPath(runtime.vmLibrary), kDllFile, image, error) || !ReadPeImports(image, imports, error)) {
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
            if (!ReadWholeFile(HostPath(found), kDllFile, dependency, error) ||
                !ReadPeImports(dependency, dependencyImports, error)) {
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

}  // namespace check
