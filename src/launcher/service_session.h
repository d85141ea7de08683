// The launch as a service: where the launch sequence tells the service side what happens, and the
// JNI calls that stop the application.
#pragma once

#include <jni.h>

// Set by the service side before the launch runs under the Service Control Manager, null in every
// other start; read by the launch sequence, which then shows no splash and takes no part in the
// single-instance hand-off.
struct ServiceSession {
    void (*mainCalling)(JavaVM* vm);  // just before main is called: the service is running
    void (*vmExiting)(int status);    // from the VM's exit hook, on the exiting thread
};
extern const ServiceSession* g_serviceSession;

// On the calling thread: attaches it to the VM, calls the static stopMethod(String[]) of stopClass
// (slashed) with no arguments, and detaches. Without a stop class, or when the method is missing or
// throws, exits the VM through System.exit(0) instead, which runs the shutdown hooks and never
// returns on a real VM. False when the thread could not be attached.
bool StopJavaApplication(JavaVM* vm, const char* stopClass, const char* stopMethod);
