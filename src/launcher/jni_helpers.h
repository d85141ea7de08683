// Small helpers through which launcher data crosses into the VM.
#pragma once

#include <jni.h>

jclass FindClassByName(JNIEnv* env, const char* dottedName);
jclass FindClassOrReport(JNIEnv* env, const char* dottedName);
jstring MakeJavaString(JNIEnv* env, const char* text);
jobjectArray MakeJavaStringArray(JNIEnv* env, char** texts, int count);
JavaVM* GetCreatedVm();
