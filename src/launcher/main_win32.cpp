#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "launcher/launch_sequence.h"

// The C runtime has split the command line into __argc and __argv before WinMain runs.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // Unbuffered, so that nothing written before the VM ends the process with ExitProcess is lost.
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
    return RunLauncher(__argc, __argv);
}
