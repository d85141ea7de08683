#include "config/resources.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "config/config_edge.h"

char* CopyResourceText(const void* bytes, size_t size) {
    char* text = static_cast<char*>(AllocOrExit(size + 1));
    memset(text, 0, size + 1);
    if (size > 0) memcpy(text, bytes, size);
    return text;
}

// Copies at most `size` bytes, stopping at a NUL, into a reader-owned buffer of kTextResourceLimit.
static const char* CopyIntoReaderBuffer(char* buffer, const void* bytes, size_t size) {
    const char* source = static_cast<const char*>(bytes);
    size_t length = 0;
    while (length < size && length < kTextResourceLimit - 1 && source[length] != '\0') length++;
    memcpy(buffer, source, length);
    buffer[length] = '\0';
    return buffer;
}

const char* ReadMainClassResource() {
    static char mainClass[kTextResourceLimit];
    if (g_launch.mainClassName != nullptr && g_launch.mainClassName[0] != '\0') return g_launch.mainClassName;
    size_t size = 0;
    unsigned long lastError = 0;
    const void* bytes = LoadLaunchResource(kMainClassResource, &size, &lastError);
    if (bytes == nullptr) {
        PrintMessage(stderr, "Unable to load MAIN-CLASS Resource (Resource not found) %lu\n", lastError);
        return nullptr;
    }
    if (size >= kTextResourceLimit) {
        PrintMessage(stderr, "MainClass name too long (%d)\n", static_cast<int>(size));
        return nullptr;
    }
    return CopyIntoReaderBuffer(mainClass, bytes, size);
}

// SYNC-PATH and CONFIG-PATH share their shape: a limited text with '/' turned into '\'.
static char* ReadPathResource(const LaunchResource& resource, const char* absentFormat, const char* tooLongFormat) {
    size_t size = 0;
    unsigned long lastError = 0;
    const void* bytes = LoadLaunchResource(resource, &size, &lastError);
    if (bytes == nullptr) {
        PrintNote(stderr, absentFormat, lastError);
        return nullptr;
    }
    if (size >= kTextResourceLimit) {
        PrintMessage(stderr, tooLongFormat, static_cast<int>(size));
        return nullptr;
    }
    char* text = CopyResourceText(bytes, size);
    char* converted = ReplaceAll(text, "/", "\\");
    free(text);
    return converted;
}

char* ReadSyncPathResource() {
    return ReadPathResource(kSyncPathResource, "Unable to load SYNC-PATH Resource (Resource not found)%lu\n",
                            "SyncPath too long (%d)\n");
}

char* ReadConfigPathResource() {
    return ReadPathResource(kConfigPathResource, "Unable to load CONFIG-PATH Resource (Resource not found)<%lu>\n",
                            "ConfigPath too long (%d)\n");
}

const char* ReadJarPathResource() {
    static char jarPath[kTextResourceLimit];
    size_t size = 0;
    const void* bytes = LoadLaunchResource(kJarPathResource, &size, nullptr);
    if (bytes == nullptr || size >= kTextResourceLimit) return nullptr;
    return CopyIntoReaderBuffer(jarPath, bytes, size);
}

bool ReadStartupCacheMark() {
    size_t size = 0;
    return LoadLaunchResource(kStartupCacheResource, &size, nullptr) != nullptr;
}

char* ReplaceAll(const char* text, const char* pattern, const char* replacement) {
    if (text == nullptr) return nullptr;
    size_t textLength = strlen(text);
    bool plainCopy = pattern == nullptr || replacement == nullptr || pattern[0] == '\0' ||
                     strcmp(pattern, replacement) == 0 || strstr(text, pattern) == nullptr;
    if (plainCopy) {
        return CopyText(text);
    }
    size_t patternLength = strlen(pattern);
    size_t replacementLength = strlen(replacement);
    size_t occurrences = 0;
    for (const char* at = strstr(text, pattern); at != nullptr; at = strstr(at + patternLength, pattern)) {
        occurrences++;
    }
    size_t resultLength = textLength - occurrences * patternLength + occurrences * replacementLength;
    char* result = static_cast<char*>(AllocOrExit(resultLength + 1));
    char* out = result;
    const char* rest = text;
    for (const char* at = strstr(rest, pattern); at != nullptr; at = strstr(rest, pattern)) {
        memcpy(out, rest, at - rest);
        out += at - rest;
        memcpy(out, replacement, replacementLength);
        out += replacementLength;
        rest = at + patternLength;
    }
    size_t tail = strlen(rest);
    memcpy(out, rest, tail + 1);
    return result;
}
