// The launch sequence from banner to tear-down, and the two hooks handed to the VM.
#pragma once

#include <jni.h>

int RunLauncher(int argc, char** argv);

// The hand-over once the VM exists: finds the main class, forwards to a running instance or starts
// the listener, calls main with the application arguments, detaches and destroys the VM.
// Returns the exit status.
int RunApplication(JavaVM* vm, JNIEnv* env, bool instanceIsFirst, int argc, char** argv);
void JNICALL AbortHook();
void JNICALL ExitHook(jint code);
