// The least a program can do to run a Java application in its own process: load the VM library named
// by its first argument (the runtime's bin folder, which holds DLLs it imports, is the second), create
// the VM and, when a class path and a main class follow, call that class's main with no arguments and
// destroy the VM, as `java -cp PATH CLASS` would. With two arguments it stops once the VM is created;
// the test runtime records the private bytes it sees then, which gives the floor for the launcher's
// own memory at that moment.
#include <windows.h>
#include <jni.h>

#include <cstdio>
#include <cstring>

namespace {

// Exit statuses that tell which step failed.
enum HostStatus { kOk = 0, kUsage = 2, kNoLibrary = 3, kNoEntry = 4, kNoVm = 5, kNoMain = 6, kMainThrew = 7 };

typedef jint(JNICALL* CreateVmFn)(JavaVM** vm, void** env, void* args);

int CallMain(JNIEnv* env, const char* mainClass) {
    char slashed[512];
    if (strlen(mainClass) >= sizeof slashed) return kUsage;
    strcpy(slashed, mainClass);
    for (char* c = slashed; *c != '\0'; ++c)
        if (*c == '.') *c = '/';
    jclass app = env->FindClass(slashed);
    jmethodID main = app != nullptr ? env->GetStaticMethodID(app, "main", "([Ljava/lang/String;)V") : nullptr;
    jclass stringClass = main != nullptr ? env->FindClass("java/lang/String") : nullptr;
    jobjectArray args = stringClass != nullptr ? env->NewObjectArray(0, stringClass, nullptr) : nullptr;
    if (args == nullptr) {
        env->ExceptionClear();
        return kNoMain;
    }
    env->CallStaticVoidMethod(app, main, args);
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return kMainThrew;
    }
    return kOk;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc != 3 && __argc != 5) return kUsage;
    SetDllDirectoryA(__argv[2]);
    HMODULE library = LoadLibraryExA(__argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) return kNoLibrary;
    CreateVmFn create = reinterpret_cast<CreateVmFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "JNI_CreateJavaVM")));
    if (create == nullptr) return kNoEntry;

    char classPathOption[MAX_PATH + 32];
    JavaVMOption options[1];
    JavaVMInitArgs args;
    memset(&args, 0, sizeof args);
    args.version = JNI_VERSION_1_8;
    args.ignoreUnrecognized = JNI_TRUE;
    if (__argc == 5) {
        int written = snprintf(classPathOption, sizeof classPathOption, "-Djava.class.path=%s", __argv[3]);
        if (written < 0 || static_cast<size_t>(written) >= sizeof classPathOption) return kUsage;
        options[0].optionString = classPathOption;
        options[0].extraInfo = nullptr;
        args.options = options;
        args.nOptions = 1;
    }
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (create(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) return kNoVm;
    if (__argc == 3) return kOk;
    int status = CallMain(env, __argv[4]);
    vm->DestroyJavaVM();
    return status;
}
