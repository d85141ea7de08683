#include "config/env_expansion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "config/config_edge.h"
#include "config/resource_contract.h"

// Expands into `out`, or only measures when `out` is null; *length gets the full result length.
static ExpandStatus Expand(const char* text, char* out, size_t size, size_t* length, char* name, size_t nameSize) {
    size_t at = 0;
    while (*text != '\0') {
        if (text[0] != '$' || text[1] != '{') {
            if (out != nullptr && at + 1 < size) out[at] = *text;
            at++;
            text++;
            continue;
        }
        const char* close = strchr(text + 2, '}');
        size_t nameLength = close ? static_cast<size_t>(close - text - 2) : 0;
        if (close == nullptr || nameLength == 0 || nameLength >= nameSize) {
            if (nameSize > 0) snprintf(name, nameSize, "%.*s", static_cast<int>(nameLength), text + 2);
            return kExpandBadName;
        }
        memcpy(name, text + 2, nameLength);
        name[nameLength] = '\0';
        size_t valueLength = 0;
        char* into = out != nullptr && at < size ? out + at : nullptr;
        size_t room = into != nullptr ? size - at : 0;
        char scratch[1];
        if (!ReadEnvironmentValue(name, into != nullptr ? into : scratch, into != nullptr ? room : 1, &valueLength))
            return kExpandUndefined;
        at += valueLength;
        text = close + 1;
    }
    *length = at;
    if (out != nullptr) {
        if (at >= size) {
            if (size > 0) out[0] = '\0';
            return kExpandTooLong;
        }
        out[at] = '\0';
    }
    return kExpandOk;
}

ExpandStatus ExpandVariables(const char* text, char* out, size_t size, char* name, size_t nameSize) {
    size_t length = 0;
    return Expand(text, out, size, &length, name, nameSize);
}

char* ExpandVariablesCopy(const char* text, ExpandStatus* status, char* name, size_t nameSize) {
    size_t length = 0;
    *status = Expand(text, nullptr, 0, &length, name, nameSize);
    if (*status != kExpandOk) return nullptr;
    char* copy = static_cast<char*>(AllocOrExit(length + 1));
    // A variable changed between the two passes is caught as a result that no longer fits.
    *status = Expand(text, copy, length + 1, &length, name, nameSize);
    if (*status == kExpandOk) return copy;
    free(copy);
    return nullptr;
}

void DescribeExpandFailure(ExpandStatus status, const char* name, char* out, size_t size) {
    if (status == kExpandUndefined) {
        snprintf(out, size, "the environment variable %s is not set", name);
    } else if (status == kExpandBadName) {
        snprintf(out, size, "\"${\" needs a variable name and a closing \"}\"");
    } else {
        snprintf(out, size, "the text with its variables expanded is too long");
    }
}

char* ExpandPackedText(char* text) {
    size_t size = 0;
    if (text == nullptr || LoadLaunchResource(kExpandEnvResource, &size, nullptr) == nullptr) return text;
    ExpandStatus status = kExpandOk;
    char name[256];
    char* expanded = ExpandVariablesCopy(text, &status, name, sizeof name);
    if (expanded == nullptr) return text;
    free(text);
    return expanded;
}
