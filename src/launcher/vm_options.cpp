#include "vm_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diagnostics.h"

void* AllocOrExit(size_t size) {
    void* block = malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        PrintMessage(stderr, "malloc: %s\n", strerror(ENOMEM));
        exit(1);
    }
    return block;
}

void AddVmOption(const char* text, void* extraInfo) {
    JvmOptionList& list = g_launch.jvmOptions;
    if (list.count >= list.capacity) {
        if (list.options == nullptr) {
            list.capacity = 4;
            list.options = static_cast<JavaVMOption*>(AllocOrExit(sizeof(JavaVMOption) * 4));
        } else {
            int grown = list.capacity * 2;
            JavaVMOption* larger = static_cast<JavaVMOption*>(AllocOrExit(sizeof(JavaVMOption) * grown));
            memcpy(larger, list.options, sizeof(JavaVMOption) * list.count);
            free(list.options);
            list.options = larger;
            list.capacity = grown;
        }
    }
    // JavaVMOption.optionString is non-const in jni.h, but the VM only reads it.
    list.options[list.count].optionString = const_cast<char*>(text);
    list.options[list.count].extraInfo = extraInfo;
    list.count++;
}

void AddVmOptions(int count, char** texts) {
    for (int i = 0; i < count; i++) AddVmOption(texts[i], nullptr);
}

void AddClassPathOption() {
    const char* classPath = g_launch.classPath.text ? g_launch.classPath.text : "";
    size_t size = strlen(classPath) + 40;
    char* option = static_cast<char*>(AllocOrExit(size));
    snprintf(option, size, "-Djava.class.path=%s", classPath);
    AddVmOption(option, nullptr);
}

bool CreateVm(const VmEntryPoints& entryPoints, JavaVM** vm, JNIEnv** env) {
    JavaVMInitArgs args;
    memset(&args, 0, sizeof args);
    args.version = JNI_VERSION_1_2;
    args.nOptions = g_launch.jvmOptions.count;
    args.options = g_launch.jvmOptions.options;
    args.ignoreUnrecognized = JNI_FALSE;

    jint result = JNI_ERR;
    if (entryPoints.createJavaVm != nullptr) {
        result = entryPoints.createJavaVm(vm, reinterpret_cast<void**>(env), &args);
    }
    free(g_launch.jvmOptions.options);
    g_launch.jvmOptions.options = nullptr;
    g_launch.jvmOptions.count = 0;
    g_launch.jvmOptions.capacity = 0;
    return result == JNI_OK;
}
