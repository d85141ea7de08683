// Marker library: its presence in bin\ is what makes a folder look like a Java runtime home.
#include <windows.h>

extern "C" __declspec(dllexport) int quorvia_java_marker(void) { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
