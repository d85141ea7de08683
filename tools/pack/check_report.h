// What the areas of quorvia-pack --check share: the report they add findings to, the launch state as
// the launch's own phases left it, and the paths of the checked exe on this machine.
#pragma once

#include <string>
#include <vector>

#include "config/resource_contract.h"
#include "pack/preflight_check.h"

namespace check {

inline constexpr char kResources[] = "resources";
inline constexpr char kRuntime[] = "runtime";
inline constexpr char kVmLibrary[] = "vm library";
inline constexpr char kApplication[] = "application";
inline constexpr char kSplash[] = "splash";

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

// The settings phase's result, for the later areas.
struct Settings {
    std::string mainClass;
    int vmOptionCount = 0;
    char** vmOptionItems = nullptr;
};

struct RuntimeChoice {
    bool found = false;
    std::string home;
    std::string vmLibrary;
    int feature = 0;
    int lowestAccepted = 0;  // the runtime rule's lowest Java version; 0 without a rule
};

// What the launcher printed since the last call becomes warnings of `area`; the expected notes of a
// launch (an absent optional resource, an item it passes on, the memory line) are left out.
void ReportLauncherMessages(Report& report, const char* area);

std::string Chomp(std::string text);
bool StartsWith(const std::string& text, const char* prefix);
std::string Lower(std::string text);
// Whether the host path exists, and whether it is a folder.
bool IsFile(const std::string& hostPath, bool* isFolder);
// Paths of another machine (a drive letter or a share, seen from Linux) cannot be looked at here.
bool CheckableHere(const std::string& windowsPath);
bool IsRelative(const std::string& windowsPath);
// The checked exe's folder, as the launcher sees it.
std::string ExeFolder();
// A launch resource's text as the launcher copies it; empty, with *present false, when it is absent.
std::string ResourceText(const LaunchResource& resource, bool* present);

void DescribeRuntime(Report& report, RuntimeChoice& runtime);
// The search of a packed runtime rule, as far as it can run here (the bundled source); false when it
// chose no bundled runtime.
bool FindRuledRuntime(Report& report, RuntimeChoice& runtime, char* home, size_t homeSize);
void DescribeVmLibrary(Report& report, const RuntimeChoice& runtime);
void DescribeApplication(Report& report, const Settings& settings, const RuntimeChoice& runtime);

}  // namespace check
