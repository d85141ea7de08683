// System DLLs loaded only from the system folder (Win32 only), so that a DLL of the same name
// planted beside the exe is never loaded. Shell libraries are reached through here instead of
// being imported, because their own imports would otherwise be searched beside the exe first.
#pragma once

#include <windows.h>

HMODULE LoadSystemLibrary(const char* name);

// PathIsNetworkPathA of shlwapi; false when shlwapi cannot be had.
bool SystemPathIsNetworkPath(const char* path);

// SHGetFolderPathA of shell32 (CSIDL_COMMON_APPDATA, CSIDL_LOCAL_APPDATA, ...) into a MAX_PATH
// buffer; false on failure.
bool SystemGetFolderPath(int folder, char* path);
