// VM creation from the option list collected in the launch state.
#pragma once

#include "base/launch_state.h"

// Creates the VM from the collected options and releases the option array, whatever the result.
bool CreateVm(const VmEntryPoints& entryPoints, JavaVM** vm, JNIEnv** env);
