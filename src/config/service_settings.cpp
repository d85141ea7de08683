#include "config/service_settings.h"

#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "base/text.h"
#include "config/config_edge.h"

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsServiceNameText(const char* text) {
    size_t length = strlen(text);
    if (length == 0 || length >= kServiceNameSize) return false;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        // The SCM refuses both slashes; a comma would split the dependency list.
        if (c < 0x20 || c == '/' || c == '\\' || c == ',') return false;
    }
    return !IsBlank(text[0]) && !IsBlank(text[length - 1]);
}

bool ParseServiceStart(const char* text, ServiceStartKind* start) {
    if (strcmp(text, "auto") == 0)
        *start = ServiceStartAuto;
    else if (strcmp(text, "delayed") == 0)
        *start = ServiceStartDelayed;
    else if (strcmp(text, "demand") == 0)
        *start = ServiceStartDemand;
    else
        return false;
    return true;
}

bool ParseStopTimeout(const char* text, unsigned* seconds) {
    unsigned value = 0;
    if (*text == '\0' || strlen(text) > 4) return false;
    for (const char* c = text; *c != '\0'; c++) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<unsigned>(*c - '0');
    }
    if (value == 0 || value > kLongestStopTimeoutSeconds) return false;
    *seconds = value;
    return true;
}

static bool IsJavaNamePart(const char* start, size_t length) {
    if (length == 0 || (start[0] >= '0' && start[0] <= '9')) return false;
    for (size_t i = 0; i < length; i++) {
        char c = start[i];
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                     c == '$' || static_cast<unsigned char>(c) >= 0x80;
        if (!plain) return false;
    }
    return true;
}

bool SplitStopMethod(const char* text, char* className, size_t classSize, char* method, size_t methodSize) {
    size_t length = strlen(text);
    const char* signature = "(String[])";
    if (length > strlen(signature) && strcmp(text + length - strlen(signature), signature) == 0)
        length -= strlen(signature);
    const char* lastDot = nullptr;
    for (size_t i = 0; i < length; i++) {
        if (text[i] == '.') lastDot = text + i;
    }
    if (lastDot == nullptr) return false;
    size_t classLength = static_cast<size_t>(lastDot - text);
    size_t methodLength = length - classLength - 1;
    if (classLength >= classSize || methodLength >= methodSize) return false;
    if (!IsJavaNamePart(lastDot + 1, methodLength)) return false;
    for (size_t start = 0, i = 0; i <= classLength; i++) {
        if (i < classLength && text[i] != '.') continue;
        if (!IsJavaNamePart(text + start, i - start)) return false;
        start = i + 1;
    }
    for (size_t i = 0; i < classLength; i++) className[i] = text[i] == '.' ? '/' : text[i];
    className[classLength] = '\0';
    memcpy(method, lastDot + 1, methodLength);
    method[methodLength] = '\0';
    return true;
}

size_t FormDependencyList(const char* commaList, char* list, size_t size) {
    size_t used = 0;
    const char* at = commaList;
    while (*at != '\0') {
        const char* end = strchr(at, ',');
        if (end == nullptr) end = at + strlen(at);
        const char* first = at;
        const char* last = end;
        while (first < last && IsBlank(*first)) first++;
        while (last > first && IsBlank(last[-1])) last--;
        size_t length = static_cast<size_t>(last - first);
        char name[kServiceNameSize];
        if (length == 0 || length >= sizeof name || used + length + 2 > size) return 0;
        memcpy(name, first, length);
        name[length] = '\0';
        if (!IsServiceNameText(name)) return 0;
        memcpy(list + used, name, length + 1);
        used += length + 1;
        at = *end == ',' ? end + 1 : end;
    }
    if (used + 1 > size) return 0;
    list[used++] = '\0';
    if (used == 1 && size > 1) list[used++] = '\0';  // the empty list is two NULs as well
    return used;
}

// A text resource into `buffer`; false, with `buffer` empty, when it is absent or does not fit.
static bool ReadServiceText(const LaunchResource& resource, char* buffer, size_t size, bool* tooLong) {
    size_t length = 0;
    buffer[0] = '\0';
    const char* bytes = static_cast<const char*>(LoadLaunchResource(resource, &length, nullptr));
    if (bytes == nullptr) return false;
    while (length > 0 && bytes[length - 1] == '\0') length--;
    if (length >= size || memchr(bytes, '\0', length) != nullptr) {
        *tooLong = true;
        return false;
    }
    memcpy(buffer, bytes, length);
    buffer[length] = '\0';
    return true;
}

static bool Malformed(const LaunchResource& resource, const char* text) {
    PrintMessage(stderr, "The %s resource holds an unusable value '%s'.\n", resource.typeName, text);
    return false;
}

ServiceSettingsResult ReadServiceSettings(ServiceSettings* s) {
    memset(s, 0, sizeof *s);
    bool bad = false;
    if (!ReadServiceText(kServiceNameResource, s->name, sizeof s->name, &bad)) {
        if (!bad) return NotAServiceLauncher;
        PrintMessage(stderr, "The %s resource is too long.\n", kServiceNameResource.typeName);
        return ServiceSettingsMalformed;
    }
    bool ok = IsServiceNameText(s->name) || Malformed(kServiceNameResource, s->name);
    if (!ReadServiceText(kServiceDisplayNameResource, s->displayName, sizeof s->displayName, &bad))
        snprintf(s->displayName, sizeof s->displayName, "%s", s->name);
    ReadServiceText(kServiceDescriptionResource, s->description, sizeof s->description, &bad);
    char text[kTextResourceLimit];
    s->start = ServiceStartAuto;
    if (ReadServiceText(kServiceStartResource, text, sizeof text, &bad) && !ParseServiceStart(text, &s->start))
        ok = Malformed(kServiceStartResource, text);
    if (!ReadServiceText(kServiceAccountResource, s->account, sizeof s->account, &bad))
        snprintf(s->account, sizeof s->account, "%s", kDefaultServiceAccount);
    char list[kTextResourceLimit + 1];
    if (ReadServiceText(kServiceDependsOnResource, s->dependsOn, sizeof s->dependsOn, &bad) &&
        FormDependencyList(s->dependsOn, list, sizeof list) == 0)
        ok = Malformed(kServiceDependsOnResource, s->dependsOn);
    if (ReadServiceText(kServiceStopResource, text, sizeof text, &bad) &&
        !SplitStopMethod(text, s->stopClass, sizeof s->stopClass, s->stopMethod, sizeof s->stopMethod))
        ok = Malformed(kServiceStopResource, text);
    s->stopTimeoutSeconds = kDefaultStopTimeoutSeconds;
    if (ReadServiceText(kServiceStopTimeoutResource, text, sizeof text, &bad) &&
        !ParseStopTimeout(text, &s->stopTimeoutSeconds))
        ok = Malformed(kServiceStopTimeoutResource, text);
    if (bad) {
        PrintMessage(stderr, "A SERVICE resource is too long.\n");
        ok = false;
    }
    return ok ? ServiceSettingsRead : ServiceSettingsMalformed;
}
