// The Service Control Manager's edge (launcher/service_edge.h).
#include "fake_service_edge.h"

#include <cctype>
#include <cstring>

#include "launcher/service_edge.h"

FakeScm g_scm;

namespace {

const unsigned long kAccessDenied = 5, kInvalidName = 123, kAlreadyRunning = 1056, kDoesNotExist = 1060,
                    kNotActive = 1062, kMarkedForDelete = 1072, kExists = 1073;

std::string Key(const char* name) {
    std::string key(name);
    for (char& c : key) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return key;
}

// OpenService with a right a plain user lacks, unless `queryOnly`; the service or null with *error.
FakeScmService* Open(const char* name, const char* function, bool queryOnly, unsigned long* error) {
    auto refusal = g_scm.refusals.find(function);
    *error = refusal != g_scm.refusals.end() ? refusal->second : 0;
    auto found = g_scm.services.find(Key(name));
    if (*error == 0 && found == g_scm.services.end()) *error = kDoesNotExist;
    if (*error == 0 && !queryOnly && !g_scm.administrator) *error = kAccessDenied;
    return *error == 0 ? &found->second : nullptr;
}

}  // namespace

unsigned long ScmCreateService(const ServiceDefinition& d) {
    if (!g_scm.administrator) return kAccessDenied;  // OpenSCManager with SC_MANAGER_CREATE_SERVICE
    size_t length = strlen(d.name);
    if (length == 0 || length > 256 || strpbrk(d.name, "/\\") != nullptr) return kInvalidName;
    if (g_scm.services.count(Key(d.name)) != 0)
        return g_scm.services[Key(d.name)].markedForDelete ? kMarkedForDelete : kExists;
    FakeScmService s;
    s.displayName = d.displayName ? d.displayName : d.name;
    s.binaryPath = d.binaryPath;
    s.account = d.account ? d.account : "LocalSystem";
    s.startType = d.startType;
    for (const char* at = d.dependencies; at != nullptr && *at != '\0'; at += strlen(at) + 1)
        s.dependencies.push_back(at);
    g_scm.services[Key(d.name)] = s;
    return 0;
}

unsigned long ScmSetDescription(const char* name, const char* description) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmSetDescription", false, &error);
    if (s != nullptr) s->description = description;
    return error;
}

unsigned long ScmSetFailureActions(const char* name, unsigned resetSeconds, unsigned restartDelayMs,
                                   unsigned restarts) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmSetFailureActions", false, &error);
    if (s != nullptr) {
        s->resetSeconds = resetSeconds;
        s->restartDelayMs = restartDelayMs;
        s->restarts = restarts;
    }
    return error;
}

unsigned long ScmSetFailureActionsOnNonCrash(const char* name) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmSetFailureActionsOnNonCrash", false, &error);
    if (s != nullptr) s->failureActionsOnNonCrash = true;
    return error;
}

unsigned long ScmSetDelayedAutoStart(const char* name) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmSetDelayedAutoStart", false, &error);
    if (s != nullptr && s->startType != 2) return 87;  // Windows takes it for auto-start services only
    if (s != nullptr) s->delayedAutoStart = true;
    return error;
}

unsigned long ScmSetPreshutdownTimeout(const char* name, unsigned milliseconds) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmSetPreshutdownTimeout", false, &error);
    if (s != nullptr) s->preshutdownMs = milliseconds;
    return error;
}

unsigned long ScmDeleteService(const char* name) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmDeleteService", false, &error);
    if (s == nullptr) return error;
    if (s->markedForDelete) return kMarkedForDelete;
    if (s->state != 1) {
        s->markedForDelete = true;  // it goes when it stops
    } else {
        g_scm.services.erase(Key(name));
    }
    return 0;
}

unsigned long ScmStartService(const char* name) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmStartService", false, &error);
    if (s == nullptr) return error;
    if (s->markedForDelete) return kMarkedForDelete;
    if (s->state != 1) return kAlreadyRunning;
    s->state = g_scm.stateAfterStart;
    s->win32ExitCode = g_scm.exitAfterStart;
    s->serviceExitCode = g_scm.specificExitAfterStart;
    return 0;
}

unsigned long ScmStopService(const char* name) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmStopService", false, &error);
    if (s == nullptr) return error;
    if (s->state == 1) return kNotActive;
    s->state = g_scm.stopTakesEffect ? 1 : 3;
    if (s->state == 1) s->win32ExitCode = s->serviceExitCode = 0;
    if (s->state == 1 && s->markedForDelete) g_scm.services.erase(Key(name));
    return 0;
}

unsigned long ScmQueryService(const char* name, ServiceStatusView* status) {
    unsigned long error = 0;
    FakeScmService* s = Open(name, "ScmQueryService", true, &error);
    if (s != nullptr)
        *status = ServiceStatusView{s->state, s->win32ExitCode, s->serviceExitCode, s->state == 1 ? 0u : 77u};
    return error;
}

void ScmSleep(unsigned milliseconds) { g_scm.sleptMs += milliseconds; }

unsigned long AddEventSource(const char* name) {
    if (!g_scm.administrator) return kAccessDenied;  // HKLM
    g_scm.eventSources.insert(Key(name));
    return 0;
}

unsigned long RemoveEventSource(const char* name) {
    if (!g_scm.administrator) return kAccessDenied;
    g_scm.eventSources.erase(Key(name));
    return 0;
}
