// The Service Control Manager and the event log as the service commands use them: Win32 in
// service_control_win32.cpp; the unit tests replace these functions (tests/unit/fake_service_edge.cpp).
// Each opens what it needs and returns 0 or the system's error code.
#pragma once

struct ServiceDefinition {
    const char* name;
    const char* displayName;
    const char* binaryPath;
    unsigned startType;  // SERVICE_AUTO_START 2 or SERVICE_DEMAND_START 3
    const char* account;
    const char* dependencies;  // double-NUL-terminated, or null
};

struct ServiceStatusView {
    unsigned state;
    unsigned win32ExitCode;
    unsigned serviceExitCode;
    unsigned processId;
};

unsigned long ScmCreateService(const ServiceDefinition& definition);
unsigned long ScmSetDescription(const char* name, const char* description);
// Restart after restartDelayMs, `restarts` times within resetSeconds, then nothing.
unsigned long ScmSetFailureActions(const char* name, unsigned resetSeconds, unsigned restartDelayMs, unsigned restarts);
// The failure actions apply also when the service stops with a non-zero exit code.
unsigned long ScmSetFailureActionsOnNonCrash(const char* name);
unsigned long ScmSetDelayedAutoStart(const char* name);
unsigned long ScmSetPreshutdownTimeout(const char* name, unsigned milliseconds);
unsigned long ScmDeleteService(const char* name);
unsigned long ScmStartService(const char* name);
unsigned long ScmStopService(const char* name);
unsigned long ScmQueryService(const char* name, ServiceStatusView* status);
void ScmSleep(unsigned milliseconds);

// The event log source of the service's messages, named as the service.
unsigned long AddEventSource(const char* name);
unsigned long RemoveEventSource(const char* name);
