// The JarPath mode: a jar beside the executable, copied into the cache when it lies on the network.
#pragma once

// The path the VM is to use: the jar in place, or its copy in the cache when the jar is on the network.
// Empty when the executable's folder and jarPath together don't fit a path. Null when the copy is
// code of another account that can't be replaced (told on stderr): the launch must end.
const char* CacheJarPath();

// After CacheJarPath gave nothing: the jar on the network path when neither it nor an earlier copy
// exists, else null.
const char* MissingJarPath();
