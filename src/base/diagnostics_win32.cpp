#include <windows.h>

#include <cstdio>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/proc_address.h"
#include "base/system_library.h"

// Whether this exe was linked for the console subsystem (launcher-console.exe), read from its own
// headers in memory: both variants are the same code.
bool IsConsoleProgram() {
    const BYTE* image = reinterpret_cast<const BYTE*>(GetModuleHandleA(nullptr));
    if (image == nullptr) return false;
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

int ShowFatalText(const char* text) {
    // A console program may run where nobody can press OK (a CI job, an SSH session): it writes
    // the message to stderr instead of waiting on a box.
    if (IsConsoleProgram()) {
        PrintMessage(stderr, "%s", text);
        return IDOK;
    }
    return MessageBoxA(nullptr, text, "Fatal Error", MB_ICONWARNING | MB_OK);
}

void PrintLastError() {
    DWORD code = GetLastError();
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) {
        // No system text for this code: the number is still worth showing.
        PrintMessage(stderr, "Error: system error %lu\n\n", static_cast<unsigned long>(code));
        return;
    }
    PrintMessage(stderr, "Error: %s\n", text);
    LocalFree(text);
}

FILE* OpenTextFile(const char* path) { return fopen(path, "r"); }

bool IsWow64() {
    typedef BOOL(WINAPI * IsWow64ProcessFn)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64Process =
        GetProcAs<IsWow64ProcessFn>(GetModuleHandleA("kernel32"), "IsWow64Process");
    BOOL answer = FALSE;
    if (isWow64Process != nullptr) isWow64Process(GetCurrentProcess(), &answer);
    return answer != FALSE;
}

const char* GetProcessorArchName() {
    SYSTEM_INFO info;
    ZeroMemory(&info, sizeof info);
    GetNativeSystemInfo(&info);
    unsigned architecture = info.wProcessorArchitecture;
    return ArchNameForProcessor(architecture, architecture == PROCESSOR_ARCHITECTURE_AMD64 && IsWow64());
}

void SetDpiAwareness(bool dpiScaling) {
    typedef BOOL(WINAPI * SetProcessDpiAwareFn)();
    typedef HRESULT(WINAPI * SetProcessDpiAwarenessFn)(int);
    HMODULE user32 = LoadSystemLibrary("User32.dll");
    SetProcessDpiAwareFn setProcessDpiAware =
        user32 ? GetProcAs<SetProcessDpiAwareFn>(user32, "SetProcessDPIAware") : nullptr;
    HMODULE shcore = LoadSystemLibrary("SHCore.dll");
    SetProcessDpiAwarenessFn setProcessDpiAwareness =
        shcore ? GetProcAs<SetProcessDpiAwarenessFn>(shcore, "SetProcessDpiAwareness")
               : nullptr;
    if (setProcessDpiAwareness != nullptr) {
        setProcessDpiAwareness(dpiScaling ? 1 : 0);
    } else if (dpiScaling && setProcessDpiAware != nullptr) {
        setProcessDpiAware();
    }
}

static bool QueryMemoryStatus(MEMORYSTATUSEX* status) {
    ZeroMemory(status, sizeof *status);
    status->dwLength = sizeof *status;
    return GlobalMemoryStatusEx(status) != FALSE;
}

uint64_t QueryTotalPhysicalMemory() {
    MEMORYSTATUSEX status;
    return QueryMemoryStatus(&status) ? status.ullTotalPhys : 0;
}

uint64_t QueryAvailablePhysicalMemory() {
    MEMORYSTATUSEX status;
    return QueryMemoryStatus(&status) ? status.ullAvailPhys : 0;
}
