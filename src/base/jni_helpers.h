// Small helpers through which launcher data crosses into the VM.
#pragma once

#include <jni.h>

jclass FindClassByName(JNIEnv* env, const char* dottedName);
jclass FindClassOrReport(JNIEnv* env, const char* dottedName);
// The launcher's bytes are in the platform encoding (the ANSI code page on Windows), while since
// Java 18 String(byte[]) reads UTF-8 everywhere. So, as the JDK's own launcher does, strings are
// decoded with the charset the VM names in "sun.jnu.encoding". Looked up once, on the thread that
// created the VM and before any other thread builds strings; without it the default charset decides.
void LookUpPlatformEncoding(JNIEnv* env);
jstring MakeJavaString(JNIEnv* env, const char* text);
jobjectArray MakeJavaStringArray(JNIEnv* env, char** texts, int count);
JavaVM* GetCreatedVm();
