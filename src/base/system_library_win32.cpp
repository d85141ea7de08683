#include "base/system_library.h"

#include <shlobj.h>

#include <cstdio>

#include "base/proc_address.h"

HMODULE LoadSystemLibrary(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // A system without the search flags: name the file in the system folder.
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, sizeof path);
    if (length == 0 || length >= sizeof path) return nullptr;
    int written = snprintf(path + length, sizeof path - length, "\\%s", name);
    if (written < 0 || static_cast<size_t>(written) >= sizeof path - length) return nullptr;
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool SystemPathIsNetworkPath(const char* path) {
    typedef BOOL(WINAPI * PathIsNetworkPathFn)(LPCSTR);
    static PathIsNetworkPathFn pathIsNetworkPath;
    if (pathIsNetworkPath == nullptr) {
        HMODULE shlwapi = LoadSystemLibrary("shlwapi.dll");
        if (shlwapi == nullptr) return false;
        pathIsNetworkPath = GetProcAs<PathIsNetworkPathFn>(shlwapi, "PathIsNetworkPathA");
        if (pathIsNetworkPath == nullptr) return false;
    }
    return pathIsNetworkPath(path) != FALSE;
}

bool SystemGetFolderPath(int folder, char* path) {
    typedef HRESULT(WINAPI * GetFolderPathFn)(HWND, int, HANDLE, DWORD, LPSTR);
    HMODULE shell32 = LoadSystemLibrary("shell32.dll");
    GetFolderPathFn getFolderPath = shell32 ? GetProcAs<GetFolderPathFn>(shell32, "SHGetFolderPathA") : nullptr;
    if (getFolderPath == nullptr) return false;
    return SUCCEEDED(getFolderPath(nullptr, folder, nullptr, 0, path));
}
