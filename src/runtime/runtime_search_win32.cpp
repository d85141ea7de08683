#include <windows.h>

#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/proc_address.h"
#include "base/system_library.h"
#include "runtime/runtime_search_edge.h"

RegistryKey OpenRegistryKey64(RegistryHive hive, RegistryKey parent, const char* keyPath) {
    HKEY root = parent != nullptr   ? static_cast<HKEY>(parent)
                : hive == kUserHive ? HKEY_CURRENT_USER
                                    : HKEY_LOCAL_MACHINE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, keyPath, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

bool EnumRegistrySubkey(RegistryKey key, unsigned long index, char* name, size_t size) {
    if (size == 0 || size > MAXDWORD) return false;
    DWORD length = static_cast<DWORD>(size);
    return RegEnumKeyExA(static_cast<HKEY>(key), index, name, &length, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool ReadEnvironmentText(const char* name, char* buffer, size_t size) {
    if (size == 0 || size > MAXDWORD) return false;
    DWORD length = GetEnvironmentVariableA(name, buffer, static_cast<DWORD>(size));
    return length > 0 && length < size;
}

bool ResolveFinalPath(const char* path, char* resolved, size_t size) {
    if (size == 0 || size > MAXDWORD) return false;
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD length = GetFinalPathNameByHandleA(file, resolved, static_cast<DWORD>(size), FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (length == 0 || length >= size) return false;
    // The answer is in the \\?\ form; a plain drive path reads as the other homes do.
    if (strncmp(resolved, "\\\\?\\", 4) == 0 && resolved[5] == ':') memmove(resolved, resolved + 4, length - 3);
    return true;
}

bool ReadSmallFile(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    if (size > MAXDWORD) return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD got = 0;
    bool read = ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr) != FALSE;
    CloseHandle(file);
    *length = got;
    return read;
}

bool AskFatalYesNo(const char* text) {
    if (IsConsoleProgram()) {
        PrintMessage(stderr, "%s", text);
        return false;
    }
    return MessageBoxA(nullptr, text, "Fatal Error", MB_ICONWARNING | MB_YESNO) == IDYES;
}

bool OpenPageWithShell(const char* url) {
    typedef HINSTANCE(WINAPI * ShellExecuteFn)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
    // Reached only when no runtime fits: shell32 stays out of every normal start.
    HMODULE shell32 = LoadSystemLibrary("shell32.dll");
    ShellExecuteFn shellExecute = shell32 ? GetProcAs<ShellExecuteFn>(shell32, "ShellExecuteA") : nullptr;
    if (shellExecute == nullptr) return false;
    return reinterpret_cast<INT_PTR>(shellExecute(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL)) > 32;
}
