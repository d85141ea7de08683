#include <windows.h>
#include <shlwapi.h>

#include "jar_copy.h"

bool IsNetworkPath(const char* path) { return PathIsNetworkPathA(path) != FALSE; }
