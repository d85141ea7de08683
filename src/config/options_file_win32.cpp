#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "config/config_edge.h"

// Notepad writes UTF-8, but an exe packed without --utf8 runs in the ANSI code page, in which the
// VM options and paths must then be. Bytes that are no UTF-8 are taken as already in that code page,
// as an older Notepad saved them.
static OptionsFileRead ToAnsiCodePage(char* buffer, size_t size, size_t* length) {
    if (GetACP() == CP_UTF8) return kOptionsFileRead;
    size_t start = *length >= 3 && memcmp(buffer, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    bool ascii = true;
    for (size_t i = start; i < *length && ascii; i++) ascii = static_cast<unsigned char>(buffer[i]) < 0x80;
    if (ascii) return kOptionsFileRead;
    int count = static_cast<int>(*length - start);
    int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, buffer + start, count, nullptr, 0);
    if (wide <= 0) return kOptionsFileRead;
    WCHAR* text = static_cast<WCHAR*>(malloc(static_cast<size_t>(wide) * sizeof(WCHAR)));
    if (text == nullptr) return kOptionsFileUnreadable;
    MultiByteToWideChar(CP_UTF8, 0, buffer + start, count, text, wide);
    BOOL lost = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, wide, buffer, static_cast<int>(size), nullptr,
                                    &lost);
    free(text);
    if (bytes <= 0) return kOptionsFileTooLarge;
    if (lost) return kOptionsFileNotInCodePage;
    *length = static_cast<size_t>(bytes);
    return kOptionsFileRead;
}

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
        result = ToAnsiCodePage(buffer, size, length);
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
