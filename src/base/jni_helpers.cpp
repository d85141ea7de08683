#include "base/jni_helpers.h"

#include <cstdlib>
#include <cstring>

#include "base/launch_state.h"
#include "base/text.h"

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

// True, with the exception cleared, when the last call left one pending.
static bool ClearedFailure(JNIEnv* env) {
    if (env->ExceptionCheck() == JNI_FALSE) return false;
    env->ExceptionClear();
    return true;
}

// A charset name that String(byte[], String) refuses counts as none, so that the default
// constructor still gives the application its arguments.
static bool IsUsableCharsetName(JNIEnv* env, jstring charsetName) {
    jclass stringClass = env->FindClass("java/lang/String");
    if (ClearedFailure(env) || stringClass == nullptr) return false;
    jmethodID constructor = env->GetMethodID(stringClass, "<init>", "([BLjava/lang/String;)V");
    jbyteArray empty = nullptr;
    jobject probe = nullptr;
    if (!ClearedFailure(env) && constructor != nullptr) {
        empty = env->NewByteArray(0);
        if (!ClearedFailure(env) && empty != nullptr) {
            probe = env->NewObject(stringClass, constructor, empty, charsetName);
            if (ClearedFailure(env)) probe = nullptr;
        }
    }
    bool usable = probe != nullptr;
    if (probe != nullptr) env->DeleteLocalRef(probe);
    if (empty != nullptr) env->DeleteLocalRef(empty);
    env->DeleteLocalRef(stringClass);
    return usable;
}

void LookUpPlatformEncoding(JNIEnv* env) {
    jclass systemClass = env->FindClass("java/lang/System");
    if (ClearedFailure(env) || systemClass == nullptr) return;
    jmethodID getProperty =
        env->GetStaticMethodID(systemClass, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    jstring key = nullptr;
    jstring value = nullptr;
    if (!ClearedFailure(env) && getProperty != nullptr) {
        key = env->NewStringUTF("sun.jnu.encoding");
        if (!ClearedFailure(env) && key != nullptr) {
            value = static_cast<jstring>(env->CallStaticObjectMethod(systemClass, getProperty, key));
            if (ClearedFailure(env)) value = nullptr;
        }
    }
    // Global: the listener thread builds strings with it too.
    if (value != nullptr && IsUsableCharsetName(env, value)) {
        g_launch.platformEncoding = static_cast<jstring>(env->NewGlobalRef(value));
    }
    if (value != nullptr) env->DeleteLocalRef(value);
    if (key != nullptr) env->DeleteLocalRef(key);
    env->DeleteLocalRef(systemClass);
}

jstring MakeJavaString(JNIEnv* env, const char* text) {
    // Strings longer than a jsize can hold cannot become one Java array.
    size_t byteLength = strlen(text);
    if (byteLength > 0x7fffffff) return nullptr;
    jsize length = static_cast<jsize>(byteLength);
    jstring encoding = g_launch.platformEncoding;
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr) return nullptr;
    jmethodID constructor =
        env->GetMethodID(stringClass, "<init>", encoding != nullptr ? "([BLjava/lang/String;)V" : "([B)V");
    if (constructor == nullptr) return nullptr;
    jbyteArray bytes = env->NewByteArray(length);
    if (bytes == nullptr) return nullptr;
    env->SetByteArrayRegion(bytes, 0, length, reinterpret_cast<const jbyte*>(text));
    jstring result = nullptr;
    if (env->ExceptionOccurred() == nullptr) {
        result = static_cast<jstring>(encoding != nullptr ? env->NewObject(stringClass, constructor, bytes, encoding)
                                                          : env->NewObject(stringClass, constructor, bytes));
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
