// A stand-in Service Control Manager behind launcher/service_edge.h, as strict as Windows: names
// compared without case, an administrator needed for every change and control but not for a query,
// the errors Windows gives for a missing, existing, running, stopped or deleted service.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeScmService {
    std::string displayName, binaryPath, account, description;
    unsigned startType = 0;
    std::vector<std::string> dependencies;
    unsigned resetSeconds = 0, restartDelayMs = 0, restarts = 0;
    bool failureActionsOnNonCrash = false, delayedAutoStart = false;
    unsigned preshutdownMs = 180000;
    unsigned state = 1, win32ExitCode = 1077, serviceExitCode = 0;
    bool markedForDelete = false;
};

struct FakeScm {
    bool administrator = true;
    std::map<std::string, FakeScmService> services;  // by lower-case name
    std::set<std::string> eventSources;              // lower-case
    std::map<std::string, unsigned long> refusals;   // an edge function's name -> its error, as Wine's 87
    // What a start leads to, seen by the next query: running, or stopped with these exit codes.
    unsigned stateAfterStart = 4, exitAfterStart = 0, specificExitAfterStart = 0;
    bool stopTakesEffect = true;
    unsigned sleptMs = 0;
};

extern FakeScm g_scm;
