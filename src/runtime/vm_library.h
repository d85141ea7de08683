// Choosing bin\{type}\jvm.dll under the runtime home, loading it and binding its JNI entry points.
#pragma once

#include <cstddef>

#include "runtime/runtime_edge.h"

// Walks jvm.cfg's VM types in order to the first whose jvm.dll the runtime has, into vmLibraryPath;
// returns 0, or the exit status of the launch: kExitNoVmType or kExitNoVmLibrary.
int FindKnownVmLibrary(const char* home, char* vmLibraryPath, size_t vmLibraryPathSize);

bool FindVmLibrary(const char* home, const char* vmType, char* path, size_t size);

// The runtime's bin folder, two levels above jvm.dll: the VM library's own dependencies live there.
// False (folder empty) when the path has no such two levels or does not fit.
bool GetVmDependencyFolder(const char* vmLibraryPath, char* folder, size_t size);
