#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace rt {

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

OptionError Error(OptionOutcome o, const std::string& message) {
    OptionError e;
    e.outcome = o;
    e.message = message;
    return e;
}

enum class FlagType { Bool, Percent, Uint, Int, Size, Text };

struct Flag {
    const char* name;
    FlagType type;
    int since = 0;  // the first Java feature version that knows the flag
};

// The -XX flags tests use; HotSpot knows many more, but an unknown one is rejected here so that a
// typo in the launcher's configuration cannot pass unnoticed.
const Flag kFlags[] = {
    {"UseG1GC", FlagType::Bool},
    {"UseSerialGC", FlagType::Bool},
    {"UseParallelGC", FlagType::Bool},
    {"UseZGC", FlagType::Bool},
    {"UseShenandoahGC", FlagType::Bool},
    {"HeapDumpOnOutOfMemoryError", FlagType::Bool},
    {"ExitOnOutOfMemoryError", FlagType::Bool},
    {"CrashOnOutOfMemoryError", FlagType::Bool},
    {"UseStringDeduplication", FlagType::Bool},
    {"UnlockExperimentalVMOptions", FlagType::Bool},
    {"UnlockDiagnosticVMOptions", FlagType::Bool},
    {"UseCompressedOops", FlagType::Bool},
    {"UseCompressedClassPointers", FlagType::Bool},
    {"ShowCodeDetailsInExceptionMessages", FlagType::Bool},
    {"AlwaysPreTouch", FlagType::Bool},
    {"DisableExplicitGC", FlagType::Bool},
    {"OmitStackTraceInFastThrow", FlagType::Bool},
    {"TieredCompilation", FlagType::Bool},
    {"UseLargePages", FlagType::Bool},
    {"PerfDisableSharedMem", FlagType::Bool},
    {"MaxRAMPercentage", FlagType::Percent},
    {"InitialRAMPercentage", FlagType::Percent},
    {"MinRAMPercentage", FlagType::Percent},
    {"MinHeapFreeRatio", FlagType::Uint},
    {"MaxHeapFreeRatio", FlagType::Uint},
    {"MaxGCPauseMillis", FlagType::Uint},
    {"NewRatio", FlagType::Uint},
    {"SurvivorRatio", FlagType::Uint},
    {"ParallelGCThreads", FlagType::Uint},
    {"ConcGCThreads", FlagType::Uint},
    {"ActiveProcessorCount", FlagType::Int},
    {"ThreadStackSize", FlagType::Int},
    {"MaxMetaspaceSize", FlagType::Size},
    {"MetaspaceSize", FlagType::Size},
    {"MaxDirectMemorySize", FlagType::Size},
    {"ReservedCodeCacheSize", FlagType::Size},
    {"CompressedClassSpaceSize", FlagType::Size},
    {"MaxHeapSize", FlagType::Size},
    {"InitialHeapSize", FlagType::Size},
    {"NewSize", FlagType::Size},
    {"MaxNewSize", FlagType::Size},
    {"HeapDumpPath", FlagType::Text},
    {"ErrorFile", FlagType::Text},
    {"OnOutOfMemoryError", FlagType::Text},
    {"OnError", FlagType::Text},
    {"SharedArchiveFile", FlagType::Text, 10},
    {"ArchiveClassesAtExit", FlagType::Text, 13},
    {"AutoCreateSharedArchive", FlagType::Bool, 19},
    {"AOTCache", FlagType::Text, 24},
    {"AOTCacheOutput", FlagType::Text, 25},
};

bool ParseUnsigned(const std::string& s, uint64_t* v) {
    if (s.empty() || s.size() > 19) return false;
    uint64_t r = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        r = r * 10 + static_cast<uint64_t>(c - '0');
    }
    *v = r;
    return true;
}

OptionError ParseXX(const std::string& option, ParsedOptions* out) {
    const std::string body = option.substr(4);
    std::string name = body, value;
    char sign = 0;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        sign = body[0];
        name = body.substr(1);
    } else {
        const size_t eq = body.find('=');
        if (eq != std::string::npos) {
            name = body.substr(0, eq);
            value = body.substr(eq + 1);
        }
    }
    const Flag* flag = nullptr;
    for (const Flag& f : kFlags) {
        if (name == f.name && f.since <= out->javaVersion) flag = &f;
    }
    if (!flag) return Error(OptionOutcome::Invalid, "Unrecognized VM option '" + (sign ? name : body) + "'");
    if (flag->type == FlagType::Bool) {
        if (!sign) return Error(OptionOutcome::Invalid, "Missing +/- setting for VM option '" + name + "'");
        const bool on = sign == '+';
        if (name == "UseG1GC" && !on) out->defaultGcDisabled = true;
        if (name == "AutoCreateSharedArchive") out->autoCreateSharedArchive = on;
        if (StartsWith(name, "Use") && name.size() > 5 && name.compare(name.size() - 2, 2, "GC") == 0 && on) ++out->gcSelected;
        return OptionError();
    }
    if (sign) return Error(OptionOutcome::Invalid, "Unexpected +/- setting in VM option '" + name + "'");
    if (body.find('=') == std::string::npos) return Error(OptionOutcome::Invalid, "Unrecognized VM option '" + body + "'");
    const OptionError improper = Error(OptionOutcome::Invalid, "Improperly specified VM option '" + body + "'");
    uint64_t n = 0;
    switch (flag->type) {
        case FlagType::Percent: {
            if (value.empty() || value[0] == '-' || value[0] == '+') return improper;
            char* end = nullptr;
            errno = 0;
            const double d = std::strtod(value.c_str(), &end);
            if (errno || *end || d < 0 || d > 100) return improper;
            break;
        }
        case FlagType::Uint:
            if (!ParseUnsigned(value, &n)) return improper;
            if ((name == "MinHeapFreeRatio" || name == "MaxHeapFreeRatio") && n > 100) return improper;
            break;
        case FlagType::Int:
            if (!ParseUnsigned(value[0] == '-' ? value.substr(1) : value, &n)) return improper;
            break;
        case FlagType::Size:
            if (!ParseMemorySize(value, &n)) return improper;
            if (name == "MaxHeapSize") out->xmx = n;
            if (name == "InitialHeapSize") out->xms = n;
            break;
        default:
            if (name == "SharedArchiveFile") out->sharedArchiveFile = value;
            if (name == "ArchiveClassesAtExit") out->archiveClassesAtExit = value;
            if (name == "AOTCache") out->aotCache = value;
            if (name == "AOTCacheOutput") out->aotCacheOutput = value;
            break;
    }
    return OptionError();
}

}  // namespace

bool ParseMemorySize(const std::string& text, uint64_t* bytes) {
    if (text.empty()) return false;
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > 19) return false;
    uint64_t v = 0;
    if (!ParseUnsigned(text.substr(0, digits), &v)) return false;
    int shift = 0;
    if (digits < text.size()) {
        if (digits + 1 != text.size()) return false;
        switch (text[digits]) {
            case 'k': case 'K': shift = 10; break;
            case 'm': case 'M': shift = 20; break;
            case 'g': case 'G': shift = 30; break;
            case 't': case 'T': shift = 40; break;
            default: return false;
        }
    }
    if (shift && v > (UINT64_MAX >> shift)) return false;
    *bytes = v << shift;
    return true;
}

OptionError ParseOption(const std::string& o, void* extraInfo, ParsedOptions* out) {
    if (o == "exit") {
        out->exitHook = extraInfo;
        return OptionError();
    }
    if (o == "abort") {
        out->abortHook = extraInfo;
        return OptionError();
    }
    if (o == "vfprintf") {
        out->vfprintfHook = extraInfo;
        return OptionError();
    }
    if (StartsWith(o, "-D")) {
        const std::string kv = o.substr(2);
        const size_t eq = kv.find('=');
        if (eq == std::string::npos) {
            out->properties[kv] = "";
        } else {
            out->properties[kv.substr(0, eq)] = kv.substr(eq + 1);
        }
        return OptionError();
    }
    uint64_t n = 0;
    if (StartsWith(o, "-Xms")) {
        if (!ParseMemorySize(o.substr(4), &n)) return Error(OptionOutcome::Invalid, "Invalid initial heap size: " + o);
        out->xms = n;
        return OptionError();
    }
    if (StartsWith(o, "-Xmx")) {
        if (!ParseMemorySize(o.substr(4), &n) || n == 0) return Error(OptionOutcome::Invalid, "Invalid maximum heap size: " + o);
        out->xmx = n;
        return OptionError();
    }
    if (StartsWith(o, "-Xss")) {
        if (!ParseMemorySize(o.substr(4), &n)) return Error(OptionOutcome::Invalid, "Invalid thread stack size: " + o);
        if (n != 0 && n < 136 * 1024)
            return Error(OptionOutcome::Unrecognized, "The Java thread stack size specified is too small. Specify at least 136k");
        out->xss = n;
        return OptionError();
    }
    if (StartsWith(o, "-Xmn")) {
        if (!ParseMemorySize(o.substr(4), &n) || n == 0)
            return Error(OptionOutcome::Invalid, "Invalid initial young generation size: " + o);
        return OptionError();
    }
    if (o == "-verbose" || StartsWith(o, "-verbose:")) return OptionError();
    if (o == "-Xrs") {
        out->reduceSignals = true;
        return OptionError();
    }
    static const char* const kPlain[] = {"-Xdebug", "-Xnoclassgc", "-Xint", "-Xmixed", "-Xbatch", "-Xcomp",
                                         "-Xshare:auto", "-Xshare:on", "-Xshare:off", "-Xcheck:jni", "-Xverify:all",
                                         "-Xverify:remote", "-ea", "-da", "-esa", "-dsa", "-enableassertions",
                                         "-disableassertions", "-enablesystemassertions", "-disablesystemassertions",
                                         "--enable-preview"};
    for (const char* p : kPlain) {
        if (o == p) return OptionError();
    }
    if (o == "-Xverify:none") {
        out->warnings.push_back("OpenJDK 64-Bit Server VM warning: Options -Xverify:none and -noverify were deprecated in JDK 13 and will likely be removed in a future release.");
        return OptionError();
    }
    if (o == "-Xprof") {
        out->warnings.push_back("OpenJDK 64-Bit Server VM warning: Ignoring option -Xprof; support was removed in 10.0");
        return OptionError();
    }
    if (StartsWith(o, "-Xverify:")) return Error(OptionOutcome::Invalid, "Unrecognized verification option: " + o);
    if (StartsWith(o, "-Xcheck:")) return Error(OptionOutcome::Invalid, "Unrecognized check option: " + o);
    if (StartsWith(o, "-ea:") || StartsWith(o, "-da:") || StartsWith(o, "-enableassertions:") ||
        StartsWith(o, "-disableassertions:"))
        return OptionError();
    if (StartsWith(o, "-Xloggc:") && o.size() > 8) return OptionError();
    if (o == "-Xlog" || StartsWith(o, "-Xlog:")) {
        static const char* const kLog[] = {"-Xlog", "-Xlog:gc", "-Xlog:gc*", "-Xlog:disable", "-Xlog:all",
                                           "-Xlog:safepoint", "-Xlog:class+load", "-Xlog:gc+heap"};
        const std::string selection = o.substr(0, o.find(':', 6));
        for (const char* p : kLog) {
            if (selection == p) return OptionError();
        }
        return Error(OptionOutcome::Invalid, "Invalid -Xlog option '" + o + "', see error log for details.");
    }
    if (StartsWith(o, "-Xbootclasspath/a:")) return OptionError();
    if (StartsWith(o, "-Xbootclasspath/p:")) return Error(OptionOutcome::Invalid, "-Xbootclasspath/p is no longer a supported option.");
    if (StartsWith(o, "-Xbootclasspath:")) return Error(OptionOutcome::Invalid, "-Xbootclasspath is no longer a supported option.");
    static const char* const kModuleOptions[] = {"--module-path=", "--upgrade-module-path=", "--add-modules=",
                                                 "--limit-modules=", "--add-reads=", "--add-exports=",
                                                 "--add-opens=", "--patch-module=", "--enable-native-access="};
    for (const char* p : kModuleOptions) {
        if (StartsWith(o, p)) return OptionError();
    }
    if (StartsWith(o, "--illegal-access=")) {
        out->warnings.push_back("OpenJDK 64-Bit Server VM warning: Ignoring option " + o + "; support was removed in 17.0");
        return OptionError();
    }
    if (StartsWith(o, "-javaagent:")) {
        out->agents.push_back(o.substr(11));
        return OptionError();
    }
    if (StartsWith(o, "-agentlib:jdwp=")) return OptionError();
    if (StartsWith(o, "-agentlib:") || StartsWith(o, "-agentpath:")) {
        std::string lib = o.substr(o.find(':') + 1);
        lib = lib.substr(0, lib.find('='));
        return Error(OptionOutcome::InitFailure, "Could not find agent library " + lib + " on the library path, with error: The specified module could not be found.");
    }
    if (StartsWith(o, "-XX:")) return ParseXX(o, out);
    return Error(OptionOutcome::Unrecognized, "Unrecognized option: " + o);
}

OptionError CheckCombination(const ParsedOptions& opts) {
    // Java 13 to 18 refuse to dump a dynamic archive without a base one; 19 and later warn and run on.
    if (!opts.archiveClassesAtExit.empty() && !opts.baseArchive && opts.javaVersion <= 18)
        return Error(OptionOutcome::InitFailure, "DynamicDumpSharedSpaces is unsupported when base CDS archive is not loaded");
    if (opts.gcSelected > 1)
        return Error(OptionOutcome::InitFailure, "Multiple garbage collectors selected");
    if (opts.defaultGcDisabled && opts.gcSelected == 0)
        return Error(OptionOutcome::InitFailure, "Garbage collector not selected (default collector explicitly disabled)");
    if (opts.xms != 0 && opts.xms < (1u << 20)) return Error(OptionOutcome::InitFailure, "Too small initial heap");
    if (opts.xmx != 0 && opts.xmx < (3u << 20)) return Error(OptionOutcome::InitFailure, "Too small maximum heap");
    if (opts.xmx != 0 && opts.xms > opts.xmx)
        return Error(OptionOutcome::InitFailure, "Initial heap size set to a larger value than the maximum heap size");
    return OptionError();
}

}  // namespace rt
