// quorvia-pack --check: reads a packed exe and the folder around it as the launcher would, by
// running the launcher's own readers, and reports whether the app will start on a clean Windows PC.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

enum class Severity { Ok, Warn, Fail };

struct Finding {
    Severity severity;
    std::string area;  // resources, runtime, vm library, application, splash
    std::string text;
    std::string fix;   // one sentence, for a WARN or FAIL
};

// The exe a --check argument names: the file itself, or the one packed exe of a folder.
bool ChooseCheckedExe(const std::string& path, std::string& exe, std::string& error);

// Every finding about one packed exe, in the order of the report.
std::vector<Finding> CheckPackedExe(const std::string& exePath);

std::string FormatFindings(const std::vector<Finding>& findings);
std::string FormatFindingsJson(const std::string& exePath, const std::vector<Finding>& findings);
bool AnyFailed(const std::vector<Finding>& findings);

// The --check command: returns the exit status (0 nothing failed, 1 something failed or unreadable).
int RunPreflightCheck(const std::string& path, bool json, FILE* out, FILE* err);
