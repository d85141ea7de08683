// Self-test of the stand-in Java runtime, run under Wine. The parent process runs each scenario
// as a child of itself (a VM can be created once per process), with its own trace file and
// captured stdout/stderr, and then checks exit codes, output and the trace.
//
// Usage: test-runtime-selftest.exe [<build dir holding test-runtime\ and test-apps\>]

#include <windows.h>
#include <shellapi.h>

#include <jni.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Checks

int g_passed = 0;
int g_failed = 0;
std::string g_scope;

void Check(bool ok, const std::string& what) {
    if (ok) {
        ++g_passed;
        std::printf("PASS %s: %s\n", g_scope.c_str(), what.c_str());
    } else {
        ++g_failed;
        std::printf("FAIL %s: %s\n", g_scope.c_str(), what.c_str());
    }
    std::fflush(stdout);
}

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string U8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Minimal JSON reader for the trace (which is promised to be pure ASCII).

struct Value {
    enum Type { Null, Bool, Number, String, Array, Object } type = Null;
    bool b = false;
    double n = 0;
    std::u16string s;
    std::vector<Value> items;
    std::vector<std::pair<std::string, Value>> members;

    const Value* Get(const char* key) const {
        for (auto& m : members) {
            if (m.first == key) return &m.second;
        }
        return nullptr;
    }
    std::u16string Str(const char* key) const {
        const Value* v = Get(key);
        return v && v->type == String ? v->s : u"<missing>";
    }
    double Num(const char* key) const {
        const Value* v = Get(key);
        return v && v->type == Number ? v->n : -1e300;
    }
    bool Flag(const char* key, bool* present = nullptr) const {
        const Value* v = Get(key);
        if (present) *present = v && v->type == Bool;
        return v && v->type == Bool && v->b;
    }
};

class Parser {
public:
    explicit Parser(const std::string& t) : t_(t) {}
    bool Parse(Value* v) {
        if (!ParseValue(v)) return false;
        Ws();
        return i_ == t_.size();
    }

private:
    void Ws() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\r' || t_[i_] == '\n')) ++i_;
    }
    bool Lit(const char* s) {
        const size_t n = std::strlen(s);
        if (t_.compare(i_, n, s) != 0) return false;
        i_ += n;
        return true;
    }
    bool ParseString(std::u16string* out) {
        if (i_ >= t_.size() || t_[i_] != '"') return false;
        ++i_;
        while (i_ < t_.size()) {
            unsigned char c = static_cast<unsigned char>(t_[i_++]);
            if (c == '"') return true;
            if (c >= 0x80 || c < 0x20) return false;  // the trace must be ASCII with escapes
            if (c != '\\') {
                *out += static_cast<char16_t>(c);
                continue;
            }
            if (i_ >= t_.size()) return false;
            char e = t_[i_++];
            switch (e) {
                case '"': *out += u'"'; break;
                case '\\': *out += u'\\'; break;
                case '/': *out += u'/'; break;
                case 'n': *out += u'\n'; break;
                case 'r': *out += u'\r'; break;
                case 't': *out += u'\t'; break;
                case 'b': *out += u'\b'; break;
                case 'f': *out += u'\f'; break;
                case 'u': {
                    if (i_ + 4 > t_.size()) return false;
                    unsigned v = 0;
                    for (int k = 0; k < 4; ++k) {
                        char h = t_[i_++];
                        v <<= 4;
                        if (h >= '0' && h <= '9') v |= static_cast<unsigned>(h - '0');
                        else if (h >= 'a' && h <= 'f') v |= static_cast<unsigned>(h - 'a' + 10);
                        else if (h >= 'A' && h <= 'F') v |= static_cast<unsigned>(h - 'A' + 10);
                        else return false;
                    }
                    *out += static_cast<char16_t>(v);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }
    bool ParseValue(Value* v) {
        Ws();
        if (i_ >= t_.size()) return false;
        char c = t_[i_];
        if (c == '{') {
            v->type = Value::Object;
            ++i_;
            Ws();
            if (i_ < t_.size() && t_[i_] == '}') {
                ++i_;
                return true;
            }
            for (;;) {
                Ws();
                std::u16string key;
                if (!ParseString(&key)) return false;
                Ws();
                if (i_ >= t_.size() || t_[i_++] != ':') return false;
                Value member;
                if (!ParseValue(&member)) return false;
                v->members.emplace_back(U8(key), std::move(member));
                Ws();
                if (i_ >= t_.size()) return false;
                if (t_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (t_[i_] == '}') {
                    ++i_;
                    return true;
                }
                return false;
            }
        }
        if (c == '[') {
            v->type = Value::Array;
            ++i_;
            Ws();
            if (i_ < t_.size() && t_[i_] == ']') {
                ++i_;
                return true;
            }
            for (;;) {
                Value item;
                if (!ParseValue(&item)) return false;
                v->items.push_back(std::move(item));
                Ws();
                if (i_ >= t_.size()) return false;
                if (t_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (t_[i_] == ']') {
                    ++i_;
                    return true;
                }
                return false;
            }
        }
        if (c == '"') {
            v->type = Value::String;
            return ParseString(&v->s);
        }
        if (Lit("true")) {
            v->type = Value::Bool;
            v->b = true;
            return true;
        }
        if (Lit("false")) {
            v->type = Value::Bool;
            return true;
        }
        if (Lit("null")) return true;
        size_t start = i_;
        while (i_ < t_.size() && (std::strchr("+-0123456789.eE", t_[i_]) != nullptr)) ++i_;
        if (start == i_) return false;
        v->type = Value::Number;
        v->n = std::strtod(t_.substr(start, i_ - start).c_str(), nullptr);
        return true;
    }
    const std::string& t_;
    size_t i_ = 0;
};

std::string ReadFileText(const std::wstring& path) {
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(h);
    return out;
}

std::vector<Value> ReadTrace(const std::wstring& path) {
    std::vector<Value> events;
    const std::string text = ReadFileText(path);
    size_t at = 0;
    int bad = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        const std::string line = text.substr(at, nl - at);
        at = nl + 1;
        if (line.empty()) continue;
        Value v;
        if (Parser(line).Parse(&v) && v.type == Value::Object && v.Get("event")) {
            events.push_back(std::move(v));
        } else {
            ++bad;
            std::printf("  unparsable trace line: %s\n", line.c_str());
        }
    }
    Check(bad == 0, "every trace line is one ASCII JSON object with an \"event\"");
    return events;
}

std::vector<const Value*> Events(const std::vector<Value>& trace, const char* name) {
    std::vector<const Value*> out;
    for (const Value& v : trace) {
        if (v.Str("event") == std::u16string(name, name + std::strlen(name))) out.push_back(&v);
    }
    return out;
}

std::u16string U16(const char* s) { return std::u16string(s, s + std::strlen(s)); }

// ---------------------------------------------------------------------------------------------
// Environment of a scenario

std::wstring g_buildDir;    // holds test-runtime\ and test-apps\ (no trailing backslash)
std::wstring g_workDir;     // scratch folder for this run

std::wstring RuntimeDir() { return g_buildDir + L"\\test-runtime"; }
std::wstring AppsDir() { return g_buildDir + L"\\test-apps"; }

typedef jint(JNICALL* CreateFn)(JavaVM**, void**, void*);
typedef jint(JNICALL* GetCreatedFn)(JavaVM**, jsize, jsize*);
typedef jint(JNICALL* GetDefaultFn)(void*);

struct VmLib {
    HMODULE module = nullptr;
    CreateFn create = nullptr;
    GetCreatedFn getCreated = nullptr;
    GetDefaultFn getDefault = nullptr;
};

VmLib LoadVm(const wchar_t* variant) {
    VmLib lib;
    SetDllDirectoryW((RuntimeDir() + L"\\bin").c_str());
    lib.module = LoadLibraryW((RuntimeDir() + L"\\bin\\" + variant + L"\\jvm.dll").c_str());
    if (!lib.module) {
        std::printf("FAIL loading jvm.dll: error %lu\n", GetLastError());
        std::exit(3);
    }
    lib.create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(lib.module, "JNI_CreateJavaVM")));
    lib.getCreated = reinterpret_cast<GetCreatedFn>(reinterpret_cast<void*>(GetProcAddress(lib.module, "JNI_GetCreatedJavaVMs")));
    lib.getDefault = reinterpret_cast<GetDefaultFn>(reinterpret_cast<void*>(GetProcAddress(lib.module, "JNI_GetDefaultJavaVMInitArgs")));
    if (!lib.create || !lib.getCreated || !lib.getDefault) {
        std::printf("FAIL jvm.dll lacks an export\n");
        std::exit(3);
    }
    return lib;
}

void JNICALL ExitHook(jint code) {
    std::printf("exit hook %ld\n", static_cast<long>(code));
    std::fflush(stdout);
}

void JNICALL AbortHook() {
    std::printf("abort hook\n");
    std::fflush(stdout);
}

jint JNICALL VfprintfHook(FILE*, const char* format, va_list args) {
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, format, args);
    std::printf("vfprintf hook: %s", buf);
    std::fflush(stdout);
    return 0;
}

struct Options {
    std::vector<std::string> text;
    std::vector<void*> extra;
    void Add(const std::string& t, void* e = nullptr) {
        text.push_back(t);
        extra.push_back(e);
    }
};

jint Create(const VmLib& lib, const Options& o, JavaVM** vm, JNIEnv** env, jint version = JNI_VERSION_1_2) {
    std::vector<JavaVMOption> opts(o.text.size());
    for (size_t i = 0; i < opts.size(); ++i) {
        opts[i].optionString = const_cast<char*>(o.text[i].c_str());
        opts[i].extraInfo = o.extra[i];
    }
    JavaVMInitArgs args;
    args.version = version;
    args.nOptions = static_cast<jint>(opts.size());
    args.options = opts.empty() ? nullptr : opts.data();
    args.ignoreUnrecognized = JNI_FALSE;
    return lib.create(vm, reinterpret_cast<void**>(env), &args);
}

std::string AppJar() { return Narrow(AppsDir()) + "\\app.jar"; }

jobject MakeString(JNIEnv* env, const std::string& bytes) {
    jclass stringClass = env->FindClass("java/lang/String");
    jmethodID ctor = env->GetMethodID(stringClass, "<init>", "([B)V");
    jbyteArray array = env->NewByteArray(static_cast<jsize>(bytes.size()));
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte*>(bytes.data()));
    jobject s = env->NewObject(stringClass, ctor, array);
    env->DeleteLocalRef(array);
    env->DeleteLocalRef(stringClass);
    return s;
}

jobjectArray MakeArgs(JNIEnv* env, const std::vector<std::string>& args) {
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(args.size()), stringClass, nullptr);
    for (size_t i = 0; i < args.size(); ++i) {
        jobject s = MakeString(env, args[i]);
        env->SetObjectArrayElement(array, static_cast<jsize>(i), s);
        env->DeleteLocalRef(s);
    }
    env->DeleteLocalRef(stringClass);
    return array;
}

// ---------------------------------------------------------------------------------------------
// Hand-made class files for what javac does not emit (CONSTANT_Dynamic) or refuses to emit.

void U1(std::string* b, unsigned v) { *b += static_cast<char>(v & 0xFF); }
void U2(std::string* b, unsigned v) {
    U1(b, v >> 8);
    U1(b, v);
}
void Utf8(std::string* b, const std::string& s) {
    U1(b, 1);
    U2(b, static_cast<unsigned>(s.size()));
    *b += s;
}

std::string CondyClass(const std::string& name, unsigned major) {
    std::string b = "\xCA\xFE\xBA\xBE";
    U2(&b, 0);
    U2(&b, major);
    U2(&b, 13);                            // constant pool count
    Utf8(&b, name);                        // 1
    U1(&b, 7), U2(&b, 1);                  // 2 Class
    Utf8(&b, "java/lang/Object");          // 3
    U1(&b, 7), U2(&b, 3);                  // 4 Class
    Utf8(&b, "main");                      // 5
    Utf8(&b, "([Ljava/lang/String;)V");    // 6
    Utf8(&b, "x");                         // 7
    Utf8(&b, "I");                         // 8
    U1(&b, 12), U2(&b, 7), U2(&b, 8);      // 9 NameAndType
    U1(&b, 17), U2(&b, 0), U2(&b, 9);      // 10 Dynamic
    U1(&b, 5), b += std::string(8, '\1');  // 11-12 Long takes two slots
    U2(&b, 0x0021);
    U2(&b, 2);
    U2(&b, 4);
    U2(&b, 0);  // interfaces
    U2(&b, 0);  // fields
    U2(&b, 1);  // methods
    U2(&b, 0x0109);  // public static native: no Code attribute needed
    U2(&b, 5);
    U2(&b, 6);
    U2(&b, 0);
    U2(&b, 0);  // class attributes
    return b;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD w = 0;
    if (h != INVALID_HANDLE_VALUE) {
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &w, nullptr);
        CloseHandle(h);
    }
}

// ---------------------------------------------------------------------------------------------
// Scenarios (each runs in its own child process)

// Full happy path: options, class path, strings, main, destroy.
int ScenarioMain() {
    VmLib lib = LoadVm(L"server");
    jsize n = 5;
    lib.getCreated(nullptr, 0, &n);
    Check(n == 0, "no VM reported before creation");
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    Options o;
    const std::wstring jarCopy = g_workDir + L"\\copy.jar";
    CopyFileW(Widen(AppJar()).c_str(), jarCopy.c_str(), FALSE);
    o.Add("-Djava.class.path=" + Narrow(AppsDir()) + "\\does-not-exist.jar;" + Narrow(jarCopy));
    o.Add("-Dfile.encoding=UTF-8");
    o.Add("-Dquorvia.flag");
    o.Add("-Xmx64m");
    o.Add("-Xms8m");
    o.Add("-Xss1m");
    o.Add("-XX:+UseG1GC");
    o.Add("-XX:MaxRAMPercentage=50");
    o.Add("-verbose:gc");
    o.Add("--add-modules=java.base");
    o.Add("-javaagent:" + Narrow(AppsDir()) + "\\agent.jar=opt");
    o.Add("exit", reinterpret_cast<void*>(&ExitHook));
    o.Add("abort", reinterpret_cast<void*>(&AbortHook));
    const jint rc = Create(lib, o, &vm, &env);
    Check(rc == JNI_OK && vm && env, "JNI_CreateJavaVM succeeds with options HotSpot accepts");
    if (rc != JNI_OK) return 1;
    JavaVM* found[2] = {nullptr, nullptr};
    lib.getCreated(found, 2, &n);
    Check(n == 1 && found[0] == vm, "JNI_GetCreatedJavaVMs reports the VM");
    Check(env->GetVersion() == 0x000a0000, "GetVersion answers JNI 10 like HotSpot 17");

    jclass app = env->FindClass("com/example/App");
    Check(app != nullptr && !env->ExceptionCheck(), "FindClass finds com/example/App in a deflated jar after a missing entry");
    Check(!DeleteFileW(jarCopy.c_str()), "a jar in use cannot be deleted, as with Java's open zip files");
    JavaVM* vmAgain = nullptr;
    JNIEnv* envAgain = nullptr;
    Check(Create(lib, Options(), &vmAgain, &envAgain) == JNI_EEXIST && !vmAgain, "a second JNI_CreateJavaVM gives JNI_EEXIST");
    jmethodID mainId = env->GetStaticMethodID(app, "main", "([Ljava/lang/String;)V");
    Check(mainId != nullptr, "GetStaticMethodID finds static main");
    // UTF-8 with a 2-byte char, a lone 0xFF, a truncated 3-byte sequence and an encoded surrogate.
    jobjectArray args = MakeArgs(env, {"plain", "h\xC3\xA9llo", "bad\xFF" "x\xE2\x82\xED\xA0\x80" "y", ""});
    Check(!env->ExceptionCheck(), "building String[] raises nothing");
    SetEnvironmentVariableW(L"QUORVIA_TEST_MAIN", L"return");
    env->CallStaticVoidMethod(app, mainId, args);
    Check(!env->ExceptionCheck(), "main returns without exception");

    // throw: the application leaves an exception behind.
    SetEnvironmentVariableW(L"QUORVIA_TEST_MAIN", L"throw");
    env->CallStaticVoidMethod(app, mainId, args);
    jthrowable t = env->ExceptionOccurred();
    Check(t != nullptr, "ExceptionOccurred after main threw");
    env->DeleteLocalRef(t);
    env->ExceptionDescribe();
    Check(!env->ExceptionCheck(), "ExceptionDescribe clears the exception");

    // Inherited static main, and the String(byte[], String) constructor.
    jclass child = env->FindClass("com/example/Child");
    Check(child && env->GetStaticMethodID(child, "main", "([Ljava/lang/String;)V") != nullptr,
          "static main inherited from the superclass is found");
    jclass stringClass = env->FindClass("java/lang/String");
    jmethodID ctor2 = env->GetMethodID(stringClass, "<init>", "([BLjava/lang/String;)V");
    jbyteArray raw = env->NewByteArray(3);
    const jbyte hi[3] = {static_cast<jbyte>(0x80), static_cast<jbyte>(0x81), 0x41};
    env->SetByteArrayRegion(raw, 0, 3, hi);
    jobject cp1252 = MakeString(env, "Cp1252");
    jobject latin1 = MakeString(env, "ISO-8859-1");
    jobject bogus = MakeString(env, "no-such-charset");
    env->NewObject(stringClass, ctor2, raw, cp1252);
    env->NewObject(stringClass, ctor2, raw, latin1);
    Check(!env->ExceptionCheck(), "String(byte[], charset) for known charsets");
    Check(env->NewObject(stringClass, ctor2, raw, bogus) == nullptr && env->ExceptionCheck(),
          "unknown charset name raises UnsupportedEncodingException");
    env->ExceptionClear();
    // The platform encoding as HotSpot on Windows names it, usable from a global reference.
    jclass system = env->FindClass("java/lang/System");
    jmethodID getProperty = env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    jobject jnu = env->CallStaticObjectMethod(system, getProperty, env->NewStringUTF("sun.jnu.encoding"));
    Check(jnu != nullptr && !env->ExceptionCheck(), "System.getProperty gives sun.jnu.encoding");
    jobject jnuGlobal = env->NewGlobalRef(jnu);
    Check(env->NewObject(stringClass, ctor2, raw, jnuGlobal) != nullptr, "String(byte[], platform encoding)");
    Check(env->CallStaticObjectMethod(system, getProperty, env->NewStringUTF("no.such.property")) == nullptr &&
              !env->ExceptionCheck(), "an unset property is null");
    env->SetByteArrayRegion(raw, 2, 2, hi);
    Check(env->ExceptionCheck(), "SetByteArrayRegion past the end raises");
    env->ExceptionClear();

    SetEnvironmentVariableW(L"QUORVIA_TEST_MAIN", L"thread:600");
    env->CallStaticVoidMethod(app, mainId, args);
    const ULONGLONG before = GetTickCount64();
    Check(vm->DestroyJavaVM() == JNI_OK, "DestroyJavaVM returns JNI_OK");
    Check(GetTickCount64() - before >= 500, "DestroyJavaVM waited for the application's non-daemon thread");
    lib.getCreated(found, 2, &n);
    Check(n == 0, "no VM reported after DestroyJavaVM");
    JavaVM* vm2 = nullptr;
    JNIEnv* env2 = nullptr;
    Check(Create(lib, Options(), &vm2, &env2) == JNI_ERR, "a destroyed VM cannot be created again");
    return 0;
}

// Rejections and lookups a real VM refuses.
int ScenarioReject() {
    VmLib lib = LoadVm(L"server");
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    JavaVMInitArgs probe;
    probe.version = JNI_VERSION_1_8;
    Check(lib.getDefault(&probe) == JNI_OK, "JNI_GetDefaultJavaVMInitArgs accepts 1.8");
    probe.version = 0x00130000;
    Check(lib.getDefault(&probe) == JNI_ERR, "JNI_GetDefaultJavaVMInitArgs rejects an unknown version");
    Check(Create(lib, Options(), &vm, &env, JNI_VERSION_1_1) == JNI_EVERSION, "version 1.1 gives JNI_EVERSION");
    const std::pair<const char*, jint> bad[] = {
        {"-bogus", JNI_ERR}, {"-cp", JNI_ERR}, {"-server", JNI_ERR}, {"-Xt", JNI_ERR}, {"--list-modules", JNI_ERR},
        {"-Xmx16q", JNI_EINVAL}, {"-Xmx", JNI_EINVAL}, {"-XX:+Bogus", JNI_EINVAL}, {"-XX:UseG1GC", JNI_EINVAL},
        {"-XX:MaxRAMPercentage=200", JNI_EINVAL}, {"-Xverify:sometimes", JNI_EINVAL}, {"", JNI_ERR},
        {"-Xmx64m ", JNI_EINVAL}};
    for (const auto& b : bad) {
        Options o;
        o.Add("-Xmx64m");
        o.Add(b.first);
        Check(Create(lib, o, &vm, &env) == b.second && vm == nullptr, std::string("option '") + b.first + "' rejected with the HotSpot code");
    }
    Options vo;
    vo.Add("vfprintf", reinterpret_cast<void*>(&VfprintfHook));
    vo.Add("-Xbogus");
    Check(Create(lib, vo, &vm, &env) == JNI_ERR, "-Xbogus rejected (message goes to the vfprintf hook)");

    // Folder class path plus hand-made class files.
    const std::wstring classes = g_workDir + L"\\classes";
    CreateDirectoryW(classes.c_str(), nullptr);
    WriteFileBytes(classes + L"\\Condy55.class", CondyClass("Condy55", 55));
    WriteFileBytes(classes + L"\\Condy52.class", CondyClass("Condy52", 52));
    WriteFileBytes(classes + L"\\Condy65.class", CondyClass("Condy65", 65));
    WriteFileBytes(classes + L"\\Renamed.class", CondyClass("Other", 55));
    Options o;
    o.Add("-Djava.class.path=" + Narrow(classes) + ";" + Narrow(AppsDir()) + "\\app-stored.jar;" + Narrow(AppsDir()) +
          "\\modular.jar");
    Check(Create(lib, o, &vm, &env) == JNI_OK, "VM created after earlier rejected attempts");
    if (!env) return 1;

    struct Lookup {
        const char* name;
        bool found;
    };
    const Lookup lookups[] = {{"com/example/App", true},       {"com.example.App", false},
                              {"java.lang.String", false},     {"java/lang/String", true},
                              {"com/example/Missing", false},  {"DefaultPackageApp", true},
                              {"com/example/Constants", true}, {"com/example/NeedsMissingBase", false},
                              {"module-info", false},          {"com/example/mod/ModMain", true},
                              {"Condy55", true},               {"Condy52", false},
                              {"Condy65", false},              {"Renamed", false},
                              {"com/example/", false},         {"[Ljava/lang/String;", true}};
    for (const Lookup& l : lookups) {
        jclass c = env->FindClass(l.name);
        const bool pending = env->ExceptionCheck() == JNI_TRUE;
        Check((c != nullptr) == l.found && pending != l.found,
              std::string("FindClass(\"") + l.name + "\") " + (l.found ? "found" : "not found, exception pending"));
        if (pending) env->ExceptionDescribe();
        if (c) env->DeleteLocalRef(c);
    }
    // Pending exception: HotSpot 17 carries on with the call; the exception stays pending unless
    // the call throws a new one.
    Check(env->FindClass("com/example/Missing") == nullptr, "missing class");
    jclass whilePending = env->FindClass("com/example/App");
    Check(whilePending != nullptr && env->ExceptionCheck() == JNI_TRUE,
          "FindClass with an exception pending finds the class and leaves the exception pending");
    if (whilePending) env->DeleteLocalRef(whilePending);
    env->ExceptionClear();

    struct MethodLookup {
        const char* cls;
        const char* name;
        const char* sig;
        bool isStatic;
        bool found;
    };
    const MethodLookup methods[] = {
        {"com/example/WrongMain", "main", "([Ljava/lang/String;)V", true, false},
        {"com/example/WrongMain", "main", "([Ljava/lang/String;)V", false, true},
        {"com/example/WrongMain", "main", "(Ljava/lang/String;)V", true, true},
        {"com/example/NoMain", "main", "([Ljava/lang/String;)V", true, false},
        {"com/example/App", "inst", "([Ljava/lang/String;)V", true, false},
        {"com/example/App", "inst", "([Ljava/lang/String;)V", false, true},
        {"com/example/App", "main", "([Ljava/lang/String;)V", true, true},
        {"com/example/App", "main", "([Ljava/lang/String;)", true, false},
        {"com/example/SingleApp", "initSingleApplication", "([Ljava/lang/String;)V", true, true},
        {"com/example/Constants", "main", "([Ljava/lang/String;)V", true, true},
        {"Condy55", "main", "([Ljava/lang/String;)V", true, true},
        {"java/lang/String", "<init>", "([B)V", true, false},
    };
    for (const MethodLookup& m : methods) {
        jclass c = env->FindClass(m.cls);
        jmethodID id = m.isStatic ? env->GetStaticMethodID(c, m.name, m.sig) : env->GetMethodID(c, m.name, m.sig);
        const bool pending = env->ExceptionCheck() == JNI_TRUE;
        Check((id != nullptr) == m.found && pending != m.found,
              std::string(m.isStatic ? "GetStaticMethodID " : "GetMethodID ") + m.cls + "." + m.name + m.sig +
                  (m.found ? " found" : " not found"));
        if (pending) env->ExceptionDescribe();
        env->DeleteLocalRef(c);
    }
    return 0;
}

// initSingleApplication from a second, attached thread; waiting main.
struct SecondThread {
    JavaVM* vm;
    jint attachRc = -100;
    jint detachRc = -100;
    bool called = false;
};

DWORD WINAPI SecondThreadBody(LPVOID p) {
    SecondThread* s = static_cast<SecondThread*>(p);
    JNIEnv* env = nullptr;
    JavaVMAttachArgs a;
    a.version = JNI_VERSION_1_2;
    a.name = const_cast<char*>("instance-listener");
    a.group = nullptr;
    s->attachRc = s->vm->AttachCurrentThread(reinterpret_cast<void**>(&env), &a);
    if (s->attachRc != JNI_OK) return 1;
    jclass c = env->FindClass("com/example/SingleApp");
    jmethodID id = c ? env->GetStaticMethodID(c, "initSingleApplication", "([Ljava/lang/String;)V") : nullptr;
    if (id) {
        jobjectArray args = MakeArgs(env, {"second", "start"});
        env->CallStaticVoidMethod(c, id, args);
        s->called = !env->ExceptionCheck();
    }
    s->detachRc = s->vm->DetachCurrentThread();
    return 0;
}

volatile bool g_released = false;

int ScenarioThreads() {
    VmLib lib = LoadVm(L"client");
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    Options o;
    o.Add("-Djava.class.path=" + AppJar());
    if (Create(lib, o, &vm, &env) != JNI_OK) {
        Check(false, "create");
        return 1;
    }
    SecondThread s{vm};
    HANDLE h = CreateThread(nullptr, 0, SecondThreadBody, &s, 0, nullptr);
    WaitForSingleObject(h, 30000);
    CloseHandle(h);
    Check(s.attachRc == JNI_OK && s.called && s.detachRc == JNI_OK, "second thread attaches, calls initSingleApplication, detaches");
    JNIEnv* again = nullptr;
    Check(vm->GetEnv(reinterpret_cast<void**>(&again), JNI_VERSION_1_8) == JNI_OK && again == env, "GetEnv on the creating thread");
    // main waits for a file the test creates later.
    const std::wstring flag = g_workDir + L"\\release.flag";
    DeleteFileW(flag.c_str());
    SetEnvironmentVariableW(L"QUORVIA_TEST_MAIN", (L"wait-file:" + flag).c_str());
    // The file appears only once the trace shows main waiting for it, so main cannot have
    // returned early without this being noticed.
    struct Releaser {
        static DWORD WINAPI Run(LPVOID p) {
            wchar_t trace[MAX_PATH * 2];
            const DWORD n = GetEnvironmentVariableW(L"QUORVIA_TEST_TRACE", trace, MAX_PATH * 2);
            if (n == 0 || n >= MAX_PATH * 2) return 1;
            for (int i = 0; i < 3000 && ReadFileText(trace).find("\"event\":\"wait_file\"") == std::string::npos; ++i) Sleep(10);
            Sleep(100);
            g_released = true;
            WriteFileBytes(*static_cast<std::wstring*>(p), "go");
            return 0;
        }
    };
    std::wstring flagCopy = flag;
    HANDLE r = CreateThread(nullptr, 0, Releaser::Run, &flagCopy, 0, nullptr);
    jclass c = env->FindClass("com/example/SingleApp");
    jmethodID mainId = env->GetStaticMethodID(c, "main", "([Ljava/lang/String;)V");
    env->CallStaticVoidMethod(c, mainId, MakeArgs(env, {}));
    Check(g_released, "main with wait-file returned only after the file appeared");
    WaitForSingleObject(r, 30000);
    CloseHandle(r);
    Check(vm->DestroyJavaVM() == JNI_OK, "destroy");
    return 0;
}

// Faults that must end the process loudly.
DWORD WINAPI UnattachedBody(LPVOID p) {
    JNIEnv* env = static_cast<JNIEnv*>(p);
    env->FindClass("com/example/App");  // never attached: the VM must stop the process
    return 0;
}

int ScenarioFault(const std::string& kind) {
    VmLib lib = LoadVm(L"server");
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    Options o;
    o.Add("-Djava.class.path=" + AppJar());
    if (kind == "missing-agent") o.Add("-javaagent:" + Narrow(g_workDir) + "\\nowhere.jar");
    if (kind == "agent-without-premain") o.Add("-javaagent:" + AppJar());
    if (kind == "tiny-heap") o.Add("-Xmx1024k");
    if (kind == "gc-off") o.Add("-XX:-UseG1GC");
    o.Add("abort", reinterpret_cast<void*>(&AbortHook));
    o.Add("exit", reinterpret_cast<void*>(&ExitHook));
    const jint rc = Create(lib, o, &vm, &env);
    std::printf("create returned %ld\n", static_cast<long>(rc));
    if (rc != JNI_OK) return 2;
    if (kind == "unattached") {
        HANDLE h = CreateThread(nullptr, 0, UnattachedBody, env, 0, nullptr);
        WaitForSingleObject(h, 30000);
    } else if (kind == "unimplemented") {
        env->GetStringUTFChars(nullptr, nullptr);
    } else if (kind == "stale-ref") {
        jclass c = env->FindClass("com/example/App");
        env->DeleteLocalRef(c);
        env->GetStaticMethodID(c, "main", "([Ljava/lang/String;)V");
    } else if (kind == "exit") {
        jclass c = env->FindClass("com/example/App");
        jmethodID id = env->GetStaticMethodID(c, "main", "([Ljava/lang/String;)V");
        env->CallStaticVoidMethod(c, id, MakeArgs(env, {"a"}));
    }
    std::printf("still running\n");
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Parent side

struct ChildResult {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
    std::vector<Value> trace;
};

ChildResult RunChild(const std::string& scenario, const std::map<std::wstring, std::wstring>& env = {}) {
    ChildResult r;
    const std::wstring base = g_workDir + L"\\" + Widen(scenario);
    const std::wstring tracePath = base + L".trace", outPath = base + L".out", errPath = base + L".err";
    DeleteFileW(tracePath.c_str());
    SetEnvironmentVariableW(L"QUORVIA_TEST_TRACE", tracePath.c_str());
    SetEnvironmentVariableW(L"QUORVIA_TEST_MAIN", nullptr);
    for (auto& e : env) SetEnvironmentVariableW(e.first.c_str(), e.second.c_str());
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileW(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" \"" + g_buildDir + L"\" --scenario " + Widen(scenario) + L" \"" + g_workDir + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 999);
        GetExitCodeProcess(pi.hProcess, &r.exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(out);
    CloseHandle(err);
    for (auto& e : env) SetEnvironmentVariableW(e.first.c_str(), nullptr);
    SetEnvironmentVariableW(L"QUORVIA_TEST_TRACE", nullptr);
    r.out = ReadFileText(outPath);
    r.err = ReadFileText(errPath);
    g_scope = scenario;
    // Checks made inside the child count here too.
    size_t at = 0;
    while ((at = r.out.find("FAIL ", at)) != std::string::npos) {
        const size_t nl = r.out.find('\n', at);
        std::printf("%s\n", r.out.substr(at, nl - at).c_str());
        ++g_failed;
        at = nl;
    }
    at = 0;
    while ((at = r.out.find("PASS ", at)) != std::string::npos) {
        ++g_passed;
        at += 5;
    }
    r.trace = ReadTrace(tracePath);
    return r;
}

bool Contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

const Value* First(const std::vector<Value>& trace, const char* event) {
    auto e = Events(trace, event);
    return e.empty() ? nullptr : e.front();
}

void CheckMainScenario() {
    ChildResult r = RunChild("main");
    Check(r.exitCode == 0, "child exited 0 (got " + std::to_string(r.exitCode) + ")");
    const Value* load = First(r.trace, "load");
    Check(load && load->Str("dll") == u"server" && load->Num("testdep") == 1729, "load event names the server VM and its dependency");
    const Value* create = First(r.trace, "create");
    Check(create != nullptr, "create event recorded");
    if (create) {
        const Value* options = create->Get("options");
        Check(options && options->items.size() == 13, "all 13 options recorded");
        if (options && options->items.size() == 13) {
            Check(options->items[1].Str("text") == u"-Dfile.encoding=UTF-8" && !options->items[1].Flag("extra"),
                  "option text recorded, extra false");
            Check(options->items[11].Str("text") == u"exit" && options->items[11].Flag("extra"), "exit hook option has extraInfo");
            Check(options->items[3].Str("hex") == u"2d586d7836346d", "option bytes recorded as hex");
        }
        const Value* cp = create->Get("classpath");
        Check(cp && cp->items.size() == 2 && cp->items[1].s == U16((Narrow(g_workDir) + "\\copy.jar").c_str()),
              "class path split on ';'");
        Check(create->Str("charset") == u"UTF-8", "file.encoding=UTF-8 selects UTF-8");
        Check(create->Num("xmx") == 64.0 * 1024 * 1024 && create->Num("xms") == 8.0 * 1024 * 1024, "heap sizes parsed");
        Check(create->Num("version") == JNI_VERSION_1_2 && create->Num("result") == 0, "version and result recorded");
        bool present = false;
        create->Flag("splash_window", &present);
        // The process has at least its own image and heaps committed, and far less than 4 GB.
        Check(present && create->Num("private_bytes") > 100000 && create->Num("private_bytes") < 4e9,
              "splash_window and a plausible private_bytes recorded");
        Check(create->Flag("exit_hook") && create->Flag("abort_hook") && !create->Flag("vfprintf_hook"), "hooks recorded");
    }
    const Value* agent = First(r.trace, "agent");
    Check(agent && agent->Str("class") == u"com.example.agent.Agent" && agent->Flag("premain"), "agent jar checked for Premain-Class");
    auto mains = Events(r.trace, "main");
    Check(mains.size() == 3, "main called three times");
    if (!mains.empty()) {
        const Value* m = mains[0];
        const Value* args = m->Get("args");
        const Value* hex = m->Get("args_hex");
        Check(m->Str("class") == u"com/example/App" && m->Flag("main_thread"), "main event names class and thread");
        Check(args && args->items.size() == 4, "four arguments");
        if (args && args->items.size() == 4) {
            Check(args->items[0].s == u"plain", "ASCII argument");
            Check(args->items[1].s == u"h\u00e9llo", "UTF-8 argument decoded");
            Check(args->items[2].s == u"bad\ufffdx\ufffd\ufffdy",
                  "malformed UTF-8 replaced like Java (one U+FFFD per maximal subpart, one per encoded surrogate)");
            Check(args->items[3].s.empty(), "empty argument kept");
        }
        Check(hex && hex->items.size() == 4 && hex->items[2].s == u"626164ff78e282eda08079", "original argument bytes recorded");
    }
    Check(Contains(r.out, "test runtime: main com.example.App"), "main prints to stdout");
    Check(Contains(r.err, "Exception in thread \"main\" java.lang.RuntimeException: test failure"),
          "ExceptionDescribe prints like HotSpot");
    auto strings = Events(r.trace, "newstring");
    bool sawCp1252 = false, sawLatin1 = false;
    for (const Value* s : strings) {
        if (s->Str("charset") == u"windows-1252") sawCp1252 = s->Str("text") == u"\u20ac\ufffdA";
        if (s->Str("charset") == u"ISO-8859-1") sawLatin1 = s->Str("text") == u"\u0080\u0081A";
    }
    Check(sawCp1252, "windows-1252 decodes 0x80 as euro and 0x81 as U+FFFD");
    const Value* jnu = First(r.trace, "getproperty");
    Check(jnu && jnu->Str("key") == u"sun.jnu.encoding" && jnu->Str("value") == u"Cp" + U16(std::to_string(GetACP()).c_str()),
          "sun.jnu.encoding names the ANSI code page as Java does (Cp1252)");
    Check(sawLatin1, "ISO-8859-1 decodes bytes one to one");
    const Value* destroyed = First(r.trace, "destroyed");
    Check(destroyed && destroyed->Num("waited_ms") >= 500, "destroyed event records the wait for the non-daemon thread");
    Check(Events(r.trace, "fault").empty() && Events(r.trace, "unimplemented").empty(), "no faults");
}

void CheckRejectScenario() {
    ChildResult r = RunChild("reject");
    Check(r.exitCode == 0, "child exited 0 (got " + std::to_string(r.exitCode) + ")");
    Check(Contains(r.err, "Unrecognized option: -bogus"), "unknown option reported like HotSpot");
    Check(Contains(r.err, "Invalid maximum heap size: -Xmx16q"), "bad heap size reported like HotSpot");
    Check(Contains(r.err, "Unrecognized VM option 'Bogus'"), "unknown -XX flag reported like HotSpot");
    Check(Contains(r.out, "vfprintf hook: Unrecognized option: -Xbogus"), "message routed to the vfprintf hook");
    Check(!Contains(r.err, "-Xbogus"), "hooked message not also on stderr");
    Check(Contains(r.err, "Exception in thread \"main\" java.lang.NoClassDefFoundError: com.example.App\n"
                          "Caused by: java.lang.ClassNotFoundException: com.example.App"),
          "dotted name: NoClassDefFoundError with ClassNotFoundException cause");
    Check(Contains(r.err, "java.lang.NoClassDefFoundError: java.lang.String\n") &&
              !Contains(r.err, "ClassNotFoundException: java.lang.String"),
          "dotted bootstrap name fails without a cause");
    Check(Contains(r.err, "java.lang.NoClassDefFoundError: com/example/Missing\n"), "missing class message is the slashed name");
    Check(Contains(r.err, "java.lang.NoClassDefFoundError: com/example/MissingBase"), "missing superclass makes loading fail");
    Check(Contains(r.err, "module-info is not a class because access_flag ACC_MODULE is set"),
          "module-info.class (Module/Package constants) parsed and refused as a class");
    Check(Contains(r.err, "java.lang.ClassFormatError"), "CONSTANT_Dynamic in a version 52 class is a format error");
    Check(Contains(r.err, "java.lang.UnsupportedClassVersionError: Condy65"), "class file version 65 is too new for 17");
    Check(Contains(r.err, "java.lang.NoClassDefFoundError: Renamed (wrong name: Other)"), "wrong name detected");
    Check(Contains(r.err, "java.lang.NoSuchMethodError: static Lcom/example/WrongMain;.main([Ljava/lang/String;)V"),
          "non-static main: NoSuchMethodError with HotSpot's message");
    Check(Contains(r.err, "java.lang.NoSuchMethodError: static Lcom/example/NoMain;.main([Ljava/lang/String;)V"),
          "class without main: NoSuchMethodError");
    auto versions = Events(r.trace, "create");
    Check(!versions.empty() && versions[0]->Num("result") == JNI_EVERSION, "JNI_EVERSION recorded");
    const Value* blocked = First(r.trace, "pending_exception_call");
    Check(blocked && blocked->Str("function") == u"FindClass", "call with a pending exception recorded");
    bool constantsOk = false;
    for (const Value* f : Events(r.trace, "findclass")) {
        if (f->Str("name") == u"com/example/Constants") constantsOk = f->Flag("found") && f->Str("source") != u"<missing>";
    }
    Check(constantsOk, "findclass event records found and source");
    const Value* gsm = First(r.trace, "getstaticmethodid");
    Check(gsm && gsm->Str("class") == u"com/example/WrongMain" && gsm->Get("found") && !gsm->Flag("found") && gsm->Flag("wrong_kind"),
          "getstaticmethodid event for an instance main");
}

void CheckThreadsScenario() {
    ChildResult r = RunChild("threads");
    Check(r.exitCode == 0, "child exited 0 (got " + std::to_string(r.exitCode) + ")");
    const Value* load = First(r.trace, "load");
    Check(load && load->Str("dll") == u"client", "client variant says so");
    const Value* create = First(r.trace, "create");
    Check(create && create->Str("vm") == u"client", "create event names the client VM");
    const Value* attach = First(r.trace, "attach");
    const Value* init = First(r.trace, "initSingleApplication");
    Check(attach && attach->Str("name") == u"instance-listener", "attach records the thread name");
    Check(init && init->Flag("attached") && !init->Flag("main_thread") && attach && init->Num("thread") == attach->Num("thread"),
          "initSingleApplication on the attached second thread");
    if (init) {
        const Value* args = init->Get("args");
        Check(args && args->items.size() == 2 && args->items[0].s == u"second", "initSingleApplication arguments recorded");
    }
    Check(First(r.trace, "detach") != nullptr, "detach recorded");
    Check(First(r.trace, "wait_file_done") != nullptr, "wait-file step recorded");
}

void CheckFaultScenario(const std::string& kind, DWORD expectedCode, const char* event, const char* stderrText,
                        const std::map<std::wstring, std::wstring>& env = {}) {
    ChildResult r = RunChild(kind, env);
    Check(r.exitCode == expectedCode, "process ends with " + std::to_string(expectedCode) + " (got " + std::to_string(r.exitCode) + ")");
    Check(!Contains(r.out, "still running"), "the call did not return");
    Check(event == nullptr || First(r.trace, event) != nullptr, std::string("trace has a ") + (event ? event : "") + " event");
    Check(Contains(r.err, stderrText) || Contains(r.out, stderrText), std::string("output has '") + stderrText + "'");
    if (kind == "unimplemented") {
        const Value* u = First(r.trace, "unimplemented");
        Check(u && u->Str("name") == u"GetStringUTFChars" && u->Num("index") == 169, "slot named from jni.h");
    }
    if (kind == "missing-agent" || kind == "tiny-heap" || kind == "gc-off" || kind == "agent-without-premain") {
        Check(Contains(r.out, "abort hook") && !Contains(r.out, "exit hook"), "abort hook called, exit hook not");
    }
    if (kind == "exit") {
        const Value* hook = First(r.trace, "exit_hook");
        Check(hook && hook->Num("code") == 7 && Contains(r.out, "exit hook 7"), "exit hook called with the code");
    }
}

void CheckLibraries() {
    g_scope = "libraries";
    const std::wstring bin = RuntimeDir() + L"\\bin";
    SetDllDirectoryW(nullptr);
    HMODULE m = LoadLibraryExW((bin + L"\\server\\jvm.dll").c_str(), nullptr, 0);
    const DWORD error = GetLastError();
    Check(m == nullptr && error == ERROR_MOD_NOT_FOUND, "jvm.dll by full path fails while bin is not on the search path");
    if (m) FreeLibrary(m);
    HMODULE notalib = LoadLibraryW((g_buildDir + L"\\test-runtime-variants\\notalib-jvm.dll").c_str());
    Check(notalib == nullptr, "notalib-jvm.dll is not loadable");
    SetDllDirectoryW(bin.c_str());
    HMODULE nodefault = LoadLibraryW((g_buildDir + L"\\test-runtime-variants\\nodefault-jvm.dll").c_str());
    Check(nodefault && GetProcAddress(nodefault, "JNI_CreateJavaVM") && GetProcAddress(nodefault, "JNI_GetCreatedJavaVMs") &&
              !GetProcAddress(nodefault, "JNI_GetDefaultJavaVMInitArgs"),
          "nodefault-jvm.dll lacks only JNI_GetDefaultJavaVMInitArgs");
    Check(GetFileAttributesW((bin + L"\\java.dll").c_str()) != INVALID_FILE_ATTRIBUTES, "bin\\java.dll exists");
    const std::string cfg = ReadFileText(RuntimeDir() + L"\\lib\\jvm.cfg");
    Check(Contains(cfg, "-server KNOWN") && Contains(cfg, "-client KNOWN"), "lib\\jvm.cfg lists server and client");
    SetDllDirectoryW(nullptr);
}

typedef int (*SplashIntVoid)(void);
typedef int (*SplashLoadFileFn)(const char*);
typedef int (*SplashLoadMemoryFn)(void*, int);
typedef void (*SplashSetFileJarNameFn)(const char*, const char*);
typedef void (*SplashSetScaleFactorFn)(float);
typedef int (*SplashGetScaledImageNameFn)(const char*, const char*, float*, char*, size_t);
typedef void (*SplashVoid)(void);
typedef int (*SplashMaxLenFn)(const char*);

template <typename T>
T Proc(HMODULE m, const char* name) {
    FARPROC p = GetProcAddress(m, name);
    if (!p) {
        Check(false, std::string("splashscreen.dll exports ") + name);
        std::exit(3);
    }
    return reinterpret_cast<T>(reinterpret_cast<void*>(p));
}

int ScenarioSplash() {
    HMODULE m = LoadLibraryW((RuntimeDir() + L"\\bin\\splashscreen.dll").c_str());
    if (!m) return 3;
    const std::wstring dir = g_workDir + L"\\splash";
    CreateDirectoryW(dir.c_str(), nullptr);
    WriteFileBytes(dir + L"\\logo.png", "png");
    WriteFileBytes(dir + L"\\logo@2x.png", "png");
    SetCurrentDirectoryW(dir.c_str());
    Proc<SplashIntVoid>(m, "SplashInit")();
    Check(Proc<SplashLoadFileFn>(m, "SplashLoadFile")("logo.png") == 1, "SplashLoadFile of an existing file");
    Check(Proc<SplashLoadFileFn>(m, "SplashLoadFile")("none.png") == 0, "SplashLoadFile of a missing file fails");
    char data[4] = {1, 2, 3, 4};
    Check(Proc<SplashLoadMemoryFn>(m, "SplashLoadMemory")(data, 4) == 1, "SplashLoadMemory");
    Proc<SplashSetFileJarNameFn>(m, "SplashSetFileJarName")("logo.png", nullptr);
    Proc<SplashSetScaleFactorFn>(m, "SplashSetScaleFactor")(2.0f);
    auto scaled = Proc<SplashGetScaledImageNameFn>(m, "SplashGetScaledImageName");
    char out[64];
    float factor = 1.0f;
    Check(scaled(nullptr, "logo.png", &factor, out, sizeof out) == 1 && std::strcmp(out, "logo@2x.png") == 0 && factor == 2.0f,
          "scaled name found next to the image");
    Check(scaled(nullptr, "logo.png", &factor, out, 5) == 0, "too small output buffer refused");
    Check(scaled(nullptr, "none.png", &factor, out, sizeof out) == 0, "no @2x variant: 0");
    Check(Proc<SplashMaxLenFn>(m, "SplashGetScaledImgNameMaxPstfixLen")("logo.png") == 12,
          "buffer size for the scaled name includes \"@2x\" and the terminator");
    Proc<SplashVoid>(m, "SplashUpdate")();
    Proc<SplashVoid>(m, "SplashClose")();
    return 0;
}

void CheckSplashScenario() {
    ChildResult r = RunChild("splash");
    Check(r.exitCode == 0, "child exited 0");
    auto calls = Events(r.trace, "splash");
    Check(calls.size() == 12, "12 splash calls recorded (got " + std::to_string(calls.size()) + ")");
    if (calls.size() >= 2) {
        const Value* args = calls[1]->Get("args");
        Check(calls[1]->Str("call") == u"SplashLoadFile" && args && args->items.size() == 1 && args->items[0].s == u"logo.png",
              "SplashLoadFile argument recorded");
        const std::u16string cwd = calls[1]->Str("cwd");
        Check(cwd.size() > 7 && cwd.compare(cwd.size() - 7, 7, u"\\splash") == 0, "current directory recorded");
    }
}

int RunScenario(const std::string& name) {
    g_scope = name;
    if (name == "main") return ScenarioMain();
    if (name == "reject") return ScenarioReject();
    if (name == "threads") return ScenarioThreads();
    if (name == "splash") return ScenarioSplash();
    return ScenarioFault(name);
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc >= 2) {
        g_buildDir = argv[1];
    } else {
        wchar_t self[MAX_PATH];
        const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
        g_buildDir.assign(self, n);
        g_buildDir = g_buildDir.substr(0, g_buildDir.find_last_of(L'\\'));
    }
    while (!g_buildDir.empty() && (g_buildDir.back() == L'\\' || g_buildDir.back() == L'/')) g_buildDir.pop_back();
    if (argc >= 5 && std::wstring(argv[2]) == L"--scenario") {
        g_workDir = argv[4];
        const int rc = RunScenario(Narrow(argv[3]));
        std::fflush(stdout);
        return rc;
    }
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    // Wine reuses process ids between runs, so the tick count keeps the folder fresh.
    g_workDir = std::wstring(temp) + L"quorvia-rt-selftest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount64());
    CreateDirectoryW(g_workDir.c_str(), nullptr);

    CheckLibraries();
    CheckMainScenario();
    CheckRejectScenario();
    CheckThreadsScenario();
    CheckSplashScenario();
    CheckFaultScenario("unattached", 87, "fault", "not attached to the VM");
    CheckFaultScenario("unimplemented", 86, "unimplemented", "unimplemented JNI function GetStringUTFChars");
    CheckFaultScenario("stale-ref", 87, "fault", "deleted or freed local reference");
    CheckFaultScenario("missing-agent", 1, "init_failure", "Error opening zip file or JAR manifest missing");
    CheckFaultScenario("agent-without-premain", 1, "init_failure", "Failed to find Premain-Class manifest attribute");
    CheckFaultScenario("tiny-heap", 1, "init_failure", "Too small maximum heap");
    CheckFaultScenario("gc-off", 1, "init_failure", "Garbage collector not selected");
    CheckFaultScenario("exit", 7, "exit", "test runtime: main", {{L"QUORVIA_TEST_MAIN", L"exit:7"}});

    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
