#include <windows.h>

#include <cstdio>

#include "launcher/service_edge.h"

namespace {

// The service opened with `access` through a connection to the SCM; both closed by Close.
struct OpenedService {
    SC_HANDLE manager;
    SC_HANDLE service;
};

unsigned long Open(const char* name, DWORD access, OpenedService* opened) {
    opened->service = nullptr;
    opened->manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (opened->manager == nullptr) return GetLastError();
    opened->service = OpenServiceA(opened->manager, name, access);
    if (opened->service != nullptr) return 0;
    unsigned long error = GetLastError();
    CloseServiceHandle(opened->manager);
    return error;
}

void Close(OpenedService* opened) {
    CloseServiceHandle(opened->service);
    CloseServiceHandle(opened->manager);
}

unsigned long ChangeConfig2(const char* name, DWORD level, void* info, DWORD extraAccess) {
    OpenedService opened;
    unsigned long error = Open(name, SERVICE_CHANGE_CONFIG | extraAccess, &opened);
    if (error != 0) return error;
    if (!ChangeServiceConfig2A(opened.service, level, info)) error = GetLastError();
    Close(&opened);
    return error;
}

const char kEventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

}  // namespace

unsigned long ScmCreateService(const ServiceDefinition& d) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) return GetLastError();
    SC_HANDLE service =
        CreateServiceA(manager, d.name, d.displayName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, d.startType,
                       SERVICE_ERROR_NORMAL, d.binaryPath, nullptr, nullptr, d.dependencies, d.account, nullptr);
    unsigned long error = service == nullptr ? GetLastError() : 0;
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
}

unsigned long ScmSetDescription(const char* name, const char* description) {
    SERVICE_DESCRIPTIONA info = {const_cast<char*>(description)};
    return ChangeConfig2(name, SERVICE_CONFIG_DESCRIPTION, &info, 0);
}

unsigned long ScmSetFailureActions(const char* name, unsigned resetSeconds, unsigned restartDelayMs,
                                   unsigned restarts) {
    SC_ACTION actions[8];
    if (restarts >= 8) restarts = 7;
    for (unsigned i = 0; i < restarts; i++) actions[i] = SC_ACTION{SC_ACTION_RESTART, restartDelayMs};
    actions[restarts] = SC_ACTION{SC_ACTION_NONE, 0};
    SERVICE_FAILURE_ACTIONSA info = {resetSeconds, nullptr, nullptr, restarts + 1, actions};
    // Restart actions need the right to start the service.
    return ChangeConfig2(name, SERVICE_CONFIG_FAILURE_ACTIONS, &info, SERVICE_START);
}

unsigned long ScmSetFailureActionsOnNonCrash(const char* name) {
    SERVICE_FAILURE_ACTIONS_FLAG info = {TRUE};
    return ChangeConfig2(name, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &info, 0);
}

unsigned long ScmSetDelayedAutoStart(const char* name) {
    SERVICE_DELAYED_AUTO_START_INFO info = {TRUE};
    return ChangeConfig2(name, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &info, 0);
}

unsigned long ScmSetPreshutdownTimeout(const char* name, unsigned milliseconds) {
    SERVICE_PRESHUTDOWN_INFO info = {milliseconds};
    return ChangeConfig2(name, SERVICE_CONFIG_PRESHUTDOWN_INFO, &info, 0);
}

unsigned long ScmDeleteService(const char* name) {
    OpenedService opened;
    unsigned long error = Open(name, DELETE, &opened);
    if (error != 0) return error;
    if (!DeleteService(opened.service)) error = GetLastError();
    Close(&opened);
    return error;
}

unsigned long ScmStartService(const char* name) {
    OpenedService opened;
    unsigned long error = Open(name, SERVICE_START, &opened);
    if (error != 0) return error;
    if (!StartServiceA(opened.service, 0, nullptr)) error = GetLastError();
    Close(&opened);
    return error;
}

unsigned long ScmStopService(const char* name) {
    OpenedService opened;
    unsigned long error = Open(name, SERVICE_STOP, &opened);
    if (error != 0) return error;
    SERVICE_STATUS status;
    if (!ControlService(opened.service, SERVICE_CONTROL_STOP, &status)) error = GetLastError();
    Close(&opened);
    return error;
}

unsigned long ScmQueryService(const char* name, ServiceStatusView* view) {
    OpenedService opened;
    unsigned long error = Open(name, SERVICE_QUERY_STATUS, &opened);
    if (error != 0) return error;
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (QueryServiceStatusEx(opened.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed)) {
        *view = ServiceStatusView{status.dwCurrentState, status.dwWin32ExitCode, status.dwServiceSpecificExitCode,
                                  status.dwProcessId};
    } else {
        error = GetLastError();
    }
    Close(&opened);
    return error;
}

void ScmSleep(unsigned milliseconds) { Sleep(milliseconds); }

unsigned long AddEventSource(const char* name) {
    char key[400];
    int length = snprintf(key, sizeof key, "%s%s", kEventSourceKey, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof key) return ERROR_BUFFER_OVERFLOW;
    HKEY source = nullptr;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &source, nullptr);
    if (error != ERROR_SUCCESS) return static_cast<unsigned long>(error);
    // EventCreate.exe's message table holds "%1" for the ids 1 to 1000: the text shows as written.
    static const char messageFile[] = "%SystemRoot%\\System32\\EventCreate.exe";
    DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    error = RegSetValueExA(source, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(messageFile),
                           sizeof messageFile);
    if (error == ERROR_SUCCESS)
        error =
            RegSetValueExA(source, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
    RegCloseKey(source);
    return static_cast<unsigned long>(error);
}

unsigned long RemoveEventSource(const char* name) {
    char key[400];
    int length = snprintf(key, sizeof key, "%s%s", kEventSourceKey, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof key) return ERROR_BUFFER_OVERFLOW;
    LONG error = RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    return error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<unsigned long>(error);
}
