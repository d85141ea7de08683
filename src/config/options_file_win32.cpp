#include <windows.h>

#include "config/config_edge.h"

OptionsFileRead ReadOptionsFileBytes(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kOptionsFileMissing
                                                                              : kOptionsFileUnreadable;
    }
    LARGE_INTEGER fileSize;
    OptionsFileRead result = kOptionsFileUnreadable;
    DWORD got = 0;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &fileSize)) {
        result = kOptionsFileUnreadable;
    } else if (static_cast<unsigned long long>(fileSize.QuadPart) > size) {
        result = kOptionsFileTooLarge;
    } else if (ReadFile(file, buffer, static_cast<DWORD>(fileSize.QuadPart), &got, nullptr) &&
               got == static_cast<DWORD>(fileSize.QuadPart)) {
        *length = got;
        result = kOptionsFileRead;
    }
    CloseHandle(file);
    return result;
}

bool ReadEnvironmentValue(const char* name, char* value, size_t size, size_t* length) {
    DWORD limit = size > 32767 ? 32767 : static_cast<DWORD>(size);
    SetLastError(ERROR_SUCCESS);
    DWORD got = GetEnvironmentVariableA(name, value, limit);
    if (got == 0) {
        // An empty value and a missing variable both give 0; only the error tells them apart.
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
        if (limit > 0) value[0] = '\0';
        *length = 0;
        return true;
    }
    // Too small a buffer gives the size needed with its terminator, a fitting one the length.
    *length = got < limit ? got : got - 1;
    return true;
}
