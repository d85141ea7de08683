// Whole files and heads read in one go, files written through a temporary name, links and renames.
#include <windows.h>

#include <cstdlib>

#include "files/files_edge.h"

WholeFileReadResult ReadWholeFileOnce(const char* path, size_t limit, void** bytes, size_t* size) {
    *bytes = nullptr;
    *size = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return WholeFileNotOpened;
    LARGE_INTEGER length;
    WholeFileReadResult result = WholeFileRefused;
    if (GetFileSizeEx(file, &length) && length.QuadPart >= 0 && static_cast<uint64_t>(length.QuadPart) <= limit) {
        DWORD wanted = static_cast<DWORD>(length.QuadPart);
        // One byte more than the size asks for, so that a file that grew meanwhile is seen as such.
        void* buffer = malloc(static_cast<size_t>(wanted) + 1);
        DWORD got = 0;
        if (buffer != nullptr && ReadFile(file, buffer, wanted + 1, &got, nullptr) && got == wanted) {
            *bytes = buffer;
            *size = got;
            result = WholeFileRead;
        } else {
            free(buffer);
        }
    }
    CloseHandle(file);
    return result;
}

bool ReadFileHead(const char* path, void* buffer, size_t size, size_t* got) {
    *got = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD read = 0;
    bool ok = size <= 0xFFFFFFFFu && ReadFile(file, buffer, static_cast<DWORD>(size), &read, nullptr) != FALSE;
    CloseHandle(file);
    *got = read;
    return ok;
}

bool LinkFileAt(const char* existing, const char* newName) { return CreateHardLinkA(newName, existing, nullptr) != FALSE; }

bool MoveEntry(const char* from, const char* to) { return MoveFileExA(from, to, 0) != FALSE; }

bool WriteFileThroughTemp(const char* temp, const char* path, const void* bytes, size_t size) {
    if (size > 0xFFFFFFFFu) return false;
    HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;  // never over an entry at the name, nor through a link
    DWORD written = 0;
    bool ok = WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) && written == size;
    ok = CloseHandle(file) && ok;
    if (ok && MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileA(temp);
    return false;
}
