// The JarPath mode: a jar beside the executable, copied into the cache when it lies on the network.
#pragma once

const char* CacheJarPath();
