// The least a GUI-subsystem program can do: start and return. Start-up times are compared with it.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
