// The JarPath mode: a jar beside the executable, copied into the cache when it lies on the network.
#pragma once

#include <cstddef>

// The path the VM is to use: the jar in place, or its copy in the cache when the jar is on the network.
// Empty when the executable's folder and jarPath together don't fit a path. Null when the copy is
// code of another account that can't be replaced (told on stderr): the launch must end.
const char* CacheJarPath();

// The executable's path cut right after its last backslash, then jarPath verbatim (even an absolute
// one). False, with the buffer emptied, when that would not fit.
bool FormResolvedJarPath(char* buffer, size_t size, const char* exePath, const char* jarPath);

