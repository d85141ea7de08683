#include "jni_helpers.h"

#include <cstdlib>
#include <cstring>

#include "launch_state.h"
#include "vm_options.h"

jclass FindClassByName(JNIEnv* env, const char* dottedName) {
    size_t length = strlen(dottedName);
    char* slashed = static_cast<char*>(AllocOrExit(length + 1));
    for (size_t i = 0; i <= length; i++) slashed[i] = dottedName[i] == '.' ? '/' : dottedName[i];
    jclass found = env->FindClass(slashed);
    free(slashed);
    return found;
}

jclass FindClassOrReport(JNIEnv* env, const char* dottedName) {
    jclass found = FindClassByName(env, dottedName);
    if (found == nullptr) env->ExceptionDescribe();
    return found;
}

jstring MakeJavaString(JNIEnv* env, const char* text) {
    // Strings longer than a jsize can hold cannot become one Java array.
    size_t byteLength = strlen(text);
    if (byteLength > 0x7fffffff) return nullptr;
    jsize length = static_cast<jsize>(byteLength);
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    jmethodID constructor = env->GetMethodID(stringClass, "<init>", "([B)V");
    if (constructor == nullptr) return nullptr;
    jbyteArray bytes = env->NewByteArray(length);
    if (bytes == nullptr) return nullptr;
    env->SetByteArrayRegion(bytes, 0, length, reinterpret_cast<const jbyte*>(text));
    jstring result = nullptr;
    if (env->ExceptionOccurred() == nullptr) {
        result = static_cast<jstring>(env->NewObject(stringClass, constructor, bytes));
    }
    env->DeleteLocalRef(bytes);
    return result;
}

jobjectArray MakeJavaStringArray(JNIEnv* env, char** texts, int count) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    jobjectArray array = env->NewObjectArray(count, stringClass, nullptr);
    if (array == nullptr) return nullptr;
    for (int i = 0; i < count; i++) {
        jstring element = MakeJavaString(env, texts[i]);
        if (element == nullptr) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
        env->SetObjectArrayElement(array, i, element);
        env->DeleteLocalRef(element);
    }
    return array;
}

JavaVM* GetCreatedVm() {
    JavaVM* vm = nullptr;
    jsize count = 0;
    if (g_launch.vmEntryPoints.getCreatedJavaVms != nullptr) {
        g_launch.vmEntryPoints.getCreatedJavaVms(&vm, 1, &count);
    }
    return vm;
}
