// The runtime splash bridge's platform edge: Win32 in splash_bridge_win32.cpp; the unit tests replace
// these functions (tests/unit/test_splash_bridge.cpp). The launcher's own splash window is Win32
// through and through (splash_win32.cpp), behind splash/splash.h.
#pragma once

#include <cstddef>

#include "splash/splash_bridge.h"

void* LoadSplashLibrary(const char* path);
SplashEntry FindSplashLibraryExport(void* library, const char* name);
bool GetCurrentFolder(char* buffer, size_t size);
bool SetCurrentFolder(const char* path);
