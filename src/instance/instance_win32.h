// Win32 pieces of the single-instance hand-off, for the Win32 side only.
#pragma once

#include <windows.h>

#include <cstddef>

// The window of the running instance to raise: among the top-level windows of processes started
// from an executable with the same file name as exePath (the part after its last backslash, ASCII
// case ignored), as ChooseWindowToRaise picks. Null if none.
HWND FindWindowOfExecutable(const char* exePath);

// Base file name of the first module (the executable) of the process, into name; false when the
// process is not among the first 1024 or cannot be read, or the name does not fit.
bool GetProcessModuleName(DWORD processId, char* name, size_t nameSize);

// Registers the listener's window class (named listenerClassName) for this module.
void RegisterListenerClass();

DWORD WINAPI ListenerThreadMain(LPVOID);
LRESULT CALLBACK ListenerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void DeliverForwardedArguments(const COPYDATASTRUCT* data);
