#include <windows.h>

#include "base/base_edge.h"

bool ChangeWorkingFolder(const char* path) { return SetCurrentDirectoryA(path) != FALSE; }
