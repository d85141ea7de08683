// The EmbeddedCache mode: the CLASSES jar written once to the cache folder under its digest name.
#pragma once

// The cache file the VM is to use; null when it can't be written or another account's file stands
// there (told on stderr).
const char* CacheEmbeddedJar();
