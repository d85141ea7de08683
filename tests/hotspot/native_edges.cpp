#include "native_edges.h"

#include <jni.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/jni_helpers.h"
#include "cache/jar_copy.h"
#include "cache/sync_index.h"
#include "cache/sync_rules.h"
#include "instance/forwarded_payload.h"
#include "instance/listener_delivery.h"
#include "instance/single_instance.h"
#include "runtime/runtime_edge.h"
#include "runtime/vm_library.h"
#include "splash/splash.h"

NativeEdges g_edges;

// Stdout is unbuffered in the driver; every line is one write, so lines from threads do not mix.
static void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void Line(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fputs(text, stdout);
}

static const char* AttachState(JavaVM* vm) {
    if (vm == nullptr) return "no-vm";
    JNIEnv* env = nullptr;
    jint result = vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2);
    if (result == JNI_OK) return "attached";
    if (result == JNI_EDETACHED) return "detached";
    return "unknown";
}

// The listener thread's part once a message has arrived: what DeliverForwardedArguments does with
// the payload that a later start sent.
static void* ForwardingThread(void*) {
    JavaVM* vm = GetCreatedVm();
    // Main announces itself by creating the file, so the delivery happens while it runs.
    for (int waited = 0; access(g_edges.deliverWhenFileExists.c_str(), F_OK) != 0; waited += 10) {
        if (waited > 60000) {
            Line("LISTENER gave-up-waiting\n");
            return nullptr;
        }
        usleep(10 * 1000);
    }
    Line("LISTENER before-delivery env=%s\n", AttachState(vm));

    std::vector<char*> pointers;
    for (std::string& argument : g_edges.deliveredArguments) pointers.push_back(&argument[0]);
    uint32_t size = 0;
    unsigned char* payload =
        BuildForwardedPayload(static_cast<int>(pointers.size()), pointers.data(), &size);
    if (payload == nullptr) {
        Line("LISTENER payload-refused\n");
        return nullptr;
    }
    for (int i = 0; i < g_edges.deliveries; i++) {
        DeliverForwardedPayload(g_edges.listenerClass.c_str(), kForwardTag, payload, size);
        Line("LISTENER after-delivery env=%s\n", AttachState(vm));
    }
    free(payload);
    return nullptr;
}

bool StartInstanceListener(const char* mainClassName) {
    g_edges.listenerStarts++;
    g_edges.listenerClass = mainClassName;
    Line("EDGE StartInstanceListener %s\n", mainClassName);
    if (g_edges.deliverWhenFileExists.empty()) return true;
    if (pthread_create(&g_edges.forwardingThread, nullptr, ForwardingThread, nullptr) != 0) return false;
    g_edges.forwardingThreadStarted = true;
    return true;
}

bool ForwardToRunningInstance(const char* mainClassName, int argc, char** argv) {
    g_edges.forwards++;
    Line("EDGE ForwardToRunningInstance %s count=%d\n", mainClassName, argc);
    for (int i = 0; i < argc; i++) g_edges.forwardedArguments.push_back(argv[i]);
    return true;
}

void CloseLauncherSplash() { g_edges.splashCloses++; }

void DebugLog(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "DEBUGLOG %s\n", text);
}

// The rest of the launch sequence never runs here: the driver enters at the hand-over.
[[noreturn]] static void Unreachable(const char* name) {
    fprintf(stderr, "UNREACHABLE %s called\n", name);
    abort();
}

void ReleaseFirstInstanceHold() { Unreachable("ReleaseFirstInstanceHold"); }

void WaitForFirstInstance() { Unreachable("WaitForFirstInstance"); }

bool CheckSingleInstance(const char*) {
    Unreachable("CheckSingleInstance");
    return false;
}
void ShowLauncherSplash(const char*) { Unreachable("ShowLauncherSplash"); }
void ShowRuntimeSplash(const char*) { Unreachable("ShowRuntimeSplash"); }

// File-system and library edges of the steps before the VM exists.
bool LoadVmLibrary(const char*, VmEntryPoints*) {
    Unreachable("LoadVmLibrary");
    return false;
}
bool IsNetworkPath(const char*) {
    Unreachable("IsNetworkPath");
    return false;
}
EntryListing OpenEntryListing(const char*, FileEntryInfo*) {
    Unreachable("OpenEntryListing");
    return nullptr;
}
bool NextListedEntry(EntryListing, FileEntryInfo*, bool*) {
    Unreachable("NextListedEntry");
    return false;
}
void CloseEntryListing(EntryListing) { Unreachable("CloseEntryListing"); }
bool LookUpEntry(const char*, FileEntryInfo*, unsigned long*) {
    Unreachable("LookUpEntry");
    return false;
}
CopyTargetProbe ProbeCopyTarget(const char*) {
    Unreachable("ProbeCopyTarget");
    return CopyTargetProbe();
}
bool CopyThroughTemp(const char*, const char*, const char*) {
    Unreachable("CopyThroughTemp");
    return false;
}
void MakeFolder(const char*) { Unreachable("MakeFolder"); }
bool RemoveEntryItself(const char*) {
    Unreachable("RemoveEntryItself");
    return false;
}
bool ClearReadOnly(const char*) {
    Unreachable("ClearReadOnly");
    return false;
}
EntryOwner QueryEntryOwner(const char*) {
    Unreachable("QueryEntryOwner");
    return OwnerUnreadable;
}
unsigned long GetOwnProcessId() {
    Unreachable("GetOwnProcessId");
    return 0;
}
bool ProcessIsRunning(unsigned long) {
    Unreachable("ProcessIsRunning");
    return false;
}
unsigned long GetEntryAttributes(const char*) {
    Unreachable("GetEntryAttributes");
    return kEntryAttributesInvalid;
}
WholeFileReadResult ReadWholeFileOnce(const char*, size_t, void**, size_t*) {
    Unreachable("ReadWholeFileOnce");
    return WholeFileNotOpened;
}
bool ReadFileHead(const char*, void*, size_t, size_t*) {
    Unreachable("ReadFileHead");
    return false;
}
bool HashFileItself(const char*, uint8_t*) {
    Unreachable("HashFileItself");
    return false;
}
bool LinkFileAt(const char*, const char*) {
    Unreachable("LinkFileAt");
    return false;
}
bool MoveEntry(const char*, const char*) {
    Unreachable("MoveEntry");
    return false;
}
bool WriteFileThroughTemp(const char*, const char*, const void*, size_t) {
    Unreachable("WriteFileThroughTemp");
    return false;
}
bool ComputeSha256(const void*, size_t, uint8_t*) {
    Unreachable("ComputeSha256");
    return false;
}
