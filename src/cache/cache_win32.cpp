// The application-jar cache's files: the sweep of stale and orphaned files, the probe, the digest
// check and the write through a temporary name.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/proc_address.h"
#include "base/system_library.h"
#include "base/text.h"
#include "cache/cache_edge.h"
#include "cache/cache_names.h"
#include "files/app_folder.h"
#include "files/entry_identity_win32.h"
#include "files/entry_names.h"
#include "files/listing_walker.h"
#include "files/md5.h"
#include "files/replace.h"

// A temporary file of this executable whose writer has ended (a crash, a kill) stays otherwise.
static bool IsOrphanTemp(const char* entryName, const char* baseName) {
    unsigned long processId = 0;
    return ParseTempEntryName(entryName, baseName, &processId) &&
           (processId == GetCurrentProcessId() || !ProcessIsRunning(processId));
}

// One listing of the application folder for both kinds of leftovers: "*{base}.*" takes in this
// executable's files and its temporary files "~{base}.{pid}.{random}.tmp"; the names are then told
// apart. A temporary file goes only when this user made it.
static void SweepCacheFolder(const char* pathToKeep, const char* md5SumText, bool staleFilesToo) {
    const char* folder = GetAppCacheFolder();
    char* baseName = GetExeBaseName();
    if (folder == nullptr || baseName == nullptr) {
        free(baseName);
        return;
    }
    char pattern[kWindowsPathSize];
    if (FormatPathText(pattern, sizeof pattern, "%s\\*%s.*", folder, baseName)) {
        WalkListing(pattern, [&](const FileEntryInfo& entry) {
            bool orphan = IsOrphanTemp(entry.name, baseName);
            if (!orphan && !(staleFilesToo && IsOwnCacheEntryName(entry.name, baseName, md5SumText))) return true;
            char path[kWindowsPathSize];
            if (!FormatPathText(path, sizeof path, "%s\\%s", folder, entry.name)) return true;
            if (pathToKeep != nullptr && lstrcmpiA(path, pathToKeep) == 0) return true;
            if (orphan && QueryEntryOwner(path) != OwnerCurrentUser) return true;
            // A temporary copy of a read-only jar is read-only too.
            if (orphan && (entry.attributes & FILE_ATTRIBUTE_READONLY) != 0) ClearReadOnly(path);
            // Folders and files still in use refuse deletion; they are left for a later start. A link
            // goes itself, never what it points to.
            RemoveEntryItself(path);
            return true;
        });
    }
    free(baseName);
}

void RemoveStaleCacheFiles(const char* pathToKeep, const char* md5SumText) {
    SweepCacheFolder(pathToKeep, md5SumText, true);
}

void RemoveOrphanCacheTemps() { SweepCacheFolder(nullptr, nullptr, false); }

CacheFileProbe ProbeCacheFile(const char* path) {
    CacheFileProbe probe;
    DWORD error;
    // Shared for reading: while the probe holds the file, a VM of a start running at the same time
    // must still be able to open it (an exclusive probe made that VM miss the jar's classes).
    HANDLE file = OpenNamedEntryItself(path, GENERIC_READ | FILE_READ_DATA, FILE_SHARE_READ, &probe.state,
                                       &probe.owner, &error);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return probe;
}

bool CacheFileHasDigest(const char* path, const char* digestText) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool matches = false;
    if (GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) <= SIZE_MAX) {
        unsigned char digest[16];
        char text[33];
        if (size.QuadPart == 0) {
            ComputeMd5("", 0, digest);
        } else {
            HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
            const void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
            if (view == nullptr) {
                if (mapping != nullptr) CloseHandle(mapping);
                CloseHandle(file);
                return false;
            }
            ComputeMd5(view, static_cast<size_t>(size.QuadPart), digest);
            UnmapViewOfFile(view);
            CloseHandle(mapping);
        }
        FormatDigestText(digest, text);
        matches = lstrcmpiA(text, digestText) == 0;
    }
    CloseHandle(file);
    return matches;
}

static bool ReportWriteFailure(HANDLE file, const char* tempPath) {
    PrintLastError();
    PrintMessage(stderr, "Unable to write cache buffer\n");
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    // A partial file never stays behind.
    if (tempPath != nullptr) DeleteFileA(tempPath);
    return false;
}

bool WriteCacheFile(const char* path, const void* bytes, size_t size, bool replace) {
    char* baseName = GetExeBaseName();
    const char* folder = GetAppCacheFolder();
    char tempPath[kWindowsPathSize];
    bool named = folder != nullptr && FormatTempNameIn(tempPath, sizeof tempPath, folder, baseName);
    free(baseName);
    if (!named) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return ReportWriteFailure(INVALID_HANDLE_VALUE, nullptr);
    }
    if (size > MAXDWORD) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return ReportWriteFailure(INVALID_HANDLE_VALUE, nullptr);
    }
    // A new file only: nothing at the name is overwritten or written through.
    HANDLE file = CreateFileA(tempPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ReportWriteFailure(file, nullptr);
    DWORD written = 0;
    if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) || written != size) {
        return ReportWriteFailure(file, tempPath);
    }
    // On disk before it gets the name, so that a crash cannot leave a named file with missing bytes.
    if (!FlushFileBuffers(file)) return ReportWriteFailure(file, tempPath);
    CloseHandle(file);

    if (replace) {
        // A link stands there (removed itself where the platform can; a link to a file is replaced
        // by the move itself), or a file of another account that the new file replaces.
        unsigned long attributes = GetFileAttributesA(path);
        if (IsLinkAttributes(attributes)) RemoveEntryItself(path);
        if (IsReadOnlyAttributes(attributes)) ClearReadOnly(path);
        if (MoveFileExA(tempPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        return ReportWriteFailure(INVALID_HANDLE_VALUE, tempPath);
    }
    if (MoveFileExA(tempPath, path, MOVEFILE_WRITE_THROUGH)) return true;
    DWORD moveError = GetLastError();
    // Another launcher finished first; its file holds the same jar.
    if (moveError == ERROR_ALREADY_EXISTS || moveError == ERROR_FILE_EXISTS ||
        ProbeCacheFile(path).state == EntryPresent) {
        DeleteFileA(tempPath);
        return true;
    }
    SetLastError(moveError);
    return ReportWriteFailure(INVALID_HANDLE_VALUE, tempPath);
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

