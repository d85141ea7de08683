#include <windows.h>

#include <cstdio>

#include "base/diagnostics.h"
#include "base/proc_address.h"
#include "runtime/runtime_edge.h"
#include "runtime/vm_library.h"

static const size_t kPathBufferSize = 1024;

// Resolved at run time: older systems lack them, and the import would keep the launcher from starting there.
typedef void*(WINAPI* AddDllDirectoryFn)(const wchar_t* folder);
typedef BOOL(WINAPI* RemoveDllDirectoryFn)(void* cookie);

static bool IsAbsolutePath(const char* path) {
    bool drive = path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    bool share = path[0] == '\\' && path[1] == '\\';
    return drive || share;
}

// The VM library imports DLLs that ship in the runtime's bin folder, which Windows does not search
// when jvm.dll is loaded by its full path. That folder is added to the search for this load only:
// the VM loads its other libraries (java.dll, ...) later by full path, and the search for their
// imports never looks in added folders anyway. KnownDLLs always come from the system folder, so the
// runtime cannot replace those.
static HMODULE LoadWithRuntimeFolders(const char* path) {
    char binFolder[kPathBufferSize];
    bool haveBinFolder = GetVmDependencyFolder(path, binFolder, sizeof binFolder);

    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    AddDllDirectoryFn addDllDirectory =
        kernel != nullptr ? GetProcAs<AddDllDirectoryFn>(kernel, "AddDllDirectory") : nullptr;
    RemoveDllDirectoryFn removeDllDirectory =
        kernel != nullptr ? GetProcAs<RemoveDllDirectoryFn>(kernel, "RemoveDllDirectory") : nullptr;
    if (haveBinFolder && addDllDirectory != nullptr && removeDllDirectory != nullptr && IsAbsolutePath(binFolder)) {
        wchar_t wideFolder[kPathBufferSize];
        void* cookie = nullptr;
        if (MultiByteToWideChar(CP_ACP, 0, binFolder, -1, wideFolder, static_cast<int>(kPathBufferSize)) > 0) {
            cookie = addDllDirectory(wideFolder);
        }
        if (cookie != nullptr) {
            HMODULE module =
                LoadLibraryExA(path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
            DWORD loadError = GetLastError();
            removeDllDirectory(cookie);
            SetLastError(loadError);
            // Only a system that does not know the search flags gets the older way below.
            if (module != nullptr || loadError != ERROR_INVALID_PARAMETER) return module;
        }
    }

    if (haveBinFolder) SetDllDirectoryA(binFolder);
    HMODULE module = IsAbsolutePath(path) ? LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                                          : LoadLibraryA(path);
    DWORD loadError = GetLastError();
    if (haveBinFolder) SetDllDirectoryA(nullptr);
    SetLastError(loadError);
    return module;
}

bool LoadVmLibrary(const char* path, VmEntryPoints* entryPoints) {
    HMODULE module = LoadWithRuntimeFolders(path);
    g_launch.vmLibrary = module;
    if (module == nullptr) {
        PrintMessage(stderr, "Error loading: %s\n", path);
        return false;
    }
    entryPoints->createJavaVm = GetProcAs<CreateJavaVmFn>(module, "JNI_CreateJavaVM");
    entryPoints->getDefaultJavaVmInitArgs =
        GetProcAs<GetDefaultJavaVmInitArgsFn>(module, "JNI_GetDefaultJavaVMInitArgs");
    entryPoints->getCreatedJavaVms = GetProcAs<GetCreatedJavaVmsFn>(module, "JNI_GetCreatedJavaVMs");
    if (entryPoints->createJavaVm == nullptr || entryPoints->getDefaultJavaVmInitArgs == nullptr ||
        entryPoints->getCreatedJavaVms == nullptr) {
        // The library stays loaded, like every library of the launch.
        PrintMessage(stderr, "Error: can't find JNI interfaces in: %s\n", path);
        return false;
    }
    return true;
}
