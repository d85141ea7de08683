#include "launcher/launch_sequence.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/jni_helpers.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "cache/cache_folder.h"
#include "cache/jar_copy.h"
#include "cache/startup_archive.h"
#include "cache/sync_index_mirror.h"
#include "cache/sync_mirror.h"
#include "config/config_file.h"
#include "config/resource_lists.h"
#include "config/resources.h"
#include "instance/single_instance.h"
#include "launcher/options.h"
#include "launcher/vm_options.h"
#include "runtime/heap_sizing.h"
#include "runtime/jvm_config.h"
#include "runtime/runtime_edge.h"
#include "runtime/runtime_home.h"
#include "runtime/vm_library.h"
#include "splash/splash.h"

void JNICALL AbortHook() {}

void JNICALL ExitHook(jint code) { g_launch.appExitCode = code; }

static void PrintBanner() {
    PrintMessage(stdout, "Quorvia Launcher (Quorvia Ltd.) Version 3.0 (build %s)\nCopyright (c) 2019-2026 Quorvia Ltd.\n\n",
                 __DATE__);
}

static void PrintDebugInfo(int argc, char** argv) {
    PrintMessage(stdout, "Main-Class is '%s'\n", g_launch.mainClassName ? g_launch.mainClassName : "");
    PrintMessage(stdout, "App's (%d)\n", argc);
    for (int i = 0; i < argc; i++) PrintMessage(stdout, "    argv[%2d] = '%s'\n", i, argv[i]);
}

// ---- Phases before the VM ----

// The launcher's options from the command line and from VM-OPTIONS, then the configuration file,
// heap sizing, the SYNC-PATH resource and DPI awareness. False with *status set on a malformed option.
static bool ReadLaunchSettings(int* argc, char*** argv, int* vmOptionCount, char*** vmOptionItems, int* status) {
    if (!ParseLauncherOptions(argc, argv, status)) return false;
    *vmOptionCount = SplitVmOptions(vmOptionItems);
    int ignoredStatus = 0;
    ParseLauncherOptions(vmOptionCount, vmOptionItems, &ignoredStatus);

    ReadConfigFile();
    ApplyHeapSizing();
    if (IsEmpty(g_launch.syncPath.text)) {
        char* resourceSyncPath = ReadSyncPathResource();
        SetSyncPath(resourceSyncPath, false);
        free(resourceSyncPath);
    }
    SetDpiAwareness(g_launch.dpiScaling);
    g_launch.startupCacheMarked = ReadStartupCacheMark();
    return true;
}

// The SyncFolder mode before the runtime is looked for: the first instance mirrors the source folder,
// a later one waits for it and reads the libs jars. False when the mirror kept foreign code.
static bool EnterSyncFolder(bool instanceIsFirst) {
    g_launch.launchMode = SyncFolder;
    ShowLauncherSplash(g_launch.splashOption);
    if (instanceIsFirst) {
        if (!MirrorSyncFolderByIndex(g_launch.syncPath.text)) MirrorSyncFolder(g_launch.syncPath.text, ".");
        ReleaseFirstInstanceHold();
    } else {
        WaitForFirstInstance();
        AddSyncLibsToClassPath();
    }
    if (MirrorKeptForeignCode()) {
        ReportFatal("Refused to run files that belong to another account.\n");
        return false;
    }
    return true;
}

// Finds the runtime home and binds the VM library; returns 0 or the exit status to return.
static int LocateAndLoadRuntime(bool instanceIsFirst, char* home, size_t homeSize) {
    bool found;
    if (!IsEmpty(g_launch.syncPath.text)) {
        if (!EnterSyncFolder(instanceIsFirst)) return 1;
        found = FindSyncRuntimeHome(home, homeSize);
    } else {
        found = FindRuntimeHome(home, homeSize);
    }
    if (!found) {
        ReportFatal("Error: could not find Java 2 Runtime Environment (%s).\n",
                    g_launch.jreVersion ? g_launch.jreVersion : "(null)");
        return 2;
    }
    char vmLibraryPath[1024] = "";
    int status = FindKnownVmLibrary(home, vmLibraryPath, sizeof vmLibraryPath);
    if (status != 0) return status;

    g_launch.vmEntryPoints.createJavaVm = nullptr;
    g_launch.vmEntryPoints.getDefaultJavaVmInitArgs = nullptr;
    g_launch.vmEntryPoints.getCreatedJavaVms = nullptr;
    if (!LoadVmLibrary(vmLibraryPath, &g_launch.vmEntryPoints)) return 6;
    AssignGrowableString(&g_launch.runtimeHome, home);
    return 0;
}

// Outside the SyncFolder mode: the jar the VM is to run, from JAR-PATH or the embedded jar, put into
// the cache as needed. False when it could not be saved there.
static bool PrepareApplicationJar() {
    if (IsEmpty(g_launch.jarPath)) g_launch.jarPath = const_cast<char*>(ReadJarPathResource());
    if (!IsEmpty(g_launch.jarPath)) {
        g_launch.launchMode = JarPath;
        g_launch.agentJarPath = CacheJarPath();
    } else {
        g_launch.launchMode = EmbeddedCache;
        g_launch.agentJarPath = CacheEmbeddedJar();
    }
    if (g_launch.agentJarPath == nullptr) {
        ReportFatal("Could not save cache.\n");
        return false;
    }
    return true;
}

// The option list in its order: the agent, the start-up archive, the VM-OPTIONS items, the class
// path, the two hooks. agentOption is referenced by the
// list until the VM exists, so the caller keeps it until CreateVm.
static void CollectVmOptions(char* agentOption, size_t agentOptionSize, int vmOptionCount, char** vmOptionItems) {
    static StartupCacheOptions startupArchiveOptions;  // referenced by the list until the VM exists
    if (!IsEmpty(g_launch.agentJarPath)) {
        AppendClassPath(g_launch.agentJarPath);
        if (g_launch.cryptEnabled) {
            snprintf(agentOption, agentOptionSize, "-javaagent:%s", g_launch.agentJarPath);
            AddVmOption(agentOption, nullptr);
        }
    }
    char* resourceClassPath = BuildResourceClassPath(g_launch.runtimeHome.text);
    if (resourceClassPath != nullptr) AppendClassPath(resourceClassPath);
    FormLaunchStartupArchiveOptions(vmOptionCount, vmOptionItems, &startupArchiveOptions);
    for (int i = 0; i < startupArchiveOptions.count; i++) AddVmOption(startupArchiveOptions.text[i], nullptr);
    AddVmOptions(vmOptionCount, vmOptionItems);
    AddClassPathOption();
    AddVmOption("abort", reinterpret_cast<void*>(&AbortHook));
    AddVmOption("exit", reinterpret_cast<void*>(&ExitHook));
}

int RunLauncher(int argc, char** argv) {
    PrintBanner();
    if (getenv("_JAVA_LAUNCHER_DEBUG") != nullptr) g_launch.debugEnabled = true;
    InitLaunchStateStrings();

    int status = 1;
    int vmOptionCount = 0;
    char** vmOptionItems = nullptr;
    if (!ReadLaunchSettings(&argc, &argv, &vmOptionCount, &vmOptionItems, &status)) return status;
    // What remains after the program path are the application's own arguments.
    if (argc > 0) {
        argc--;
        argv++;
    }
    if (IsEmpty(g_launch.mainClassName)) g_launch.mainClassName = ReadMainClassResource();
    if (IsEmpty(g_launch.mainClassName)) return -1;

    bool instanceIsFirst = CheckSingleInstance(g_launch.mainClassName);
    if (IsEmpty(g_launch.syncPath.text)) ReleaseFirstInstanceHold();

    char home[1024] = "";
    status = LocateAndLoadRuntime(instanceIsFirst, home, sizeof home);
    if (status != 0) return status;
    if (g_launch.launchMode == SyncFolder) CloseLauncherSplash();
    ShowRuntimeSplash(g_launch.splashOption);
    if (g_launch.launchMode != SyncFolder && !PrepareApplicationJar()) return 1;

    char agentOption[1024];
    CollectVmOptions(agentOption, sizeof agentOption, vmOptionCount, vmOptionItems);
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (!CreateVm(g_launch.vmEntryPoints, &vm, &env)) {
        ReportFatal("Could not create the Java virtual machine.\n");
        return 1;
    }
    return RunApplication(vm, env, instanceIsFirst, argc, argv);
}

// ---- Phases once the VM exists ----

// Destroys the VM, then frees the three strings the tear-down owns; the rest of the launch state
// lives until the process ends (base/launch_state.h says which and why).
static void TearDown(JavaVM* vm) {
    vm->DestroyJavaVM();
    free(g_launch.classPath.text);
    free(g_launch.configFilePath.text);
    free(g_launch.syncPath.text);
    g_launch.classPath = GrowableString{nullptr, 0};
    g_launch.configFilePath = GrowableString{nullptr, 0};
    g_launch.syncPath = GrowableString{nullptr, 0};
}

// A main class with initSingleApplication takes part in the single-instance hand-off: a later
// instance forwards its arguments and ends (false), the first starts the listener.
static bool JoinSingleApplication(JNIEnv* env, jclass mainClass, bool instanceIsFirst, int argc, char** argv) {
    jmethodID initSingleApplication =
        env->GetStaticMethodID(mainClass, "initSingleApplication", "([Ljava/lang/String;)V");
    if (initSingleApplication == nullptr) {
        env->ExceptionClear();
        return true;
    }
    if (!instanceIsFirst) {
        ForwardToRunningInstance(g_launch.mainClassName, argc, argv);
        return false;
    }
    StartInstanceListener(g_launch.mainClassName);
    return true;
}

// Calls the main class's main with the application arguments; false when it could not be called or
// ended with an exception.
static bool CallMainMethod(JNIEnv* env, bool instanceIsFirst, int argc, char** argv) {
    jclass mainClass = FindClassOrReport(env, g_launch.mainClassName);
    if (mainClass == nullptr) return false;
    if (!JoinSingleApplication(env, mainClass, instanceIsFirst, argc, argv)) return false;

    jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (mainMethod == nullptr) {
        if (env->ExceptionOccurred() != nullptr) {
            env->ExceptionDescribe();
        } else {
            ReportFatal("No main method found in specified class.\n");
        }
        return false;
    }
    jobjectArray arguments = MakeJavaStringArray(env, argv, argc);
    if (arguments == nullptr) {
        env->ExceptionDescribe();
        return false;
    }
    CloseLauncherSplash();
    env->CallStaticVoidMethod(mainClass, mainMethod, arguments);
    if (env->ExceptionOccurred() != nullptr) {
        env->ExceptionDescribe();
        return false;
    }
    return true;
}

int RunApplication(JavaVM* vm, JNIEnv* env, bool instanceIsFirst, int argc, char** argv) {
    if (g_launch.debugEnabled) PrintDebugInfo(argc, argv);
    LookUpPlatformEncoding(env);
    int status = 1;
    if (CallMainMethod(env, instanceIsFirst, argc, argv)) {
        if (vm->DetachCurrentThread() == JNI_OK) {
            status = g_launch.appExitCode;
        } else {
            PrintMessage(stderr, "Could not detach main thread.\n");
        }
    }
    TearDown(vm);
    return status;
}
