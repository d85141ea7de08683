#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

#include "base/log_file.h"

static HANDLE g_logHandle = INVALID_HANDLE_VALUE;

// With a console as well, each standard stream goes through a pipe that a thread copies to both.
struct TeeStream {
    HANDLE read;
    HANDLE write;     // the pipe's end this file made; the C runtime's stream holds a copy of its own
    HANDLE original;  // a copy of the stream the process had: the C runtime closes its own on _dup2
    HANDLE thread;
};
static TeeStream g_tee[2];

static DWORD WINAPI CopyTee(void* parameter) {
    TeeStream* tee = static_cast<TeeStream*>(parameter);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(tee->read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        DWORD written = 0;
        WriteFile(g_logHandle, buffer, got, &written, nullptr);
        if (tee->original != nullptr && tee->original != INVALID_HANDLE_VALUE)
            WriteFile(tee->original, buffer, got, &written, nullptr);
    }
    return 0;
}

// Makes `handle` the process's and the C runtime's stream `fd` (1 or 2).
static void UseAsStandard(HANDLE handle, DWORD which, int fd) {
    SetStdHandle(which, handle);
    HANDLE own = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return;
    int crt = _open_osfhandle(reinterpret_cast<intptr_t>(own), _O_BINARY | _O_APPEND);
    if (crt < 0) {
        CloseHandle(own);
        return;
    }
    _dup2(crt, fd);
    _close(crt);
    // _dup2 makes the copy inheritable, so every child the application starts would hold the pipe
    // open past the launcher's end, and the copier would wait for it.
    SetHandleInformation(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), HANDLE_FLAG_INHERIT, 0);
}

bool StartLogFile(const char* path, bool alsoConsole) {
    if (g_logHandle != INVALID_HANDLE_VALUE || strlen(path) >= MAX_PATH) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path, GetFileExInfoStandard, &data) &&
        (data.nFileSizeHigh != 0 || data.nFileSizeLow > kLogFileSizeCap)) {
        char older[MAX_PATH + 2];
        snprintf(older, sizeof older, "%s.1", path);
        MoveFileExA(path, older, MOVEFILE_REPLACE_EXISTING);
    }
    // Appending only: writes from the launcher, the VM and native code never overwrite each other.
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    g_logHandle = file;
    NoteLogFilePath(path);
    const DWORD which[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 2; i++) {
        HANDLE write = file;
        TeeStream& tee = g_tee[i];
        if (alsoConsole && CreatePipe(&tee.read, &tee.write, nullptr, 0)) {
            HANDLE current = GetStdHandle(which[i]);
            if (current == nullptr || current == INVALID_HANDLE_VALUE ||
                !DuplicateHandle(GetCurrentProcess(), current, GetCurrentProcess(), &tee.original, 0, FALSE,
                                 DUPLICATE_SAME_ACCESS))
                tee.original = nullptr;
            tee.thread = CreateThread(nullptr, 0, CopyTee, &tee, 0, nullptr);
            if (tee.thread != nullptr) {
                write = tee.write;
            } else {  // nobody would empty the pipe: the stream goes to the file alone
                CloseHandle(tee.read);
                CloseHandle(tee.write);
                if (tee.original != nullptr) CloseHandle(tee.original);
                tee = TeeStream{};
            }
        }
        UseAsStandard(write, which[i], i + 1);
    }
    return true;
}

void FinishLogFile() {
    if (g_tee[0].thread == nullptr && g_tee[1].thread == nullptr) return;
    // Closing every write end of a pipe lets its copier read to the end and stop.
    fflush(stdout);
    fflush(stderr);
    for (int i = 0; i < 2; i++) {
        if (g_tee[i].thread == nullptr) continue;
        _close(i + 1);  // the C runtime's copy of the pipe's end (closing it may clear the standard handle)
        SetStdHandle(i == 0 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE, g_tee[i].original);
        CloseHandle(g_tee[i].write);
        g_tee[i].write = nullptr;
    }
    // One wait of at most 2 s for both: a handle held elsewhere cannot keep the exit waiting twice.
    const DWORD started = GetTickCount();
    for (TeeStream& tee : g_tee) {
        const DWORD spent = GetTickCount() - started;
        if (tee.thread != nullptr) WaitForSingleObject(tee.thread, spent < 2000 ? 2000 - spent : 0);
        tee.thread = nullptr;
    }
}
