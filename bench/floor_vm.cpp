// The least a program can do to reach JNI_CreateJavaVM: load the VM library named by its first argument
// (the runtime's bin folder, which holds DLLs it imports, is the second) and call it with no options. The test runtime records the private bytes it sees then, which
// gives the floor for the launcher's own memory at that moment.
#include <windows.h>

#include <cstring>

namespace {

// The invocation arguments as the JNI ABI lays them out; no option is passed.
struct InitArgs {
    int version;
    int optionCount;
    void* options;
    unsigned char ignoreUnrecognized;
};

typedef int(__stdcall* CreateVmFn)(void** vm, void** env, void* args);

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 3) return 2;
    SetDllDirectoryA(__argv[2]);
    HMODULE library = LoadLibraryExA(__argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) return 3;
    CreateVmFn create = reinterpret_cast<CreateVmFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "JNI_CreateJavaVM")));
    if (create == nullptr) return 4;
    InitArgs args;
    memset(&args, 0, sizeof args);
    args.version = 0x00010008;
    args.ignoreUnrecognized = 1;
    void* vm = nullptr;
    void* env = nullptr;
    return create(&vm, &env, &args) == 0 ? 0 : 5;
}
