#include "native_edges.h"

#include <jni.h>
#include <pthread.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/jni_helpers.h"
#include "base/launch_state.h"
#include "cache/cache_edge.h"
#include "cache/jar_copy.h"
#include "files/entry_owner.h"
#include "files/files_edge.h"
#include "files/listing_walker.h"
#include "files/replace.h"
#include "files/sha256.h"
#include "instance/forwarded_payload.h"
#include "instance/listener_delivery.h"
#include "instance/single_instance.h"
#include "runtime/runtime_edge.h"
#include "runtime/runtime_search_edge.h"
#include "runtime/vm_library.h"
#include "splash/splash.h"
#include "startup/cache_mechanism.h"
#include "startup/startup_edge.h"
#include "sync/sync_index.h"

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

// The runtime search by a packed rule: the driver is handed its runtime home.
RegistryKey OpenRegistryKey64(RegistryHive, RegistryKey, const char*) {
    Unreachable("OpenRegistryKey64");
    return nullptr;
}
bool EnumRegistrySubkey(RegistryKey, unsigned long, char*, size_t) { Unreachable("EnumRegistrySubkey"); }
bool ReadEnvironmentText(const char*, char*, size_t) { Unreachable("ReadEnvironmentText"); }
bool ResolveFinalPath(const char*, char*, size_t) { Unreachable("ResolveFinalPath"); }
bool ReadSmallFile(const char*, char*, size_t, size_t*) { Unreachable("ReadSmallFile"); }
bool AskFatalYesNo(const char*) { Unreachable("AskFatalYesNo"); }
bool OpenPageWithShell(const char*) { Unreachable("OpenPageWithShell"); }

// File-system and library edges of the steps before the VM exists.
bool LoadVmLibrary(const char*, VmEntryPoints*) {
    Unreachable("LoadVmLibrary");
    return false;
}
bool IsNetworkPath(const char*) {
    Unreachable("IsNetworkPath");
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
bool ClearReadOnly(const char*) {
    Unreachable("ClearReadOnly");
    return false;
}
EntryOwner QueryEntryOwner(const char*) {
    Unreachable("QueryEntryOwner");
    return OwnerUnreadable;
}
unsigned long GetEntryAttributes(const char*) {
    Unreachable("GetEntryAttributes");
    return kEntryAttributesInvalid;
}

// ---- The file edges of the start-up cache, on the real file system ----
// The portable code forms Windows paths; here every backslash is a directory separator.

static std::string NativePath(const char* path) {
    std::string native = path;
    for (char& c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

static void FillEntry(const std::string& path, const char* name, FileEntryInfo* info) {
    snprintf(info->name, sizeof info->name, "%s", name);
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
        info->attributes = kEntryAttributesInvalid;
        return;
    }
    info->attributes = S_ISLNK(status.st_mode) ? kEntryAttributeLink : S_ISDIR(status.st_mode) ? kEntryAttributeFolder : 0;
    info->sizeLow = static_cast<uint32_t>(status.st_size);
    info->lastWriteTime = static_cast<uint64_t>(status.st_mtim.tv_sec) * 10000000u + status.st_mtim.tv_nsec / 100;
}

struct NativeListing {
    DIR* folder;
    std::string path;
};

static bool ReadListedEntry(NativeListing* listing, FileEntryInfo* entry) {
    struct dirent* found = readdir(listing->folder);
    if (found == nullptr) return false;
    FillEntry(listing->path + "/" + found->d_name, found->d_name, entry);
    return true;
}

EntryListing OpenEntryListing(const char* pattern, FileEntryInfo* first) {
    std::string path = NativePath(pattern);
    if (path.size() < 2 || path.compare(path.size() - 2, 2, "/*") != 0) return nullptr;
    path.resize(path.size() - 2);
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr) return nullptr;
    NativeListing* listing = new NativeListing{folder, path};
    if (!ReadListedEntry(listing, first)) {
        closedir(folder);
        delete listing;
        return nullptr;
    }
    return listing;
}

bool NextListedEntry(EntryListing listing, FileEntryInfo* entry, bool* endedCleanly) {
    if (ReadListedEntry(static_cast<NativeListing*>(listing), entry)) return true;
    *endedCleanly = true;
    return false;
}

void CloseEntryListing(EntryListing listing) {
    closedir(static_cast<NativeListing*>(listing)->folder);
    delete static_cast<NativeListing*>(listing);
}

bool LookUpEntry(const char* path, FileEntryInfo* found, unsigned long* error) {
    std::string native = NativePath(path);
    FillEntry(native, "", found);
    if (found->attributes != kEntryAttributesInvalid) return true;
    *error = 2;  // ERROR_FILE_NOT_FOUND
    return false;
}

bool RemoveEntryItself(const char* path) { return unlink(NativePath(path).c_str()) == 0; }

unsigned long GetOwnProcessId() { return static_cast<unsigned long>(getpid()); }

bool ProcessIsRunning(unsigned long processId) {
    return kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM;
}

bool ReadFileHead(const char* path, void* buffer, size_t size, size_t* got) {
    *got = 0;
    int file = open(NativePath(path).c_str(), O_RDONLY);
    if (file < 0) return false;
    ssize_t read = ::read(file, buffer, size);
    close(file);
    if (read < 0) return false;
    *got = static_cast<size_t>(read);
    return true;
}

StartupCacheProbe ProbeStartupCacheFile(const char* path) {
    StartupCacheProbe probe = {EntryAbsent, OwnerUnreadable, false, false};
    std::string native = NativePath(path);
    struct stat status;
    if (lstat(native.c_str(), &status) != 0) return probe;
    if (S_ISLNK(status.st_mode)) {
        probe.state = EntryLink;
        return probe;
    }
    probe.state = EntryPresent;
    probe.owner = status.st_uid == getuid() ? OwnerCurrentUser : OwnerOther;
    unsigned char head[4];
    probe.headRead = true;
    size_t got = 0;
    ReadFileHead(path, head, sizeof head, &got);
    probe.hasMagic = HasStartupArchiveMagic(head, got);
    return probe;
}

// The application folder of the start-up cache, on the real file system: the owner by uid, writable
// by others by the mode's "other" bits, as Wine reports a folder's security.
FolderSecurity QueryFolderSecurity(const char* path) {
    FolderSecurity security = {FolderAbsent, OwnerUnreadable, true, false};
    struct stat status;
    std::string native = NativePath(path);
    if (lstat(native.c_str(), &status) != 0) return security;
    if (S_ISLNK(status.st_mode)) {
        security.kind = FolderLink;
    } else if (!S_ISDIR(status.st_mode)) {
        security.kind = FolderNotAFolder;
    } else {
        security = {FolderReal, status.st_uid == getuid() ? OwnerCurrentUser : OwnerOther,
                    (status.st_mode & S_IWOTH) != 0, access(native.c_str(), W_OK) == 0};
    }
    return security;
}

void ReleaseQueriedFolder() {}

bool MakePrivateFolder(const char* path) { return mkdir(NativePath(path).c_str(), 0755) == 0; }

bool FillRandomBytes(void* buffer, size_t size) {
    int file = open("/dev/urandom", O_RDONLY);
    if (file < 0) return false;
    ssize_t got = ::read(file, buffer, size);
    close(file);
    return got == static_cast<ssize_t>(size);
}

bool MoveArchiveIntoPlace(const char* from, const char* to) {
    return rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

WholeFileReadResult ReadWholeFileOnce(const char*, size_t, void**, size_t*) {
    Unreachable("ReadWholeFileOnce");
    return WholeFileNotOpened;
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
