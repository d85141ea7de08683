// Starts an application in-process as the launcher does (its VM option list, CreateVm and the
// hand-over to main, linked from the launcher's portable core) against a HotSpot libjvm.so, with
// extra VM options from the command line: the start-up cache rows time this against `java -cp`.
//
// Usage: cache_driver <libjvm.so> <class path> [VM option ...] <main class>

#include <dlfcn.h>
#include <jni.h>

#include <cstdio>
#include <cstring>

#include "base/launch_state.h"
#include "fake_platform.h"
#include "launcher/launch_sequence.h"
#include "launcher/vm_options.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s <libjvm.so> <class path> [VM option ...] <main class>\n", argv[0]);
        return 2;
    }
    ResetFakePlatformAndState();
    // As the launcher loads jvm.dll: the library stays loaded for the life of the process.
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
        fprintf(stderr, "dlopen %s: %s\n", argv[1], dlerror());
        return 2;
    }
    VmEntryPoints& entry = g_launch.vmEntryPoints;
    entry.createJavaVm = reinterpret_cast<CreateJavaVmFn>(dlsym(library, "JNI_CreateJavaVM"));
    entry.getDefaultJavaVmInitArgs =
        reinterpret_cast<GetDefaultJavaVmInitArgsFn>(dlsym(library, "JNI_GetDefaultJavaVMInitArgs"));
    entry.getCreatedJavaVms = reinterpret_cast<GetCreatedJavaVmsFn>(dlsym(library, "JNI_GetCreatedJavaVMs"));

    AssignGrowableString(&g_launch.classPath, argv[2]);
    for (int i = 3; i < argc - 1; i++) AddVmOption(argv[i], nullptr);
    AddClassPathOption();
    AddVmOption("abort", reinterpret_cast<void*>(&AbortHook));
    AddVmOption("exit", reinterpret_cast<void*>(&ExitHook));

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (!CreateVm(entry, &vm, &env)) {
        fprintf(stderr, "CREATE failed\n");
        return 1;
    }
    g_launch.mainClassName = argv[argc - 1];
    return RunApplication(vm, env, true, 0, nullptr);
}
