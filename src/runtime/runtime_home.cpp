#include "runtime/runtime_home.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "files/app_folder.h"

#include "runtime/runtime_edge.h"

static const size_t kPathBufferSize = 1024;
static const size_t kVersionBufferSize = 1024;

static const char* const kMakerKeys[] = {
    "SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment",
    "SOFTWARE\\Zentorix Ltd.\\Java Runtime Environment",
};

struct PublicRuntimeKey {
    const char* keyPath;
    const char* foundMessage;
};

static const PublicRuntimeKey kPublicKeys[] = {
    {"Software\\JavaSoft\\JDK", "Using public JDK from %s\n"},
    {"Software\\JavaSoft\\JRE", "Using public JRE from %s\n"},
    {"Software\\JavaSoft\\Java Runtime Environment", "Using public JRE from %s\n"},
};

// Forms "{home}{suffix}" and asks whether it exists; a path too long for the buffer does not.
static bool HomeHasFile(const char* home, const char* suffix) {
    char path[kPathBufferSize];
    return FormatPathText(path, sizeof path, "%s%s", home, suffix) && PathExists(path);
}

// A runtime directly in home, or in its jre subfolder (then home gets "\jre").
static bool UsePrivateRuntime(char* home, size_t size) {
    if (HomeHasFile(home, "\\bin\\java.dll")) return true;
    if (!HomeHasFile(home, "\\jre\\bin\\java.dll")) return false;
    size_t length = strlen(home);
    // No room to name the subfolder: not usable, and home is left as it was.
    return FormatPathText(home + length, size - length, "\\jre");
}

bool GetApplicationHome(char* home, size_t size) {
    if (size == 0) return false;
    const char* syncPath = g_launch.syncPath.text;
    if (syncPath != nullptr && strlen(syncPath) > 3) {
        // A cut folder would be probed in place of the sync folder.
        return FormatPathText(home, size, "%s", syncPath);
    }
    if (!GetExePath(home, size)) return false;
    char* lastSeparator = strrchr(home, '\\');
    if (lastSeparator != nullptr) *lastSeparator = '\0';
    return true;
}

bool FindRuntimeHome(char* home, size_t size) {
    if (size == 0) return false;
    if (GetApplicationHome(home, size) && UsePrivateRuntime(home, size)) return true;
    for (const char* key : kMakerKeys) {
        if (GetJREHome(home, size, key)) return true;
    }
    if (g_launch.usePublicJre) {
        for (const PublicRuntimeKey& key : kPublicKeys) {
            if (GetJREHome(home, size, key.keyPath)) {
                PrintNote(stdout, key.foundMessage, home);
                return true;
            }
        }
    }
    ReportFatal("Error: could not find java.dll\n");
    return false;
}

bool FindSyncRuntimeHome(char* home, size_t size) {
    if (size == 0) return false;
    if (FormatMirrorRoot(home, size) && UsePrivateRuntime(home, size)) return true;
    return FindRuntimeHome(home, size);
}

bool GetJREHome(char* home, size_t size, const char* keyPath) {
    RegistryKey key = OpenRegistryKey(nullptr, keyPath);
    if (key == nullptr) {
        PrintNote(stderr, "GetJREHome(): Warning: could not open registry key '%s'\n", keyPath);
        return false;
    }
    char version[kVersionBufferSize];
    if (!ReadRegistryString(key, "CurrentVersion", version, sizeof version)) {
        PrintNote(stderr, "Failed reading value of registry key:\n\t%s\\CurrentVersion\n", keyPath);
        CloseRegistryKey(key);
        return false;
    }
    if (g_launch.jreVersion == nullptr) {
        g_launch.jreVersion = CopyText(version);
    } else if (strcmp(version, g_launch.jreVersion) != 0) {
        // The required version wins over the key's current one; its subkey is looked for next.
        PrintMessage(stderr, "Registry key '%s\\CurrentVersion' has value '%s', but '%s' is required.\n", keyPath, version,
                g_launch.jreVersion);
    }
    RegistryKey versionKey = OpenRegistryKey(key, g_launch.jreVersion);
    if (versionKey == nullptr) {
        PrintNote(stderr, "GetJREHome(): Warning: could not open registry key '%s\\%s'\n", keyPath, g_launch.jreVersion);
        CloseRegistryKey(key);
        return false;
    }
    bool found = ReadRegistryString(versionKey, "JavaHome", home, size);
    if (!found) {
        PrintNote(stderr, "Failed reading value of registry key:\n\t%s\\%s\\JavaHome\n", keyPath, g_launch.jreVersion);
    }
    CloseRegistryKey(versionKey);
    CloseRegistryKey(key);
    return found;
}
