#include "startup/cache_mechanism.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "runtime/release_file.h"

StartupCacheMechanism ChooseStartupCacheMechanism(int javaVersion) {
    if (javaVersion >= 25) return StartupCacheAotCache;
    if (javaVersion >= 19) return StartupCacheAutoArchive;
    if (javaVersion >= 13) return StartupCacheDynamicArchive;
    return StartupCacheNone;
}

bool MechanismNeedsBaseArchive(StartupCacheMechanism mechanism) { return mechanism == StartupCacheDynamicArchive; }

StartupCacheMechanism ChooseMechanismForRelease(const char* releaseText, size_t length) {
    return ChooseStartupCacheMechanism(ReadReleaseJavaVersion(releaseText, length));
}

const char* DescribeStartupCacheMechanism(StartupCacheMechanism mechanism) {
    switch (mechanism) {
        case StartupCacheNone:
            return "none";
        case StartupCacheDynamicArchive:
            return "dynamic class-data archive, written at exit by a start without one, then used";
        case StartupCacheAutoArchive:
            return "automatic dynamic class-data archive, created and refreshed by the VM";
        case StartupCacheAotCache:
            return "AOT cache, trained by a start without one, then used";
    }
    return "none";
}

unsigned long long HashStartupBytes(unsigned long long hash, const void* bytes, size_t length) {
    const unsigned char* at = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length; i++) {
        hash ^= at[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

static uint64_t HashText(const char* text, size_t length) { return HashStartupBytes(kStartupHashSeed, text, length); }

static bool Formed(char* buffer, size_t size, int written) {
    if (written < 0 || static_cast<size_t>(written) >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool FormatArchiveKey(char* buffer, size_t size, const char* releaseText, size_t length, const char* classPath) {
    if (size == 0) return false;
    unsigned long long hash = HashStartupBytes(HashText(releaseText, length), classPath, strlen(classPath));
    int written = snprintf(buffer, size, "%d-%016llx", ReadReleaseJavaVersion(releaseText, length), hash);
    return Formed(buffer, size, written);
}

bool FormatBaseArchivePath(char* buffer, size_t size, const char* vmLibraryPath) {
    if (size == 0) return false;
    const char* slash = strrchr(vmLibraryPath, '\\');
    if (slash == nullptr) {
        buffer[0] = '\0';
        return false;
    }
    int written = snprintf(buffer, size, "%.*s\\classes.jsa", static_cast<int>(slash - vmLibraryPath), vmLibraryPath);
    return Formed(buffer, size, written);
}

bool FormatExePathKey(char* buffer, size_t size, const char* exePath) {
    if (size == 0) return false;
    unsigned long long hash = kStartupHashSeed;
    for (const char* at = exePath; *at != '\0'; at++) {
        char folded = FoldAsciiCase(*at);
        hash = HashStartupBytes(hash, &folded, 1);
    }
    int written = snprintf(buffer, size, "%08llx", hash & 0xFFFFFFFFull);
    return Formed(buffer, size, written);
}

bool FormatStartupArchiveName(char* buffer, size_t size, const char* folder, const char* baseName,
                              const char* digestText, const char* archiveKey, const char* exePathKey,
                              StartupCacheMechanism mechanism) {
    if (size == 0) return false;
    if (mechanism == StartupCacheNone) {
        buffer[0] = '\0';
        return false;
    }
    const char* extension = mechanism == StartupCacheAotCache ? "aot" : "jsa";
    int written =
        snprintf(buffer, size, "%s\\%s.%s.%s.%s.%s", folder, baseName, digestText, archiveKey, exePathKey, extension);
    return Formed(buffer, size, written);
}

static bool AddOption(StartupCacheOptions* options, const char* name, const char* value) {
    char* text = options->text[options->count];
    int written = snprintf(text, kStartupCacheOptionSize, "%s%s", name, value);
    if (!Formed(text, kStartupCacheOptionSize, written)) return false;
    options->count++;
    return true;
}

bool FormStartupCacheOptions(StartupCacheMechanism mechanism, const char* archivePath, bool archiveExists,
                             StartupCacheOptions* options) {
    options->count = 0;
    bool formed = true;
    switch (mechanism) {
        case StartupCacheNone:
            break;
        case StartupCacheDynamicArchive:
            formed = AddOption(options, archiveExists ? "-XX:SharedArchiveFile=" : "-XX:ArchiveClassesAtExit=",
                               archivePath);
            break;
        case StartupCacheAutoArchive:
            formed = AddOption(options, "-XX:+AutoCreateSharedArchive", "") &&
                     AddOption(options, "-XX:SharedArchiveFile=", archivePath);
            break;
        case StartupCacheAotCache:
            formed = AddOption(options, archiveExists ? "-XX:AOTCache=" : "-XX:AOTCacheOutput=", archivePath);
            break;
    }
    if (!formed) options->count = 0;
    return formed;
}

bool HasStartupArchiveMagic(const unsigned char* firstBytes, size_t length) {
    if (length < 4) return false;
    uint32_t magic = firstBytes[0] | firstBytes[1] << 8 | firstBytes[2] << 16 | static_cast<uint32_t>(firstBytes[3]) << 24;
    return magic == 0xf00baba2u || magic == 0xf00baba8u;
}
