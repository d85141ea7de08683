// The configuration edge (config/config_edge.h): launch resources and the configuration file.
#include "fake_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "config/config_edge.h"
#include "config/resource_contract.h"

void SetFakeResource(const char* typeName, unsigned number, const std::string& bytes) {
    g_fake.resources[std::string(typeName) + "/" + std::to_string(number)] = bytes;
}

const void* LoadLaunchResource(const LaunchResource& resource, size_t* size, unsigned long* lastError) {
    auto found = g_fake.resources.find(std::string(resource.typeName) + "/" + std::to_string(resource.numericName));
    if (found == g_fake.resources.end()) {
        *size = 0;
        if (lastError) *lastError = g_fake.resourceLookupError;
        return nullptr;
    }
    *size = found->second.size();
    return found->second.data();
}

unsigned ReadProfileValue(const char* key, char* buffer, unsigned size, const char* path) {
    auto found = g_fake.profile.find(std::string(path) + "|" + key);
    const std::string value = found == g_fake.profile.end() ? "" : found->second;
    if (size == 0) return 0;
    size_t copied = value.size() < size - 1 ? value.size() : size - 1;
    memcpy(buffer, value.data(), copied);
    buffer[copied] = '\0';
    return static_cast<unsigned>(copied);
}

bool MakeAbsolutePath(const char* path, char* absolutePath, unsigned size) {
    int written = snprintf(absolutePath, size, "%s", path);
    return written >= 0 && static_cast<unsigned>(written) < size;
}


OptionsFileRead ReadOptionsFileBytes(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    if (g_fake.unreadableFiles.count(path) != 0) return kOptionsFileUnreadable;
    auto found = g_fake.optionsFiles.find(path);
    if (found == g_fake.optionsFiles.end()) return kOptionsFileMissing;
    if (found->second.size() > size) return kOptionsFileTooLarge;
    memcpy(buffer, found->second.data(), found->second.size());
    *length = found->second.size();
    return kOptionsFileRead;
}

bool ReadEnvironmentValue(const char* name, char* value, size_t size, size_t* length) {
    for (const auto& variable : g_fake.environment) {
        if (strcasecmp(variable.first.c_str(), name) != 0) continue;
        *length = variable.second.size();
        if (variable.second.size() < size) memcpy(value, variable.second.c_str(), variable.second.size() + 1);
        return true;
    }
    return false;
}
