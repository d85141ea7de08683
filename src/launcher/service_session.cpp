#include "launcher/service_session.h"

#include <cstdio>

#include "base/diagnostics.h"
#include "base/jni_helpers.h"

const ServiceSession* g_serviceSession = nullptr;

// The application's stop method; false when it is missing or threw (described on stderr).
static bool CallStopMethod(JNIEnv* env, const char* stopClass, const char* stopMethod) {
    jclass owner = env->FindClass(stopClass);
    jmethodID method = owner ? env->GetStaticMethodID(owner, stopMethod, "([Ljava/lang/String;)V") : nullptr;
    if (method == nullptr) {
        env->ExceptionClear();
        PrintMessage(stderr, "No static method %s(String[]) in %s; exiting the VM to stop.\n", stopMethod, stopClass);
        return false;
    }
    jobjectArray noArguments = MakeJavaStringArray(env, nullptr, 0);
    if (noArguments != nullptr) env->CallStaticVoidMethod(owner, method, noArguments);
    if (noArguments == nullptr || env->ExceptionCheck()) {
        env->ExceptionDescribe();
        return false;
    }
    return true;
}

bool StopJavaApplication(JavaVM* vm, const char* stopClass, const char* stopMethod) {
    JNIEnv* env = nullptr;
    JavaVMAttachArgs attach = {JNI_VERSION_1_2, const_cast<char*>("Service stop"), nullptr};
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), &attach) != JNI_OK) return false;
    if (stopClass[0] == '\0' || !CallStopMethod(env, stopClass, stopMethod)) {
        jclass system = env->FindClass("java/lang/System");
        jmethodID exit = system ? env->GetStaticMethodID(system, "exit", "(I)V") : nullptr;
        if (exit != nullptr) env->CallStaticVoidMethod(system, exit, 0);
        env->ExceptionClear();
    }
    vm->DetachCurrentThread();
    return true;
}
