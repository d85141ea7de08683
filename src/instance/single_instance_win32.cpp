#include "instance/single_instance.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "base/text.h"
#include "instance/forwarded_payload.h"
#include "instance/instance_win32.h"
#include "instance/listener_delivery.h"
#include "instance/window_to_raise.h"

// Held for the whole process: its existence marks this application as running.
static HANDLE g_instanceMutex;

// The listener's window class name: the main class name itself, set before the thread starts.
static const char* g_listenerClassName;

// Signalled by the listener thread once its window exists or cannot be made.
static HANDLE g_listenerReady;

// How long the main thread waits for the listener window before going on to main.
static const DWORD kListenerReadyTimeoutMs = 10000;

// How long a later start waits for the first one to finish its sync mirror.
static const DWORD kFirstInstanceWaitMs = 120000;

// Whether this process still owns the instance mutex it created.
static bool g_holdingInstanceMutex;

bool CheckSingleInstance(const char* mainClassName) {
    // One call both creates and detects, so two starts checking at the same moment cannot both
    // come out first. A failure to create counts as first. The first instance owns the mutex until
    // ReleaseFirstInstanceHold, so that later starts can wait for its mirror.
    g_instanceMutex = CreateMutexA(nullptr, TRUE, mainClassName);
    bool first = !(g_instanceMutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS);
    g_holdingInstanceMutex = first && g_instanceMutex != nullptr;
    return first;
}

void ReleaseFirstInstanceHold() {
    if (!g_holdingInstanceMutex) return;
    ReleaseMutex(g_instanceMutex);
    g_holdingInstanceMutex = false;
}

void WaitForFirstInstance() {
    if (g_instanceMutex == nullptr || g_holdingInstanceMutex) return;
    DWORD waited = WaitForSingleObject(g_instanceMutex, kFirstInstanceWaitMs);
    // An abandoned mutex means the first instance ended while mirroring: read what it left.
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(g_instanceMutex);
}

void DebugLog(const char* format, ...) {
    char local[1024];
    int length = 0;
    va_list args;
    va_start(args, format);
    char* text = FormatMessageText(local, sizeof local, &length, format, args);
    va_end(args);
    // Nothing sensible was formatted: the event is still marked.
    OutputDebugStringA(text != nullptr ? text : "");
    OutputDebugStringA("\n");
    if (text != local) free(text);
}

bool GetProcessModuleName(DWORD processId, char* name, size_t nameSize) {
    DWORD processes[1024];
    DWORD bytes = 0;
    if (!EnumProcesses(processes, sizeof processes, &bytes)) return false;
    DWORD count = bytes / sizeof(DWORD);
    for (DWORD i = 0; i < count; i++) {
        if (processes[i] != processId) continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
        if (process == nullptr) return false;
        bool found = false;
        HMODULE module = nullptr;
        DWORD needed = 0;
        char baseName[MAX_PATH];
        if (EnumProcessModules(process, &module, sizeof module, &needed) &&
            GetModuleBaseNameA(process, module, baseName, sizeof baseName) > 0) {
            int written = snprintf(name, nameSize, "%s", baseName);
            found = written >= 0 && static_cast<size_t>(written) < nameSize;
        }
        CloseHandle(process);
        return found;
    }
    return false;
}

// Enough for every window of a running application and its later starts.
const int kRaiseCandidateLimit = 64;

struct ExecutableWindowSearch {
    const char* fileName;
    HWND windows[kRaiseCandidateLimit];
    RaiseCandidate candidates[kRaiseCandidateLimit];
    int count;
};

static BOOL CALLBACK MatchWindowOfExecutable(HWND window, LPARAM parameter) {
    ExecutableWindowSearch* search = reinterpret_cast<ExecutableWindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char moduleName[MAX_PATH];
    if (GetProcessModuleName(processId, moduleName, sizeof moduleName) &&
        EqualsIgnoringCase(moduleName, search->fileName)) {
        search->windows[search->count] = window;
        search->candidates[search->count] = RaiseCandidate{processId, IsWindowVisible(window) != FALSE};
        search->count++;
    }
    return search->count < kRaiseCandidateLimit;
}

HWND FindWindowOfExecutable(const char* exePath) {
    ExecutableWindowSearch search = {};
    search.fileName = LastPathPart(exePath);
    EnumWindows(MatchWindowOfExecutable, reinterpret_cast<LPARAM>(&search));
    int chosen = ChooseWindowToRaise(search.candidates, search.count, GetCurrentProcessId());
    return chosen < 0 ? nullptr : search.windows[chosen];
}

bool ForwardToRunningInstance(const char* mainClassName, int argc, char** argv) {
    HWND listener = FindWindowA(mainClassName, nullptr);
    if (listener == nullptr || !IsWindow(listener)) return false;

    uint32_t size = 0;
    unsigned char* payload = BuildForwardedPayload(argc, argv, &size);
    if (payload == nullptr) return false;  // more than cbData can describe: nothing sensible to send
    COPYDATASTRUCT message;
    message.dwData = kForwardTag;
    message.cbData = size;
    message.lpData = payload;
    // Returns once the running instance has handled it, initSingleApplication included.
    SendMessageA(listener, WM_COPYDATA, reinterpret_cast<WPARAM>(listener), reinterpret_cast<LPARAM>(&message));
    free(payload);

    char exePath[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, exePath, sizeof exePath);
    if (length > 0 && length < sizeof exePath) {
        HWND window = FindWindowOfExecutable(exePath);
        if (window != nullptr) SetForegroundWindow(window);
    }
    return true;
}

void RegisterListenerClass() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ListenerWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = g_listenerClassName;
    RegisterClassExA(&windowClass);
}

void DeliverForwardedArguments(const COPYDATASTRUCT* data) {
    if (data == nullptr) {
        DeliverForwardedPayload(g_listenerClassName, 0, nullptr, 0);
        return;
    }
    DeliverForwardedPayload(g_listenerClassName, data->dwData, data->lpData, data->cbData);
}

LRESULT CALLBACK ListenerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        DeliverForwardedArguments(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI ListenerThreadMain(LPVOID) {
    HWND window = CreateWindowExA(0, g_listenerClassName, nullptr, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (window == nullptr) {
        DebugLog("Unable to create window %s\n", g_listenerClassName);
        if (g_listenerReady != nullptr) SetEvent(g_listenerReady);
        return 0;
    }
    ShowWindow(window, SW_HIDE);
    if (g_listenerReady != nullptr) SetEvent(g_listenerReady);

    MSG message;
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) return static_cast<DWORD>(message.wParam);
        if (got == -1) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

bool StartInstanceListener(const char* mainClassName) {
    g_listenerClassName = mainClassName;
    RegisterListenerClass();
    // A later start looks for the window as soon as this start's VM is up; waiting here until the
    // window exists keeps those arguments from being lost to a listener not yet ready.
    g_listenerReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, ListenerThreadMain, nullptr, 0, nullptr);
    if (thread == nullptr) {
        DebugLog("Fail creating thread");
        return false;
    }
    CloseHandle(thread);
    if (g_listenerReady != nullptr) WaitForSingleObject(g_listenerReady, kListenerReadyTimeoutMs);
    return true;
}
