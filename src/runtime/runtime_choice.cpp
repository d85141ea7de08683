#include "runtime/runtime_choice.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/text.h"

static const char* const kSourceNames[kRuntimeSourceCount] = {"bundled", "registry", "java-home", "path"};

// Where each source looks, as the message names it.
static const char* const kSourcePlaces[kRuntimeSourceCount] = {"the application folder", "the registry", "JAVA_HOME",
                                                               "PATH"};

static const char* const kTexts[kRuntimeChoiceTextCount] = {
    "This application needs %s.\n",
    "Looked in: ",
    "No Java runtime was found there.\n",
    "Found:\n",
    "  and %d more\n",
    "\nOpen the download page?\n",
    "Download Java from %s\n",
};

static const char* const kVerdictTexts[] = {
    "accepted",
    "chosen",
    "not a runtime (no bin\\java.dll, lib\\jvm.cfg or jvm.dll)",
    "no release file",
    "no JAVA_VERSION in its release file",
    "32-bit",
    "ARM64",
    "no OS_ARCH in its release file",
    "too old",
    "too new",
};

const char* RuntimeChoiceTextOf(RuntimeChoiceText text) { return kTexts[text]; }
const char* CandidateVerdictText(CandidateVerdict verdict) { return kVerdictTexts[verdict]; }
const char* RuntimeSourceName(RuntimeSource source) { return kSourceNames[source]; }

// A major version of one to three digits, not 0; *end is after it.
static int ReadMajor(const char* text, const char** end) {
    int value = 0;
    int digits = 0;
    while (text[digits] >= '0' && text[digits] <= '9') {
        if (digits == 3) return 0;
        value = value * 10 + (text[digits] - '0');
        digits++;
    }
    *end = text + digits;
    return digits == 0 ? 0 : value;
}

bool ParseJavaVersionRange(const char* text, JavaVersionRange* range) {
    if (text == nullptr) return false;
    const char* end = text;
    int lowest = ReadMajor(text, &end);
    int highest = 0;
    if (lowest == 0) return false;
    if (strncmp(end, "..", 2) == 0) {
        highest = ReadMajor(end + 2, &end);
        if (highest < lowest) return false;
    }
    if (*end != '\0') return false;
    range->lowest = lowest;
    range->highest = highest;
    return true;
}

void DefaultRuntimeSearchOrder(RuntimeSearchOrder* order) {
    order->count = kRuntimeSourceCount;
    for (int i = 0; i < kRuntimeSourceCount; i++) order->sources[i] = static_cast<RuntimeSource>(i);
}

bool ParseRuntimeSearchOrder(const char* text, RuntimeSearchOrder* order) {
    if (text == nullptr) return false;
    RuntimeSearchOrder parsed = {0, {}};
    bool seen[kRuntimeSourceCount] = {};
    const char* at = text;
    for (;;) {
        size_t length = strcspn(at, ",");
        int found = -1;
        for (int i = 0; i < kRuntimeSourceCount; i++) {
            if (strlen(kSourceNames[i]) == length && strncmp(at, kSourceNames[i], length) == 0) found = i;
        }
        if (found < 0 || seen[found]) return false;
        seen[found] = true;
        parsed.sources[parsed.count++] = static_cast<RuntimeSource>(found);
        if (at[length] == '\0') break;
        at += length + 1;
    }
    *order = parsed;
    return true;
}

bool IsDownloadUrl(const char* text) {
    const char* rest = SkipPrefixIgnoringCase(text != nullptr ? text : "", "https://");
    if (rest == nullptr || *rest == '\0' || *rest == '/') return false;
    for (const char* c = rest; *c != '\0'; c++) {
        unsigned char byte = static_cast<unsigned char>(*c);
        // A blank or a quote would split the page's name where the shell passes it on.
        if (byte <= ' ' || byte == '"' || byte == 0x7f) return false;
    }
    return true;
}

RuntimeArch ReadReleaseArch(const char* text, size_t length) {
    static const char kKey[] = "OS_ARCH=";
    for (size_t line = 0; line < length;) {
        size_t end = line;
        while (end < length && text[end] != '\n') end++;
        size_t keyLength = sizeof kKey - 1;
        if (end - line > keyLength && memcmp(text + line, kKey, keyLength) == 0) {
            size_t start = line + keyLength;
            size_t stop = end;
            if (stop > start && text[stop - 1] == '\r') stop--;
            if (stop > start && text[start] == '"') start++;
            if (stop > start && text[stop - 1] == '"') stop--;
            struct {
                const char* name;
                RuntimeArch arch;
            } const kNames[] = {{"x86_64", kArchX64},  {"amd64", kArchX64}, {"aarch64", kArchArm64},
                                {"arm64", kArchArm64}, {"x86", kArchX86},   {"i586", kArchX86},
                                {"i386", kArchX86}};
            for (const auto& name : kNames) {
                if (strlen(name.name) == stop - start && memcmp(text + start, name.name, stop - start) == 0) {
                    return name.arch;
                }
            }
            return kArchUnknown;
        }
        line = end + 1;
    }
    return kArchUnknown;
}

static CandidateVerdict Judge(const RuntimeCandidate& candidate, const JavaVersionRange& range) {
    if (!candidate.hasRuntimeFiles) return kVerdictNoRuntimeFiles;
    if (!candidate.hasRelease) return kVerdictNoRelease;
    if (candidate.version <= 0) return kVerdictNoVersion;
    if (candidate.arch == kArchX86) return kVerdict32Bit;
    if (candidate.arch == kArchArm64) return kVerdictArm64;
    if (candidate.arch != kArchX64) return kVerdictUnknownArch;
    if (candidate.version < range.lowest) return kVerdictTooOld;
    if (range.highest != 0 && candidate.version > range.highest) return kVerdictTooNew;
    return kVerdictAccepted;
}

int ChooseRuntimeCandidate(RuntimeCandidate* candidates, int count, const JavaVersionRange& range,
                           const RuntimeSearchOrder& order) {
    for (int i = 0; i < count; i++) candidates[i].verdict = Judge(candidates[i], range);
    for (int s = 0; s < order.count; s++) {
        int chosen = -1;
        for (int i = 0; i < count; i++) {
            if (candidates[i].source != order.sources[s] || candidates[i].verdict != kVerdictAccepted) continue;
            if (chosen < 0 || candidates[i].version > candidates[chosen].version) chosen = i;
        }
        if (chosen >= 0) {
            candidates[chosen].verdict = kVerdictChosen;
            return chosen;
        }
    }
    return -1;
}

bool FormatJavaNeed(char* text, size_t size, const JavaVersionRange& range) {
    int written;
    if (range.lowest <= 0) {
        written = snprintf(text, size, "a 64-bit Java");
    } else if (range.highest == 0) {
        written = snprintf(text, size, "Java %d or newer (64-bit)", range.lowest);
    } else if (range.highest == range.lowest) {
        written = snprintf(text, size, "Java %d (64-bit)", range.lowest);
    } else {
        written = snprintf(text, size, "Java %d to %d (64-bit)", range.lowest, range.highest);
    }
    return written >= 0 && static_cast<size_t>(written) < size;
}

// Appends formatted text at *used; false once the buffer is full.
static bool Append(char* text, size_t size, size_t* used, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
static bool Append(char* text, size_t size, size_t* used, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int written = vsnprintf(text + *used, size - *used, format, args);
    va_end(args);
    if (written < 0 || static_cast<size_t>(written) >= size - *used) return false;
    *used += static_cast<size_t>(written);
    return true;
}

// A user reads the first few reasons; the rest is in the debug output.
static const int kListedCandidates = 5;

bool FormatNoRuntimeMessage(char* text, size_t size, const RuntimeCandidate* candidates, int count,
                            const JavaVersionRange& range, const RuntimeSearchOrder& order) {
    char need[64];
    size_t used = 0;
    if (size == 0 || !FormatJavaNeed(need, sizeof need, range)) return false;
    text[0] = '\0';
    bool fits =
        Append(text, size, &used, kTexts[kTextNeeds], need) && Append(text, size, &used, "%s", kTexts[kTextLookedIn]);
    for (int s = 0; fits && s < order.count; s++) {
        fits = Append(text, size, &used, "%s%s", s > 0 ? ", " : "", kSourcePlaces[order.sources[s]]);
    }
    fits = fits && Append(text, size, &used, ".\n");
    if (fits && count == 0) return Append(text, size, &used, "%s", kTexts[kTextNoneFound]);
    fits = fits && Append(text, size, &used, "%s", kTexts[kTextFound]);
    for (int i = 0; fits && i < count && i < kListedCandidates; i++) {
        const RuntimeCandidate& c = candidates[i];
        if (c.version > 0 && c.verdict >= kVerdict32Bit) {
            fits = Append(text, size, &used, "  %s (%s): Java %d, %s\n", c.home, c.origin, c.version,
                          kVerdictTexts[c.verdict]);
        } else {
            fits = Append(text, size, &used, "  %s (%s): %s\n", c.home, c.origin, kVerdictTexts[c.verdict]);
        }
    }
    if (fits && count > kListedCandidates)
        fits = Append(text, size, &used, kTexts[kTextMore], count - kListedCandidates);
    return fits;
}
