// Marker library: its presence in bin\ is what makes a folder look like a Java runtime home. The
// stand-in VM loads it by full path at creation, as HotSpot loads java.dll; like the real one it
// imports a library of bin\ (here quorvia_testdep.dll, which jvm.dll has loaded by then).
#include <windows.h>

extern "C" __declspec(dllimport) int quorvia_testdep_value(void);

extern "C" __declspec(dllexport) int quorvia_java_marker(void) { return quorvia_testdep_value() == 1729; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
