// The runtime search's edge (runtime/runtime_search_edge.h), as strict as Windows: key names compare
// without case, a key exists when it or a key below it does, names and values must fit their buffers.
#include "fake_runtime_search_edge.h"

#include <cstring>
#include <set>

#include "base/text.h"
#include "fake_platform.h"
#include "runtime/runtime_search_edge.h"

FakeRuntimeSearch g_fakeSearch;

void ResetFakeRuntimeSearch() {
    ResetFakeRuntimeAndCache();
    g_fakeSearch = FakeRuntimeSearch();
}

static bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           CompareIgnoringCase(text.substr(0, prefix.size()).c_str(), prefix.c_str()) == 0;
}

// The stored spelling of a key path, or empty when no such key exists.
static std::string StoredKey(const std::string& path) {
    for (const auto& entry : g_fakeRuntime.registryStrings) {
        const std::string& key = entry.first;
        if (EqualsIgnoringCase(key.c_str(), path.c_str())) return key;
        if (StartsWithIgnoringCase(key, path + "\\")) return key.substr(0, path.size());
    }
    return "";
}

RegistryKey OpenRegistryKey64(RegistryHive hive, RegistryKey parent, const char* keyPath) {
    std::string root = parent != nullptr ? *static_cast<std::string*>(parent) : hive == kUserHive ? "HKCU" : "HKLM";
    std::string stored = StoredKey(root + "\\" + keyPath);
    if (stored.empty()) return nullptr;
    g_fakeRuntime.openRegistryKeys++;
    return new std::string(stored);
}

bool EnumRegistrySubkey(RegistryKey key, unsigned long index, char* name, size_t size) {
    std::string prefix = *static_cast<std::string*>(key) + "\\";
    std::set<std::string> names;
    for (const auto& entry : g_fakeRuntime.registryStrings) {
        if (entry.first.compare(0, prefix.size(), prefix) != 0) continue;
        std::string rest = entry.first.substr(prefix.size());
        names.insert(rest.substr(0, rest.find('\\')));
    }
    if (index >= names.size()) return false;  // ERROR_NO_MORE_ITEMS
    const std::string& found = *std::next(names.begin(), static_cast<long>(index));
    if (found.size() + 1 > size) return false;  // ERROR_MORE_DATA
    memcpy(name, found.c_str(), found.size() + 1);
    return true;
}

bool ReadEnvironmentText(const char* name, char* buffer, size_t size) {
    for (const auto& entry : g_fakeSearch.environment) {
        // Variable names compare without case on Windows.
        if (!EqualsIgnoringCase(entry.first.c_str(), name)) continue;
        if (entry.second.empty() || entry.second.size() + 1 > size) return false;
        memcpy(buffer, entry.second.c_str(), entry.second.size() + 1);
        return true;
    }
    return false;
}

bool ResolveFinalPath(const char* path, char* resolved, size_t size) {
    if (g_fakeRuntime.existingPaths.count(path) == 0) return false;
    auto link = g_fakeSearch.finalPaths.find(path);
    std::string target = link != g_fakeSearch.finalPaths.end() ? link->second : path;
    if (target.size() + 1 > size) return false;
    memcpy(resolved, target.c_str(), target.size() + 1);
    return true;
}

bool ReadSmallFile(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    auto file = g_fakeSearch.files.find(path);
    if (file == g_fakeSearch.files.end()) return false;
    *length = std::min(size, file->second.size());
    memcpy(buffer, file->second.data(), *length);
    return true;
}

bool AskFatalYesNo(const char* text) {
    g_fakeSearch.questions.push_back(text);
    return g_fakeSearch.answerYes;
}

bool OpenPageWithShell(const char* url) {
    g_fakeSearch.openedPages.push_back(url);
    return true;
}
