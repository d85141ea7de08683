// What a service tells the Service Control Manager as it starts, runs and stops: one report per
// change, from the events of the launch, so that the SCM never waits on a stale state.
#pragma once

// The SCM's numbers, so that a report goes to SetServiceStatus as it is.
enum ServiceStateValue : unsigned {
    kServiceStopped = 1,
    kServiceStartPending = 2,
    kServiceStopPending = 3,
    kServiceRunning = 4,
};
const unsigned kAcceptStop = 0x1;
const unsigned kAcceptShutdown = 0x4;
const unsigned kAcceptPreshutdown = 0x100;
const unsigned kServiceSpecificError = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
// Pending states report progress this often; the wait hint leaves room for a late tick.
const unsigned kServiceTickMs = 1000;
const unsigned kServiceWaitHintMs = 3000;

enum ServiceEvent {
    ServiceStarting,      // the handler is registered
    ServiceTick,          // the pacer's beat: progress while pending
    ServiceMainCalled,    // the application's main is being called
    ServiceStopAsked,     // stop, shutdown or pre-shutdown
    ServiceEnded,         // the VM ended, or the launch failed, with an exit status
    ServiceStopTimedOut,  // the stop took longer than its timeout
};

struct ServiceReport {
    unsigned state;
    unsigned controlsAccepted;
    unsigned win32ExitCode;
    unsigned serviceExitCode;
    unsigned checkPoint;
    unsigned waitHint;
};

struct ServiceProgress {
    unsigned state;  // 0 before the first report
    unsigned checkPoint;
};

// The report `event` calls for, or false when the SCM should hear nothing new (a tick while
// running, a second stop, anything once stopped). exitStatus counts for ServiceEnded only: 0 is a
// clean end, any other value a service-specific failure, so that the failure actions apply.
bool NextServiceReport(ServiceProgress* progress, ServiceEvent event, int exitStatus, ServiceReport* report);
