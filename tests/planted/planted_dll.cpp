// A DLL planted beside the launcher under a system DLL's name (SHCore.dll, cryptdll.Dll).
// If the launcher ever loads it, it leaves a marker file, so a test can tell.
#include <windows.h>

#include <cstdio>

static void LeaveMarker(const char* what) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("QUORVIA_PLANTED_MARKER", path, sizeof path);
    if (length == 0 || length >= sizeof path) return;
    FILE* marker = fopen(path, "a");
    if (marker == nullptr) return;
    fprintf(marker, "%s\n", what);
    fclose(marker);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker("loaded");
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI SetProcessDpiAwareness(int) {
    LeaveMarker("SetProcessDpiAwareness");
    return S_OK;
}

struct PlantedMd5Context {
    unsigned char bytes[88];
};

extern "C" __declspec(dllexport) void WINAPI MD5Init(PlantedMd5Context*) { LeaveMarker("MD5Init"); }
extern "C" __declspec(dllexport) void WINAPI MD5Update(PlantedMd5Context*, const unsigned char*, unsigned) {}
extern "C" __declspec(dllexport) void WINAPI MD5Final(PlantedMd5Context*) {}
