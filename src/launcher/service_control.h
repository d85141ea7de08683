// The service launcher's own commands, -install, -uninstall, -start, -stop and -status, run by an
// administrator as the exe's only argument.
#pragma once

#include "config/service_settings.h"

// Whether `argument` is one of the commands.
bool IsServiceCommand(const char* argument);
// Runs the command for the service `settings` describe, whose exe is exePath; prints what it did
// or why it could not, and returns the exit status (0 done).
int RunServiceCommand(const char* command, const ServiceSettings& settings, const char* exePath);

// The argument the installed command line gives the exe, by which it knows it runs under the SCM.
