// The configuration edge (config/config_edge.h): launch resources and the configuration file.
#include "fake_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

