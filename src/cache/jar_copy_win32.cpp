#include "base/system_library.h"
#include "cache/cache_edge.h"
#include "cache/jar_copy.h"

bool IsNetworkPath(const char* path) { return SystemPathIsNetworkPath(path); }
