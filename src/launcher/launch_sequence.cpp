#include "launcher/launch_sequence.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diagnostics.h"
#include "base/jni_helpers.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "cache/cache_folder.h"
#include "cache/jar_copy.h"
#include "cache/sync_mirror.h"
#include "config/config_file.h"
#include "config/resource_lists.h"
#include "config/resources.h"
#include "instance/single_instance.h"
#include "launcher/options.h"
#include "launcher/vm_options.h"
#include "runtime/heap_sizing.h"
#include "runtime/jvm_config.h"
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

// Finds the runtime home and binds the VM library; returns 0 or the exit status to return.
static int LocateAndLoadRuntime(bool instanceIsFirst, char* home, size_t homeSize, char* vmLibraryPath,
                                size_t vmLibraryPathSize) {
    bool found;
    if (!IsEmpty(g_launch.syncPath.text)) {
        g_launch.launchMode = SyncFolder;
        ShowLauncherSplash(g_launch.splashOption);
        if (instanceIsFirst) {
            MirrorSyncFolder(g_launch.syncPath.text, ".");
            ReleaseFirstInstanceHold();
        } else {
            WaitForFirstInstance();
            AddSyncLibsToClassPath();
        }
        if (MirrorKeptForeignCode()) {
            ReportFatal("Refused to run files that belong to another account.\n");
            return 1;
        }
        found = FindSyncRuntimeHome(home, homeSize);
    } else {
        found = FindRuntimeHome(home, homeSize);
    }
    if (!found) {
        ReportFatal("Error: could not find Java 2 Runtime Environment (%s).\n",
                    g_launch.jreVersion ? g_launch.jreVersion : "(null)");
        return 2;
    }

    int knownVms = ReadKnownVms(home);
    if (knownVms < 1) return 3;
    bool vmFound = false;
    for (int i = 0; i < knownVms && !vmFound; i++) {
        const char* entry = g_knownVms[i];
        // The type is the name after its first character (the dash). An empty name has none to drop,
        // and a one-character name leaves the empty type, which would name bin\jvm.dll: no runtime
        // keeps a VM there, and a VM there could not find its home. Both are skipped.
        if (entry == nullptr || entry[0] == '\0' || entry[1] == '\0') continue;
        vmFound = FindVmLibrary(home, entry + 1, vmLibraryPath, vmLibraryPathSize);
    }
    if (!vmFound) {
        ReportFatal("Error: could not find a Java Virtual Machine.\n");
        return 5;
    }
    ReleaseKnownVmTable();

    g_launch.vmEntryPoints.createJavaVm = nullptr;
    g_launch.vmEntryPoints.getDefaultJavaVmInitArgs = nullptr;
    g_launch.vmEntryPoints.getCreatedJavaVms = nullptr;
    if (!LoadVmLibrary(vmLibraryPath, &g_launch.vmEntryPoints)) return 6;
    return 0;
}

static void TearDown(JavaVM* vm) {
    vm->DestroyJavaVM();
    free(g_launch.classPath.text);
    free(g_launch.configFilePath.text);
    free(g_launch.syncPath.text);
    g_launch.classPath = GrowableString{nullptr, 0};
    g_launch.configFilePath = GrowableString{nullptr, 0};
    g_launch.syncPath = GrowableString{nullptr, 0};
}

int RunApplication(JavaVM* vm, JNIEnv* env, bool instanceIsFirst, int argc, char** argv) {
    if (g_launch.debugEnabled) PrintDebugInfo(argc, argv);

    int status = 1;
    LookUpPlatformEncoding(env);
    jclass mainClass = FindClassOrReport(env, g_launch.mainClassName);
    if (mainClass == nullptr) {
        TearDown(vm);
        return status;
    }

    jmethodID initSingleApplication =
        env->GetStaticMethodID(mainClass, "initSingleApplication", "([Ljava/lang/String;)V");
    if (initSingleApplication != nullptr) {
        if (!instanceIsFirst) {
            ForwardToRunningInstance(g_launch.mainClassName, argc, argv);
            TearDown(vm);
            return status;
        }
        StartInstanceListener(g_launch.mainClassName);
    } else {
        env->ExceptionClear();
    }

    jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
    if (mainMethod == nullptr) {
        if (env->ExceptionOccurred() != nullptr) {
            env->ExceptionDescribe();
        } else {
            ReportFatal("No main method found in specified class.\n");
        }
        TearDown(vm);
        return status;
    }

    jobjectArray arguments = MakeJavaStringArray(env, argv, argc);
    if (arguments == nullptr) {
        env->ExceptionDescribe();
        TearDown(vm);
        return status;
    }

    CloseLauncherSplash();
    env->CallStaticVoidMethod(mainClass, mainMethod, arguments);
    if (env->ExceptionOccurred() != nullptr) {
        env->ExceptionDescribe();
        TearDown(vm);
        return status;
    }
    if (vm->DetachCurrentThread() != JNI_OK) {
        PrintMessage(stderr, "Could not detach main thread.\n");
        TearDown(vm);
        return status;
    }
    status = g_launch.appExitCode;
    TearDown(vm);
    return status;
}

int RunLauncher(int argc, char** argv) {
    PrintBanner();
    if (getenv("_JAVA_LAUNCHER_DEBUG") != nullptr) g_launch.debugEnabled = true;
    InitLaunchStateStrings();

    int status = 1;
    if (!ParseLauncherOptions(&argc, &argv, &status)) return status;

    char** vmOptionItems = nullptr;
    int vmOptionCount = SplitVmOptions(&vmOptionItems);
    int ignoredStatus = 0;
    ParseLauncherOptions(&vmOptionCount, &vmOptionItems, &ignoredStatus);

    ReadConfigFile();
    ApplyHeapSizing();
    if (IsEmpty(g_launch.syncPath.text)) {
        char* resourceSyncPath = ReadSyncPathResource();
        SetSyncPath(resourceSyncPath, false);
        free(resourceSyncPath);
    }
    SetDpiAwareness(g_launch.dpiScaling);

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
    char vmLibraryPath[1024] = "";
    int runtimeStatus = LocateAndLoadRuntime(instanceIsFirst, home, sizeof home, vmLibraryPath, sizeof vmLibraryPath);
    if (runtimeStatus != 0) return runtimeStatus;

    AssignGrowableString(&g_launch.runtimeHome, home);
    if (g_launch.launchMode == SyncFolder) CloseLauncherSplash();
    ShowRuntimeSplash(g_launch.splashOption);

    if (g_launch.launchMode != SyncFolder) {
        if (IsEmpty(g_launch.jarPath)) {
            const char* resourceJarPath = ReadJarPathResource();
            g_launch.jarPath = const_cast<char*>(resourceJarPath);
        }
        if (!IsEmpty(g_launch.jarPath)) {
            g_launch.launchMode = JarPath;
            g_launch.agentJarPath = CacheJarPath();
        } else {
            g_launch.launchMode = EmbeddedCache;
            g_launch.agentJarPath = CacheEmbeddedJar();
        }
        if (g_launch.agentJarPath == nullptr) {
            ReportFatal("Could not save cache.\n");
            return 1;
        }
    }

    // Referenced by the option list until the VM exists, so it must outlive CreateVm.
    char agentOption[1024];
    if (!IsEmpty(g_launch.agentJarPath)) {
        AppendClassPath(g_launch.agentJarPath);
        if (g_launch.cryptEnabled) {
            snprintf(agentOption, sizeof agentOption, "-javaagent:%s", g_launch.agentJarPath);
            AddVmOption(agentOption, nullptr);
        }
    }

    char* resourceClassPath = BuildResourceClassPath(g_launch.runtimeHome.text);
    if (resourceClassPath != nullptr) AppendClassPath(resourceClassPath);
    AddVmOptions(vmOptionCount, vmOptionItems);
    AddClassPathOption();
    AddVmOption("abort", reinterpret_cast<void*>(&AbortHook));
    AddVmOption("exit", reinterpret_cast<void*>(&ExitHook));

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (!CreateVm(g_launch.vmEntryPoints, &vm, &env)) {
        ReportFatal("Could not create the Java virtual machine.\n");
        return 1;
    }
    return RunApplication(vm, env, instanceIsFirst, argc, argv);
}
