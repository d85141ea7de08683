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

// Each field: who sets it; who reads it; who owns the memory. "Options" is the launcher's options.cpp,
// "sequence" its launch_sequence.cpp, "config file" config/config_file.cpp.
//
// Memory. Five growable strings own heap buffers allocated by InitLaunchStateStrings. The tear-down
// after DestroyJavaVM frees classPath, configFilePath and syncPath; runtimeHome and jarPathBuffer stay
// until the process ends, which follows at once (ResetLaunchState frees them for the unit tests).
// The text pointers own nothing and are never freed, except jreVersion: they point into three kinds
// of storage that outlive the launch:
//   - static buffers of their readers: jarPath and mainClassName (config file values or the resource
//     readers' buffers in config/resources.cpp), cacheDigest (config file), agentJarPath (the cache's
//     path buffers in cache/jar_copy.cpp and cache/cache_folder.cpp);
//   - jarPathBuffer, where jarPath starts out pointing;
//   - the option items (argv or the VM-OPTIONS items, never freed): splashOption.
// jreVersion is a heap copy (CopyText) that is never freed: it is read up to the last error message.
struct LaunchState {
    GrowableString classPath;       // AppendClassPath (options, sequence, sync mirror); AddClassPathOption; own heap
    GrowableString configFilePath;  // SetConfigFilePath (options); config file; own heap
    GrowableString syncPath;        // SetSyncPath (options, config file, sequence); sequence, runtime home; own heap
    GrowableString runtimeHome;     // sequence once the VM library is bound; splash bridge; own heap, kept
    GrowableString jarPathBuffer;   // InitLaunchStateStrings; through jarPath only; own heap, kept
    char* jarPath;                  // config file, sequence (JAR-PATH); sequence, jar copy; borrowed (see above)
    const char* mainClassName;      // config file, sequence (MAIN-CLASS); sequence, instance check; borrowed
    const char* agentJarPath;       // sequence (the cache's result); sequence; borrowed from the cache
    const char* cacheDigest;        // config file ("md5"); cache folder; borrowed from the config file
    LaunchMode launchMode;          // sequence, once; sequence; value
    char* jreVersion;               // options, config file, runtime home (registry); runtime home, sequence; owned, kept
    bool usePublicJre;              // options; runtime home; value
    bool cryptEnabled;              // options; sequence (-javaagent); value
    bool dpiScaling;                // options; sequence (SetDpiAwareness); value
    const char* splashOption;       // options; sequence (both splashes); borrowed from the option item
    bool heapOptionGiven;           // options; options (the amd64 default heap); value
    int initialHeapPercent;         // options, config file, heap sizing; heap sizing; value
    int maxHeapPercent;             // options, config file, heap sizing; heap sizing; value
    int initialHeapSize;            // options, config file; heap sizing; value
    int maxHeapSize;                // options, config file; heap sizing; value
    bool startupCacheMarked;        // sequence (STARTUP-CACHE); sequence (start-up cache options); value
    bool debugEnabled;              // sequence (environment); sequence (debug printout); value
    volatile int appExitCode;       // ExitHook, on any VM thread; RunApplication after the detach; value
    // Cleared by the sequence, bound by LoadVmLibrary; read by CreateVm and GetCreatedVm. The default
    // init args entry is bound only as a proof of a complete VM library: nothing calls it.
    VmEntryPoints vmEntryPoints;
    JvmOptionList jvmOptions;  // AddVmOption; CreateVm, which frees the array (the texts are borrowed)
    // Module handle of the VM library; set by LoadVmLibrary (also when binding then fails) and read by
    // nobody: the library stays loaded until the process ends, so the handle is only on record.
    void* vmLibrary;
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
