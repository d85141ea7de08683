// Typed lookup of a DLL export (Win32 only): GetProcAddress returns a generic function pointer.
#pragma once

#include <windows.h>

template <typename Function>
Function GetProcAs(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
