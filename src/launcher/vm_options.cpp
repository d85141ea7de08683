#include "launcher/vm_options.h"

#include <cstdlib>
#include <cstring>

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
