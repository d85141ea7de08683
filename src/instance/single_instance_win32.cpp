#include <windows.h>

#include "single_instance.h"

// Held for the whole process: its existence marks this application as running.
static HANDLE g_instanceMutex;

bool CheckSingleInstance(const char* mainClassName) {
    g_instanceMutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, mainClassName);
    if (g_instanceMutex != nullptr) return false;
    g_instanceMutex = CreateMutexA(nullptr, FALSE, mainClassName);
    return true;
}

// Forwarding and the listener come with the single-instance hand-over; until then a later start
// of a single-instance application ends without delivering its arguments.
void ForwardToRunningInstance(const char*, int, char**) {}

void StartInstanceListener(const char*) {}
