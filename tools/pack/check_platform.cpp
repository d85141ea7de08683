#include "pack/check_platform.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "config/config_edge.h"
#include "files/files_edge.h"
#include "config/resource_contract.h"
#include "pack/file_io.h"
#include "runtime/runtime_edge.h"

CheckPlatform g_checkPlatform;

std::string HostPath(const std::string& windowsPath) {
#ifdef _WIN32
    return windowsPath;
#else
    std::string host = windowsPath;
    for (char& c : host) {
        if (c == '\\') c = '/';
    }
    return host;
#endif
}

std::string WindowsPath(const std::string& hostPath) {
    std::string path = hostPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

static void CollectMessage(FILE*, const char* text) { g_checkPlatform.messages.push_back(text); }

void BeginCheckPlatform(const std::string& exeHostPath, const std::vector<Resource>& resources) {
    g_checkPlatform = CheckPlatform();
    g_checkPlatform.exeWindowsPath = WindowsPath(exeHostPath);
    g_checkPlatform.resources = &resources;
    ResetLaunchState();
    InitLaunchStateStrings();
    SetMessageSink(CollectMessage);
}

void EndCheckPlatform() {
    SetMessageSink(nullptr);
    g_checkPlatform.resources = nullptr;
}

// ---- Launch resources and the exe's own path ----

const void* LoadLaunchResource(const LaunchResource& resource, size_t* size, unsigned long* lastError) {
    *size = 0;
    if (g_checkPlatform.resources != nullptr) {
        ResName type = StringName(resource.typeName), name = NumericName(uint16_t(resource.numericName));
        for (const Resource& r : *g_checkPlatform.resources) {
            if (!SameName(r.type, type) || !SameName(r.name, name)) continue;
            *size = r.data.size();
            // An empty resource still has an address, as a loaded image gives it.
            static const uint8_t kEmpty = 0;
            return r.data.empty() ? &kEmpty : r.data.data();
        }
    }
    if (lastError != nullptr) *lastError = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
    return nullptr;
}

unsigned long ReadModuleFileName(char* buffer, unsigned long size) {
    if (size == 0) return 0;
    const std::string& path = g_checkPlatform.exeWindowsPath;
    size_t copied = path.size() < size ? path.size() : size - 1;
    memcpy(buffer, path.data(), copied);
    buffer[copied] = '\0';
    return path.size() < size ? static_cast<unsigned long>(path.size()) : size;
}

// A text file for the launcher's readers: only a regular file within the text limit, so that a device
// or pipe named by the package can neither run on nor hang the check.
static FILE* OpenHostTextFile(const std::string& hostPath) {
    uint64_t size = 0;
    std::string error;
    FILE* file = OpenRegularFile(hostPath, "r", size, error);
    if (file != nullptr && size > kTextFile.limit) {
        fclose(file);
        return nullptr;
    }
    return file;
}

// ---- Configuration file: the INI reading of GetPrivateProfileStringA for section "java" ----

static std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r\n"), end = text.find_last_not_of(" \t\r\n");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

unsigned ReadProfileValue(const char* key, char* buffer, unsigned size, const char* path) {
    g_checkPlatform.profileFilesRead.push_back(path);
    if (size == 0) return 0;
    buffer[0] = '\0';
    FILE* file = OpenHostTextFile(path);
    if (file == nullptr) return 0;
    std::string value;
    bool inJava = false, found = false;
    char line[4096];
    while (!found && fgets(line, sizeof line, file) != nullptr) {
        std::string text = Trim(line);
        if (!text.empty() && text[0] == '[') {
            size_t close = text.find(']');
            inJava = close != std::string::npos && EqualsIgnoringCase(Trim(text.substr(1, close - 1)).c_str(), "java");
            continue;
        }
        size_t equals = text.find('=');
        if (!inJava || equals == std::string::npos || !EqualsIgnoringCase(Trim(text.substr(0, equals)).c_str(), key)) continue;
        value = Trim(text.substr(equals + 1));
        // The profile reader drops one pair of quotes around a whole value.
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        found = true;
    }
    fclose(file);
    if (value.size() > size - 1) value.resize(size - 1);
    memcpy(buffer, value.c_str(), value.size() + 1);
    if (!value.empty()) g_checkPlatform.profileValues.emplace_back(key, value);
    return static_cast<unsigned>(value.size());
}

// A relative name is taken from the exe's folder: the current folder of a start from a shortcut.
bool MakeAbsolutePath(const char* path, char* absolutePath, unsigned size) {
    std::string windows = WindowsPath(path);
    bool absolute = windows.size() >= 2 && (windows[1] == ':' || windows[0] == '\\');
    if (!absolute) {
        const std::string& exe = g_checkPlatform.exeWindowsPath;
        windows = exe.substr(0, exe.find_last_of('\\') + 1) + windows;
    }
    std::string host = HostPath(windows);
    if (host.size() >= size) return false;
    memcpy(absolutePath, host.c_str(), host.size() + 1);
    return true;
}

// ---- Runtime search ----

const char* GetCacheFolder() { return kCheckCacheFolder; }

const char* GetUserCacheFolder() { return nullptr; }

// The application folder as a clean PC has it after the first start: this user's, private. Nothing
// is made or held here.
FolderSecurity QueryFolderSecurity(const char*) { return {FolderReal, OwnerCurrentUser, false, true}; }

void ReleaseQueriedFolder() {}

bool MakePrivateFolder(const char*) { return false; }

RegistryKey OpenRegistryKey(RegistryKey parent, const char* keyPath) {
    if (parent == nullptr) g_checkPlatform.registryKeysAsked.push_back(keyPath);
    return nullptr;
}

void CloseRegistryKey(RegistryKey) {}

bool ReadRegistryString(RegistryKey, const char*, char*, size_t) { return false; }

bool PathExists(const char* path) {
    struct stat status;
    return stat(HostPath(path).c_str(), &status) == 0;
}

FILE* OpenTextFile(const char* path) { return OpenHostTextFile(HostPath(path)); }

// ---- Diagnostics ----

int ShowFatalText(const char* text) {
    g_checkPlatform.fatalMessages.push_back(text);
    return 1;
}

// The launcher's notes are all kept: the check reports what it finds among them.
bool IsConsoleProgram() { return false; }

// The check runs for an x64 launcher on an x64 Windows.
const char* GetProcessorArchName() { return "amd64"; }

// The user's memory is unknown to --check: the heap options the launcher would form are not checked.
uint64_t QueryTotalPhysicalMemory() { return g_checkPlatform.totalMemory; }
uint64_t QueryAvailablePhysicalMemory() { return g_checkPlatform.availableMemory; }

void SetDpiAwareness(bool) {}

// ---- Settings read after installation ----

OptionsFileRead ReadOptionsFileBytes(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    struct stat status;
    std::string host = HostPath(path);
    if (stat(host.c_str(), &status) != 0) return kOptionsFileMissing;
    if (!S_ISREG(status.st_mode)) return kOptionsFileUnreadable;
    if (static_cast<unsigned long long>(status.st_size) > size) return kOptionsFileTooLarge;
    FILE* file = fopen(host.c_str(), "rb");
    if (file == nullptr) return kOptionsFileUnreadable;
    *length = fread(buffer, 1, size, file);
    bool failed = ferror(file) != 0;
    fclose(file);
    return failed ? kOptionsFileUnreadable : kOptionsFileRead;
}

// The user's environment is not this machine's: every ${NAME} is taken as %NAME%, so a per-user
// file under ${APPDATA} is looked for at a path that does not exist here.
bool ReadEnvironmentValue(const char* name, char* value, size_t size, size_t* length) {
    int written = snprintf(value, size, "%%%s%%", name);
    *length = written > 0 ? static_cast<size_t>(written) : 0;
    return written > 0;
}
