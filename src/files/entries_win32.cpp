// Entries, listings, links and copies: the file-system edge's Win32 calls.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/system_library.h"
#include "files/entry_identity_win32.h"
#include "files/entry_names.h"
#include "files/files_edge.h"

static uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

static void FillEntryInfo(const WIN32_FIND_DATAA& data, FileEntryInfo* info) {
    snprintf(info->name, sizeof info->name, "%s", data.cFileName);  // cFileName has MAX_PATH chars
    info->attributes = data.dwFileAttributes;
    info->sizeLow = data.nFileSizeLow;
    info->lastWriteTime = FileTimeValue(data.ftLastWriteTime);
}

// The listing handle is the find handle itself; FindFirstFileA never hands out null.
EntryListing OpenEntryListing(const char* pattern, FileEntryInfo* first) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE) return nullptr;
    FillEntryInfo(data, first);
    return find;
}

bool NextListedEntry(EntryListing listing, FileEntryInfo* entry, bool* endedCleanly) {
    WIN32_FIND_DATAA data;
    if (FindNextFileA(static_cast<HANDLE>(listing), &data)) {
        FillEntryInfo(data, entry);
        return true;
    }
    *endedCleanly = GetLastError() == ERROR_NO_MORE_FILES;
    return false;
}

void CloseEntryListing(EntryListing listing) { FindClose(static_cast<HANDLE>(listing)); }

bool LookUpEntry(const char* path, FileEntryInfo* found, unsigned long* error) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    FillEntryInfo(data, found);
    FindClose(find);
    *error = ERROR_SUCCESS;
    return true;
}

// ---- Links and the entry itself ----

static bool OpenedAsReparsePoint(HANDLE entry) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    return GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// "\\?\C:\x" -> "C:\x", "\\?\UNC\srv\x" -> "\\srv\x" (kept in place in buffer).
static const char* DosPathOfFinalPath(char* buffer) {
    if (strncmp(buffer, "\\\\?\\UNC\\", 8) == 0) {
        buffer[6] = '\\';
        return buffer + 6;
    }
    return strncmp(buffer, "\\\\?\\", 4) == 0 ? buffer + 4 : buffer;
}

static bool FinalPathOf(HANDLE entry, char* buffer, DWORD size, const char** path) {
    DWORD length = GetFinalPathNameByHandleA(entry, buffer, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= size) return false;
    *path = DosPathOfFinalPath(buffer);
    return true;
}

// The handle's final path is the named path, or, where a folder above is redirected, the final
// path of the named path's folder followed by its last part.
static bool HandleIsAtPath(HANDLE entry, const char* path) {
    char finalBuffer[MAX_PATH + 16];
    const char* finalPath = nullptr;
    char fullPath[MAX_PATH];
    char* lastPart = nullptr;
    if (!FinalPathOf(entry, finalBuffer, sizeof finalBuffer, &finalPath)) return false;
    DWORD length = GetFullPathNameA(path, sizeof fullPath, fullPath, &lastPart);
    if (length == 0 || length >= sizeof fullPath || lastPart == nullptr || lastPart == fullPath) return false;
    if (lstrcmpiA(finalPath, fullPath) == 0) return true;

    lastPart[-1] = '\0';
    HANDLE folder = CreateFileA(fullPath, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    char folderBuffer[MAX_PATH + 16];
    const char* folderPath = nullptr;
    bool named = FinalPathOf(folder, folderBuffer, sizeof folderBuffer, &folderPath);
    CloseHandle(folder);
    if (!named) return false;
    char expected[MAX_PATH + 16];
    int written = snprintf(expected, sizeof expected, "%s\\%s", folderPath, lastPart);
    return written > 0 && static_cast<size_t>(written) < sizeof expected && lstrcmpiA(finalPath, expected) == 0;
}

bool HandleIsLinkAt(HANDLE entry, const char* path) {
    return OpenedAsReparsePoint(entry) || !HandleIsAtPath(entry, path);
}

bool HandleIsEntryItself(HANDLE entry, const char* path) {
    return OpenedAsReparsePoint(entry) || HandleIsAtPath(entry, path);
}

static HANDLE OpenEntryItself(const char* path, DWORD access) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool RemoveEntryItself(const char* path) {
    HANDLE entry = OpenEntryItself(path, DELETE | FILE_READ_ATTRIBUTES);
    if (entry == INVALID_HANDLE_VALUE) return false;
    bool removed = false;
    if (HandleIsEntryItself(entry, path)) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        removed = SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
    }
    CloseHandle(entry);
    return removed;
}

bool ClearReadOnly(const char* path) {
    HANDLE entry = OpenEntryItself(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (entry == INVALID_HANDLE_VALUE) return false;
    bool cleared = false;
    FILE_BASIC_INFO info;
    if (HandleIsEntryItself(entry, path) && GetFileInformationByHandleEx(entry, FileBasicInfo, &info, sizeof info)) {
        // Zero times leave the file's times as they are.
        info.CreationTime.QuadPart = 0;
        info.LastAccessTime.QuadPart = 0;
        info.LastWriteTime.QuadPart = 0;
        info.ChangeTime.QuadPart = 0;
        info.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        cleared = SetFileInformationByHandle(entry, FileBasicInfo, &info, sizeof info) != FALSE;
    }
    CloseHandle(entry);
    return cleared;
}

// ---- Copies ----

CopyTargetProbe ProbeCopyTarget(const char* path) {
    CopyTargetProbe probe = {CopyTargetMissing, false, 0, false, 0, OwnerUnreadable};
    // Attributes and the owner only: a handle that reads no data is refused by no sharing mode, so a
    // file another process holds open is judged by what it is, never taken on trust.
    HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES | READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return probe;
    if (HandleIsLinkAt(file, path)) {
        CloseHandle(file);
        probe.state = CopyTargetLink;
        return probe;
    }
    probe.state = CopyTargetOpened;
    probe.owner = QueryHandleOwner(file);
    FILETIME lastWrite;
    if (GetFileTime(file, nullptr, nullptr, &lastWrite)) {
        probe.timeRead = true;
        probe.lastWriteTime = FileTimeValue(lastWrite);
    }
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetFileSize(file, nullptr);
    // INVALID_FILE_SIZE is also a real low word of a large file; only the error tells them apart.
    probe.sizeRead = size != INVALID_FILE_SIZE || GetLastError() == ERROR_SUCCESS;
    probe.sizeLow = size;
    CloseHandle(file);
    return probe;
}

// A temporary file that failed is removed, read-only or not (the copy keeps the source's attributes).
static void DiscardTemp(const char* temp) {
    SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(temp);
}

bool CopyThroughTemp(const char* source, const char* temp, const char* target) {
    // Never over an entry at the temporary name: a link there is not written through.
    if (!CopyFileA(source, temp, TRUE)) {
        DWORD error = GetLastError();
        DiscardTemp(temp);
        SetLastError(error);
        return false;
    }
    if (MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING)) return true;
    DWORD error = GetLastError();
    DiscardTemp(temp);
    SetLastError(error);
    return false;
}

void MakeFolder(const char* path) { CreateDirectoryA(path, nullptr); }

unsigned long GetEntryAttributes(const char* path) { return GetFileAttributesA(path); }

unsigned long GetOwnProcessId() { return GetCurrentProcessId(); }

bool ProcessIsRunning(unsigned long processId) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    // A process of another account can't be opened, but it runs.
    if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
    bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

bool IsNetworkPath(const char* path) { return SystemPathIsNetworkPath(path); }

HANDLE OpenNamedEntryItself(const char* path, DWORD access, DWORD share, EntryState* state, EntryOwner* owner,
                            DWORD* error) {
    *state = EntryAbsent;
    *owner = OwnerUnreadable;
    *error = ERROR_SUCCESS;
    HANDLE file = CreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        if (!HandleIsLinkAt(file, path)) {
            *state = EntryPresent;
            *owner = QueryHandleOwner(file);
            return file;
        }
        *state = EntryLink;
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    *error = GetLastError();
    if (*error == ERROR_SHARING_VIOLATION) {
        // Another process holds it open: it is there, and its owner still decides whether it is
        // trusted, read through a handle that asks for no data (the attributes tell a link).
        HANDLE held = CreateFileA(path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (held != INVALID_HANDLE_VALUE) {
            *state = HandleIsLinkAt(held, path) ? EntryLink : EntryPresent;
            if (*state == EntryPresent) *owner = QueryHandleOwner(held);
            CloseHandle(held);
        } else {
            *state = EntryPresent;  // there, but its owner can't be read: not trusted
        }
    } else if (*error == ERROR_ACCESS_DENIED && IsLinkAttributes(GetFileAttributesA(path))) {
        *state = EntryLink;  // a link to a folder does not open as a file
    }
    return INVALID_HANDLE_VALUE;
}

