// Stand-in for a Java runtime's jvm.dll. It speaks the JNI invocation interface with the real
// jni.h tables, finds classes in real class files on -Djava.class.path, and records everything
// the launcher does in the trace file. Where HotSpot would fail (unknown option, missing class,
// non-static main, wrong thread) it fails the same way; whatever it cannot emulate ends the
// process loudly instead of pretending to work.

#include <windows.h>
#include <psapi.h>

#include <jni.h>

#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstdarg>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "charset.h"
#include "classfile.h"
#include "jar.h"
#include "jni_names.h"
#include "options.h"
#include "trace.h"

#ifndef QUORVIA_VM_VARIANT
#define QUORVIA_VM_VARIANT "server"
#endif

extern "C" __declspec(dllimport) int quorvia_testdep_value(void);

namespace {

using rt::Emit;
using rt::Json;
using rt::JsonArray;
using rt::JsonString;
using rt::JsonString16;

constexpr UINT kUnimplementedExitCode = 86;
constexpr UINT kFaultExitCode = 87;

// ---------------------------------------------------------------------------------------------
// Object model

struct ClassInfo;

struct MethodInfo {
    ClassInfo* owner = nullptr;
    std::string name;
    std::string sig;
    uint16_t access = 0;
};

struct ClassInfo {
    std::string name;
    uint16_t access = rt::kAccPublic;
    std::string superName;
    std::deque<MethodInfo> methods;  // deque: method IDs are pointers into it
    std::string source;              // class path entry it came from, "bootstrap" otherwise
};

enum class Kind { Class, String, ByteArray, ObjectArray, Throwable };

struct ThreadEnv;

struct Object {
    Kind kind = Kind::Class;
    bool deleted = false;
    bool global = false;         // NewGlobalRef: usable on every thread until DeleteGlobalRef
    ThreadEnv* owner = nullptr;  // local references belong to one thread
    ClassInfo* cls = nullptr;    // Class: the class itself
    std::u16string text;         // String
    std::string origin;          // String: the bytes it was made from
    bool hasOrigin = false;
    std::string charset;         // String: charset used to decode origin
    std::vector<jbyte> bytes;    // byte[]
    std::vector<Object*> elems;  // Object[]
    std::string elemClass;       // Object[]
    std::string excClass;        // Throwable, dotted like Java prints it
    std::string excMessage;
    std::string causeClass;
    std::string causeMessage;
};

struct ThreadEnv {
    const JNINativeInterface_* functions;  // must stay first: a JNIEnv* points here
    DWORD thread = 0;
    std::string name;
    bool attached = false;
    bool daemon = false;
    bool creator = false;  // the thread that created the VM ("main")
    Object* pending = nullptr;
};

struct ClassPathEntry {
    std::string given;     // as written in java.class.path
    std::wstring path;     // absolute
    bool opened = false;
    bool isDirectory = false;
    std::unique_ptr<rt::Jar> jar;
};

struct Vm {
    JavaVM_ javaVm{};
    bool created = false;
    bool destroyed = false;
    rt::ParsedOptions opts;
    rt::Charset charset;
    std::vector<ClassPathEntry> classPath;
    std::map<std::string, std::unique_ptr<ClassInfo>> classes;
    std::set<std::string> loading;  // circularity guard
    std::map<DWORD, ThreadEnv*> threads;
    std::deque<ThreadEnv> envs;  // never freed, so a stale JNIEnv* is still recognisable
    std::set<Object*> objects;
    std::set<const MethodInfo*> methodIds;
    std::vector<HANDLE> appThreads;  // simulated non-daemon Java threads
    HANDLE stopCalled = nullptr;     // set by a static stop(String[]): ends the "serve" threads
    int threadCounter = 0;
    void* heap = nullptr;
    bool archiveMapped = false;  // the archive of -XX:SharedArchiveFile or -XX:AOTCache was usable
};

Vm g_vm;
HMODULE g_module = nullptr;  // this jvm.dll
CRITICAL_SECTION g_lock;
JNINativeInterface_ g_envTable;
JNIInvokeInterface_ g_vmTable;

class Guard {
public:
    Guard() { EnterCriticalSection(&g_lock); }
    ~Guard() { Unlock(); }
    void Unlock() {
        if (held_) LeaveCriticalSection(&g_lock);
        held_ = false;
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    bool held_ = true;
};

// ---------------------------------------------------------------------------------------------
// Output and fatal paths

void WriteStd(DWORD which, const std::string& text) {
    HANDLE h = GetStdHandle(which);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

typedef jint(JNICALL* VfprintfHook)(FILE* fp, const char* format, va_list args);
typedef void(JNICALL* ExitHook)(jint code);
typedef void(JNICALL* AbortHook)(void);

void CallVfprintf(VfprintfHook hook, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    hook(stderr, format, ap);
    va_end(ap);
}

// What HotSpot itself prints goes through the vfprintf hook when the launcher gave one.
void VmPrint(const std::string& text) {
    auto hook = reinterpret_cast<VfprintfHook>(g_vm.opts.vfprintfHook);
    Emit("output", Json().Str("stream", hook ? "vfprintf" : "stderr").Str("text", text));
    if (hook) {
        CallVfprintf(hook, "%s", text.c_str());
    } else {
        WriteStd(STD_ERROR_HANDLE, text);
    }
}

[[noreturn]] void Fault(const char* function, const std::string& why) {
    Emit("fault", Json().Str("function", function).Str("message", why));
    WriteStd(STD_ERROR_HANDLE, std::string("test runtime: fault in ") + function + ": " + why + "\n");
    TerminateProcess(GetCurrentProcess(), kFaultExitCode);
    ExitProcess(kFaultExitCode);
}

[[noreturn]] void Unimplemented(const char* table, size_t index, const char* name) {
    Emit("unimplemented", Json().Str("table", table).Int("index", static_cast<long long>(index)).Str("name", name));
    WriteStd(STD_ERROR_HANDLE, std::string("test runtime: unimplemented JNI function ") + name + " (" + table +
                                   " slot " + std::to_string(index) + ")\n");
    TerminateProcess(GetCurrentProcess(), kUnimplementedExitCode);
    ExitProcess(kUnimplementedExitCode);
}

// HotSpot stops a VM that cannot initialise: message, abort hook, process exit code 1.
[[noreturn]] void InitFailure(const std::string& message) {
    VmPrint("Error occurred during initialization of VM\n" + message + "\n");
    auto hook = reinterpret_cast<AbortHook>(g_vm.opts.abortHook);
    Emit("init_failure", Json().Str("message", message).Bool("abort_hook", hook != nullptr));
    if (hook) hook();
    ExitProcess(1);
}

// ---- Class-data sharing and the AOT cache, as far as their files go ----
// The archives this VM writes: the magic HotSpot puts first (static 0xf00baba2, dynamic 0xf00baba8),
// then the file's length, so that a torn copy is told from a whole one.

constexpr uint32_t kStaticArchiveMagic = 0xf00baba2u;
constexpr uint32_t kDynamicArchiveMagic = 0xf00baba8u;

// Written at exit, header last as HotSpot does: a write cut short leaves a zero header.
void WriteArchive(const std::string& path, uint32_t magic, const char* kind) {
    const std::string body = "quorvia test runtime archive\n";
    const uint32_t length = static_cast<uint32_t>(8 + body.size());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = file != INVALID_HANDLE_VALUE;
    if (ok) {
        const unsigned char zeros[8] = {};
        const unsigned char header[8] = {
            static_cast<unsigned char>(magic), static_cast<unsigned char>(magic >> 8),
            static_cast<unsigned char>(magic >> 16), static_cast<unsigned char>(magic >> 24),
            static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
            static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
        DWORD written = 0;
        ok = WriteFile(file, zeros, sizeof zeros, &written, nullptr) &&
             WriteFile(file, body.data(), static_cast<DWORD>(body.size()), &written, nullptr) &&
             SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 && WriteFile(file, header, sizeof header, &written, nullptr);
        CloseHandle(file);
    }
    Emit("archive_written", Json().Str("path", path).Str("kind", kind).Bool("ok", ok));
}

void WriteArchivesAtExit() {
    static bool written = false;
    if (written) return;
    written = true;
    const rt::ParsedOptions& o = g_vm.opts;
    // A dynamic archive builds on the base one: without it Java 19 and later write none (13 to 18
    // did not even start).
    if (o.baseArchive && !o.archiveClassesAtExit.empty()) WriteArchive(o.archiveClassesAtExit, kDynamicArchiveMagic, "dynamic");
    if (o.baseArchive && o.autoCreateSharedArchive && !o.sharedArchiveFile.empty() && !g_vm.archiveMapped)
        WriteArchive(o.sharedArchiveFile, kDynamicArchiveMagic, "auto");
    if (!o.aotCacheOutput.empty()) {
        // The training run records its classes in "{output}.config", assembles the cache from it, and
        // deletes it afterwards.
        const std::string config = o.aotCacheOutput + ".config";
        HANDLE file = CreateFileA(config.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        WriteArchive(o.aotCacheOutput, kStaticArchiveMagic, "aot");
        DeleteFileA(config.c_str());
    }
}

// Maps the archive named at creation. HotSpot rejects one without its magic and runs on without
// it; Java 17 crashes (SIGBUS) on a whole header over a torn file, so that ends this VM loudly.
void MapArchive() {
    const rt::ParsedOptions& o = g_vm.opts;
    const bool aot = !o.aotCache.empty();
    const std::string& path = aot ? o.aotCache : o.sharedArchiveFile;
    if (path.empty()) return;
    unsigned char header[8] = {};
    DWORD read = 0;
    LARGE_INTEGER size = {};
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        if (!ReadFile(file, header, sizeof header, &read, nullptr)) read = 0;
        GetFileSizeEx(file, &size);
        CloseHandle(file);
    }
    const uint32_t magic = header[0] | header[1] << 8 | header[2] << 16 | static_cast<uint32_t>(header[3]) << 24;
    const uint32_t length = header[4] | header[5] << 8 | header[6] << 16 | static_cast<uint32_t>(header[7]) << 24;
    const bool known = magic == kStaticArchiveMagic || (!aot && magic == kDynamicArchiveMagic);
    std::string reason = file == INVALID_HANDLE_VALUE ? "missing" : read < 8 || !known ? "no archive magic" : "";
    if (reason.empty() && magic == kDynamicArchiveMagic && !o.baseArchive) reason = "no base archive";
    if (reason.empty() && length != size.QuadPart) {
        Fault("JNI_CreateJavaVM", "mapped a torn archive " + path + " (Java 17 dies of SIGBUS here)");
    }
    g_vm.archiveMapped = reason.empty();
    Json j;
    j.Str("path", path).Bool("mapped", g_vm.archiveMapped);
    if (!reason.empty()) j.Str("reason", reason);
    Emit("archive", j);
}

[[noreturn]] void JavaExit(jint code, const char* via) {
    auto hook = reinterpret_cast<ExitHook>(g_vm.opts.exitHook);
    Emit("exit", Json().Int("code", code).Str("via", via).Bool("hook", hook != nullptr));
    Emit("shutdown_hooks", Json().Str("via", via));
    WriteArchivesAtExit();
    if (hook) {
        Emit("exit_hook", Json().Int("code", code));
        hook(code);
    }
    ExitProcess(static_cast<UINT>(code));
}

// HotSpot on Windows takes Ctrl+C through the C runtime's signal(SIGINT), which the C runtime
// serves with a console control handler; the Java handler runs the shutdown hooks and exits with
// 128 + 2. A launcher that swallows or ignores the console event never gets here.
void OnConsoleInterrupt(int) {
    Emit("interrupt", Json());
    WriteStd(STD_OUTPUT_HANDLE, "test runtime: shutdown hooks ran\n");
    JavaExit(130, "Ctrl+C");
}

// ---------------------------------------------------------------------------------------------
// Text helpers

std::u16string DecodePlatform(const std::string& bytes) { return rt::Decode(bytes, rt::PlatformCharset()); }

// C strings from the launcher (option strings, JNI names) in the trace: text and exact bytes.
std::string OptionJson(const char* s, bool extra) {
    std::string bytes = s ? s : "";
    return Json().Str16("text", DecodePlatform(bytes)).Str("hex", rt::Hex(bytes)).Bool("extra", extra).Text();
}

std::string Dotted(std::string s) {
    for (char& c : s) {
        if (c == '/') c = '.';
    }
    return s;
}

std::string SafeCString(const char* s, const char* function, const char* what) {
    if (!s) Fault(function, std::string(what) + " is NULL");
    return s;
}

// ---------------------------------------------------------------------------------------------
// Threads and references

ThreadEnv* Enter(JNIEnv* env, const char* function) {
    if (!g_vm.created) Fault(function, "called before JNI_CreateJavaVM succeeded");
    if (g_vm.destroyed) Fault(function, "called after DestroyJavaVM");
    const DWORD tid = GetCurrentThreadId();
    auto it = g_vm.threads.find(tid);
    ThreadEnv* given = reinterpret_cast<ThreadEnv*>(env);
    if (it == g_vm.threads.end() || !it->second->attached) {
        Fault(function, "called on thread " + std::to_string(tid) + " which is not attached to the VM");
    }
    if (given != it->second) {
        Fault(function, "JNIEnv of another thread (or of a detached thread) used on thread " + std::to_string(tid));
    }
    return given;
}

Object* NewRef(ThreadEnv* t, Kind kind) {
    Object* o = new Object();
    o->kind = kind;
    o->owner = t;
    g_vm.objects.insert(o);
    return o;
}

Object* Deref(ThreadEnv* t, jobject ref, const char* function, const char* what) {
    if (!ref) return nullptr;
    Object* o = reinterpret_cast<Object*>(ref);
    if (!g_vm.objects.count(o)) Fault(function, std::string(what) + " is not a reference this VM handed out");
    if (o->deleted) Fault(function, std::string(what) + " is a deleted or freed local reference");
    if (!o->global && o->owner != t) Fault(function, std::string(what) + " is a local reference of another thread");
    return o;
}

Object* DerefClass(ThreadEnv* t, jobject ref, const char* function) {
    Object* o = Deref(t, ref, function, "class argument");
    if (!o) Fault(function, "class argument is NULL");
    if (o->kind != Kind::Class) Fault(function, "class argument is not a jclass");
    return o;
}

const MethodInfo* DerefMethod(jmethodID id, const char* function) {
    const MethodInfo* m = reinterpret_cast<const MethodInfo*>(id);
    if (!m) Fault(function, "method ID is NULL");
    if (!g_vm.methodIds.count(m)) Fault(function, "method ID was not returned by this VM");
    return m;
}

void ThrowNew(ThreadEnv* t, const std::string& cls, const std::string& message, const std::string& causeClass = "",
              const std::string& causeMessage = "") {
    Object* e = NewRef(t, Kind::Throwable);
    e->excClass = cls;
    e->excMessage = message;
    e->causeClass = causeClass;
    e->causeMessage = causeMessage;
    t->pending = e;
    Emit("exception", Json().Str("class", cls).Str("message", message).Int("thread", t->thread));
}

// HotSpot 17 carries on with a JNI call made while an exception is pending (a new exception
// replaces the pending one, otherwise it stays pending); the call is recorded so that a test can
// see the launcher ignored an exception.
void NotePendingException(ThreadEnv* t, const char* function) {
    if (!t->pending) return;
    Emit("pending_exception_call", Json().Str("function", function).Str("pending", t->pending->excClass));
}

ThreadEnv* AttachThread(const std::string& name, bool daemon, bool creator) {
    g_vm.envs.emplace_back();
    ThreadEnv* t = &g_vm.envs.back();
    t->functions = &g_envTable;
    t->thread = GetCurrentThreadId();
    t->name = name;
    t->attached = true;
    t->daemon = daemon;
    t->creator = creator;
    g_vm.threads[t->thread] = t;
    return t;
}

bool SupportedVersion(jint v) {
    return v == JNI_VERSION_1_2 || v == JNI_VERSION_1_4 || v == JNI_VERSION_1_6 || v == JNI_VERSION_1_8 ||
           v == 0x00090000 || v == 0x000a0000;
}

// ---------------------------------------------------------------------------------------------
// Classes

ClassInfo* AddBootstrap(const std::string& name, const std::string& superName,
                        std::initializer_list<std::pair<const char*, const char*>> instance,
                        std::initializer_list<std::pair<const char*, const char*>> statics) {
    auto c = std::make_unique<ClassInfo>();
    c->name = name;
    c->superName = superName;
    c->source = "bootstrap";
    for (auto& m : instance) c->methods.push_back(MethodInfo{c.get(), m.first, m.second, rt::kAccPublic});
    for (auto& m : statics) c->methods.push_back(MethodInfo{c.get(), m.first, m.second, rt::kAccPublic | rt::kAccStatic});
    ClassInfo* raw = c.get();
    g_vm.classes[name] = std::move(c);
    return raw;
}

void AddBootstrapClasses() {
    AddBootstrap("java/lang/Object", "", {{"<init>", "()V"}}, {});
    AddBootstrap("java/lang/String", "java/lang/Object", {{"<init>", "([B)V"}, {"<init>", "([BLjava/lang/String;)V"}}, {});
    AddBootstrap("java/lang/System", "java/lang/Object", {},
                 {{"exit", "(I)V"}, {"gc", "()V"}, {"getProperty", "(Ljava/lang/String;)Ljava/lang/String;"}});
    for (const char* n : {"java/lang/Class", "java/lang/ClassLoader", "java/lang/Thread", "java/lang/Throwable"})
        AddBootstrap(n, "java/lang/Object", {}, {});
    AddBootstrap("java/lang/Exception", "java/lang/Throwable", {}, {});
    AddBootstrap("java/lang/RuntimeException", "java/lang/Exception", {}, {});
    AddBootstrap("java/lang/Error", "java/lang/Throwable", {}, {});
}

// JDK packages a real runtime always has: trusted as super types without being modelled.
bool IsJdkName(const std::string& n) {
    return n.rfind("java/", 0) == 0 || n.rfind("javax/", 0) == 0 || n.rfind("jdk/", 0) == 0 || n.rfind("sun/", 0) == 0;
}

struct LoadError {
    std::string cls;  // dotted Java class of the error
    std::string message;
    std::string causeClass;
    std::string causeMessage;
};

bool OpenEntry(ClassPathEntry& e) {
    if (e.opened) return e.isDirectory || e.jar != nullptr;
    e.opened = true;
    const DWORD attrs = GetFileAttributesW(e.path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return false;
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        e.isDirectory = true;
        return true;
    }
    std::string error;
    e.jar = rt::Jar::Open(e.path, &error);
    if (!e.jar) Emit("classpath_error", Json().Str16("entry", rt::FromWide(e.path)).Str("message", error));
    return e.jar != nullptr;
}

bool ReadWholeFile(const std::wstring& path, std::string* out) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart >= 0 && size.QuadPart < (64 << 20);
    if (ok) {
        out->assign(static_cast<size_t>(size.QuadPart), '\0');
        DWORD got = 0;
        ok = out->empty() || (ReadFile(h, &(*out)[0], static_cast<DWORD>(out->size()), &got, nullptr) && got == out->size());
    }
    CloseHandle(h);
    return ok;
}

// Finds "<name>.class" on the class path; false if no entry has it.
bool FindClassBytes(const std::string& name, std::string* bytes, std::string* source, LoadError* err) {
    const std::string entryName = name + ".class";
    std::wstring relative = rt::ToWide(rt::Utf8To16(entryName));
    for (wchar_t& c : relative) {
        if (c == L'/') c = L'\\';
    }
    for (ClassPathEntry& e : g_vm.classPath) {
        if (!OpenEntry(e)) continue;
        if (e.isDirectory) {
            std::wstring file = e.path;
            if (!file.empty() && file.back() != L'\\') file += L'\\';
            file += relative;
            const DWORD attrs = GetFileAttributesW(file.c_str());
            if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) continue;
            if (!ReadWholeFile(file, bytes)) continue;
            *source = e.given;
            return true;
        }
        if (e.jar->Has(entryName)) {
            std::string error;
            if (!e.jar->Read(entryName, bytes, &error)) {
                // Java reports a damaged entry instead of silently going on.
                err->cls = "java.lang.ClassFormatError";
                err->message = "zip entry " + entryName + ": " + error;
                *source = e.given;
                return true;
            }
            *source = e.given;
            return true;
        }
    }
    return false;
}

ClassInfo* LoadClass(const std::string& name, LoadError* err);

ClassInfo* LoadArrayClass(const std::string& name, LoadError* err) {
    size_t dims = 0;
    while (dims < name.size() && name[dims] == '[') ++dims;
    const std::string elem = name.substr(dims);
    bool ok = false;
    if (elem.size() == 1) {
        ok = std::string("ZBCSIJFD").find(elem[0]) != std::string::npos;
    } else if (elem.size() > 2 && elem.front() == 'L' && elem.back() == ';') {
        ok = LoadClass(elem.substr(1, elem.size() - 2), err) != nullptr;
        if (!ok) return nullptr;
    }
    if (!ok || dims > 255) {
        err->cls = "java.lang.NoClassDefFoundError";
        err->message = name;
        return nullptr;
    }
    auto c = std::make_unique<ClassInfo>();
    c->name = name;
    c->superName = "java/lang/Object";
    c->source = "array";
    ClassInfo* raw = c.get();
    g_vm.classes[name] = std::move(c);
    return raw;
}

ClassInfo* LoadClass(const std::string& name, LoadError* err) {
    auto known = g_vm.classes.find(name);
    if (known != g_vm.classes.end()) return known->second.get();
    if (!name.empty() && name[0] == '[') return LoadArrayClass(name, err);
    auto notFound = [&]() -> ClassInfo* {
        err->cls = "java.lang.NoClassDefFoundError";
        err->message = name;
        err->causeClass = "java.lang.ClassNotFoundException";
        err->causeMessage = Dotted(name);
        return nullptr;
    };
    // The application class loader never finds a name with dots, an empty segment or a ';'.
    if (name.empty() || name.find_first_of(".;[") != std::string::npos || name.front() == '/' || name.back() == '/' ||
        name.find("//") != std::string::npos)
        return notFound();
    std::string bytes, source;
    if (!FindClassBytes(name, &bytes, &source, err)) return notFound();
    if (!err->cls.empty()) return nullptr;
    rt::ClassFile cf;
    std::string message;
    switch (rt::ParseClassFile(bytes, &cf, &message)) {
        case rt::ClassFileError::None:
            break;
        case rt::ClassFileError::UnsupportedVersion:
            err->cls = "java.lang.UnsupportedClassVersionError";
            err->message = Dotted(name) + " has been compiled by a more recent version of the Java Runtime (" + message + ")";
            return nullptr;
        case rt::ClassFileError::Format:
            err->cls = "java.lang.ClassFormatError";
            err->message = message;
            return nullptr;
    }
    if (cf.access & 0x8000) {
        err->cls = "java.lang.NoClassDefFoundError";
        err->message = name + " is not a class because access_flag ACC_MODULE is set";
        return nullptr;
    }
    if (cf.thisName != name) {
        err->cls = "java.lang.NoClassDefFoundError";
        err->message = name + " (wrong name: " + cf.thisName + ")";
        return nullptr;
    }
    if (g_vm.loading.count(name)) {
        err->cls = "java.lang.ClassCircularityError";
        err->message = name;
        return nullptr;
    }
    // Super types are resolved while loading, as in HotSpot: a missing one makes the class unusable.
    g_vm.loading.insert(name);
    std::vector<std::string> supers = cf.interfaces;
    if (!cf.superName.empty()) supers.insert(supers.begin(), cf.superName);
    for (const std::string& s : supers) {
        if (IsJdkName(s)) continue;
        LoadError superErr;
        if (!LoadClass(s, &superErr)) {
            g_vm.loading.erase(name);
            *err = superErr;
            return nullptr;
        }
    }
    g_vm.loading.erase(name);
    auto c = std::make_unique<ClassInfo>();
    c->name = cf.thisName;
    c->access = cf.access;
    c->superName = cf.superName;
    c->source = source;
    for (const rt::MethodEntry& m : cf.methods) c->methods.push_back(MethodInfo{c.get(), m.name, m.descriptor, m.access});
    ClassInfo* raw = c.get();
    g_vm.classes[name] = std::move(c);
    return raw;
}

const MethodInfo* FindMethod(ClassInfo* cls, const std::string& name, const std::string& sig, bool wantStatic,
                             bool* wrongKind) {
    *wrongKind = false;
    ClassInfo* c = cls;
    int depth = 0;
    while (c && depth++ < 64) {
        for (const MethodInfo& m : c->methods) {
            if (m.name == name && m.sig == sig) {
                if (((m.access & rt::kAccStatic) != 0) == wantStatic) return &m;
                *wrongKind = true;
                return nullptr;
            }
        }
        if (name == "<init>" || c->superName.empty()) break;  // constructors are not inherited
        auto it = g_vm.classes.find(c->superName);
        c = it == g_vm.classes.end() ? nullptr : it->second.get();
    }
    return nullptr;
}

bool IsSubclassOf(const ClassInfo* c, const ClassInfo* base) {
    int depth = 0;
    while (c && depth++ < 64) {
        if (c == base) return true;
        auto it = g_vm.classes.find(c->superName);
        c = it == g_vm.classes.end() ? nullptr : it->second.get();
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Arguments of the Call*/NewObject* families

class Args {
public:
    explicit Args(va_list* ap) : ap_(ap) {}
    explicit Args(const jvalue* values) : values_(values) {}
    jobject Object() { return ap_ ? va_arg(*ap_, jobject) : Next().l; }
    jint Int() { return ap_ ? va_arg(*ap_, jint) : Next().i; }

private:
    const jvalue& Next() {
        if (!values_) Fault("Call*A", "argument array is NULL");
        return values_[index_++];
    }
    va_list* ap_ = nullptr;
    const jvalue* values_ = nullptr;
    size_t index_ = 0;
};

std::string StringArrayJson(ThreadEnv* t, jobject array, const char* function, std::string* hexJson) {
    Object* arr = Deref(t, array, function, "String[] argument");
    if (!arr) {
        *hexJson = "null";
        return "null";
    }
    if (arr->kind != Kind::ObjectArray || arr->elemClass != "java/lang/String")
        Fault(function, "argument is not a String[]");
    std::vector<std::string> texts, hexes;
    for (Object* e : arr->elems) {
        if (!e) {
            texts.push_back("null");
            hexes.push_back("null");
            continue;
        }
        texts.push_back(JsonString16(e->text));
        hexes.push_back(e->hasOrigin ? JsonString(rt::Hex(e->origin)) : "null");
    }
    *hexJson = JsonArray(hexes);
    return JsonArray(texts);
}

DWORD WINAPI AppThread(LPVOID param) {
    Sleep(static_cast<DWORD>(reinterpret_cast<uintptr_t>(param)));
    return 0;
}

// A server's worker: a non-daemon thread that runs until the application's stop method is called.
DWORD WINAPI ServeThread(LPVOID) {
    WaitForSingleObject(g_vm.stopCalled, INFINITE);
    return 0;
}

// What the application's main does, chosen by the test through QUORVIA_TEST_MAIN, read at call
// time: comma-separated steps of return | exit:N | throw | sleep:MS | wait-file:PATH | thread:MS |
// echo-stdin | spawn:COMMAND LINE (a child left running, started as Java's ProcessBuilder does).
void RunApplication(ThreadEnv* t, Guard& guard) {
    std::string plan;
    if (!rt::GetEnv("QUORVIA_TEST_MAIN", &plan) || plan.empty()) plan = "return";
    guard.Unlock();  // main runs without blocking other threads' JNI calls
    size_t at = 0;
    while (at <= plan.size()) {
        size_t comma = plan.find(',', at);
        if (comma == std::string::npos) comma = plan.size();
        const std::string step = plan.substr(at, comma - at);
        at = comma + 1;
        const size_t colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const std::string arg = colon == std::string::npos ? "" : step.substr(colon + 1);
        char* end = nullptr;
        const long number = std::strtol(arg.c_str(), &end, 10);
        const bool numeric = !arg.empty() && end && *end == '\0';
        if (verb == "return") {
            return;
        } else if (verb == "exit" && numeric) {
            JavaExit(static_cast<jint>(number), "System.exit");
        } else if (verb == "throw") {
            Guard again;
            ThrowNew(t, "java.lang.RuntimeException", "test failure");
            return;
        } else if (verb == "sleep" && numeric && number >= 0) {
            Sleep(static_cast<DWORD>(number));
        } else if (verb == "wait-file" && !arg.empty()) {
            const std::wstring path = rt::ToWide(rt::Utf8To16(arg));
            Emit("wait_file", Json().Str("path", arg));
            while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(20);
            Emit("wait_file_done", Json().Str("path", arg));
        } else if (verb == "spawn" && !arg.empty()) {
            // Java starts children inheriting every inheritable handle of the process.
            std::wstring line = rt::ToWide(rt::Utf8To16(arg));
            STARTUPINFOW startup{};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION child{};
            if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
                Fault("main", "CreateProcess failed for spawn:" + arg);
            CloseHandle(child.hThread);
            CloseHandle(child.hProcess);
            Emit("spawn", Json().Str("command", arg));
        } else if (verb == "thread" && numeric && number >= 0) {
            Guard again;
            HANDLE h = CreateThread(nullptr, 0, AppThread, reinterpret_cast<LPVOID>(static_cast<uintptr_t>(number)), 0, nullptr);
            if (!h) Fault("main", "CreateThread failed");
            g_vm.appThreads.push_back(h);
            Emit("app_thread", Json().Int("ms", number));
        } else if (verb == "serve" && arg.empty()) {
            Guard again;
            if (!g_vm.stopCalled) g_vm.stopCalled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            HANDLE h = CreateThread(nullptr, 0, ServeThread, nullptr, 0, nullptr);
            if (!h) Fault("main", "CreateThread failed");
            g_vm.appThreads.push_back(h);
            Emit("app_thread", Json().Str("until", "stop"));
        } else if (verb == "echo-stdin") {
            // What System.in gives the application: the process's standard input, to its end.
            std::string input;
            HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
            char buffer[4096];
            DWORD got = 0;
            while (in != nullptr && in != INVALID_HANDLE_VALUE && input.size() < (1 << 20) &&
                   ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
                input.append(buffer, got);
            }
            WriteStd(STD_OUTPUT_HANDLE, "test runtime: stdin " + input + "\n");
        } else {
            Fault("main", "QUORVIA_TEST_MAIN has an unknown step '" + step + "'");
        }
    }
}

void CallStatic(JNIEnv* env, jclass clazz, jmethodID id, Args args, const char* function) {
    Guard guard;
    ThreadEnv* t = Enter(env, function);
    Object* cls = DerefClass(t, clazz, function);
    const MethodInfo* m = DerefMethod(id, function);
    if (!(m->access & rt::kAccStatic)) Fault(function, "method ID of an instance method");
    if (m->sig.empty() || m->sig.back() != 'V') Fault(function, "method " + m->name + m->sig + " does not return void");
    if (!IsSubclassOf(cls->cls, m->owner)) Fault(function, "method ID belongs to " + m->owner->name + ", not to " + cls->cls->name);
    NotePendingException(t, function);
    const std::string& owner = m->owner->name;
    if (owner == "java/lang/System" && m->name == "exit") {
        const jint code = args.Int();
        guard.Unlock();
        JavaExit(code, "System.exit");
    }
    if (m->sig == "([Ljava/lang/String;)V" && (m->name == "main" || m->name == "initSingleApplication")) {
        std::string hex;
        const std::string texts = StringArrayJson(t, args.Object(), function, &hex);
        Json j;
        j.Str("class", owner).Raw("args", texts).Raw("args_hex", hex).Int("thread", t->thread)
            .Str("thread_name", t->name).Bool("attached", t->attached).Bool("main_thread", t->creator);
        if (m->name == "main") {
            Emit("main", j);
            WriteStd(STD_OUTPUT_HANDLE, "test runtime: main " + Dotted(owner) + "\n");
            RunApplication(t, guard);
        } else {
            Emit("initSingleApplication", j);
            std::string plan;
            if (rt::GetEnv("QUORVIA_TEST_INIT", &plan) && plan == "throw") {
                ThrowNew(t, "java.lang.RuntimeException", "test failure in initSingleApplication");
            } else if (rt::GetEnv("QUORVIA_TEST_INIT", &plan) && !plan.empty()) {
                Fault("initSingleApplication", "QUORVIA_TEST_INIT has an unknown value '" + plan + "'");
            }
        }
        return;
    }
    Emit("call", Json().Str("class", owner).Str("name", m->name).Str("sig", m->sig).Int("thread", t->thread));
    if (m->name == "stop" && m->sig == "([Ljava/lang/String;)V") {
        // What the stop method does, chosen by QUORVIA_TEST_STOP: return (default; the "serve"
        // threads end) | hang (never returns, ends nothing) | exit:N (System.exit).
        std::string plan;
        if (!rt::GetEnv("QUORVIA_TEST_STOP", &plan) || plan.empty()) plan = "return";
        guard.Unlock();
        if (plan == "hang") {
            Sleep(INFINITE);
        } else if (plan.compare(0, 5, "exit:") == 0) {
            JavaExit(std::atoi(plan.c_str() + 5), "System.exit");
        } else if (plan != "return") {
            Fault("stop", "QUORVIA_TEST_STOP has an unknown value '" + plan + "'");
        }
        Guard again;
        if (g_vm.stopCalled) SetEvent(g_vm.stopCalled);
    }
}

// Java's name for the ANSI code page, as HotSpot on Windows reports it in "sun.jnu.encoding".
std::string PlatformEncodingName() {
    const unsigned acp = GetACP();
    switch (acp) {
        case 65001: return "UTF-8";
        case 936: return "GBK";
        case 54936: return "GB18030";
        case 874: case 932: case 949: case 950: case 1361: return "MS" + std::to_string(acp);
        default: return "Cp" + std::to_string(acp);
    }
}

// System.getProperty: the platform's encoding (which no -D option changes, as in HotSpot), the
// default charset's name, and the -D properties given; null for anything else.
jobject GetProperty(ThreadEnv* t, Object* key, const char* function) {
    if (!key) {
        ThrowNew(t, "java.lang.NullPointerException", "key can't be null");
        return nullptr;
    }
    if (key->kind != Kind::String) Fault(function, "key is not a String");
    if (key->text.empty()) {
        ThrowNew(t, "java.lang.IllegalArgumentException", "key can't be empty");
        return nullptr;
    }
    const std::string name = rt::Utf16To8(key->text);
    bool found = true;
    std::u16string value;
    auto given = g_vm.opts.properties.find(name);
    if (name == "sun.jnu.encoding") {
        value = rt::Utf8To16(PlatformEncodingName());
    } else if (name == "file.encoding" && given == g_vm.opts.properties.end()) {
        value = rt::Utf8To16(g_vm.charset.name);
    } else if (given != g_vm.opts.properties.end()) {
        value = DecodePlatform(given->second);
    } else {
        found = false;
    }
    Json j;
    j.Str("key", name).Int("thread", t->thread);
    if (found) j.Str16("value", value);
    else j.Null("value");
    Emit("getproperty", j);
    if (!found) return nullptr;
    Object* s = NewRef(t, Kind::String);
    s->text = value;
    return reinterpret_cast<jobject>(s);
}

jobject CallStaticObject(JNIEnv* env, jclass clazz, jmethodID id, Args args, const char* function) {
    Guard guard;
    ThreadEnv* t = Enter(env, function);
    Object* cls = DerefClass(t, clazz, function);
    const MethodInfo* m = DerefMethod(id, function);
    if (!(m->access & rt::kAccStatic)) Fault(function, "method ID of an instance method");
    const char last = m->sig.empty() ? '\0' : m->sig[m->sig.find(')') + 1];
    if (last != 'L' && last != '[') Fault(function, "method " + m->name + m->sig + " does not return an object");
    if (!IsSubclassOf(cls->cls, m->owner)) Fault(function, "method ID belongs to " + m->owner->name + ", not to " + cls->cls->name);
    NotePendingException(t, function);
    if (m->owner->name == "java/lang/System" && m->name == "getProperty") {
        return GetProperty(t, Deref(t, args.Object(), function, "key argument"), function);
    }
    // Java code is not run: an answer made up here could let a launcher pass that HotSpot fails.
    Emit("unimplemented", Json().Str("table", "CallStaticObjectMethod").Str("name", m->owner->name + "." + m->name + m->sig));
    WriteStd(STD_ERROR_HANDLE, "test runtime: cannot run " + m->owner->name + "." + m->name + m->sig + "\n");
    TerminateProcess(GetCurrentProcess(), kUnimplementedExitCode);
    return nullptr;
}

jobject JNICALL CallStaticObjectMethod(JNIEnv* env, jclass clazz, jmethodID id, ...) {
    va_list ap;
    va_start(ap, id);
    jobject r = CallStaticObject(env, clazz, id, Args(&ap), "CallStaticObjectMethod");
    va_end(ap);
    return r;
}

jobject JNICALL CallStaticObjectMethodV(JNIEnv* env, jclass clazz, jmethodID id, va_list args) {
    va_list ap;
    va_copy(ap, args);
    jobject r = CallStaticObject(env, clazz, id, Args(&ap), "CallStaticObjectMethodV");
    va_end(ap);
    return r;
}

jobject JNICALL CallStaticObjectMethodA(JNIEnv* env, jclass clazz, jmethodID id, const jvalue* args) {
    return CallStaticObject(env, clazz, id, Args(args), "CallStaticObjectMethodA");
}

jobject NewObjectImpl(JNIEnv* env, jclass clazz, jmethodID id, Args args, const char* function) {
    Guard guard;
    ThreadEnv* t = Enter(env, function);
    Object* cls = DerefClass(t, clazz, function);
    const MethodInfo* m = DerefMethod(id, function);
    if (m->name != "<init>" || m->owner != cls->cls) Fault(function, "method ID is not a constructor of " + cls->cls->name);
    NotePendingException(t, function);
    if (cls->cls->name != "java/lang/String") {
        Emit("unimplemented", Json().Str("table", "NewObject").Str("name", cls->cls->name + "." + m->name + m->sig));
        WriteStd(STD_ERROR_HANDLE, "test runtime: cannot construct " + cls->cls->name + "\n");
        TerminateProcess(GetCurrentProcess(), kUnimplementedExitCode);
    }
    Object* bytes = Deref(t, args.Object(), function, "byte[] argument");
    rt::Charset cs = g_vm.charset;
    if (m->sig == "([BLjava/lang/String;)V") {
        Object* name = Deref(t, args.Object(), function, "charset name argument");
        if (!name) {
            ThrowNew(t, "java.lang.NullPointerException", "charsetName");
            return nullptr;
        }
        if (name->kind != Kind::String) Fault(function, "charset name is not a String");
        if (!rt::LookUpCharset(rt::Utf16To8(name->text), &cs)) {
            ThrowNew(t, "java.io.UnsupportedEncodingException", rt::Utf16To8(name->text));
            return nullptr;
        }
    }
    if (!bytes) {
        ThrowNew(t, "java.lang.NullPointerException", "");
        return nullptr;
    }
    if (bytes->kind != Kind::ByteArray) Fault(function, "argument is not a byte[]");
    Object* s = NewRef(t, Kind::String);
    s->origin.assign(reinterpret_cast<const char*>(bytes->bytes.data()), bytes->bytes.size());
    s->hasOrigin = true;
    s->text = rt::Decode(s->origin, cs);
    s->charset = cs.name;
    Emit("newstring", Json().Str16("text", s->text).Str("hex", rt::Hex(s->origin)).Str("charset", cs.name));
    return reinterpret_cast<jobject>(s);
}

// ---------------------------------------------------------------------------------------------
// JNIEnv functions

jint JNICALL GetVersion(JNIEnv* env) {
    Guard guard;
    Enter(env, "GetVersion");
    return 0x000a0000;  // what HotSpot 17 answers
}

jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    Guard guard;
    ThreadEnv* t = Enter(env, "FindClass");
    const std::string n = SafeCString(name, "FindClass", "name");
    NotePendingException(t, "FindClass");
    LoadError err;
    ClassInfo* c = LoadClass(n, &err);
    Json j;
    j.Str("name", n).Bool("found", c != nullptr).Int("thread", t->thread);
    if (c) j.Str("source", c->source);
    Emit("findclass", j);
    if (!c) {
        // A dotted name of a bootstrap class fails without a ClassNotFoundException cause.
        std::string slashed = n;
        for (char& ch : slashed) {
            if (ch == '.') ch = '/';
        }
        auto boot = g_vm.classes.find(slashed);
        const bool bootstrapDotted = slashed != n && boot != g_vm.classes.end() && boot->second->source == "bootstrap";
        if (bootstrapDotted) err.causeClass.clear();
        ThrowNew(t, err.cls, err.message, err.causeClass, err.causeMessage);
        return nullptr;
    }
    Object* o = NewRef(t, Kind::Class);
    o->cls = c;
    return reinterpret_cast<jclass>(o);
}

jmethodID MethodLookup(JNIEnv* env, jclass clazz, const char* name, const char* sig, bool isStatic) {
    const char* function = isStatic ? "GetStaticMethodID" : "GetMethodID";
    Guard guard;
    ThreadEnv* t = Enter(env, function);
    Object* cls = DerefClass(t, clazz, function);
    const std::string n = SafeCString(name, function, "name"), s = SafeCString(sig, function, "signature");
    NotePendingException(t, function);
    bool wrongKind = false;
    const MethodInfo* m = FindMethod(cls->cls, n, s, isStatic, &wrongKind);
    Json j;
    j.Str("class", cls->cls->name).Str("name", n).Str("sig", s).Bool("found", m != nullptr).Int("thread", t->thread);
    if (m) j.Int("access", m->access);
    if (wrongKind) j.Bool("wrong_kind", true);
    Emit(isStatic ? "getstaticmethodid" : "getmethodid", j);
    if (!m) {
        ThrowNew(t, "java.lang.NoSuchMethodError",
                 std::string(isStatic ? "static " : "") + "L" + cls->cls->name + ";." + n + s);
        return nullptr;
    }
    g_vm.methodIds.insert(m);
    return reinterpret_cast<jmethodID>(const_cast<MethodInfo*>(m));
}

jmethodID JNICALL GetMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
    return MethodLookup(env, clazz, name, sig, false);
}

jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass clazz, const char* name, const char* sig) {
    return MethodLookup(env, clazz, name, sig, true);
}

void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass clazz, jmethodID id, ...) {
    va_list ap;
    va_start(ap, id);
    CallStatic(env, clazz, id, Args(&ap), "CallStaticVoidMethod");
    va_end(ap);
}

void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass clazz, jmethodID id, va_list args) {
    va_list ap;
    va_copy(ap, args);
    CallStatic(env, clazz, id, Args(&ap), "CallStaticVoidMethodV");
    va_end(ap);
}

void JNICALL CallStaticVoidMethodA(JNIEnv* env, jclass clazz, jmethodID id, const jvalue* args) {
    CallStatic(env, clazz, id, Args(args), "CallStaticVoidMethodA");
}

jobject JNICALL NewObject(JNIEnv* env, jclass clazz, jmethodID id, ...) {
    va_list ap;
    va_start(ap, id);
    jobject r = NewObjectImpl(env, clazz, id, Args(&ap), "NewObject");
    va_end(ap);
    return r;
}

jobject JNICALL NewObjectV(JNIEnv* env, jclass clazz, jmethodID id, va_list args) {
    va_list ap;
    va_copy(ap, args);
    jobject r = NewObjectImpl(env, clazz, id, Args(&ap), "NewObjectV");
    va_end(ap);
    return r;
}

jobject JNICALL NewObjectA(JNIEnv* env, jclass clazz, jmethodID id, const jvalue* args) {
    return NewObjectImpl(env, clazz, id, Args(args), "NewObjectA");
}

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize len) {
    Guard guard;
    ThreadEnv* t = Enter(env, "NewByteArray");
    NotePendingException(t, "NewByteArray");
    if (len < 0) {
        ThrowNew(t, "java.lang.NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    Object* o = NewRef(t, Kind::ByteArray);
    o->bytes.assign(static_cast<size_t>(len), 0);
    return reinterpret_cast<jbyteArray>(o);
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, const jbyte* buf) {
    Guard guard;
    ThreadEnv* t = Enter(env, "SetByteArrayRegion");
    Object* a = Deref(t, array, "SetByteArrayRegion", "array");
    if (!a || a->kind != Kind::ByteArray) Fault("SetByteArrayRegion", "array is NULL or not a byte[]");
    NotePendingException(t, "SetByteArrayRegion");
    const long long size = static_cast<long long>(a->bytes.size());
    if (start < 0 || len < 0 || static_cast<long long>(start) + len > size) {
        ThrowNew(t, "java.lang.ArrayIndexOutOfBoundsException",
                 "Array region " + std::to_string(start) + ".." + std::to_string(static_cast<long long>(start) + len) +
                     " out of bounds for length " + std::to_string(size));
        return;
    }
    if (len > 0 && !buf) Fault("SetByteArrayRegion", "buffer is NULL");
    for (jsize i = 0; i < len; ++i) a->bytes[static_cast<size_t>(start + i)] = buf[i];
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize len, jclass elementClass, jobject init) {
    Guard guard;
    ThreadEnv* t = Enter(env, "NewObjectArray");
    Object* cls = DerefClass(t, elementClass, "NewObjectArray");
    Object* first = Deref(t, init, "NewObjectArray", "initial element");
    NotePendingException(t, "NewObjectArray");
    if (len < 0) {
        ThrowNew(t, "java.lang.NegativeArraySizeException", std::to_string(len));
        return nullptr;
    }
    Object* o = NewRef(t, Kind::ObjectArray);
    o->elemClass = cls->cls->name;
    o->elems.assign(static_cast<size_t>(len), first);
    return reinterpret_cast<jobjectArray>(o);
}

const char* KindClass(const Object* o) {
    switch (o->kind) {
        case Kind::Class: return "java/lang/Class";
        case Kind::String: return "java/lang/String";
        case Kind::ByteArray: return "[B";
        case Kind::ObjectArray: return "[Ljava/lang/Object;";
        case Kind::Throwable: return "java/lang/Throwable";
    }
    return "java/lang/Object";
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
    Guard guard;
    ThreadEnv* t = Enter(env, "SetObjectArrayElement");
    Object* a = Deref(t, array, "SetObjectArrayElement", "array");
    if (!a || a->kind != Kind::ObjectArray) Fault("SetObjectArrayElement", "array is NULL or not an Object[]");
    Object* v = Deref(t, value, "SetObjectArrayElement", "value");
    NotePendingException(t, "SetObjectArrayElement");
    if (index < 0 || static_cast<size_t>(index) >= a->elems.size()) {
        ThrowNew(t, "java.lang.ArrayIndexOutOfBoundsException",
                 "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->elems.size()));
        return;
    }
    if (v && a->elemClass != "java/lang/Object" && a->elemClass != KindClass(v)) {
        ThrowNew(t, "java.lang.ArrayStoreException", Dotted(KindClass(v)));
        return;
    }
    a->elems[static_cast<size_t>(index)] = v;
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
    Guard guard;
    ThreadEnv* t = Enter(env, "GetObjectArrayElement");
    Object* a = Deref(t, array, "GetObjectArrayElement", "array");
    if (!a || a->kind != Kind::ObjectArray) Fault("GetObjectArrayElement", "array is NULL or not an Object[]");
    NotePendingException(t, "GetObjectArrayElement");
    if (index < 0 || static_cast<size_t>(index) >= a->elems.size()) {
        ThrowNew(t, "java.lang.ArrayIndexOutOfBoundsException",
                 "Index " + std::to_string(index) + " out of bounds for length " + std::to_string(a->elems.size()));
        return nullptr;
    }
    Object* e = a->elems[static_cast<size_t>(index)];
    if (!e) return nullptr;
    // A fresh local reference to the same value.
    Object* copy = NewRef(t, e->kind);
    *copy = *e;
    copy->owner = t;
    copy->deleted = false;
    return reinterpret_cast<jobject>(copy);
}

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
    Guard guard;
    ThreadEnv* t = Enter(env, "GetArrayLength");
    Object* a = Deref(t, array, "GetArrayLength", "array");
    if (!a || (a->kind != Kind::ObjectArray && a->kind != Kind::ByteArray)) Fault("GetArrayLength", "not an array");
    return static_cast<jsize>(a->kind == Kind::ByteArray ? a->bytes.size() : a->elems.size());
}

void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {
    Guard guard;
    ThreadEnv* t = Enter(env, "DeleteLocalRef");
    Object* o = Deref(t, ref, "DeleteLocalRef", "reference");
    if (o && o->global) Fault("DeleteLocalRef", "reference is a global reference");
    if (o) o->deleted = true;
}

jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
    Guard guard;
    ThreadEnv* t = Enter(env, "NewGlobalRef");
    Object* o = Deref(t, ref, "NewGlobalRef", "reference");
    if (!o) return nullptr;
    Object* g = NewRef(t, o->kind);
    *g = *o;
    g->owner = nullptr;
    g->global = true;
    g->deleted = false;
    return reinterpret_cast<jobject>(g);
}

void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) {
    Guard guard;
    ThreadEnv* t = Enter(env, "DeleteGlobalRef");
    Object* o = Deref(t, ref, "DeleteGlobalRef", "reference");
    if (o && !o->global) Fault("DeleteGlobalRef", "reference is a local reference");
    if (o) o->deleted = true;
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
    Guard guard;
    ThreadEnv* t = Enter(env, "NewStringUTF");
    const std::string bytes = SafeCString(utf, "NewStringUTF", "text");
    NotePendingException(t, "NewStringUTF");
    Object* s = NewRef(t, Kind::String);
    s->text = rt::Utf8To16(bytes);  // modified UTF-8; the launcher passes ASCII names
    return reinterpret_cast<jstring>(s);
}

jthrowable JNICALL ExceptionOccurred(JNIEnv* env) {
    Guard guard;
    ThreadEnv* t = Enter(env, "ExceptionOccurred");
    if (!t->pending) return nullptr;
    Object* copy = NewRef(t, Kind::Throwable);
    *copy = *t->pending;
    copy->owner = t;
    copy->deleted = false;
    return reinterpret_cast<jthrowable>(copy);
}

jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    Guard guard;
    ThreadEnv* t = Enter(env, "ExceptionCheck");
    return t->pending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL ExceptionDescribe(JNIEnv* env) {
    Guard guard;
    ThreadEnv* t = Enter(env, "ExceptionDescribe");
    Object* e = t->pending;
    if (!e) return;
    std::string text = "Exception in thread \"" + t->name + "\" " + e->excClass;
    if (!e->excMessage.empty()) text += ": " + e->excMessage;
    text += "\n";
    if (!e->causeClass.empty()) text += "Caused by: " + e->causeClass + ": " + e->causeMessage + "\n";
    Emit("describe", Json().Str("class", e->excClass).Str("message", e->excMessage).Str("text", text).Int("thread", t->thread));
    t->pending = nullptr;  // HotSpot clears the exception it printed
    guard.Unlock();
    WriteStd(STD_ERROR_HANDLE, text);  // System.err of the Java side
}

void JNICALL ExceptionClear(JNIEnv* env) {
    Guard guard;
    ThreadEnv* t = Enter(env, "ExceptionClear");
    if (t->pending) Emit("exception_clear", Json().Str("class", t->pending->excClass).Int("thread", t->thread));
    t->pending = nullptr;
}

// ---------------------------------------------------------------------------------------------
// JavaVM functions

jint JNICALL DestroyJavaVM(JavaVM* vm) {
    Guard guard;
    if (vm != &g_vm.javaVm) Fault("DestroyJavaVM", "not the JavaVM this VM created");
    if (!g_vm.created || g_vm.destroyed) return JNI_ERR;
    const DWORD tid = GetCurrentThreadId();
    auto self = g_vm.threads.find(tid);
    ThreadEnv* me = self == g_vm.threads.end() ? AttachThread("DestroyJavaVM", false, false) : self->second;
    Emit("destroy", Json().Int("thread", tid).Int("app_threads", static_cast<long long>(g_vm.appThreads.size())));
    const ULONGLONG start = GetTickCount64();
    std::vector<HANDLE> waitFor = g_vm.appThreads;
    guard.Unlock();
    for (HANDLE h : waitFor) WaitForSingleObject(h, INFINITE);
    // HotSpot also waits for every other attached non-daemon thread to detach, for ever if need be.
    bool reported = false;
    for (;;) {
        std::vector<std::string> blocking;
        {
            Guard g;
            for (auto& entry : g_vm.threads) {
                if (entry.second != me && entry.second->attached && !entry.second->daemon)
                    blocking.push_back(JsonString(entry.second->name));
            }
        }
        if (blocking.empty()) break;
        if (!reported && GetTickCount64() - start > 2000) {
            Emit("destroy_blocked", Json().Raw("threads", JsonArray(blocking)));
            reported = true;
        }
        Sleep(10);
    }
    Guard again;
    Emit("shutdown_hooks", Json().Str("via", "DestroyJavaVM"));  // the last non-daemon thread ended
    WriteArchivesAtExit();
    g_vm.destroyed = true;
    Emit("destroyed", Json().Int("waited_ms", static_cast<long long>(GetTickCount64() - start)));
    return JNI_OK;
}

jint Attach(JavaVM* vm, void** penv, void* args, bool daemon) {
    const char* function = daemon ? "AttachCurrentThreadAsDaemon" : "AttachCurrentThread";
    Guard guard;
    if (vm != &g_vm.javaVm) Fault(function, "not the JavaVM this VM created");
    if (!penv) Fault(function, "penv is NULL");
    if (!g_vm.created || g_vm.destroyed) return JNI_ERR;
    const DWORD tid = GetCurrentThreadId();
    auto it = g_vm.threads.find(tid);
    if (it != g_vm.threads.end()) {
        Emit("attach", Json().Int("thread", tid).Bool("already", true));
        *penv = it->second;
        return JNI_OK;
    }
    std::string name;
    if (args) {
        const JavaVMAttachArgs* a = static_cast<const JavaVMAttachArgs*>(args);
        if (!SupportedVersion(a->version)) return JNI_EVERSION;
        if (a->name) name = a->name;
    }
    if (name.empty()) name = "Thread-" + std::to_string(g_vm.threadCounter++);
    ThreadEnv* t = AttachThread(name, daemon, false);
    Emit("attach", Json().Int("thread", tid).Str("name", name).Bool("daemon", daemon));
    *penv = t;
    return JNI_OK;
}

jint JNICALL AttachCurrentThread(JavaVM* vm, void** penv, void* args) { return Attach(vm, penv, args, false); }
jint JNICALL AttachCurrentThreadAsDaemon(JavaVM* vm, void** penv, void* args) { return Attach(vm, penv, args, true); }

jint JNICALL DetachCurrentThread(JavaVM* vm) {
    Guard guard;
    if (vm != &g_vm.javaVm) Fault("DetachCurrentThread", "not the JavaVM this VM created");
    const DWORD tid = GetCurrentThreadId();
    auto it = g_vm.threads.find(tid);
    if (it == g_vm.threads.end()) return JNI_OK;  // HotSpot: detaching an unattached thread is a no-op
    ThreadEnv* t = it->second;
    // HotSpot hands an exception still pending to the thread's uncaught-exception handler, which
    // prints it, and detaches all the same.
    if (t->pending) {
        std::string text = "Exception in thread \"" + t->name + "\" " + t->pending->excClass;
        if (!t->pending->excMessage.empty()) text += ": " + t->pending->excMessage;
        Emit("uncaught", Json().Str("class", t->pending->excClass).Str("message", t->pending->excMessage)
                             .Int("thread", tid));
        WriteStd(STD_ERROR_HANDLE, text + "\n");
        t->pending = nullptr;
    }
    t->attached = false;
    // The thread's local references die with it.
    for (Object* o : g_vm.objects) {
        if (o->owner == t && !o->global) o->deleted = true;
    }
    g_vm.threads.erase(it);
    Emit("detach", Json().Int("thread", tid).Str("name", t->name));
    return JNI_OK;
}

jint JNICALL GetEnv(JavaVM* vm, void** penv, jint version) {
    Guard guard;
    if (vm != &g_vm.javaVm) Fault("GetEnv", "not the JavaVM this VM created");
    if (!penv) Fault("GetEnv", "penv is NULL");
    auto it = g_vm.threads.find(GetCurrentThreadId());
    if (it == g_vm.threads.end() || g_vm.destroyed) {
        *penv = nullptr;
        return JNI_EDETACHED;
    }
    if (!SupportedVersion(version)) {
        *penv = nullptr;
        return JNI_EVERSION;
    }
    *penv = it->second;
    return JNI_OK;
}

// ---------------------------------------------------------------------------------------------
// Function tables: every slot first gets a trap that names itself, then the implemented ones.

template <size_t N>
void JNICALL EnvTrap() {
    Unimplemented("JNIEnv", N, kJniEnvFunctionNames[N]);
}

template <size_t N>
void JNICALL VmTrap() {
    Unimplemented("JavaVM", N, kJniVmFunctionNames[N]);
}

constexpr size_t kEnvSlots = sizeof(JNINativeInterface_) / sizeof(void*);
constexpr size_t kVmSlots = sizeof(JNIInvokeInterface_) / sizeof(void*);
static_assert(kEnvSlots == sizeof(kJniEnvFunctionNames) / sizeof(kJniEnvFunctionNames[0]), "JNIEnv name table out of step with jni.h");
static_assert(kVmSlots == sizeof(kJniVmFunctionNames) / sizeof(kJniVmFunctionNames[0]), "JavaVM name table out of step with jni.h");

template <size_t... I>
void FillEnvTraps(void** slots, std::index_sequence<I...>) {
    ((slots[I] = reinterpret_cast<void*>(&EnvTrap<I>)), ...);
}

template <size_t... I>
void FillVmTraps(void** slots, std::index_sequence<I...>) {
    ((slots[I] = reinterpret_cast<void*>(&VmTrap<I>)), ...);
}

void BuildTables() {
    FillEnvTraps(reinterpret_cast<void**>(&g_envTable), std::make_index_sequence<kEnvSlots>());
    FillVmTraps(reinterpret_cast<void**>(&g_vmTable), std::make_index_sequence<kVmSlots>());
    g_envTable.GetVersion = GetVersion;
    g_envTable.FindClass = FindClass;
    g_envTable.GetMethodID = GetMethodID;
    g_envTable.GetStaticMethodID = GetStaticMethodID;
    g_envTable.CallStaticVoidMethod = CallStaticVoidMethod;
    g_envTable.CallStaticVoidMethodV = CallStaticVoidMethodV;
    g_envTable.CallStaticVoidMethodA = CallStaticVoidMethodA;
    g_envTable.NewObject = NewObject;
    g_envTable.NewObjectV = NewObjectV;
    g_envTable.NewObjectA = NewObjectA;
    g_envTable.NewByteArray = NewByteArray;
    g_envTable.SetByteArrayRegion = SetByteArrayRegion;
    g_envTable.NewObjectArray = NewObjectArray;
    g_envTable.SetObjectArrayElement = SetObjectArrayElement;
    g_envTable.GetObjectArrayElement = GetObjectArrayElement;
    g_envTable.GetArrayLength = GetArrayLength;
    g_envTable.DeleteLocalRef = DeleteLocalRef;
    g_envTable.NewGlobalRef = NewGlobalRef;
    g_envTable.DeleteGlobalRef = DeleteGlobalRef;
    g_envTable.NewStringUTF = NewStringUTF;
    g_envTable.CallStaticObjectMethod = CallStaticObjectMethod;
    g_envTable.CallStaticObjectMethodV = CallStaticObjectMethodV;
    g_envTable.CallStaticObjectMethodA = CallStaticObjectMethodA;
    g_envTable.ExceptionOccurred = ExceptionOccurred;
    g_envTable.ExceptionCheck = ExceptionCheck;
    g_envTable.ExceptionDescribe = ExceptionDescribe;
    g_envTable.ExceptionClear = ExceptionClear;
    g_vmTable.DestroyJavaVM = DestroyJavaVM;
    g_vmTable.AttachCurrentThread = AttachCurrentThread;
    g_vmTable.DetachCurrentThread = DetachCurrentThread;
    g_vmTable.GetEnv = GetEnv;
    g_vmTable.AttachCurrentThreadAsDaemon = AttachCurrentThreadAsDaemon;
}

// ---------------------------------------------------------------------------------------------
// Creation

std::wstring AbsolutePath(const std::wstring& p) {
    wchar_t buf[32768];
    const DWORD n = GetFullPathNameW(p.empty() ? L"." : p.c_str(), 32768, buf, nullptr);
    if (n == 0 || n >= 32768) return p;
    return std::wstring(buf, n);
}

std::wstring PlatformWide(const std::string& s) { return rt::ToWide(DecodePlatform(s)); }

void SetUpClassPath() {
    auto it = g_vm.opts.properties.find("java.class.path");
    const std::string cp = it == g_vm.opts.properties.end() ? "" : it->second;
    // As Java's application class loader: ';'-separated, and an empty element (or no class path
    // at all) stands for the current directory, resolved now.
    size_t at = 0;
    for (;;) {
        const size_t semi = cp.find(';', at);
        ClassPathEntry e;
        e.given = cp.substr(at, semi == std::string::npos ? std::string::npos : semi - at);
        e.path = AbsolutePath(PlatformWide(e.given));
        g_vm.classPath.push_back(std::move(e));
        if (semi == std::string::npos) break;
        at = semi + 1;
    }
}

void CheckAgents() {
    for (const std::string& agent : g_vm.opts.agents) {
        const std::string jarPath = agent.substr(0, agent.find('='));
        std::string error, premain;
        std::unique_ptr<rt::Jar> jar = rt::Jar::Open(AbsolutePath(PlatformWide(jarPath)), &error);
        if (!jar || !jar->Has("META-INF/MANIFEST.MF")) {
            VmPrint("Error opening zip file or JAR manifest missing : " + jarPath + "\n");
            InitFailure("agent library failed to init: instrument");
        }
        if (!jar->ManifestAttribute("Premain-Class", &premain) || premain.empty()) {
            VmPrint("Failed to find Premain-Class manifest attribute in " + jarPath + "\n");
            InitFailure("agent library failed to init: instrument");
        }
        std::string slashed = premain;
        for (char& c : slashed) {
            if (c == '.') c = '/';
        }
        std::string bytes;
        rt::ClassFile cf;
        bool hasPremain = false;
        if (jar->Read(slashed + ".class", &bytes, &error) && rt::ParseClassFile(bytes, &cf, &error) == rt::ClassFileError::None) {
            for (const rt::MethodEntry& m : cf.methods) {
                if (m.name == "premain" && (m.access & rt::kAccStatic) &&
                    (m.descriptor == "(Ljava/lang/String;Ljava/lang/instrument/Instrumentation;)V" ||
                     m.descriptor == "(Ljava/lang/String;)V"))
                    hasPremain = true;
            }
        }
        Emit("agent", Json().Str("jar", jarPath).Str("class", premain).Bool("premain", hasPremain));
        if (!hasPremain) {
            VmPrint("Exception in thread \"main\" java.lang.ClassNotFoundException: " + premain + "\n");
            VmPrint("*** java.lang.instrument ASSERTION FAILED ***: \"result\" with message agent load/premain call failed\n");
            InitFailure("FATAL ERROR in native method: processing of -javaagent failed");
        }
    }
}

uint64_t PhysicalMemory() {
    MEMORYSTATUSEX ms;
    ms.dwLength = sizeof ms;
    return GlobalMemoryStatusEx(&ms) ? ms.ullTotalPhys : (1ull << 30);
}

void ReserveHeap() {
    const uint64_t xmx = g_vm.opts.xmx ? g_vm.opts.xmx : std::max<uint64_t>(PhysicalMemory() / 4, g_vm.opts.xms);
    void* p = VirtualAlloc(nullptr, static_cast<SIZE_T>(xmx), MEM_RESERVE, PAGE_NOACCESS);
    if (!p) InitFailure("Could not reserve enough space for " + std::to_string(xmx / 1024) + "KB object heap");
    if (g_vm.opts.xms && !VirtualAlloc(p, static_cast<SIZE_T>(g_vm.opts.xms), MEM_COMMIT, PAGE_READWRITE))
        InitFailure("Could not commit " + std::to_string(g_vm.opts.xms / 1024) + "KB of the object heap");
    g_vm.heap = p;
}

// Private commit of the process. Wine leaves PrivateUsage unset, so the struct is zeroed and the
// page-file figure (the same commit charge on Windows) is used when PrivateUsage stays 0.
long long PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX pmc;
    ZeroMemory(&pmc, sizeof pmc);
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc)) return -1;
    return static_cast<long long>(pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage);
}

// HotSpot loads java.dll at creation by its full path, from the folder above its own (bin\).
// Recorded with whether bin\ is still among the folders added with AddDllDirectory: nothing
// HotSpot loads later searches them, so a launcher has no reason to leave it there.
void LoadJavaLibrary() {
    wchar_t self[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(g_module, self, MAX_PATH * 4);
    std::wstring bin = n > 0 && n < MAX_PATH * 4 ? std::wstring(self, n) : L"";
    for (int level = 0; level < 2; ++level) {
        const size_t cut = bin.find_last_of(L'\\');
        bin.resize(cut == std::wstring::npos ? 0 : cut);
    }
    HMODULE probe = LoadLibraryExW(L"java.dll", nullptr, LOAD_LIBRARY_SEARCH_USER_DIRS);
    if (probe) FreeLibrary(probe);
    const std::wstring path = bin + L"\\java.dll";
    HMODULE java = LoadLibraryW(path.c_str());
    Emit("load_library", Json().Str16("path", rt::FromWide(path)).Bool("ok", java != nullptr)
                             .Bool("bin_in_added_dll_folders", probe != nullptr));
    if (!java) InitFailure("Unable to load native library: " + rt::Utf16To8(rt::FromWide(path)));
}

std::wstring ParentPath(std::wstring path) {
    const size_t cut = path.find_last_of(L'\\');
    path.resize(cut == std::wstring::npos ? 0 : cut);
    return path;
}

// This jvm.dll's folder: bin\\server or bin\\client below the home.
std::wstring VmFolder() {
    wchar_t self[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(g_module, self, MAX_PATH * 4);
    return ParentPath(n > 0 && n < MAX_PATH * 4 ? std::wstring(self, n) : L"");
}

// The base class-data archive HotSpot maps by default lies beside jvm.dll.
bool HasBaseArchive() {
    const DWORD attributes = GetFileAttributesW((VmFolder() + L"\\classes.jsa").c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The feature version in the home's release file; 17, the version this VM mirrors, when there is none.
int ReleaseJavaVersion() {
    const std::wstring home = ParentPath(ParentPath(VmFolder()));
    HANDLE file = CreateFileW((home + L"\\release").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 17;
    char text[4096];
    DWORD read = 0;
    if (!ReadFile(file, text, sizeof text, &read, nullptr)) read = 0;
    CloseHandle(file);
    const std::string release(text, read);
    const std::string key = "JAVA_VERSION=\"";
    size_t at = release.find(key);
    while (at != std::string::npos && at > 0 && release[at - 1] != '\n') at = release.find(key, at + 1);
    if (at == std::string::npos) return 17;
    at += key.size();
    int version = std::atoi(release.c_str() + at);
    if (version == 1 && release.compare(at, 2, "1.") == 0) version = std::atoi(release.c_str() + at + 2);
    return version;
}

jint Create(JavaVM** pvm, void** penv, void* vargs) {
    Guard guard;
    if (!pvm || !penv || !vargs) Fault("JNI_CreateJavaVM", "NULL argument");
    *pvm = nullptr;
    *penv = nullptr;
    const JavaVMInitArgs* args = static_cast<const JavaVMInitArgs*>(vargs);
    Json j;
    j.Str("vm", QUORVIA_VM_VARIANT).Int("version", args->version).Bool("ignoreUnrecognized", args->ignoreUnrecognized != JNI_FALSE)
        .Int("thread", GetCurrentThreadId()).Str("cwd", rt::CurrentDirectory())
        .Bool("splash_window", FindWindowA("SplashWindowClass", nullptr) != nullptr).Int("private_bytes", PrivateBytes());
    if (g_vm.created) {
        const jint rc = g_vm.destroyed ? JNI_ERR : JNI_EEXIST;
        Emit("create", j.Int("result", rc).Str("error", g_vm.destroyed ? "VM was destroyed" : "a VM exists"));
        return rc;
    }
    if (!SupportedVersion(args->version)) {
        Emit("create", j.Int("result", JNI_EVERSION).Str("error", "unsupported JNI version"));
        return JNI_EVERSION;
    }
    if (args->nOptions < 0 || (args->nOptions > 0 && !args->options)) Fault("JNI_CreateJavaVM", "bad options array");
    std::vector<std::string> optionJson;
    for (jint i = 0; i < args->nOptions; ++i) {
        optionJson.push_back(OptionJson(args->options[i].optionString, args->options[i].extraInfo != nullptr));
    }
    j.Raw("options", JsonArray(optionJson));
    g_vm.opts.javaVersion = ReleaseJavaVersion();
    g_vm.opts.baseArchive = HasBaseArchive();
    j.Int("java_version", g_vm.opts.javaVersion).Bool("base_archive", g_vm.opts.baseArchive);
    rt::OptionError deferred;
    for (jint i = 0; i < args->nOptions; ++i) {
        const char* text = args->options[i].optionString;
        if (!text) Fault("JNI_CreateJavaVM", "option " + std::to_string(i) + " has a NULL optionString");
        rt::OptionError e = rt::ParseOption(text, args->options[i].extraInfo, &g_vm.opts);
        if (e.outcome == rt::OptionOutcome::InitFailure) {
            if (deferred.outcome == rt::OptionOutcome::Ok) deferred = e;
            continue;
        }
        if (e.outcome != rt::OptionOutcome::Ok) {
            if (args->ignoreUnrecognized && e.outcome == rt::OptionOutcome::Unrecognized &&
                std::string(text).rfind("-X", 0) == 0)
                continue;  // HotSpot ignores only unknown -X options when asked to
            const jint rc = e.outcome == rt::OptionOutcome::Unrecognized ? JNI_ERR : JNI_EINVAL;
            Emit("create", j.Int("result", rc).Str("error", e.message));
            VmPrint(e.message + "\n");
            g_vm.opts = rt::ParsedOptions();
            return rc;
        }
    }
    if (deferred.outcome == rt::OptionOutcome::Ok) deferred = rt::CheckCombination(g_vm.opts);
    if (deferred.outcome == rt::OptionOutcome::Ok && !g_vm.opts.baseArchive &&
        (!g_vm.opts.archiveClassesAtExit.empty() || g_vm.opts.autoCreateSharedArchive)) {
        g_vm.opts.warnings.push_back("[warning][cds] -XX:ArchiveClassesAtExit is unsupported when base CDS archive is "
                                     "not loaded. Run with -Xlog:cds for more info.");
    }
    // The default charset as since Java 18: UTF-8 unless file.encoding names another one, or
    // COMPAT (the platform's); an unknown name means UTF-8.
    auto enc = g_vm.opts.properties.find("file.encoding");
    rt::LookUpCharset("UTF-8", &g_vm.charset);
    if (enc != g_vm.opts.properties.end()) {
        std::string name = enc->second;
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == "compat") {
            g_vm.charset = rt::PlatformCharset();
        } else if (!rt::LookUpCharset(enc->second, &g_vm.charset)) {
            rt::LookUpCharset("UTF-8", &g_vm.charset);
        }
    }
    SetUpClassPath();
    std::vector<std::string> cpJson, agentJson;
    for (const ClassPathEntry& e : g_vm.classPath) cpJson.push_back(JsonString16(DecodePlatform(e.given)));
    for (const std::string& a : g_vm.opts.agents) agentJson.push_back(JsonString16(DecodePlatform(a)));
    j.Raw("classpath", JsonArray(cpJson)).Raw("agents", JsonArray(agentJson)).Str("charset", g_vm.charset.name)
        .Int("xms", static_cast<long long>(g_vm.opts.xms)).Int("xmx", static_cast<long long>(g_vm.opts.xmx))
        .Int("xss", static_cast<long long>(g_vm.opts.xss)).Bool("exit_hook", g_vm.opts.exitHook != nullptr)
        .Bool("abort_hook", g_vm.opts.abortHook != nullptr).Bool("vfprintf_hook", g_vm.opts.vfprintfHook != nullptr);
    j.Int("result", deferred.outcome == rt::OptionOutcome::Ok ? JNI_OK : JNI_ERR);
    if (deferred.outcome != rt::OptionOutcome::Ok) j.Str("error", deferred.message);
    Emit("create", j);
    for (const std::string& w : g_vm.opts.warnings) VmPrint(w + "\n");
    if (deferred.outcome != rt::OptionOutcome::Ok) InitFailure(deferred.message);
    ReserveHeap();
    LoadJavaLibrary();
    CheckAgents();
    if (!g_vm.opts.reduceSignals) signal(SIGINT, OnConsoleInterrupt);
    MapArchive();

    g_vm.javaVm.functions = &g_vmTable;
    g_vm.created = true;
    ThreadEnv* t = AttachThread("main", false, true);
    *pvm = &g_vm.javaVm;
    *penv = t;
    Emit("created", Json().Int("thread", t->thread));
    return JNI_OK;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM** pvm, void** penv, void* args) { return Create(pvm, penv, args); }

#ifndef QUORVIA_NO_DEFAULT_INIT_ARGS
JNIEXPORT jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) {
    if (!args) Fault("JNI_GetDefaultJavaVMInitArgs", "NULL argument");
    const jint version = *static_cast<jint*>(args);
    const jint rc = SupportedVersion(version) ? JNI_OK : JNI_ERR;
    Emit("getdefaultinitargs", Json().Int("version", version).Int("result", rc));
    return rc;
}
#endif

JNIEXPORT jint JNICALL JNI_GetCreatedJavaVMs(JavaVM** vms, jsize len, jsize* count) {
    Guard guard;
    const bool live = g_vm.created && !g_vm.destroyed;
    if (count) *count = live ? 1 : 0;
    if (live && vms && len > 0) vms[0] = &g_vm.javaVm;
    Emit("getcreatedvms", Json().Int("count", live ? 1 : 0));
    return JNI_OK;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        InitializeCriticalSection(&g_lock);
        BuildTables();
        AddBootstrapClasses();
        wchar_t path[MAX_PATH * 4];
        const DWORD n = GetModuleFileNameW(module, path, MAX_PATH * 4);
        Emit("load", Json().Str("dll", QUORVIA_VM_VARIANT)
                         .Str16("path", n > 0 && n < MAX_PATH * 4 ? rt::FromWide(std::wstring(path, n)) : u"")
                         .Int("testdep", quorvia_testdep_value()));
    }
    return TRUE;
}
