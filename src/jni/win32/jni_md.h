/* Machine-dependent JNI types for Windows x64 (LLP64): the JDK's jni.h includes this. */
#ifndef QUORVIA_JNI_MD_WIN32_H
#define QUORVIA_JNI_MD_WIN32_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint; /* 32 bits on Windows, also in 64-bit code */
typedef long long jlong;
typedef signed char jbyte;

#endif
