#include <windows.h>

#include <cstdio>

#include "launcher/launch_sequence.h"
#include "launcher/service_run.h"

// The entry of launcher-service.exe, the console variant that also installs and runs itself as a
// service; the other variants leave this code out, so that they stay small.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    int status = 0;
    if (RunAsServiceLauncher(__argc, __argv, &status)) return status;
    return RunLauncher(__argc, __argv);
}
