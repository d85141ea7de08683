#include "jar_copy.h"
#include "launcher/system_library.h"

bool IsNetworkPath(const char* path) { return SystemPathIsNetworkPath(path); }
