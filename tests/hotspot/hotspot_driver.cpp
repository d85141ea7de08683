// Drives the launcher's JNI-facing code (VM option list and CreateVm, class and string helpers,
// the hand-over to main, the delivery of forwarded arguments) against a real HotSpot libjvm.so.
// One scenario per process, because a process can create only one VM. The driver reports what it
// observed as lines on standard output; check_hotspot.py judges them.
//
// Usage: hotspot_driver <libjvm.so> <classes dir> <work dir> <scenario>
// The startup_cache scenario takes a jar instead of the classes folder: class-data sharing archives
// only jars.

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>
#include <sys/stat.h>
#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/jni_helpers.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "fake_platform.h"
#include "launcher/launch_sequence.h"
#include "launcher/service_session.h"
#include "launcher/vm_options.h"
#include "native_edges.h"
#include "startup/cache_mechanism.h"
#include "startup/startup_cache.h"

namespace {

struct Scenario {
    const char* name;
    const char* mainClass;
    std::vector<std::string> options;  // before the class path option and the two hooks
    std::vector<std::string> arguments;
    bool instanceIsFirst = true;
    bool debug = false;
    std::vector<std::string> forwarded = {};  // delivered from a second native thread while main runs
    int deliveries = 1;
    const char* serviceStop = nullptr;  // run as a service, stopped from a native thread through this class ("" exits)
};

// Bytes above 127: "café" and "€😀" in UTF-8, and a byte that is no UTF-8 at all.
const char kCafe[] = "caf\xc3\xa9";
const char kEuroGrin[] = "\xe2\x82\xac\xf0\x9f\x98\x80";
const char kLoneByte[] = "\xff";
// "café" and a lone "é" in ISO-8859-1 / windows-1252, as a Western Windows hands them over.
const char kCafeLatin1[] = "caf\xe9";
const char kLoneE9[] = "\xe9";

std::vector<Scenario> Scenarios(const std::string& work) {
    const std::vector<std::string> bytes = {"plain", "", kCafe, kEuroGrin, kLoneByte};
    return {
        // Twelve records in all, so the list grows from 4 to 8 to 16 on the way.
        {"options", "hs.app.Options",
         {"-Xcheck:jni", "-Dq.a=1", "-Dq.dup=first", "-Dq.b=2", "-Dq.dup=second", "-Xmx64m", "-Dq.c=3",
          "-Dq.d=4", "-Dq.e=5"},
         {}},
        {"exit_hook", "hs.app.Exit", {"-Xcheck:jni"}, {"37"}},
        {"unknown_option", "hs.app.Args", {"-Dq.a=1", "-Xquorvia-unknown"}, {}},
        {"class_dotted", "hs.app.Args", {"-Xcheck:jni"}, {"x"}},
        {"class_slashed", "hs/app/Args", {"-Xcheck:jni"}, {"x"}},
        {"class_default_package", "DefaultHello", {"-Xcheck:jni"}, {"a", "b"}},
        {"class_missing", "hs.app.Missing", {"-Xcheck:jni"}, {"x"}},
        {"main_missing", "hs.app.NoMain", {"-Xcheck:jni"}, {"x"}},
        {"main_not_static", "hs.app.InstanceMain", {"-Xcheck:jni"}, {"x"}},
        // The platform encoding (the locale the runner sets) decides, not the default charset.
        {"args_utf8", "hs.app.Args", {"-Xcheck:jni", "-Dfile.encoding=ISO-8859-1"}, bytes, true, true},
        {"args_latin1", "hs.app.Args", {"-Xcheck:jni", "-Dfile.encoding=UTF-8"}, bytes, true, true},
        {"args_platform_latin1", "hs.app.Args", {"-Xcheck:jni"}, {kCafeLatin1, kLoneE9}},
        {"args_none", "hs.app.Args", {"-Xcheck:jni"}, {}},
        {"main_throws", "hs.app.Throws", {"-Xcheck:jni"}, {}},
        {"non_daemon_thread", "hs.app.Linger", {"-Xcheck:jni", "-Dhs.linger.ms=1500"}, {}},
        {"forward_during_main", "hs.app.Single", {"-Xcheck:jni", "-Dhs.marker=" + work + "/main-started"},
         {"first"}, true, false, {"fwd-one", "", kCafeLatin1}},
        // initSingleApplication throws each time: the listener must still detach, and deliver again.
        {"forward_init_throws", "hs.app.SingleThrows", {"-Xcheck:jni", "-Dhs.marker=" + work + "/main-started"},
         {}, true, false, {"again"}, 2},
        {"second_instance", "hs.app.Single", {"-Xcheck:jni", "-Dhs.marker=" + work + "/unused"},
         {"to-forward", "", kCafe}, false},
        {"service_stop_method", "hs.app.Service", {"-Xcheck:jni"}, {}, true, false, {}, 1, "hs/app/Service"},
        {"service_stop_exit", "hs.app.Service", {"-Xcheck:jni"}, {}, true, false, {}, 1, ""},
    };
}

bool BindVmLibrary(const char* path, VmEntryPoints* entryPoints) {
    // As the launcher loads jvm.dll: the library stays loaded for the life of the process.
    void* library = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
        fprintf(stderr, "dlopen %s: %s\n", path, dlerror());
        return false;
    }
    entryPoints->createJavaVm = reinterpret_cast<CreateJavaVmFn>(dlsym(library, "JNI_CreateJavaVM"));
    entryPoints->getDefaultJavaVmInitArgs =
        reinterpret_cast<GetDefaultJavaVmInitArgsFn>(dlsym(library, "JNI_GetDefaultJavaVMInitArgs"));
    entryPoints->getCreatedJavaVms = reinterpret_cast<GetCreatedJavaVmsFn>(dlsym(library, "JNI_GetCreatedJavaVMs"));
    return entryPoints->createJavaVm != nullptr && entryPoints->getDefaultJavaVmInitArgs != nullptr &&
           entryPoints->getCreatedJavaVms != nullptr;
}

// The service side as the SCM's control handler drives it: once main is being called, a native
// thread of its own stops the application a moment later.
const char* g_serviceStop = nullptr;
JavaVM* g_serviceVm = nullptr;

void* StopFromNativeThread(void*) {
    usleep(300 * 1000);
    bool attached = StopJavaApplication(g_serviceVm, g_serviceStop, "stop");
    printf("STOPPER returned attached=%s\n", attached ? "true" : "false");
    return nullptr;
}

void OnServiceMainCalling(JavaVM* vm) {
    g_serviceVm = vm;
    pthread_t stopper;
    if (pthread_create(&stopper, nullptr, StopFromNativeThread, nullptr) == 0) pthread_detach(stopper);
}

void OnServiceVmExiting(int status) { printf("VMEXITING %d\n", status); }

const ServiceSession kServiceSession = {OnServiceMainCalling, OnServiceVmExiting};

// HotSpot ends the process itself after System.exit has called the exit hook; this shows what the
// hook left behind.
void ReportExitCodeAtExit() { printf("ATEXIT appExitCode=%d\n", g_launch.appExitCode); }

// Keeps the texts alive for the life of the process, as the option list requires.
char* Keep(const std::string& text) {
    char* copy = static_cast<char*>(AllocOrExit(text.size() + 1));
    memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// One start of a marked application in JarPath mode: the start-up cache options come from the
// launcher's own code, with the runtime home above the library and the cache folder in the work folder.
int RunStartupCacheStart(const char* libjvm, const char* jar, const std::string& work) {
    ResetFakePlatformAndState();
    g_fake.exePath = work + "/App.exe";
    g_fake.cacheFolder = work + "/cache";
    mkdir(g_fake.cacheFolder.c_str(), 0755);
    std::string home = libjvm;
    for (int level = 0; level < 3; level++) home.resize(home.rfind('/'));
    if (!BindVmLibrary(libjvm, &g_launch.vmEntryPoints)) return 2;
    AssignGrowableString(&g_launch.runtimeHome, home.c_str());
    g_launch.startupCacheMarked = true;
    g_launch.launchMode = JarPath;
    g_launch.mainClassName = "hs.app.Args";
    AssignGrowableString(&g_launch.classPath, jar);

    // The portable code forms Windows paths; native_edges.cpp turns them back.
    std::string vmLibrary = libjvm;
    for (char& c : vmLibrary) {
        if (c == '/') c = '\\';
    }
    static StartupCacheOptions archiveOptions;
    FormLaunchStartupCacheOptions(vmLibrary.c_str(), 0, nullptr, &archiveOptions);
    for (int i = 0; i < archiveOptions.count; i++) {
        // Windows paths: the backslash is the separator there, as '/' is here.
        for (char* at = archiveOptions.text[i]; *at != '\0'; at++) {
            if (*at == '\\') *at = '/';
        }
        printf("ARCHIVE-OPTION %s\n", archiveOptions.text[i]);
        AddVmOption(archiveOptions.text[i], nullptr);
    }
    AddVmOption("-Xlog:class+load=info", nullptr);
    AddClassPathOption();
    AddVmOption("abort", reinterpret_cast<void*>(&AbortHook));
    AddVmOption("exit", reinterpret_cast<void*>(&ExitHook));
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (!CreateVm(g_launch.vmEntryPoints, &vm, &env)) {
        printf("CREATE failed\n");
        return 1;
    }
    char argument[] = "x";
    char* arguments[] = {argument};
    int status = RunApplication(vm, env, true, 1, arguments);
    printf("RUN status=%d\n", status);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: %s <libjvm.so> <classes dir> <work dir> <scenario>\n", argv[0]);
        return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    const char* libjvm = argv[1];
    const char* classes = argv[2];
    const std::string work = argv[3];
    const std::string name = argv[4];

    if (name == "startup_cache") return RunStartupCacheStart(libjvm, classes, work);
    const Scenario* scenario = nullptr;
    static std::vector<Scenario> scenarios = Scenarios(work);
    for (const Scenario& candidate : scenarios) {
        if (name == candidate.name) scenario = &candidate;
    }
    if (scenario == nullptr) {
        fprintf(stderr, "unknown scenario %s\n", name.c_str());
        return 2;
    }

    ResetFakePlatformAndState();
    if (!BindVmLibrary(libjvm, &g_launch.vmEntryPoints)) return 2;
    printf("PRE-CREATE created-vm=%s\n", GetCreatedVm() == nullptr ? "none" : "present");

    // One class path entry; the Windows separator ";" would be part of the path here.
    AssignGrowableString(&g_launch.classPath, classes);
    for (const std::string& option : scenario->options) AddVmOption(Keep(option), nullptr);
    AddClassPathOption();
    AddVmOption("abort", reinterpret_cast<void*>(&AbortHook));
    AddVmOption("exit", reinterpret_cast<void*>(&ExitHook));
    printf("OPTIONS count=%d capacity=%d\n", g_launch.jvmOptions.count, g_launch.jvmOptions.capacity);
    for (int i = 0; i < g_launch.jvmOptions.count; i++) {
        printf("OPTION %d %s extra=%s\n", i, g_launch.jvmOptions.options[i].optionString,
               g_launch.jvmOptions.options[i].extraInfo == reinterpret_cast<void*>(&AbortHook)  ? "abort-hook"
               : g_launch.jvmOptions.options[i].extraInfo == reinterpret_cast<void*>(&ExitHook) ? "exit-hook"
               : g_launch.jvmOptions.options[i].extraInfo == nullptr                            ? "none"
                                                                                                 : "other");
    }
    atexit(ReportExitCodeAtExit);

    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    bool created = CreateVm(g_launch.vmEntryPoints, &vm, &env);
    printf("CREATE %s list-after count=%d capacity=%d options=%s\n", created ? "ok" : "failed",
           g_launch.jvmOptions.count, g_launch.jvmOptions.capacity,
           g_launch.jvmOptions.options == nullptr ? "null" : "kept");
    if (!created) {
        printf("POST-FAILURE created-vm=%s\n", GetCreatedVm() == nullptr ? "none" : "present");
        return 1;
    }
    printf("POST-CREATE created-vm=%s\n", GetCreatedVm() == vm ? "same" : "other");

    g_launch.mainClassName = scenario->mainClass;
    g_launch.debugEnabled = scenario->debug;
    if (!scenario->forwarded.empty()) {
        g_edges.deliverWhenFileExists = work + "/main-started";
        g_edges.deliveredArguments = scenario->forwarded;
        g_edges.deliveries = scenario->deliveries;
    }
    if (scenario->serviceStop != nullptr) {
        g_serviceStop = scenario->serviceStop;
        g_serviceSession = &kServiceSession;
    }
    std::vector<char*> arguments;
    for (const std::string& argument : scenario->arguments) arguments.push_back(Keep(argument));
    int status = RunApplication(vm, env, scenario->instanceIsFirst, static_cast<int>(arguments.size()),
                                arguments.data());
    if (g_edges.forwardingThreadStarted) pthread_join(g_edges.forwardingThread, nullptr);

    printf("RUN status=%d listener-starts=%d forwards=%d splash-closes=%d fatal=%zu\n", status,
           g_edges.listenerStarts, g_edges.forwards, g_edges.splashCloses, g_fake.fatalTexts.size());
    for (const std::string& text : g_fake.fatalTexts) printf("FATAL %s", text.c_str());
    for (size_t i = 0; i < g_edges.forwardedArguments.size(); i++) {
        printf("FORWARDED %zu [%s]\n", i, g_edges.forwardedArguments[i].c_str());
    }
    return status;
}
