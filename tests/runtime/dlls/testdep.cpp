// Lives only in the runtime's bin folder; jvm.dll imports it, so loading bin\server\jvm.dll by full
// path works only when bin is on the DLL search path, as with a real runtime's C library DLL.
#include <windows.h>

extern "C" __declspec(dllexport) int quorvia_testdep_value(void) { return 1729; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
