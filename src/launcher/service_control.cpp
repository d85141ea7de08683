#include "launcher/service_control.h"

#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "launcher/service_edge.h"
#include "launcher/service_status.h"


namespace {

const unsigned long kAccessDenied = 5;
const unsigned long kServiceAlreadyRunning = 1056;
const unsigned long kServiceDoesNotExist = 1060;
const unsigned long kServiceNotActive = 1062;
const unsigned long kServiceMarkedForDelete = 1072;
const unsigned long kServiceExists = 1073;

const unsigned kAutoStart = 2;
const unsigned kDemandStart = 3;
// Restart a failed service after half a minute, up to three times a day; then leave it stopped.
const unsigned kRestartDelayMs = 30000;
const unsigned kRestarts = 3;
const unsigned kFailureResetSeconds = 86400;
const unsigned kPollMs = 250;
const unsigned kStartWaitMs = 120000;

// The message for a failed call; returns the exit status.
int Refused(const char* verb, const char* name, unsigned long error) {
    switch (error) {
        case kAccessDenied:
            PrintMessage(stderr, "Could not %s the service %s: run this as an administrator.\n", verb, name);
            break;
        case kServiceExists:
            PrintMessage(stderr, "The service %s is already installed.\n", name);
            break;
        case kServiceDoesNotExist:
            PrintMessage(stderr, "The service %s is not installed.\n", name);
            break;
        case kServiceAlreadyRunning:
            PrintMessage(stderr, "The service %s is already running.\n", name);
            break;
        case kServiceNotActive:
            PrintMessage(stderr, "The service %s is not running.\n", name);
            break;
        case kServiceMarkedForDelete:
            PrintMessage(stderr, "The service %s is being removed; it goes once it has stopped and is closed.\n", name);
            break;
        default:
            PrintMessage(stderr, "Could not %s the service %s (system error %lu).\n", verb, name, error);
            break;
    }
    return 1;
}

// A setting past the service's creation: without it the service still runs, so it only warns.
void Settle(const char* what, const char* name, unsigned long error) {
    if (error != 0)
        PrintMessage(stderr, "Warning: could not set the %s of the service %s (system error %lu).\n", what, name,
                     error);
}

int Install(const ServiceSettings& s, const char* exePath) {
    char binaryPath[600];
    int length = snprintf(binaryPath, sizeof binaryPath, "\"%s\" %s", exePath, kServiceRunArgument);
    if (length < 0 || static_cast<size_t>(length) >= sizeof binaryPath) return Refused("install", s.name, 206);
    char dependencies[kTextResourceLimit + 1];
    bool hasDependencies = s.dependsOn[0] != '\0';
    if (hasDependencies && FormDependencyList(s.dependsOn, dependencies, sizeof dependencies) == 0)
        return Refused("install", s.name, 87);
    ServiceDefinition d = {s.name,     s.displayName,
                           binaryPath, s.start == ServiceStartDemand ? kDemandStart : kAutoStart,
                           s.account,  hasDependencies ? dependencies : nullptr};
    unsigned long error = ScmCreateService(d);
    if (error != 0) return Refused("install", s.name, error);
    if (s.description[0] != '\0') Settle("description", s.name, ScmSetDescription(s.name, s.description));
    Settle("failure actions", s.name, ScmSetFailureActions(s.name, kFailureResetSeconds, kRestartDelayMs, kRestarts));
    Settle("failure actions on exit codes", s.name, ScmSetFailureActionsOnNonCrash(s.name));
    if (s.start == ServiceStartDelayed) Settle("delayed start", s.name, ScmSetDelayedAutoStart(s.name));
    // Windows waits this long for the pre-shutdown stop: the stop's own timeout, and a margin.
    Settle("pre-shutdown timeout", s.name, ScmSetPreshutdownTimeout(s.name, (s.stopTimeoutSeconds + 5) * 1000));
    Settle("event log source", s.name, AddEventSource(s.name));
    PrintMessage(stdout, "Installed the service %s (%s).\n", s.name, s.displayName);
    return 0;
}

// Polls until the service leaves `pendingState` or `limitMs` has passed; the last status seen.
unsigned long WaitWhile(const char* name, unsigned pendingState, unsigned limitMs, ServiceStatusView* status) {
    for (unsigned waited = 0;; waited += kPollMs) {
        unsigned long error = ScmQueryService(name, status);
        if (error != 0 || status->state != pendingState || waited >= limitMs) return error;
        ScmSleep(kPollMs);
    }
}

int Stop(const ServiceSettings& s, bool quietWhenStopped) {
    unsigned long error = ScmStopService(s.name);
    if (error == kServiceNotActive && quietWhenStopped) return 0;
    if (error != 0) return Refused("stop", s.name, error);
    ServiceStatusView status = {};
    error = WaitWhile(s.name, kServiceStopPending, (s.stopTimeoutSeconds + 10) * 1000, &status);
    if (error != 0) return Refused("stop", s.name, error);
    if (status.state != kServiceStopped) {
        PrintMessage(stderr, "The service %s did not stop in time.\n", s.name);
        return 1;
    }
    PrintMessage(stdout, "Stopped the service %s.\n", s.name);
    return 0;
}

int Uninstall(const ServiceSettings& s) {
    ServiceStatusView status = {};
    unsigned long error = ScmQueryService(s.name, &status);
    if (error != 0) return Refused("uninstall", s.name, error);
    // A running service marked for removal would stay until it stops: stop it first.
    if (status.state != kServiceStopped && Stop(s, true) != 0) return 1;
    error = ScmDeleteService(s.name);
    if (error != 0) return Refused("uninstall", s.name, error);
    unsigned long sourceError = RemoveEventSource(s.name);
    if (sourceError != 0) Settle("event log source", s.name, sourceError);
    PrintMessage(stdout, "Uninstalled the service %s.\n", s.name);
    return 0;
}

int Start(const ServiceSettings& s) {
    unsigned long error = ScmStartService(s.name);
    if (error != 0) return Refused("start", s.name, error);
    ServiceStatusView status = {};
    error = WaitWhile(s.name, kServiceStartPending, kStartWaitMs, &status);
    if (error != 0) return Refused("start", s.name, error);
    if (status.state == kServiceRunning) {
        PrintMessage(stdout, "Started the service %s.\n", s.name);
        return 0;
    }
    if (status.state == kServiceStopped) {
        PrintMessage(stderr, "The service %s stopped as it started (exit code %u, service exit code %u).\n", s.name,
                     status.win32ExitCode, status.serviceExitCode);
    } else {
        PrintMessage(stderr, "The service %s is still starting.\n", s.name);
    }
    return 1;
}

const char* StateName(unsigned state) {
    switch (state) {
        case kServiceStopped:
            return "stopped";
        case kServiceStartPending:
            return "starting";
        case kServiceStopPending:
            return "stopping";
        case kServiceRunning:
            return "running";
        default:
            return "paused or pausing";
    }
}

int Status(const ServiceSettings& s) {
    ServiceStatusView status = {};
    unsigned long error = ScmQueryService(s.name, &status);
    if (error != 0) return Refused("query", s.name, error);
    if (status.state == kServiceStopped && status.win32ExitCode == kServiceSpecificError) {
        PrintMessage(stdout, "%s: stopped, exit code %u\n", s.name, status.serviceExitCode);
    } else if (status.state == kServiceStopped && status.win32ExitCode != 0) {
        PrintMessage(stdout, "%s: stopped, system error %u\n", s.name, status.win32ExitCode);
    } else if (status.state == kServiceStopped) {
        PrintMessage(stdout, "%s: stopped\n", s.name);
    } else {
        PrintMessage(stdout, "%s: %s, process %u\n", s.name, StateName(status.state), status.processId);
    }
    return 0;
}

}  // namespace

bool IsServiceCommand(const char* argument) {
    static const char* const kCommands[] = {"-install", "-uninstall", "-start", "-stop", "-status"};
    for (const char* command : kCommands) {
        if (strcmp(argument, command) == 0) return true;
    }
    return false;
}

int RunServiceCommand(const char* command, const ServiceSettings& settings, const char* exePath) {
    if (strcmp(command, "-install") == 0) return Install(settings, exePath);
    if (strcmp(command, "-uninstall") == 0) return Uninstall(settings);
    if (strcmp(command, "-start") == 0) return Start(settings);
    if (strcmp(command, "-stop") == 0) return Stop(settings, false);
    return Status(settings);
}
