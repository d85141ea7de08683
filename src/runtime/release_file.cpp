#include "runtime/release_file.h"

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
