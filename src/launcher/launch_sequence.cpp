#include "launcher/launch_sequence.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/base_edge.h"
#include "base/diagnostics.h"
#include "base/exit_status.h"
#include "base/jni_helpers.h"
#include "base/log_file.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "cache/embedded_jar.h"
#include "cache/jar_copy.h"
#include "instance/single_instance.h"
#include "launcher/installed_options.h"
#include "launcher/launch_environment.h"
#include "launcher/launch_settings.h"
#include "launcher/vm_option_list.h"
#include "launcher/service_session.h"
#include "launcher/vm_options.h"
#include "runtime/runtime_edge.h"
#include "runtime/runtime_search.h"
#include "runtime/vm_library.h"
#include "splash/splash.h"
#include "startup/startup_cache.h"
#include "sync/mirror_by_index.h"
#include "sync/mirror_by_listing.h"
#include "sync/mirror_root.h"

void JNICALL AbortHook() {}

void JNICALL ExitHook(jint code) {
    g_launch.appExitCode = code;
    FinishLogFile();
    if (g_serviceSession != nullptr) g_serviceSession->vmExiting(code);
}

static bool g_mainCalled = false;

static void PrintBanner() {
    PrintNote(stdout, "Quorvia Launcher (Quorvia Ltd.) Version 3.0 (build %s)\nCopyright (c) 2019-2026 Quorvia Ltd.\n\n",
                 __DATE__);
}

static void PrintDebugInfo(int argc, char** argv) {
    PrintMessage(stdout, "Main-Class is '%s'\n", g_launch.mainClassName ? g_launch.mainClassName : "");
    PrintMessage(stdout, "App's (%d)\n", argc);
    for (int i = 0; i < argc; i++) PrintMessage(stdout, "    argv[%2d] = '%s'\n", i, argv[i]);
}

// ---- Phases before the VM ----

// The SyncFolder mode before the runtime is looked for: the first instance mirrors the source folder,
// a later one waits for it and reads the libs jars. False when the mirror kept foreign code or code
// it could not bring up to date.
static bool EnterSyncFolder(bool instanceIsFirst) {
    if (g_serviceSession == nullptr) ShowLauncherSplash(g_launch.splashOption);
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
    if (MirrorLeftStaleCode() != nullptr) {
        ReportFatal("Could not update %s from the sync folder; the application was not started.\n",
                    MirrorLeftStaleCode());
        return false;
    }
    return true;
}

// Finds the runtime home and binds the VM library (whose path it leaves in vmLibraryPath); returns 0
// or the exit status to return.
static int LocateAndLoadRuntime(bool instanceIsFirst, char* home, size_t homeSize, char* vmLibraryPath,
                                size_t vmLibraryPathSize) {
    if (ChooseLaunchMode() == SyncFolder && !EnterSyncFolder(instanceIsFirst)) return kExitLaunchFailed;
    if (!FindLaunchRuntimeHome(home, homeSize)) {
        if (RuntimeSearchedByRule()) return kExitNoRuntime;  // its search told the user, in one message
        ReportFatal("Error: could not find Java 2 Runtime Environment (%s).\n",
                    g_launch.jreVersion ? g_launch.jreVersion
                                        : "looked for bin\\java.dll and jre\\bin\\java.dll in the application's folder, "
                                          "and for a version under HKLM\\SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment");
        return kExitNoRuntime;
    }
    int status = FindKnownVmLibrary(home, vmLibraryPath, vmLibraryPathSize);
    if (status != 0) return status;

    g_launch.vmEntryPoints.createJavaVm = nullptr;
    g_launch.vmEntryPoints.getDefaultJavaVmInitArgs = nullptr;
    g_launch.vmEntryPoints.getCreatedJavaVms = nullptr;
    if (!LoadVmLibrary(vmLibraryPath, &g_launch.vmEntryPoints)) return kExitVmLibraryUnusable;
    AssignGrowableString(&g_launch.runtimeHome, home);
    return 0;
}

// Outside the SyncFolder mode: the jar the VM is to run, the jar path's or the embedded one, put into
// the cache as needed. False when it could not be saved there.
static bool PrepareApplicationJar() {
    g_launch.agentJarPath = g_launch.launchMode == JarPath ? CacheJarPath() : CacheEmbeddedJar();
    if (g_launch.agentJarPath == nullptr && g_launch.launchMode == JarPath && MissingJarPath() != nullptr) {
        ReportFatal("Could not save cache.\nThe application's jar %s was not found, and no earlier copy is in the "
                    "cache.\n", MissingJarPath());
        return false;
    }
    if (g_launch.agentJarPath == nullptr) {
        ReportFatal("Could not save cache.\n");
        return false;
    }
    return true;
}

// The option list in its order: the agent, the start-up cache, the VM-OPTIONS items, the class
// path, the two hooks. agentOption is referenced by the list until the VM exists, so the caller
// keeps it until CreateVm.
static void CollectVmOptions(char* agentOption, size_t agentOptionSize, const char* vmLibraryPath, int vmOptionCount,
                             char** vmOptionItems) {
    static StartupCacheOptions startupCacheOptions;  // referenced by the list until the VM exists
    CompleteClassPath(agentOption, agentOptionSize, g_launch.runtimeHome.text);
    AddInstalledClassPath();
    FormLaunchStartupCacheOptions(vmLibraryPath, vmOptionCount, vmOptionItems, &startupCacheOptions);
    AddCollectedVmOptions(&startupCacheOptions, vmOptionCount, vmOptionItems, &AddInstalledVmOptions);
    AddVmOption("abort", reinterpret_cast<void*>(&AbortHook));
    AddVmOption("exit", reinterpret_cast<void*>(&ExitHook));
}

static int RunLaunch(int argc, char** argv) {
    PrintBanner();
    InitLaunchStateStrings();

    int status = kExitLaunchFailed;
    int vmOptionCount = 0;
    char** vmOptionItems = nullptr;
    if (!ReadLaunchSettings(&argc, &argv, &vmOptionCount, &vmOptionItems, &status)) return status;
    // What remains after the program path are the application's own arguments.
    if (argc > 0) {
        argc--;
        argv++;
    }
    if (!ComposeApplicationArguments(&argc, &argv)) return kExitLaunchFailed;
    if (!ReadMainClassName()) return kExitNoMainClass;

    // A service shows nothing and hands nothing over: it is the one instance the SCM runs.
    bool instanceIsFirst = g_serviceSession != nullptr || CheckSingleInstance(g_launch.mainClassName);
    if (IsEmpty(g_launch.syncPath.text)) ReleaseFirstInstanceHold();

    char home[1024] = "";
    char vmLibraryPath[1024] = "";
    status = LocateAndLoadRuntime(instanceIsFirst, home, sizeof home, vmLibraryPath, sizeof vmLibraryPath);
    if (status != 0) return status;
    if (g_launch.launchMode == SyncFolder) CloseLauncherSplash();
    if (g_serviceSession == nullptr) ShowRuntimeSplash(g_launch.splashOption);
    if (g_launch.launchMode != SyncFolder && !PrepareApplicationJar()) return kExitLaunchFailed;

    char agentOption[1024];
    CollectVmOptions(agentOption, sizeof agentOption, vmLibraryPath, vmOptionCount, vmOptionItems);
    if (!EnterWorkingFolder()) return kExitLaunchFailed;
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (!CreateVm(g_launch.vmEntryPoints, &vm, &env)) {
        ReportFatal("Could not create the Java virtual machine.\n");
        return kExitLaunchFailed;
    }
    return RunApplication(vm, env, instanceIsFirst, argc, argv);
}

int RunLauncher(int argc, char** argv) {
    if (getenv("_JAVA_LAUNCHER_DEBUG") != nullptr) g_launch.debugEnabled = true;
    SetNotesQuiet(IsConsoleProgram() && !g_launch.debugEnabled);
    if (!StartLaunchLog()) return kExitLaunchFailed;
    int status = RunLaunch(argc, argv);
    if (!g_mainCalled) ReportLaunchLog(status);
    FinishLogFile();
    return status;
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
static bool CallMainMethod(JavaVM* vm, JNIEnv* env, bool instanceIsFirst, int argc, char** argv) {
    jclass mainClass = FindClassOrReport(env, g_launch.mainClassName);
    if (mainClass == nullptr) return false;
    if (g_serviceSession == nullptr && !JoinSingleApplication(env, mainClass, instanceIsFirst, argc, argv)) return false;

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
    g_mainCalled = true;
    if (g_serviceSession != nullptr) g_serviceSession->mainCalling(vm);
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
    int status = kExitLaunchFailed;
    if (CallMainMethod(vm, env, instanceIsFirst, argc, argv)) {
        if (vm->DetachCurrentThread() == JNI_OK) {
            status = g_launch.appExitCode;
        } else {
            PrintMessage(stderr, "Could not detach main thread.\n");
        }
    }
    TearDown(vm);
    return status;
}
