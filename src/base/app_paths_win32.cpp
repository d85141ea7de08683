// The exe's own path and the cache folders: the machine-wide one and the user's own.
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/system_library.h"

unsigned long ReadModuleFileName(char* buffer, unsigned long size) {
    return GetModuleFileNameA(nullptr, buffer, size);
}

// The machine-wide levels: every user may list them and make a folder in them (not a file), and what
// a user makes is that user's; SYSTEM and Administrators may do anything. The owner's implicit right
// to change the DACL is limited to reading by OWNER RIGHTS, so the first user to start an
// application does not own the others' folders.
static const char kSharedLevelDescriptor[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;;0x1200ad;;;BU)(A;;0x1200a9;;;OW)";

// Makes path (hidden) when missing, with the descriptor when one is given; one that exists keeps
// its attributes and security, and a failure shows later.
static void MakeHiddenLevel(const char* path, const char* descriptor) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (descriptor != nullptr) {
        ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                             &attributes.lpSecurityDescriptor, nullptr);
    }
    if (CreateDirectoryA(path, attributes.lpSecurityDescriptor != nullptr ? &attributes : nullptr)) {
        SetFileAttributesA(path, FILE_ATTRIBUTE_HIDDEN);
    }
    if (attributes.lpSecurityDescriptor != nullptr) LocalFree(attributes.lpSecurityDescriptor);
}

// "{base}\.quorvia\cache" into folder, its two levels made; false when it would not fit.
static bool MakeCacheLevels(const char* base, const char* descriptor, char* folder, size_t size) {
    int written = snprintf(folder, size, "%s\\.quorvia", base);
    if (written < 0 || static_cast<size_t>(written) + sizeof "\\cache" > size) {
        folder[0] = '\0';
        return false;
    }
    MakeHiddenLevel(folder, descriptor);
    snprintf(folder + written, size - written, "\\cache");
    MakeHiddenLevel(folder, descriptor);
    return true;
}

static void FailWithoutAppData() {
    PrintMessage(stderr, "Error: Could not find AppData folder\n");
    exit(1);
}

const char* GetCacheFolder() {
    static char folder[kWindowsPathSize];
    if (folder[0] != '\0') return folder;
    char appData[MAX_PATH];
    // No usable cache folder without the application-data folder or below one whose path is that long.
    if (!SystemGetFolderPath(CSIDL_COMMON_APPDATA, appData) ||
        !MakeCacheLevels(appData, kSharedLevelDescriptor, folder, sizeof folder)) {
        FailWithoutAppData();
    }
    return folder;
}

const char* GetUserCacheFolder() {
    static char folder[kWindowsPathSize];
    if (folder[0] != '\0') return folder;
    char localAppData[MAX_PATH];
    if (!SystemGetFolderPath(CSIDL_LOCAL_APPDATA, localAppData) ||
        !MakeCacheLevels(localAppData, nullptr, folder, sizeof folder)) {
        return nullptr;
    }
    return folder;
}
