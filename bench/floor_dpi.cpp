// A GUI program that only does the start-up step every launch must do before its first window:
// set the process DPI awareness, through User32 and SHCore as the launcher does, then return.
// Under Wine, loading User32 alone initialises the whole GDI font system.
#include <windows.h>

typedef HRESULT(WINAPI* SetProcessDpiAwarenessFn)(int awareness);

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LoadLibraryW(L"User32.dll");
    HMODULE shcore = LoadLibraryW(L"SHCore.dll");
    FARPROC proc = shcore != nullptr ? GetProcAddress(shcore, "SetProcessDpiAwareness") : nullptr;
    SetProcessDpiAwarenessFn setAwareness = nullptr;
    if (proc != nullptr) memcpy(&setAwareness, &proc, sizeof proc);
    if (setAwareness != nullptr) setAwareness(0);
    return 0;
}
