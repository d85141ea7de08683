#include "cache_folder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../config/resources.h"
#include "../launcher/launch_state.h"
#include "../launcher/vm_options.h"

// Windows paths of the ANSI file functions stay below this length.
static const size_t kCachePathSize = 260;

static char g_cacheFileName[kCachePathSize];

void FormatDigestText(const unsigned char digest[16], char text[33]) {
    static const char kHexDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; i++) {
        text[2 * i] = kHexDigits[digest[i] >> 4];
        text[2 * i + 1] = kHexDigits[digest[i] & 0x0F];
    }
    text[32] = '\0';
}

// ---- MD5, RFC 1321 ----

static const uint32_t kMd5Sines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

static const unsigned kMd5Shifts[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

static uint32_t RotateLeft(uint32_t value, unsigned count) { return (value << count) | (value >> (32 - count)); }

static void Md5Block(uint32_t state[4], const unsigned char block[64]) {
    uint32_t words[16];
    for (int i = 0; i < 16; i++) {
        words[i] = static_cast<uint32_t>(block[4 * i]) | static_cast<uint32_t>(block[4 * i + 1]) << 8 |
                   static_cast<uint32_t>(block[4 * i + 2]) << 16 | static_cast<uint32_t>(block[4 * i + 3]) << 24;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; i++) {
        uint32_t mixed;
        int wordIndex;
        if (i < 16) {
            mixed = (b & c) | (~b & d);
            wordIndex = i;
        } else if (i < 32) {
            mixed = (d & b) | (~d & c);
            wordIndex = (5 * i + 1) % 16;
        } else if (i < 48) {
            mixed = b ^ c ^ d;
            wordIndex = (3 * i + 5) % 16;
        } else {
            mixed = c ^ (b | ~d);
            wordIndex = (7 * i) % 16;
        }
        uint32_t rotated = RotateLeft(a + mixed + kMd5Sines[i] + words[wordIndex], kMd5Shifts[i]);
        a = d;
        d = c;
        c = b;
        b = b + rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

void ComputeMd5(const void* bytes, size_t length, unsigned char digest[16]) {
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const unsigned char* input = static_cast<const unsigned char*>(bytes);
    size_t remaining = length;
    while (remaining >= 64) {
        Md5Block(state, input);
        input += 64;
        remaining -= 64;
    }
    // Last piece, the 0x80 marker, zeros, and the bit length in 64 bits, little-endian: one or two blocks.
    unsigned char tail[128];
    memset(tail, 0, sizeof tail);
    if (remaining > 0) memcpy(tail, input, remaining);
    tail[remaining] = 0x80;
    size_t tailLength = remaining < 56 ? 64 : 128;
    uint64_t bitLength = static_cast<uint64_t>(length) * 8;
    for (int i = 0; i < 8; i++) tail[tailLength - 8 + i] = static_cast<unsigned char>(bitLength >> (8 * i));
    Md5Block(state, tail);
    if (tailLength == 128) Md5Block(state, tail + 64);
    for (int i = 0; i < 16; i++) digest[i] = static_cast<unsigned char>(state[i / 4] >> (8 * (i % 4)));
}

// ---- Names in the cache directory ----

bool FormatCacheFileName(char* buffer, size_t size, const char* folder, const char* baseName,
                         const char* digestText) {
    if (size == 0) return false;
    int written = snprintf(buffer, size, "%s\\%s.%s.dat", folder, baseName, digestText);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool FormatCacheTempName(char* buffer, size_t size, const char* folder, const char* baseName,
                         unsigned long processId) {
    if (size == 0) return false;
    int written = snprintf(buffer, size, "%s\\~%s.%lu.tmp", folder, baseName, processId);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

static char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsOwnCacheEntryName(const char* entryName, const char* baseName) {
    size_t baseLength = strlen(baseName);
    for (size_t i = 0; i < baseLength; i++) {
        if (entryName[i] == '\0' || FoldCase(entryName[i]) != FoldCase(baseName[i])) return false;
    }
    return entryName[baseLength] == '.';
}

const char* GetCacheFileName(const char* digestText) {
    if (g_cacheFileName[0] != '\0') return g_cacheFileName;
    if (digestText == nullptr) return nullptr;
    char* baseName = GetExeBaseName();
    // A name that does not fit is not formed at all: a cut name could belong to another digest.
    bool formed = FormatCacheFileName(g_cacheFileName, sizeof g_cacheFileName, GetCacheFolder(),
                                      baseName != nullptr ? baseName : "", digestText);
    free(baseName);
    return formed ? g_cacheFileName : nullptr;
}

void ForgetCacheFileName() { g_cacheFileName[0] = '\0'; }

// ---- The embedded jar ----

// The digest text that names the file before the jar is touched: the configured one, else MD5-SUM.
// The MD5-SUM resource is read on every call, also when the configured text wins.
static char* ChooseKnownDigest() {
    size_t size = 0;
    const void* md5Sum = LoadLaunchResource(kMd5SumResource, &size, nullptr);
    if (md5Sum == nullptr) fprintf(stderr, "Unable to load MD5-SUM Resource (Resource not found)\n");
    const char* configured = g_launch.cacheDigest;
    if (configured != nullptr && configured[0] != '\0') {
        size_t length = strlen(configured);
        char* copy = static_cast<char*>(AllocOrExit(length + 1));
        memcpy(copy, configured, length + 1);
        return copy;
    }
    return md5Sum != nullptr ? CopyResourceText(md5Sum, size) : nullptr;
}

// The digest of the jar's own bytes; the routine built in here stands in for missing system ones.
static void DigestOfJar(const void* bytes, size_t size, char text[33]) {
    char* systemDigest = Md5HexDigest(bytes, size);
    if (systemDigest != nullptr) {
        snprintf(text, 33, "%s", systemDigest);
        free(systemDigest);
        return;
    }
    unsigned char digest[16];
    ComputeMd5(bytes, size, digest);
    FormatDigestText(digest, text);
}

const char* CacheEmbeddedJar() {
    char* knownDigest = ChooseKnownDigest();
    // A known digest too long for a file name leaves the name unformed; the jar's digest names it then.
    const char* name = knownDigest != nullptr ? GetCacheFileName(knownDigest) : nullptr;
    free(knownDigest);
    if (name != nullptr) {
        RemoveStaleCacheFiles(name);
        if (ProbeCacheFile(name)) return name;
    }

    printf("GetClassFrom REsource '%s'\n", "#1000");
    size_t size = 0;
    const void* jar = LoadLaunchResource(kClassesResource, &size, nullptr);
    if (jar == nullptr) {
        fprintf(stderr, "Unable to load CLASSES Resource %s (Resource not found)\n", "#1000");
        return nullptr;
    }
    char computedDigest[33];
    DigestOfJar(jar, size, computedDigest);
    name = GetCacheFileName(computedDigest);
    if (name == nullptr) {
        // Cache folder and base name leave no room for any digest name.
        fprintf(stderr, "Unable to write cache buffer\n");
        return nullptr;
    }
    RemoveStaleCacheFiles(name);
    if (ProbeCacheFile(name)) return name;
    return WriteCacheFile(name, jar, size) ? name : nullptr;
}
