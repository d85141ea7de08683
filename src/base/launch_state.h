// The one process-wide record of launch settings, shared by every step of the launch.
#pragma once

#include <jni.h>

#include <cstddef>

enum LaunchMode {
    LaunchModeUndecided = 0,
    EmbeddedCache = 1,
    JarPath = 2,
    SyncFolder = 3,
};

// A heap text buffer whose content setters replace or extend; capacity counts the terminator.
struct GrowableString {
    char* text;
    size_t capacity;
};

typedef jint(JNICALL* CreateJavaVmFn)(JavaVM** vm, void** env, void* args);
typedef jint(JNICALL* GetDefaultJavaVmInitArgsFn)(void* args);
typedef jint(JNICALL* GetCreatedJavaVmsFn)(JavaVM** vms, jsize bufferLength, jsize* count);

struct VmEntryPoints {
    CreateJavaVmFn createJavaVm;
    GetDefaultJavaVmInitArgsFn getDefaultJavaVmInitArgs;
    GetCreatedJavaVmsFn getCreatedJavaVms;
};

struct JvmOptionList {
    JavaVMOption* options;
    int count;
    int capacity;
};

struct LaunchState {
    GrowableString classPath;
    GrowableString configFilePath;
    GrowableString syncPath;
    GrowableString runtimeHome;
    GrowableString jarPathBuffer;  // jarPath starts out pointing here
    char* jarPath;
    const char* mainClassName;
    const char* agentJarPath;
    const char* cacheDigest;
    LaunchMode launchMode;
    char* jreVersion;
    bool usePublicJre;
    bool cryptEnabled;
    bool dpiScaling;
    const char* splashOption;
    bool heapOptionGiven;
    int initialHeapPercent;
    int maxHeapPercent;
    int initialHeapSize;
    int maxHeapSize;
    bool debugEnabled;
    volatile int appExitCode;
    VmEntryPoints vmEntryPoints;
    JvmOptionList jvmOptions;
    void* vmLibrary;  // module handle of the loaded VM library
    // Global reference to the VM's "sun.jnu.encoding" value, or null; set once by
    // LookUpPlatformEncoding right after the VM exists, then only read (main and listener threads).
    jstring platformEncoding;
};

extern LaunchState g_launch;

// Allocates the five growable strings with 260 zero bytes each, before any option is read.
void InitLaunchStateStrings();

// Releases the growable strings and the option list and zero-fills the record; lets unit tests start clean.
void ResetLaunchState();

// Makes `target` hold a copy of `text`, growing it when needed.
void AssignGrowableString(GrowableString* target, const char* text);

const size_t kInitialStringCapacity = 260;

// Setters shared by the option readers (command line, configuration file, resources) and the launch steps.
// Appends ";" and `text` to the class path.
void AppendClassPath(const char* text);
// Sets the sync path unless one is set already and `replace` is false; null or "" changes nothing.
void SetSyncPath(const char* path, bool replace);
void SetConfigFilePath(const char* path);

// Appends one record to the VM option list; the list keeps the pointer, so `text` must outlive VM creation.
void AddVmOption(const char* text, void* extraInfo);
void AddVmOptions(int count, char** texts);
// Adds "-Djava.class.path=" with the class path collected so far.
void AddClassPathOption();
