// The hidden machine-wide cache directory and the embedded jar written there under its digest name.
#pragma once

#include <cstddef>

const char* GetCacheFolder();
const char* GetCacheFileName(const char* digestText);
void RemoveStaleCacheFiles(const char* pathToKeep);
char* Md5HexDigest(const void* bytes, size_t length);
const char* CacheEmbeddedJar();

// Renders 16 digest bytes as 32 upper-case hexadecimal characters plus a terminator.
void FormatDigestText(const unsigned char digest[16], char text[33]);
