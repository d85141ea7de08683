// The VM option list handed to JNI_CreateJavaVM, VM creation, and the allocation routine that never returns null.
#pragma once

#include "launch_state.h"

void* AllocOrExit(size_t size);

// Appends one record; the list keeps the pointer, so `text` must outlive VM creation.
void AddVmOption(const char* text, void* extraInfo);
void AddVmOptions(int count, char** texts);
void AddClassPathOption();

// Creates the VM from the collected options and releases the option array, whatever the result.
bool CreateVm(const VmEntryPoints& entryPoints, JavaVM** vm, JNIEnv** env);
