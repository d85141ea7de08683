#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../config/resources.h"
#include "../launcher/diagnostics.h"
#include "../launcher/proc_address.h"
#include "../launcher/system_library.h"
#include "cache_folder.h"

static const size_t kCachePathSize = 260;

static char g_cacheFolder[kCachePathSize];

static void FailWithoutAppData() {
    PrintMessage(stderr, "Error: Could not find AppData folder\n");
    exit(1);
}

// A new folder level is hidden; one that exists keeps its attributes, and a failure shows later.
static void CreateHiddenLevel(const char* appData, const char* suffix) {
    int written = snprintf(g_cacheFolder, sizeof g_cacheFolder, "%s%s", appData, suffix);
    // No usable cache folder below an application-data path that long.
    if (written < 0 || static_cast<size_t>(written) >= sizeof g_cacheFolder) FailWithoutAppData();
    if (CreateDirectoryA(g_cacheFolder, nullptr)) SetFileAttributesA(g_cacheFolder, FILE_ATTRIBUTE_HIDDEN);
}

const char* GetCacheFolder() {
    if (g_cacheFolder[0] != '\0') return g_cacheFolder;
    char appData[MAX_PATH];
    if (!SystemGetCommonAppDataFolder(appData)) FailWithoutAppData();
    CreateHiddenLevel(appData, "\\.quorvia");
    CreateHiddenLevel(appData, "\\.quorvia\\cache");
    return g_cacheFolder;
}

void RemoveStaleCacheFiles(const char* pathToKeep) {
    const char* folder = GetCacheFolder();
    char* baseName = GetExeBaseName();
    if (baseName == nullptr) return;
    char pattern[kCachePathSize];
    int written = snprintf(pattern, sizeof pattern, "%s\\%s*.*", folder, baseName);
    WIN32_FIND_DATAA entry;
    HANDLE listing = INVALID_HANDLE_VALUE;
    if (written >= 0 && static_cast<size_t>(written) < sizeof pattern) listing = FindFirstFileA(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        free(baseName);
        return;
    }
    do {
        // The pattern also lists the files of a launcher whose base name only begins with ours.
        if (!IsOwnCacheEntryName(entry.cFileName, baseName)) continue;
        char path[kCachePathSize];
        written = snprintf(path, sizeof path, "%s\\%s", folder, entry.cFileName);
        if (written < 0 || static_cast<size_t>(written) >= sizeof path) continue;
        // Folders and files still in use refuse deletion; they are left for a later start.
        if (lstrcmpiA(path, pathToKeep) != 0) DeleteFileA(path);
    } while (FindNextFileA(listing, &entry));
    FindClose(listing);
    free(baseName);
}

// The record the system MD5 routines work on.
struct MD5_CTX {
    ULONG bitCount[2];
    ULONG state[4];
    unsigned char buffer[64];
    unsigned char digest[16];
};

typedef void(WINAPI* Md5InitFn)(MD5_CTX* context);
typedef void(WINAPI* Md5UpdateFn)(MD5_CTX* context, const unsigned char* input, unsigned int length);
typedef void(WINAPI* Md5FinalFn)(MD5_CTX* context);

// The system MD5 library, or null after telling that it can't be loaded.
static HMODULE LoadMd5Library() {
    HMODULE library = LoadSystemLibrary("cryptdll.Dll");
    if (library == nullptr) PrintMessage(stderr, "Unable to find crypto lib\n");
    return library;
}

char* Md5HexDigest(const void* bytes, size_t length) {
    HMODULE library = LoadMd5Library();
    if (library == nullptr) return nullptr;
    Md5InitFn md5Init = GetProcAs<Md5InitFn>(library, "MD5Init");
    Md5UpdateFn md5Update = GetProcAs<Md5UpdateFn>(library, "MD5Update");
    Md5FinalFn md5Final = GetProcAs<Md5FinalFn>(library, "MD5Final");
    if (md5Init == nullptr || md5Update == nullptr || md5Final == nullptr) {
        FreeLibrary(library);
        return nullptr;
    }
    MD5_CTX context;
    memset(&context, 0, sizeof context);
    md5Init(&context);
    // The routine takes a 32-bit length; a larger range goes in several pieces.
    const unsigned char* input = static_cast<const unsigned char*>(bytes);
    size_t remaining = length;
    do {
        unsigned int piece = remaining > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(remaining);
        md5Update(&context, input, piece);
        input += piece;
        remaining -= piece;
    } while (remaining > 0);
    md5Final(&context);
    char* text = static_cast<char*>(malloc(33));
    if (text != nullptr) FormatDigestText(context.digest, text);
    FreeLibrary(library);
    return text;
}

void ReportMissingMd5Library() {
    HMODULE library = LoadMd5Library();
    if (library != nullptr) FreeLibrary(library);
}

bool ProbeCacheFile(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ | FILE_READ_DATA, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    // Another process holds it open: it is there.
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

static bool ReportWriteFailure(HANDLE file, const char* tempPath) {
    PrintLastError();
    PrintMessage(stderr, "Unable to write cache buffer\n");
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    // A partial file never stays behind.
    if (tempPath != nullptr) DeleteFileA(tempPath);
    return false;
}

bool WriteCacheFile(const char* path, const void* bytes, size_t size) {
    char* baseName = GetExeBaseName();
    char tempPath[kCachePathSize];
    bool named = FormatCacheTempName(tempPath, sizeof tempPath, GetCacheFolder(),
                                     baseName != nullptr ? baseName : "", GetCurrentProcessId());
    free(baseName);
    if (!named) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ReportWriteFailure(INVALID_HANDLE_VALUE, nullptr);
    }
    if (size > MAXDWORD) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return ReportWriteFailure(INVALID_HANDLE_VALUE, nullptr);
    }
    HANDLE file = CreateFileA(tempPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ReportWriteFailure(file, nullptr);
    DWORD written = 0;
    if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) || written != size) {
        return ReportWriteFailure(file, tempPath);
    }
    // On disk before it gets the name, so that a crash cannot leave a named file with missing bytes.
    if (!FlushFileBuffers(file)) return ReportWriteFailure(file, tempPath);
    CloseHandle(file);

    if (MoveFileExA(tempPath, path, MOVEFILE_WRITE_THROUGH)) return true;
    DWORD moveError = GetLastError();
    // Another launcher finished first; its file holds the same jar.
    if (moveError == ERROR_ALREADY_EXISTS || moveError == ERROR_FILE_EXISTS || ProbeCacheFile(path)) {
        DeleteFileA(tempPath);
        return true;
    }
    SetLastError(moveError);
    return ReportWriteFailure(INVALID_HANDLE_VALUE, tempPath);
}
