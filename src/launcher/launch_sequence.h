// The launch sequence from banner to tear-down, and the two hooks handed to the VM.
#pragma once

#include <jni.h>

int RunLauncher(int argc, char** argv);
void JNICALL AbortHook();
void JNICALL ExitHook(jint code);
