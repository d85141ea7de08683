#include "instance/listener_delivery.h"

#include <jni.h>

#include <cstdio>
#include <cstdlib>

#include "base/jni_helpers.h"
#include "instance/forwarded_payload.h"

// Runs with the thread attached; every path leaves no exception pending and no local reference
// behind, so that the thread detaches clean.
static void CallInitSingleApplication(JNIEnv* env, const char* className, char** arguments, int count) {
    jclass mainClass = FindClassOrReport(env, className);
    if (mainClass == nullptr) {
        DebugLog("Cannot Find Class %s\n", className);
        return;
    }
    jmethodID method = env->GetStaticMethodID(mainClass, "initSingleApplication", "([Ljava/lang/String;)V");
    if (method == nullptr) {
        DebugLog("Cannot find method SINGLEINSTANCE_METHOD\n");
        env->ExceptionClear();
        env->DeleteLocalRef(mainClass);
        return;
    }
    jobjectArray array = MakeJavaStringArray(env, arguments, count);
    if (array == nullptr) {
        // The application must not be entered with an exception pending (for example an exhausted
        // heap while building the strings); the request is dropped and the reason printed.
        if (env->ExceptionCheck()) env->ExceptionDescribe();
        env->DeleteLocalRef(mainClass);
        return;
    }
    env->CallStaticVoidMethod(mainClass, method, array);
    env->DeleteLocalRef(array);
    env->DeleteLocalRef(mainClass);
}

void DeliverForwardedPayload(const char* className, uintptr_t tag, void* data, size_t size) {
    fputs("Callback!!!\n", stdout);
    fflush(stdout);
    if (data == nullptr || tag != kForwardTag) return;

    // Only the received bytes are read; a malformed payload is dropped as a whole.
    int count = 0;
    char** arguments = SplitForwardedArguments(data, size, &count);
    if (arguments == nullptr) return;

    JavaVM* vm = GetCreatedVm();
    if (vm != nullptr) {
        JNIEnv* env = nullptr;
        if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) {
            DebugLog("Cannot attach thread");
        } else {
            CallInitSingleApplication(env, className, arguments, count);
        }
        vm->DetachCurrentThread();
    }
    free(arguments);
}
