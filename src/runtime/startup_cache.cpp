#include "startup_cache.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

static const char kVersionKey[] = "JAVA_VERSION=";

// The value of the line that begins with JAVA_VERSION=, from after its opening quote to the line's
// end; null when there is none. Only the value's leading number is read, so its end needs no care.
static const char* FindVersionValue(const char* text, size_t length, size_t* valueLength) {
    const size_t keyLength = sizeof kVersionKey - 1;
    for (size_t line = 0; line < length;) {
        size_t end = line;
        while (end < length && text[end] != '\n') end++;
        // JAVA_VERSION_DATE and the like begin the same way; only the exact key counts.
        if (end - line >= keyLength && memcmp(text + line, kVersionKey, keyLength) == 0) {
            size_t start = line + keyLength;
            if (start < end && text[start] == '"') start++;
            *valueLength = end - start;
            return text + start;
        }
        line = end + 1;
    }
    return nullptr;
}

// The leading decimal number of value; 0 when there is none or it has more than four digits.
static int LeadingNumber(const char* value, size_t length, size_t* digits) {
    int number = 0;
    size_t i = 0;
    while (i < length && value[i] >= '0' && value[i] <= '9') {
        if (i == 4) return 0;
        number = number * 10 + (value[i] - '0');
        i++;
    }
    *digits = i;
    return number;
}

int ReadReleaseJavaVersion(const char* releaseText, size_t length) {
    size_t valueLength = 0;
    const char* value = FindVersionValue(releaseText, length, &valueLength);
    if (value == nullptr) return 0;
    size_t digits = 0;
    int version = LeadingNumber(value, valueLength, &digits);
    // Up to Java 8 the version read "1.{feature}.0_{update}".
    if (version == 1 && digits < valueLength && value[digits] == '.') {
        version = LeadingNumber(value + digits + 1, valueLength - digits - 1, &digits);
    }
    return version;
}

StartupCacheMechanism ChooseStartupCacheMechanism(int javaVersion) {
    if (javaVersion >= 25) return StartupCacheAotCache;
    if (javaVersion >= 19) return StartupCacheAutoArchive;
    if (javaVersion >= 13) return StartupCacheDynamicArchive;
    return StartupCacheNone;
}

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

bool FormatStartupArchiveName(char* buffer, size_t size, const char* folder, const char* baseName,
                              const char* digestText, const char* archiveKey, StartupCacheMechanism mechanism) {
    if (size == 0) return false;
    if (mechanism == StartupCacheNone) {
        buffer[0] = '\0';
        return false;
    }
    const char* extension = mechanism == StartupCacheAotCache ? "aot" : "jsa";
    int written = snprintf(buffer, size, "%s\\%s.%s.%s.%s", folder, baseName, digestText, archiveKey, extension);
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
