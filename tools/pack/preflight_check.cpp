#include "pack/preflight_check.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "base/launch_state.h"
#include "base/text.h"
#include "config/config_edge.h"
#include "config/resource_lists.h"
#include "config/resources.h"
#include "launcher/installed_options.h"
#include "launcher/launch_settings.h"
#include "launcher/options.h"
#include "pack/check_platform.h"
#include "pack/check_report.h"
#include "pack/file_io.h"
#include "pack/pack_refusals.h"
#include "pack/packed_exe.h"
#include "pack/png_reader.h"
#include "pack/report_text.h"
#include "splash/splash_image.h"

namespace check {

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

std::string Chomp(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, strlen(prefix), prefix) == 0; }

std::string Lower(std::string text) {
    for (char& c : text) c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsFile(const std::string& hostPath, bool* isFolder) {
    struct stat status;
    if (stat(hostPath.c_str(), &status) != 0) return false;
    *isFolder = S_ISDIR(status.st_mode);
    return true;
}

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

namespace {

// ---- The launch resources and the settings phase ----

// Each VM-OPTIONS item as the launcher classifies it, by the option parser's own table.
void DescribeVmOptions(Report& report) {
    char** items = nullptr;
    int count = SplitVmOptions(&items);
    for (int i = 0; i < count; i++) {
        const char* item = items[i];
        bool takesValue = false;
        const char* vmForm = item;
        OptionItemKind kind = ClassifyOptionItem(item, &takesValue, &vmForm);
        std::string value = takesValue && i + 1 < count ? items[i + 1] : "";
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
    for (int i = 0; i < count; i++) free(items[i]);
    free(items);
}

void DescribeConfigFile(Report& report) {
    bool hasResource = false;
    std::string resourcePath = ResourceText(kConfigPathResource, &hasResource);
    std::string named = !IsEmpty(g_launch.configFilePath.text) ? g_launch.configFilePath.text : resourcePath;
    // The settings phase read the file when the launcher's reader asked for any key of it.
    bool read = !g_checkPlatform.profileFilesRead.empty();
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
    if (g_launch.initialHeapPercent == 0 && g_launch.maxHeapPercent == 0 &&
        DescribeHeapProblem(report, *g_checkPlatform.resources))
        return;
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

// Each item of the options files as the launcher takes it, or the line it refuses.
static void DescribeInstalledOptions(Report& report, bool read) {
    const OptionsFileItems& items = InstalledOptionsItems();
    for (int i = 0; i < items.count; i++) {
        const OptionsItem& item = items.items[i];
        report.Ok(kResources, std::string(item.file) + ", line " + std::to_string(item.line) + ": " +
                                  OptionsItemKindName(item.kind) + " " + item.value);
    }
    if (read) return;
    for (const std::string& message : g_checkPlatform.fatalMessages)
        report.Fail(kResources, Chomp(message), "Correct or remove that line; the launcher refuses to start with it.");
    g_checkPlatform.fatalMessages.clear();
}

void DescribeResources(Report& report, Settings& settings) {
    for (const LaunchResource* resource : kLaunchResources) {
        size_t size = 0;
        if (LoadLaunchResource(*resource, &size, nullptr) != nullptr)
            report.Ok(kResources, std::string(resource->typeName) + " " + std::to_string(resource->numericName) +
                                      " present (" + std::to_string(size) + " bytes)");
    }
    DescribeVmOptions(report);
    // The launch's own settings phase, for a start without arguments; the heap percentages are
    // reported as its first half leaves them, before the resources fill the unset ones.
    std::string exePath = g_checkPlatform.exeWindowsPath;
    char* commandLine[] = {&exePath[0], nullptr};
    int argc = 1;
    char** argv = commandLine;
    int status = 0;
    bool optionsRead = ReadLaunchOptions(&argc, &argv, &settings.vmOptionCount, &settings.vmOptionItems, &status);
    DescribeInstalledOptions(report, optionsRead);
    DescribeConfigFile(report);
    DescribeHeap(report);
    CompleteLaunchSettings();
    bool named = ReadMainClassName();
    ReportLauncherMessages(report, kResources);
    if (!named) {
        report.Fail(kResources, "no main class: neither MAIN-CLASS nor the configuration file names one",
                    "Pack the exe with --main-class.");
    } else {
        settings.mainClass = g_launch.mainClassName;
        report.Ok(kResources, "main class " + settings.mainClass);
    }
}

// ---- The splash image ----

void DescribeSplash(Report& report) {
    // A -splash: item of VM-OPTIONS wins over the VM-SPLASH resource, as in the launcher.
    SplashImageSource source = {};
    if (!ChooseSplashImage(g_launch.splashOption, &source)) return;
    Bytes file;
    std::string error, from = source.path != nullptr ? WindowsPath(source.path) : "VM-SPLASH";
    const uint8_t* bytes = source.bytes;
    size_t size = source.size;
    if (source.path != nullptr) {
        if (!CheckableHere(source.path)) {
            report.Warn(kSplash, "splash image " + from + " names another machine's path; not checked here",
                        "Run the check on Windows.");
            ReleaseSplashImage(&source);
            return;
        }
        if (!ReadWholeFile(HostPath(source.path), kImageFile, file, error)) {
            report.Fail(kSplash, from + ": " + error, "Ship a valid PNG image at that path.");
            ReleaseSplashImage(&source);
            return;
        }
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
    PackedExe exe;
    std::string error;
    return LoadPackedExe(path, exe, error) && CarriesLaunchResources(exe);
}

}  // namespace

}  // namespace check

using namespace check;

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
    PackedExe exe;
    std::string error;
    if (!LoadPackedExe(exePath, exe, error)) {
        report.Fail(kResources, WindowsPath(exePath) + ": " + error, "Name an exe written by quorvia-pack.");
        return report.findings;
    }
    DescribePackageRisks(report, exe.resources);
    // The launcher knows its own full path; so must the check.
    BeginCheckPlatform(FullPath(exePath), exe.resources);
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
        // Findings quote names from the package: printed, they must not reach the terminal raw.
        out += std::string(severity) + "  " + finding.area + ": " + PrintableText(finding.text);
        if (!finding.fix.empty()) out += " -- fix: " + PrintableText(finding.fix);
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
