#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/app_paths.h"
#include "base/diagnostics.h"
#include "config/config_edge.h"
#include "config/service_settings.h"
#include "launcher/launch_sequence.h"
#include "launcher/service_control.h"
#include "launcher/service_run.h"
#include "launcher/service_session.h"
#include "launcher/service_status.h"

namespace {

// The service's state, shared by the ServiceMain thread, the control handler, the pacer and the VM's
// exit hook; reports are made under the lock, so that each goes out once and in order.
struct ServiceRun {
    ServiceSettings settings;
    int argc;
    char** argv;
    SERVICE_STATUS_HANDLE statusHandle;
    CRITICAL_SECTION lock;
    ServiceProgress progress;
    JavaVM* volatile vm;
    HANDLE stopAsked;   // set by the handler, taken by the pacer
    HANDLE launchDone;  // the launch has returned: the dispatcher's thread may end the process
};
ServiceRun g_run;

// Sends the report `event` calls for; true when it was the stopped one.
bool Report(ServiceEvent event, int exitStatus) {
    EnterCriticalSection(&g_run.lock);
    ServiceReport r;
    bool changed = NextServiceReport(&g_run.progress, event, exitStatus, &r);
    if (changed) {
        SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, r.state,      r.controlsAccepted, r.win32ExitCode,
                                 r.serviceExitCode,         r.checkPoint, r.waitHint};
        SetServiceStatus(g_run.statusHandle, &status);
    }
    LeaveCriticalSection(&g_run.lock);
    return changed && r.state == kServiceStopped;
}

void WriteEventLog(WORD type, const char* text) {
    HANDLE source = RegisterEventSourceA(nullptr, g_run.settings.name);
    if (source == nullptr) return;
    const char* strings[] = {text};
    ReportEventA(source, type, 0, 1, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

// A service has no desktop: fatal messages go to the event log and to stderr.
void ServiceFatal(const char* text) {
    WriteEventLog(EVENTLOG_ERROR_TYPE, text);
    PrintMessage(stderr, "%s", text);
}

void OnMainCalling(JavaVM* vm) {
    g_run.vm = vm;
    Report(ServiceMainCalled, 0);
}

void OnVmExiting(int status) { Report(ServiceEnded, status); }

const ServiceSession kSession = {OnMainCalling, OnVmExiting};

DWORD WINAPI StopThread(LPVOID) {
    if (!StopJavaApplication(g_run.vm, g_run.settings.stopClass, g_run.settings.stopMethod))
        PrintMessage(stderr, "Could not attach a thread to the VM to stop it.\n");
    return 0;
}

// Beats while the service is pending, starts the stop once asked, and ends the process when the
// application outlives the stop timeout: the SCM must never be left with "stop pending".
DWORD WINAPI PacerThread(LPVOID) {
    ULONGLONG stopAskedAt = 0;
    const ULONGLONG timeoutMs = static_cast<ULONGLONG>(g_run.settings.stopTimeoutSeconds) * 1000;
    for (;;) {
        bool asked = WaitForSingleObject(g_run.stopAsked, kServiceTickMs) == WAIT_OBJECT_0;
        if (asked && stopAskedAt == 0) {
            stopAskedAt = GetTickCount64();
            HANDLE stopper = CreateThread(nullptr, 0, StopThread, nullptr, 0, nullptr);
            if (stopper != nullptr) CloseHandle(stopper);
        }
        Report(ServiceTick, 0);
        if (stopAskedAt != 0 && GetTickCount64() - stopAskedAt >= timeoutMs) {
            char text[200];
            snprintf(text, sizeof text, "The service %s did not end within %u seconds of the stop; ended it.\n",
                     g_run.settings.name, g_run.settings.stopTimeoutSeconds);
            WriteEventLog(EVENTLOG_WARNING_TYPE, text);
            PrintMessage(stderr, "%s", text);
            if (Report(ServiceStopTimedOut, 0)) TerminateProcess(GetCurrentProcess(), 0);
        }
    }
}

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
        case SERVICE_CONTROL_PRESHUTDOWN:
            Report(ServiceStopAsked, 0);
            SetEvent(g_run.stopAsked);
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD argc, char** argv) {
    // argv[0] is the name the service was installed under, whatever the resource says.
    g_run.statusHandle = RegisterServiceCtrlHandlerExA(argc > 0 ? argv[0] : g_run.settings.name, OnControl, nullptr);
    if (g_run.statusHandle == nullptr) return;
    Report(ServiceStarting, 0);
    HANDLE pacer = CreateThread(nullptr, 0, PacerThread, nullptr, 0, nullptr);
    if (pacer != nullptr) CloseHandle(pacer);
    SetFatalSink(ServiceFatal);
    // Services start in the system's folder; the application expects its own.
    const char* folder = GetExeFolder();
    if (folder[0] == '\0' || !SetCurrentDirectoryA(folder)) ReportFatal("Could not enter the folder %s.\n", folder);
    g_serviceSession = &kSession;
    int status = RunLauncher(g_run.argc, g_run.argv);
    Report(ServiceEnded, status);
    SetEvent(g_run.launchDone);
}

int RunUnderScm() {
    InitializeCriticalSection(&g_run.lock);
    g_run.stopAsked = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_run.launchDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SERVICE_TABLE_ENTRYA table[] = {{g_run.settings.name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        PrintMessage(stderr, "The argument %s is for the Service Control Manager (system error %lu).\n",
                     kServiceRunArgument, GetLastError());
        return 1;
    }
    // Stopped was reported; when the VM's exit made that report, the VM ends the process itself.
    WaitForSingleObject(g_run.launchDone, 30000);
    return 0;
}

}  // namespace

bool RunAsServiceLauncher(int argc, char** argv, int* status) {
    size_t size = 0;
    if (LoadLaunchResource(kServiceNameResource, &size, nullptr) == nullptr) return false;
    bool command = argc == 2 && IsServiceCommand(argv[1]);
    bool underScm = argc >= 2 && strcmp(argv[1], kServiceRunArgument) == 0;
    if (!command && !underScm) return false;
    *status = 1;
    if (ReadServiceSettings(&g_run.settings) != ServiceSettingsRead) return true;
    if (command) {
        char exePath[kWindowsPathSize];
        if (!GetExePath(exePath, sizeof exePath)) {
            PrintMessage(stderr, "The exe's path is too long for a service.\n");
            return true;
        }
        *status = RunServiceCommand(argv[1], g_run.settings, exePath);
        return true;
    }
    // The launch sees the program path and what follows the service argument.
    g_run.argc = argc - 1;
    g_run.argv = argv + 1;
    g_run.argv[0] = argv[0];
    *status = RunUnderScm();
    return true;
}
