// File-system edges of the sync mirror and the jar copy.
#include <windows.h>

#include <cstdio>

#include "sync_mirror.h"

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

CopyTargetProbe ProbeCopyTarget(const char* path) {
    CopyTargetProbe probe = {CopyTargetMissing, false, 0, false, 0};
    HANDLE file = CreateFileA(path, GENERIC_READ | FILE_READ_DATA, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) probe.state = CopyTargetHeldOpen;
        return probe;
    }
    probe.state = CopyTargetOpened;
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

void CopyFileOver(const char* source, const char* target) { CopyFileA(source, target, FALSE); }

void MakeFolder(const char* path) { CreateDirectoryA(path, nullptr); }

bool DeleteFileAt(const char* path) { return DeleteFileA(path) != FALSE; }

bool RemoveEmptyFolder(const char* path) { return RemoveDirectoryA(path) != FALSE; }

unsigned long GetEntryAttributes(const char* path) { return GetFileAttributesA(path); }
