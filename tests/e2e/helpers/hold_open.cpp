// Holds a file open as another program would (Java opens jars with read and write sharing), until
// the stop file appears or a minute has passed: hold-open.exe FILE READY STOP [exclusive]
// READY is created once the file is open. With "exclusive" the file is held with no sharing at all.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 4) return 2;
    bool exclusive = __argc > 4 && strcmp(__argv[4], "exclusive") == 0;
    DWORD share = exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE held = CreateFileA(__argv[1], GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 3;
    HANDLE ready = CreateFileA(__argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    for (int waited = 0; waited < 60000; waited += 50) {
        if (GetFileAttributesA(__argv[3]) != INVALID_FILE_ATTRIBUTES) break;
        Sleep(50);
    }
    CloseHandle(held);
    return 0;
}
