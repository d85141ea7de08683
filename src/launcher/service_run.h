// The entry of a service launcher (an exe packed with SERVICE-NAME): its commands, and the run
// under the Service Control Manager. Win32 in service_run_win32.cpp.
#pragma once

// False for any exe without SERVICE-NAME, and for a service launcher started with anything but a
// command or the installed command line: then the launch goes on as usual. Otherwise runs that and
// sets *status to the process's exit status.
bool RunAsServiceLauncher(int argc, char** argv, int* status);
