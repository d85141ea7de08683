#include "launcher/launch_environment.h"

#include <cstdlib>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/log_file.h"
#include "base/text.h"
#include "config/resource_contract.h"
#include "files/app_folder.h"
#include "launcher/installed_options.h"
#include "launcher/service_session.h"

static bool IsRelativePath(const char* path) {
    return !(path[0] == '\\' || path[0] == '/' || (path[0] != '\0' && path[1] == ':'));
}

// A packed path that may use ${NAME}, taken from the exe's folder when relative, so that a
// shortcut's own folder does not change it. False after a fatal message.
static bool ReadPackedPath(const LaunchResource& resource, char* path, size_t size, bool* present) {
    char* text = nullptr;
    if (!ReadExpandedResource(resource, &text)) return false;
    *present = text != nullptr;
    if (text == nullptr) return true;
    bool exeFolder = EqualsIgnoringCase(text, "exe");
    bool formed = exeFolder              ? FormatPathText(path, size, "%s", GetExeFolder())
                  : IsRelativePath(text) ? FormatPathText(path, size, "%s%s", GetExeFolder(), text)
                                         : FormatPathText(path, size, "%s", text);
    if (!formed) ReportFatal("The packed %s path is too long: %s\n", resource.typeName, text);
    free(text);
    return formed;
}

// Without --log a service's output would be lost: it goes to "{application folder}\{exe base}.log",
// a folder only the service's account may change. No log is better than no service, so this one
// is not required to open.
static void StartServiceLog() {
    const char* folder = GetAppCacheFolder();
    char* baseName = GetExeBaseName();
    char path[kWindowsPathSize];
    bool fits = folder != nullptr && baseName != nullptr &&
                FormatPathText(path, sizeof path, "%s\\%s.log", folder, baseName);
    free(baseName);
    if (fits) StartLogFile(path, false);
}

bool StartLaunchLog() {
    char path[kWindowsPathSize];
    bool present = false;
    if (!ReadPackedPath(kLogFileResource, path, sizeof path, &present)) return false;
    if (!present && g_serviceSession != nullptr) StartServiceLog();
    if (!present) return true;
    // A service has no console to copy to; straight to the file, nothing waits in a pipe at exit.
    if (StartLogFile(path, IsConsoleProgram() && g_serviceSession == nullptr)) return true;
    ReportFatal("Could not open the log file %s.\n", path);
    return false;
}

bool EnterWorkingFolder() {
    char path[kWindowsPathSize];
    bool present = false;
    if (!ReadPackedPath(kWorkingDirResource, path, sizeof path, &present)) return false;
    if (!present || ChangeWorkingFolder(path)) return true;
    ReportFatal("Could not change to the working folder %s.\n", path);
    return false;
}

void ReportLaunchLog(int status) {
    if (status == 0 || LogFilePath() == nullptr || IsConsoleProgram() || FatalReportCount() > 0) return;
    ReportFatal("The application could not start (exit status %d).\n", status);
}
