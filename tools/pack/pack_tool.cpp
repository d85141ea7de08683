#include "pack/pack_tool.h"

#include <sys/stat.h>

#include <cstring>
#include <iterator>

#include "config/resource_contract.h"
#include "pack/argument_file.h"
#include "pack/file_io.h"
#include "pack/icon_file.h"
#include "pack/installer_tool.h"
#include "pack/manifest_code_page.h"
#include "pack/md5_text.h"
#include "pack/pack_refusals.h"
#include "pack/packed_exe.h"
#include "pack/png_reader.h"
#include "pack/preflight_check.h"
#include "pack/report_text.h"
#include "pack/service_options.h"
#include "pack/signature.h"
#include "pack/sync_index_check.h"
#include "pack/sync_index_tool.h"
#include "pack/try_run.h"
#include "pack/version_info.h"
#include "runtime/runtime_choice.h"
#include "startup/cache_mechanism.h"

constexpr uint16_t kLangEnUs = 1033;

enum class Kind { Text, LimitedText, Percent, File, Png, Digest, Mark, RuntimeRule };

// The option that sets each launch resource, and how its value becomes the resource's bytes.
struct LaunchOption {
    const char* option;
    const LaunchResource* resource;
    Kind kind;
};

constexpr LaunchOption kLaunchOptions[] = {
    {"--classes", &kClassesResource, Kind::File},
    {"--main-class", &kMainClassResource, Kind::LimitedText},
    {"--class-path", &kClassPathResource, Kind::Text},
    {"--jar-path", &kJarPathResource, Kind::LimitedText},
    {"--vm-options", &kVmOptionsResource, Kind::LimitedText},
    {"--md5", &kMd5SumResource, Kind::Digest},
    {"--config-path", &kConfigPathResource, Kind::LimitedText},
    {"--sync-path", &kSyncPathResource, Kind::LimitedText},
    {"--init-heap-percent", &kInitHeapPercentResource, Kind::Percent},
    {"--max-heap-percent", &kMaxHeapPercentResource, Kind::Percent},
    {"--splash", &kSplashResource, Kind::Png},
    {"--startup-cache", &kStartupCacheResource, Kind::Mark},
    {"--java-version", &kJavaVersionResource, Kind::RuntimeRule},
    {"--runtime-search", &kRuntimeSearchResource, Kind::RuntimeRule},
    {"--download-url", &kDownloadUrlResource, Kind::RuntimeRule},
    {"--options-file", &kOptionsFileResource, Kind::Mark},
    {"--user-options-file", &kUserOptionsFileResource, Kind::LimitedText},
    {"--expand-env", &kExpandEnvResource, Kind::Mark},
    {"--arguments", &kArgumentsResource, Kind::LimitedText},
    {"--working-dir", &kWorkingDirResource, Kind::LimitedText},
    {"--log", &kLogFileResource, Kind::LimitedText},
    {"--service", &kServiceNameResource, Kind::LimitedText},
    {"--service-display-name", &kServiceDisplayNameResource, Kind::LimitedText},
    {"--service-description", &kServiceDescriptionResource, Kind::LimitedText},
    {"--service-start", &kServiceStartResource, Kind::LimitedText},
    {"--service-account", &kServiceAccountResource, Kind::LimitedText},
    {"--service-depends-on", &kServiceDependsOnResource, Kind::LimitedText},
    {"--service-stop", &kServiceStopResource, Kind::LimitedText},
    {"--service-stop-timeout", &kServiceStopTimeoutResource, Kind::LimitedText},
};
constexpr size_t kLaunchCount = sizeof kLaunchOptions / sizeof kLaunchOptions[0];
static_assert(kLaunchCount == kLaunchResourceCount, "every launch resource has its option");

// Options that rewrite the version details, with the StringFileInfo key each one sets.
struct VersionOption {
    const char* option;
    const char* key;
};

constexpr VersionOption kVersionOptions[] = {
    {"--product-name", "ProductName"},         {"--product-version", "ProductVersion"},
    {"--file-version", "FileVersion"},         {"--file-description", "FileDescription"},
    {"--company", "CompanyName"},              {"--copyright", "LegalCopyright"},
    {"--original-filename", "OriginalFilename"}, {"--internal-name", "InternalName"},
};

constexpr uint16_t kTypeVersion = 16;
constexpr uint16_t kTypeManifest = 24;
constexpr uint16_t kVersionId = 1;
constexpr uint16_t kManifestId = 1;
const char kConsoleLauncherName[] = "launcher-console.exe";

const char kUsage[] =
    "Usage: quorvia-pack [--launcher LAUNCHER.exe | --console] --out APP.exe [options]\n"
    "       quorvia-pack --show APP.exe\n"
    "       quorvia-pack --check APP.exe|FOLDER [--json]\n"
    "       quorvia-pack --index SYNC-FOLDER\n"
    "       quorvia-pack --try APP.exe [--java-home DIR] [--verbose] [-- ARGUMENTS...]\n"
    "       quorvia-pack @FILE ...\n"
    "       quorvia-pack --help | --version\n"
    "\n"
    "Copies the launcher to APP.exe with the launch resources below added or replaced\n"
    "(language 1033). Every other resource of the launcher, such as its manifest, is kept.\n"
    "\n"
    "  --launcher FILE           the launcher exe (default: launcher.exe beside quorvia-pack)\n"
    "  --console                 use launcher-console.exe beside quorvia-pack: a console program\n"
    "                            whose fatal errors go to stderr instead of a message box\n"
    "  --out FILE                the exe to write; replaced only once it is complete\n"
    "  --classes JAR             the application jar (CLASSES 1000); also stores its MD5\n"
    "                            (MD5-SUM 6000) as 32 upper-case hex digits\n"
    "  --md5 TEXT                MD5-SUM 6000 instead of the jar's digest, stored as given\n"
    "  --main-class NAME         MAIN-CLASS 3000\n"
    "  --class-path TEXT         CLASS-PATH 4000\n"
    "  --jar-path TEXT           JAR-PATH 4500\n"
    "  --vm-options TEXT         VM-OPTIONS 5000\n"
    "  --config-path TEXT        CONFIG-PATH 9000\n"
    "  --sync-path TEXT          SYNC-PATH 10000\n"
    "  --init-heap-percent N     VM-INIT-HEAP-PERC 11000, an integer 0..100\n"
    "  --max-heap-percent N      VM-MAX-HEAP-PERC 11100, an integer 0..100\n"
    "  --splash PNG              VM-SPLASH 20000, a PNG image\n"
    "  --startup-cache           STARTUP-CACHE 12000: keep a class-data or AOT archive of the\n"
    "                            application in the cache folder (Java 13 and later; --show\n"
    "                            lists the mechanism of each runtime version)\n"
    "  --java-version SPEC        JAVA-VERSION 13000: the Java versions the application accepts,\n"
    "                            17 for 17 or newer, 17..21 for 17 to 21\n"
    "  --runtime-search LIST     RUNTIME-SEARCH 13010: where to look for Java, in order, from\n"
    "                            bundled,registry,java-home,path (the default, all four)\n"
    "  --download-url URL        DOWNLOAD-URL 13020: an https page offered when no Java fits\n"
    "                            (any of these three replaces the maker's registry keys)\n"
    "  --options-file            OPTIONS-FILE 14000: read {exe folder}\\{exe base}.options when it\n"
    "                            exists (VM options, class path, arguments, heap, include)\n"
    "  --user-options-file PATH  USER-OPTIONS-FILE 14001: a per-user options file read after it,\n"
    "                            such as '${APPDATA}\\MyApp\\MyApp.options'\n"
    "  --expand-env              EXPAND-ENV 14002: expand ${NAME} in VM-OPTIONS and CLASS-PATH too\n"
    "  --arguments TEXT          ARGUMENTS 14003: arguments before the user's own, split like a\n"
    "                            command line\n"
    "  --working-dir exe|PATH    WORKING-DIR 14004: the folder the application starts in\n"
    "  --log PATH                LOG-FILE 14005: the launcher's messages and the application's\n"
    "                            stdout and stderr, appended (moved to PATH.1 above 1 MiB)\n"
    "                            ${NAME} is expanded in these paths and texts; a relative path is\n"
    "                            taken from the exe's folder\n"
    "  --service NAME            SERVICE-NAME 15000: the exe installs and runs itself as the\n"
    "                            Windows service NAME (APP.exe -install|-uninstall|-start|\n"
    "                            -stop|-status); the settings below go with it. Packs\n"
    "                            launcher-service.exe, a console program, unless --launcher\n"
    "  --service-display-name TEXT   SERVICE-DISPLAY-NAME 15001 (default: NAME)\n"
    "  --service-description TEXT    SERVICE-DESCRIPTION 15002\n"
    "  --service-start KIND      SERVICE-START 15003: auto (default), delayed or demand\n"
    "  --service-account NAME    SERVICE-ACCOUNT 15004 (default: NT AUTHORITY\\LocalService)\n"
    "  --service-depends-on LIST SERVICE-DEPENDS-ON 15005: service names, comma-separated\n"
    "  --service-stop METHOD     SERVICE-STOP 15006: static package.Class.method(String[]) to\n"
    "                            call on stop (default: exit the VM, running its shutdown hooks)\n"
    "  --service-stop-timeout S  SERVICE-STOP-TIMEOUT 15007: seconds a stop may take (default 20)\n"
    "  --icon FILE.ico           the exe's icon (all sizes of the file; replaces any icon)\n"
    "  --product-name TEXT       version details shown by Explorer; TEXT is UTF-8, at most\n"
    "  --file-description TEXT   4000 characters. FileDescription, ProductName and\n"
    "  --company TEXT            InternalName default to the output's base name,\n"
    "  --copyright TEXT          OriginalFilename to its file name, when the launcher was\n"
    "  --original-filename TEXT  not packed before (repacking keeps what it does not name)\n"
    "  --internal-name TEXT\n"
    "  --file-version N[.N[.N[.N]]]     each N 0..65535 (default 1.0)\n"
    "  --product-version N[.N[.N[.N]]]\n"
    "  --utf8                    run the exe in the UTF-8 code page (Windows 10 1903 and later)\n"
    "  --strip-signature         remove the launcher's code signature instead of refusing it\n"
    "  --show FILE               list the resources, version details and icon sizes of an exe\n"
    "  --check FILE|FOLDER       report whether the packed exe will start on a clean Windows PC:\n"
    "                            resources, runtime, VM library, application, splash; exit\n"
    "                            status 1 when a check fails (--json: the findings as JSON).\n"
    "                            A sync folder that holds an index is compared with the files\n"
    "                            it lists\n"
    "  --version                 print the version of quorvia-pack\n"
    "  --list-options            list the packing options, one a line: OPTION, flag|text|path,\n"
    "                            exe|image|msi (what it shapes) and a description, by tabs\n"
    "  --index DIR               write DIR\\quorvia-sync.index, the list of every file of a sync\n"
    "                            folder with its size, time and SHA-256; run it after copying a\n"
    "                            new version into DIR\n"
    "  --try APP.exe             run the packed application here, on Linux, with the VM options,\n"
    "                            heap, class path and main class the launcher builds from its\n"
    "                            resources (the exe's folder is #, the embedded jar a private\n"
    "                            temporary file), through the java of --java-home DIR, else\n"
    "                            JAVA_HOME, else PATH; exits with the application's status.\n"
    "                            Unlike on Windows: \\ in paths becomes /, no registry search,\n"
    "                            no splash window, no single-instance hand-off, no start-up\n"
    "                            cache, and a sync folder's jars are read in place.\n"
    "                            --verbose prints the java command's parts on stderr\n"
    "  --force                   pack even when the packer judges that the exe cannot start (no\n"
    "                            main class, no application jar, a --classes file that is no jar);\n"
    "                            a base that is not a Quorvia launcher is always refused\n"
    "  @FILE                     the arguments written in FILE, one option or value per line;\n"
    "                            \"...\" or '...' around a value with blanks, # starts a comment;\n"
    "                            relative --launcher, --out, --show, --classes, --splash and\n"
    "                            --icon paths there are taken from FILE's own folder. Only where\n"
    "                            an option is expected: a value is stored as written, so\n"
    "                            --class-path @/lib/x.jar keeps its runtime-home prefix\n"
    "\n"
    "Text is stored as its bytes plus one NUL. MAIN-CLASS, JAR-PATH, VM-OPTIONS, CONFIG-PATH\n"
    "and SYNC-PATH may be at most 1022 bytes (1023 with the NUL).\n"
    "A launcher carrying a code signature is refused unless --strip-signature is given:\n"
    "sign the packed exe afterwards.\n"
    "Options also take the form --option=VALUE.\n"
    "Exit status: 0 done, 1 bad input file or value, 2 bad command line.\n";

// A text resource as the launcher reads it: up to its first NUL.
static std::string QuotedText(const Bytes& data) {
    std::string text(data.begin(), data.end());
    return QuotedPrintableText(text.substr(0, text.find('\0')));
}

const char* StandardTypeName(uint16_t id) {
    switch (id) {
        case 1: return "cursor";
        case 2: return "bitmap";
        case 3: return "icon";
        case 4: return "menu";
        case 5: return "dialog";
        case 6: return "string table";
        case 9: return "accelerators";
        case 10: return "data";
        case 12: return "cursor group";
        case 14: return "icon group";
        case 16: return "version";
        case 24: return "manifest";
        default: return nullptr;
    }
}

const LaunchOption* FindLaunchOption(const ResName& type) {
    if (!type.isString) return nullptr;
    for (const LaunchOption& l : kLaunchOptions) {
        if (SameName(type, StringName(l.resource->typeName))) return &l;
    }
    return nullptr;
}

static Bytes TextBytes(const std::string& text, bool terminated) {
    Bytes b(text.begin(), text.end());
    if (terminated) b.push_back(0);
    return b;
}

static Resource MakeLaunchResource(const LaunchResource& resource, Bytes data) {
    Resource r;
    r.type = StringName(resource.typeName);
    r.name = NumericName(uint16_t(resource.numericName));
    r.lang = NumericName(kLangEnUs);
    r.data = std::move(data);
    return r;
}

static bool ParseUint(const std::string& s, unsigned long max, unsigned long& value) {
    if (s.empty() || s.size() > 6) return false;
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + unsigned(c - '0');
    }
    return value <= max;
}

struct PackOptions {
    bool help = false;
    bool printVersion = false;
    std::string show;
    std::string launcher;
    std::string out;
    const std::string* values[kLaunchCount] = {};
    std::string origins[kLaunchCount];  // where each value was written, for its errors
    std::vector<std::string> storage;  // keeps values alive; reserved up front
    std::vector<Argument> raw;         // TYPE=NUMBER:FILE
    std::vector<VersionSetting> version;
    std::string icon;
    bool console = false;
    bool stripSignature = false;
    bool utf8 = false;
    bool force = false;
};

// Packing options other than the launch resources and the version details. The parser, argument
// files and --list-options all read this table, so a new option here is also a Maven setting.
struct OtherOption {
    const char* option;
    const char* value;        // the value's placeholder; nullptr for a flag
    bool PackOptions::*flag;  // what a flag sets
    bool path;                // the value names a file
};

const OtherOption kOtherOptions[] = {
    {"--launcher", "FILE", nullptr, true},
    {"--out", "FILE", nullptr, true},
    {"--icon", "FILE.ico", nullptr, true},
    {"--console", nullptr, &PackOptions::console, false},
    {"--strip-signature", nullptr, &PackOptions::stripSignature, false},
    {"--utf8", nullptr, &PackOptions::utf8, false},
    {"--force", nullptr, &PackOptions::force, false},
};

// One run of the tool: where it prints, and what the command line asked for.
struct PackRun {
    FILE* out;
    FILE* err;
    PackOptions options;
};

static int UsageError(PackRun& run, const std::string& message) {
    fprintf(run.err, "quorvia-pack: %s (see --help)\n", message.c_str());
    return kExitUsage;
}

static int InputError(PackRun& run, const std::string& message) {
    fprintf(run.err, "quorvia-pack: %s\n", message.c_str());
    return kExitInput;
}

static int InputError(PackRun& run, const std::string& file, const std::string& message) {
    return InputError(run, file + ": " + message);
}

// The option being read: its name, its value (after '=' or the next argument) and where it was written.
struct OptionCursor {
    const std::vector<Argument>& args;
    size_t index;
    std::string name;
    std::string value;
    std::string where;
    const Argument* valueAt;
    bool hasValue;
};

// "needs a value", with the likely cause when the rest of its line was read as a comment.
static int NeedsValue(PackRun& run, const OptionCursor& c) {
    std::string hint = c.args[c.index].commentAfter
                           ? ": # starts a comment in an argument file; quote a value that begins with # ('#/lib/x.jar')"
                           : "";
    return UsageError(run, c.where + "option " + c.name + " needs a value" + hint);
}

static bool TakeValue(OptionCursor& c) {
    if (c.hasValue) return true;
    if (c.args[c.index].commentAfter) return false;
    if (c.index + 1 >= c.args.size()) return false;
    c.valueAt = &c.args[++c.index];
    c.value = c.valueAt->text;
    return true;
}

// --show, --launcher and --out: one non-empty path each. False when `c` is not one of them.
static bool TakePathOption(PackRun& run, OptionCursor& c, bool& packing, int& status) {
    PackOptions& o = run.options;
    std::string* single = nullptr;
    if (c.name == "--show") single = &o.show;
    if (c.name == "--launcher") single = &o.launcher;
    if (c.name == "--out") single = &o.out;
    if (single == nullptr) return false;
    if (!TakeValue(c)) status = NeedsValue(run, c);
    else if (!single->empty()) status = UsageError(run, c.where + "option " + c.name + " given twice");
    else if (c.value.empty()) status = UsageError(run, c.where + "option " + c.name + " needs a non-empty value");
    else *single = ArgumentPath(*c.valueAt, c.value);
    packing = packing || c.name != "--show";
    return true;
}

static bool TakeFlag(PackRun& run, const OptionCursor& c, bool& packing, int& status) {
    PackOptions& o = run.options;
    bool* flag = nullptr;
    for (const OtherOption& other : kOtherOptions) {
        if (other.flag != nullptr && c.name == other.option) flag = &(o.*other.flag);
    }
    if (flag == nullptr) return false;
    if (c.hasValue) status = UsageError(run, c.where + "option " + c.name + " takes no value");
    *flag = true;
    packing = true;
    return true;
}

// The version detail options and --icon, which make the packed exe the user's own program.
static bool TakeOwnProgramOption(PackRun& run, OptionCursor& c, bool& packing, int& status) {
    PackOptions& o = run.options;
    const VersionOption* version = nullptr;
    for (const VersionOption& v : kVersionOptions) {
        if (c.name == v.option) version = &v;
    }
    if (version == nullptr && c.name != "--icon") return false;
    packing = true;
    if (!TakeValue(c)) {
        status = NeedsValue(run, c);
        return true;
    }
    bool twice = c.name == "--icon" ? !o.icon.empty() : false;
    for (const VersionSetting& given : o.version) {
        if (version != nullptr && std::strcmp(given.key, version->key) == 0) twice = true;
    }
    if (twice) status = UsageError(run, c.where + "option " + c.name + " given twice");
    else if (version != nullptr) o.version.push_back({version->key, c.value});
    else if (c.value.empty()) status = UsageError(run, c.where + "option " + c.name + " needs a non-empty value");
    else o.icon = ArgumentPath(*c.valueAt, c.value);
    return true;
}

static int TakeLaunchOption(PackRun& run, OptionCursor& c) {
    PackOptions& o = run.options;
    size_t k = 0;
    while (k < kLaunchCount && c.name != kLaunchOptions[k].option) ++k;
    if (k == kLaunchCount) return UsageError(run, c.where + "unknown option '" + c.name + "'");
    if (kLaunchOptions[k].kind == Kind::Mark) {
        if (c.hasValue) return UsageError(run, c.where + "option " + c.name + " takes no value");
        c.value = "1";
    } else if (!TakeValue(c)) {
        return NeedsValue(run, c);
    }
    if (o.values[k] != nullptr) return UsageError(run, c.where + "option " + c.name + " given twice");
    bool path = kLaunchOptions[k].kind == Kind::File || kLaunchOptions[k].kind == Kind::Png;
    o.storage.push_back(path ? ArgumentPath(*c.valueAt, c.value) : c.value);
    o.values[k] = &o.storage.back();
    o.origins[k] = ArgumentOrigin(*c.valueAt);
    return kExitOk;
}

// Reads one option at `c.index`, leaving `c.index` at its last argument.
static int TakeOption(PackRun& run, OptionCursor& c, bool& packing) {
    int status = kExitOk;
    if (TakePathOption(run, c, packing, status) || TakeFlag(run, c, packing, status) ||
        TakeOwnProgramOption(run, c, packing, status))
        return status;
    if (c.name == "--raw-text") {
        packing = true;
        if (!TakeValue(c)) return NeedsValue(run, c);
        run.options.raw.push_back(*c.valueAt);
        run.options.raw.back().text = c.value;
        return kExitOk;
    }
    packing = true;
    return TakeLaunchOption(run, c);
}

static int ParseArguments(PackRun& run, const std::vector<Argument>& args) {
    PackOptions& o = run.options;
    o.storage.reserve(args.size());
    bool packing = false;
    for (size_t i = 0; i < args.size(); ++i) {
        OptionCursor c{args, i, args[i].text, "", ArgumentOrigin(args[i]), &args[i], false};
        if (c.name == "--help" || c.name == "-h") {
            o.help = true;
            continue;
        }
        if (c.name == "--version") {
            o.printVersion = true;
            continue;
        }
        if (c.name.compare(0, 2, "--") != 0) return UsageError(run, c.where + "unexpected argument '" + c.name + "'");
        size_t eq = c.name.find('=');
        if (eq != std::string::npos) {
            c.value = c.name.substr(eq + 1);
            c.name.resize(eq);
            c.hasValue = true;
        }
        int status = TakeOption(run, c, packing);
        if (status != kExitOk) return status;
        i = c.index;
    }
    if (!o.show.empty() && packing) return UsageError(run, "--show cannot be combined with packing");
    if (o.console && !o.launcher.empty())
        return UsageError(run, "--console picks the console launcher; it cannot be combined with --launcher");
    return kExitOk;
}

static bool Given(const PackOptions& o, Kind kind) {
    for (size_t k = 0; k < kLaunchCount; ++k) {
        if (kLaunchOptions[k].kind == kind && o.values[k] != nullptr) return true;
    }
    return false;
}

// The jar or splash image of a file option; the jar brings its digest unless --md5 names one.
static int MakeFileResource(PackRun& run, const LaunchOption& l, const std::string& path, std::vector<Resource>& out) {
    Bytes data;
    std::string error;
    if (!ReadWholeFile(path, l.kind == Kind::Png ? kImageFile : kJarFile, data, error))
        return InputError(run, path, error);
    uint32_t width = 0, height = 0;
    if (l.kind == Kind::Png && !DecodePng(data.data(), data.size(), width, height, error))
        return InputError(run, path, error);
    if (l.kind == Kind::File && !Given(run.options, Kind::Digest)) {
        std::string digest = Md5Hex(data.data(), data.size());
        out.push_back(MakeLaunchResource(kMd5SumResource, TextBytes(digest, false)));
    }
    out.push_back(MakeLaunchResource(*l.resource, std::move(data)));
    return kExitOk;
}

// The runtime rule's values, checked by the launcher's own parsers so that it reads what was packed.
static int MakeRuntimeRuleResource(PackRun& run, const LaunchOption& l, const std::string& value,
                                   const std::string& where, std::vector<Resource>& out) {
    JavaVersionRange range;
    RuntimeSearchOrder order;
    const char* expected = nullptr;
    if (l.resource == &kJavaVersionResource && !ParseJavaVersionRange(value.c_str(), &range))
        expected = "a major version such as 17, or a range such as 17..21";
    if (l.resource == &kRuntimeSearchResource && !ParseRuntimeSearchOrder(value.c_str(), &order))
        expected = "a comma-separated list of bundled, registry, java-home and path, each at most once";
    if (l.resource == &kDownloadUrlResource && !IsDownloadUrl(value.c_str()))
        expected = "an https:// address without blanks or quotes";
    if (expected != nullptr || value.size() + 1 >= kTextResourceLimit)
        return InputError(run, where + l.option + " wants " + (expected ? expected : "a shorter value") + ", not '" +
                                   value + "'");
    out.push_back(MakeLaunchResource(*l.resource, TextBytes(value, true)));
    return kExitOk;
}

// Builds the resource for one option; returns kExitOk or the exit status.
static int MakeResource(PackRun& run, const LaunchOption& l, const std::string& value, const std::string& where,
                 std::vector<Resource>& out) {
    const LaunchResource& resource = *l.resource;
    switch (l.kind) {
        case Kind::Text:
            out.push_back(MakeLaunchResource(resource, TextBytes(value, true)));
            return kExitOk;
        case Kind::LimitedText: {
            size_t stored = value.size() + 1;
            if (stored >= kTextResourceLimit) {
                return InputError(run, where + resource.typeName + " text is " + std::to_string(stored) +
                                           " bytes with its terminator; the limit is " +
                                           std::to_string(kTextResourceLimit - 1));
            }
            out.push_back(MakeLaunchResource(resource, TextBytes(value, true)));
            return kExitOk;
        }
        case Kind::Percent: {
            unsigned long v = 0;
            if (!ParseUint(value, 100, v))
                return InputError(run, where + l.option + " must be an integer from 0 to 100, not '" + value + "'");
            out.push_back(MakeLaunchResource(resource, TextBytes(std::to_string(v), true)));
            return kExitOk;
        }
        case Kind::Digest:
            out.push_back(MakeLaunchResource(resource, TextBytes(value, false)));
            return kExitOk;
        case Kind::Mark:
            out.push_back(MakeLaunchResource(resource, TextBytes(value, true)));
            return kExitOk;
        case Kind::File:
        case Kind::Png:
            return MakeFileResource(run, l, value, out);
        case Kind::RuntimeRule:
            return MakeRuntimeRuleResource(run, l, value, where, out);
    }
    return kExitInput;
}

static int RawResource(PackRun& run, const Argument& arg, std::vector<Resource>& out) {
    const std::string& spec = arg.text;
    size_t eq = spec.find('='), colon = spec.find(':', eq == std::string::npos ? 0 : eq);
    unsigned long number = 0;
    if (eq == 0 || eq == std::string::npos || colon == std::string::npos || colon + 1 == spec.size() ||
        !ParseUint(spec.substr(eq + 1, colon - eq - 1), 65535, number)) {
        fprintf(run.err, "quorvia-pack: --raw-text wants TYPE=NUMBER:FILE, not '%s'\n", spec.c_str());
        return kExitUsage;
    }
    std::string type = spec.substr(0, eq), file = ArgumentPath(arg, spec.substr(colon + 1));
    Resource r;
    std::string error;
    if (!ReadWholeFile(file, kTextFile, r.data, error)) return InputError(run, file, error);
    unsigned long typeId = 0;
    r.type = ParseUint(type, 65535, typeId) ? NumericName(uint16_t(typeId)) : StringName(type);
    r.name = NumericName(uint16_t(number));
    r.lang = NumericName(kLangEnUs);
    out.push_back(std::move(r));
    return kExitOk;
}

// Every value of the command line as a resource, checked before any file is touched.
static int MakeAddedResources(PackRun& run, std::vector<Resource>& added, std::vector<IconImage>& icons) {
    const PackOptions& o = run.options;
    bool serviceNamed = false;
    for (size_t k = 0; k < kLaunchCount; ++k) {
        if (o.values[k] != nullptr && kLaunchOptions[k].resource == &kServiceNameResource) serviceNamed = true;
    }
    for (size_t k = 0; k < kLaunchCount; ++k) {
        if (o.values[k] == nullptr || !IsServiceOption(kLaunchOptions[k].option)) continue;
        if (!serviceNamed) return UsageError(run, o.origins[k] + kLaunchOptions[k].option + " goes with --service NAME");
        std::string problem = CheckServiceValue(kLaunchOptions[k].option, *o.values[k]);
        if (!problem.empty()) return InputError(run, o.origins[k] + problem);
    }
    for (size_t k = 0; k < kLaunchCount; ++k) {
        if (o.values[k] == nullptr) continue;
        int status = MakeResource(run, kLaunchOptions[k], *o.values[k], o.origins[k], added);
        if (status != kExitOk) return status;
    }
    for (const Argument& spec : o.raw) {
        int status = RawResource(run, spec, added);
        if (status != kExitOk) return status;
    }
    std::string error;
    for (const VersionSetting& setting : o.version) {
        if (!CheckVersionSetting(setting, error)) return InputError(run, error);
    }
    if (!o.icon.empty()) {
        Bytes ico;
        if (!ReadWholeFile(o.icon, kImageFile, ico, error) || !ReadIcoFile(ico, icons, error))
            return InputError(run, o.icon, error);
    }
    return kExitOk;
}

// The version details of the packed exe: those of an earlier pack, or new ones for the output.
static int ChooseVersionDetails(PackRun& run, const Resource* versionResource, bool packedBefore,
                                const std::string& launcher, VersionDetails& details) {
    // The launcher's own details describe the launcher: only those of an earlier pack carry over.
    // Every packed exe names an OriginalFilename, and the launcher's own details do not.
    details = DefaultVersionDetails(run.options.out);
    if (versionResource != nullptr) {
        VersionDetails found;
        std::string error;
        if (!ReadVersionInfo(versionResource->data, found, error)) {
            if (packedBefore) return InputError(run, launcher, error);
        } else if (packedBefore || FindVersionString(found, "OriginalFilename") != nullptr) {
            details = found;
        }
    }
    ApplyVersionSettings(details, run.options.version);
    return kExitOk;
}

// What makes the packed exe the user's own program: version details, icon, code page. Runs
// before the launch resources are added, so that it sees whether the launcher was packed before.
static int PackOwnProgram(PackRun& run, std::vector<Resource>& resources, const std::vector<IconImage>& icons,
                   const std::string& launcher) {
    std::string error;
    bool packedBefore = false;
    const Resource* versionResource = nullptr;
    Resource* manifest = nullptr;
    for (Resource& r : resources) {
        if (FindLaunchOption(r.type) != nullptr) packedBefore = true;
        if (r.type.isString || r.name.isString) continue;
        if (r.type.id == kTypeVersion && r.name.id == kVersionId) versionResource = &r;
        if (r.type.id == kTypeManifest && r.name.id == kManifestId) manifest = &r;
    }
    VersionDetails details;
    int status = ChooseVersionDetails(run, versionResource, packedBefore, launcher, details);
    if (status != kExitOk) return status;
    if (run.options.utf8) {
        if (manifest == nullptr)
            return InputError(run, launcher, "has no application manifest (RT_MANIFEST 1) for --utf8");
        std::string text(manifest->data.begin(), manifest->data.end()), updated;
        if (!AddUtf8CodePage(text, updated, error)) return InputError(run, launcher, error);
        manifest->data.assign(updated.begin(), updated.end());
    }
    Resource version;
    version.type = NumericName(kTypeVersion);
    version.name = NumericName(kVersionId);
    version.lang = NumericName(kLangEnUs);
    if (!BuildVersionInfo(details, version.data, error)) return InputError(run, error);
    PutResource(resources, std::move(version));
    if (!icons.empty()) ReplaceIcons(resources, icons);
    return kExitOk;
}

static bool OutputFolderExists(PackRun& run) {
    const std::string& out = run.options.out;
    size_t slash = out.find_last_of("/\\");
    if (slash == std::string::npos || slash == 0) return true;
    struct stat status;
    std::string folder = out.substr(0, slash);
    if (stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return true;
    InputError(run, "the output folder " + folder + " does not exist; make it first, or correct --out");
    return false;
}

// What the package will carry, reviewed before it is written: refused when it can never start,
// unless --force says the packer's guess is wrong.
static int ReviewBeforeWriting(PackRun& run, std::vector<Resource>& resources) {
    const PackOptions& o = run.options;
    size_t slash = o.out.find_last_of("/\\");
    PackInputs inputs;
    inputs.outFolder = slash == std::string::npos ? "." : o.out.substr(0, slash);
    for (size_t k = 0; k < kLaunchCount; ++k) {
        if (kLaunchOptions[k].kind == Kind::File && o.values[k] != nullptr) inputs.classesFile = *o.values[k];
    }
    PackReview review = ReviewPackage(resources, inputs);
    for (const std::string& note : review.notes) fprintf(run.out, "quorvia-pack: %s\n", note.c_str());
    for (const std::string& warning : review.warnings) fprintf(run.err, "quorvia-pack: warning: %s\n", warning.c_str());
    if (review.refusal.empty()) return kExitOk;
    if (o.force) {
        fprintf(run.err, "quorvia-pack: warning: %s; packed anyway (--force)\n", review.refusal.c_str());
        return kExitOk;
    }
    fprintf(run.err, "quorvia-pack: %s (--force packs it anyway)\n", review.refusal.c_str());
    return review.refusalStatus;
}

static int Pack(PackRun& run, const std::string& launcher) {
    const PackOptions& o = run.options;
    std::vector<Resource> added;
    std::vector<IconImage> icons;
    int status = MakeAddedResources(run, added, icons);
    if (status != kExitOk) return status;
    if (!OutputFolderExists(run)) return kExitInput;

    PackedExe exe;
    std::string error;
    if (!LoadPackedExe(launcher, exe, error)) return InputError(run, launcher, error);
    if (!CarriesLauncherMark(exe.resources))
        return InputError(run, launcher,
                          "is not a Quorvia launcher (it carries no QUORVIA-LAUNCHER mark); pack launcher.exe or "
                          "launcher-console.exe");
    if (o.stripSignature && HasSignature(exe.layout)) {
        if (!StripSignature(exe.file, error) || !ParsePe(exe.file, exe.layout, error))
            return InputError(run, launcher, error);
        fprintf(run.err, "quorvia-pack: warning: %s: removed its code signature; sign %s again\n", launcher.c_str(),
                o.out.c_str());
    }
    status = PackOwnProgram(run, exe.resources, icons, launcher);
    if (status != kExitOk) return status;
    for (Resource& r : added) PutResource(exe.resources, std::move(r));
    status = ReviewBeforeWriting(run, exe.resources);
    if (status != kExitOk) return status;
    if (!WritePackedExe(exe, o.out, error)) return InputError(run, error);
    fprintf(run.out, "quorvia-pack: wrote %s (%zu bytes, %zu resources)\n", o.out.c_str(), exe.file.size(),
            exe.resources.size());
    return kExitOk;
}

static std::string ConsoleLauncherBeside(const std::string& launcher) {
    size_t slash = launcher.find_last_of("/\\");
    return (slash == std::string::npos ? std::string() : launcher.substr(0, slash + 1)) + kConsoleLauncherName;
}

// A service launcher is the console variant that carries the service code, with or without --console.
static bool ServiceLauncherWanted(const PackOptions& o) {
    for (size_t k = 0; k < kLaunchCount; ++k) {
        if (kLaunchOptions[k].resource == &kServiceNameResource) return o.values[k] != nullptr;
    }
    return false;
}

static std::string ServiceLauncherBeside(const std::string& launcher) {
    size_t slash = launcher.find_last_of("/\\");
    return (slash == std::string::npos ? std::string() : launcher.substr(0, slash + 1)) + "launcher-service.exe";
}

static int Show(PackRun& run, const std::string& path) {
    PackedExe exe;
    std::string error;
    if (!LoadPackedExe(path, exe, error)) return InputError(run, path, error);
    fputs(DescribeResources(exe.resources).c_str(), run.out);
    fputs(DescribeStartupCache(exe.resources).c_str(), run.out);
    fputs(DescribeRuntimeRule(exe.resources).c_str(), run.out);
    fputs(DescribeService(exe.resources).c_str(), run.out);
    fputs(DescribeVersion(exe.resources).c_str(), run.out);
    fputs(DescribeIcons(exe.resources).c_str(), run.out);
    return kExitOk;
}

std::string DescribeResources(const std::vector<Resource>& resources) {
    std::string out;
    for (const Resource& r : resources) {
        const LaunchOption* l = FindLaunchOption(r.type);
        std::string line = DisplayName(r.type) + (l != nullptr ? " " : "/") + DisplayName(r.name) +
                           " lang=" + DisplayName(r.lang) + " size=" + std::to_string(r.data.size());
        if (l != nullptr) {
            if (l->kind == Kind::File || l->kind == Kind::Png)
                line += " md5=" + Md5Hex(r.data.data(), r.data.size());
            else
                line += " text=" + QuotedText(r.data);
        } else if (!r.type.isString && StandardTypeName(r.type.id) != nullptr) {
            line += std::string(" (") + StandardTypeName(r.type.id) + ")";
        }
        out += line + "\n";
    }
    return out;
}

std::string DescribeStartupCache(const std::vector<Resource>& resources) {
    bool marked = false;
    for (const Resource& r : resources) {
        if (SameName(r.type, StringName(kStartupCacheResource.typeName))) marked = true;
    }
    if (!marked) return "startup cache: off\n";
    std::string out = "startup cache: on\n";
    // The ranges as the launcher's own choice draws them, from the oldest version up.
    const int newest = 99;
    for (int first = 1; first <= newest;) {
        StartupCacheMechanism mechanism = ChooseStartupCacheMechanism(first);
        int last = first;
        while (last < newest && ChooseStartupCacheMechanism(last + 1) == mechanism) last++;
        std::string range = first == 1 ? "up to " + std::to_string(last)
                            : last == newest ? std::to_string(first) + " and later"
                                             : std::to_string(first) + "-" + std::to_string(last);
        out += "  Java " + range + ": " + DescribeStartupCacheMechanism(mechanism) + "\n";
        first = last + 1;
    }
    out += "  unknown version (no release file): none\n";
    return out;
}

// --check PATH [--json], in either order; returns -1 when the command line is not a check.
static int RunCheckCommand(const std::vector<std::string>& args, FILE* out, FILE* err) {
    bool check = false, json = false;
    std::string path;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--json") {
            json = true;
        } else if (args[i] == "--check" && i + 1 < args.size() && path.empty()) {
            check = true;
            path = args[++i];
        } else if (args[i] == "--check" || args[i].compare(0, 8, "--check=") == 0 || check) {
            fprintf(err, "quorvia-pack: --check wants one exe or folder, optionally --json, and nothing else\n");
            return kExitUsage;
        } else {
            return -1;
        }
    }
    if (!check) {
        if (!json) return -1;
        fprintf(err, "quorvia-pack: --json goes with --check\n");
        return kExitUsage;
    }
    if (HoldsSyncIndex(path)) {
        if (!json) return CheckSyncIndex(path, out, err);
        fprintf(err, "quorvia-pack: --json goes with the check of an exe, not of a sync folder's index\n");
        return kExitUsage;
    }
    return RunPreflightCheck(path, json, out, err);
}

// The end of --help: what the packer reads, and how much of each kind of file.
static std::string ReadLimitsText() {
    std::string text = "Input files must be regular files (not folders, devices or pipes), and at most:\n ";
    for (size_t i = 0; i < std::size(kFileKinds); i++) {
        text += " " + std::string(kFileKinds[i].name) + " " + SizeText(kFileKinds[i].limit) +
                (i + 1 < std::size(kFileKinds) ? "," : ";");
        if (i == std::size(kFileKinds) / 2) text += "\n ";  // two lines of kinds
    }
    return text + "\n  and a PNG image may inflate to at most " + SizeText(kPngDecodedLimit) + ".\n";
}

// Whether the argument is an option that takes the next argument as its value.
static bool OptionTakesValue(const std::string& arg) {
    for (const LaunchOption& l : kLaunchOptions) {
        if (arg == l.option) return l.kind != Kind::Mark;
    }
    for (const VersionOption& v : kVersionOptions) {
        if (arg == v.option) return true;
    }
    for (const OtherOption& other : kOtherOptions) {
        if (arg == other.option) return other.value != nullptr;
    }
    return arg == "--show" || arg == "--raw-text" || InstallerOptionTakesValue(arg);
}

// The first line of an option's description in --help, or "".
static std::string HelpText(const std::string& option) {
    std::string usage = std::string(kUsage) + kInstallerUsage, key = "\n  " + option + " ";
    size_t at = usage.find(key);
    if (at == std::string::npos) return "";
    size_t end = usage.find('\n', at + 1);
    std::string line = usage.substr(at + key.size(), end - at - key.size());
    // Past the value's placeholder, when there is one (a flag's text follows blanks at once).
    size_t text = line.empty() || line[0] == ' ' ? 0 : line.find(' ');
    size_t start = text == std::string::npos ? text : line.find_first_not_of(' ', text);
    return start == std::string::npos ? "" : line.substr(start);
}

// --list-options: every packing option as OPTION<TAB>flag|text|path<TAB>DESCRIPTION, for tools
// that pass settings through, such as the Maven plugin, which takes exactly these.
std::string ListPackOptions() {
    std::string out;
    auto add = [&out](const std::string& option, const char* kind, const char* group, const std::string& text) {
        out += option + "\t" + kind + "\t" + group + "\t" + text + "\n";
    };
    for (const OtherOption& other : kOtherOptions)
        add(other.option, other.value == nullptr ? "flag" : other.path ? "path" : "text", "exe", HelpText(other.option));
    for (const LaunchOption& l : kLaunchOptions) {
        bool path = l.kind == Kind::File || l.kind == Kind::Png;
        add(l.option, l.kind == Kind::Mark ? "flag" : path ? "path" : "text", "exe", HelpText(l.option));
    }
    for (const VersionOption& v : kVersionOptions)
        add(v.option, "text", "exe", std::string("version detail ") + v.key);
    for (const std::string& option : InstallerOptionNames())
        add(option, IsInstallerPathOption(option) ? "path" : "text", InstallerOptionGroup(option), HelpText(option));
    return out;
}

int RunPackTool(const std::vector<std::string>& args, const std::string& defaultLauncher, FILE* out, FILE* err) {
    if (args.empty()) {
        std::string usage = kUsage;
        fprintf(err, "%s\nRun quorvia-pack --help for the options.\n", usage.substr(0, usage.find("\n\n") + 1).c_str());
        return kExitUsage;
    }
    if (args.size() == 2 && args[0] == "--index") return WriteSyncIndex(args[1], out, err);
    if (args.size() == 1 && args[0] == "--list-options") {
        fputs(ListPackOptions().c_str(), out);
        return kExitOk;
    }
    int tryStatus = RunTryCommand(args, out, err);
    if (tryStatus >= 0) return tryStatus;
    int checkStatus = RunCheckCommand(args, out, err);
    if (checkStatus >= 0) return checkStatus;
    std::vector<Argument> expanded;
    std::string error;
    int status = ExpandArgumentFiles(args, OptionTakesValue, expanded, error);
    if (status != kExitOk) {
        fprintf(err, "quorvia-pack: %s\n", error.c_str());
        return status;
    }
    InstallerRequest installer;
    status = TakeInstallerOptions(expanded, OptionTakesValue, installer, err);
    if (status != kExitOk) return status;
    bool packing = !expanded.empty();
    for (Argument& added : ImageLaunchArguments(installer, expanded)) expanded.push_back(added);
    PackRun run{out, err, PackOptions()};
    status = ParseArguments(run, expanded);
    if (status != kExitOk) return status;
    const PackOptions& o = run.options;
    if (o.help) {
        fputs(kUsage, out);
        fputs(kInstallerUsage, out);
        fputs(ReadLimitsText().c_str(), out);
        return kExitOk;
    }
    if (o.printVersion) {
        fprintf(out, "quorvia-pack %s\n", QUORVIA_VERSION);
        return kExitOk;
    }
    if (!o.show.empty()) return Show(run, o.show);
    if (installer.Requested()) {
        std::string base = !o.launcher.empty()       ? o.launcher
                           : ServiceLauncherWanted(o) ? ServiceLauncherBeside(defaultLauncher)
                           : o.console                ? ConsoleLauncherBeside(defaultLauncher)
                                                      : defaultLauncher;
        return RunInstaller(installer, packing, o.out, [&](const std::string& exe) {
            run.options.out = exe;
            return Pack(run, base);
        }, out, err);
    }
    if (o.out.empty()) return UsageError(run, "missing --out");
    if (!o.launcher.empty()) return Pack(run, o.launcher);
    if (ServiceLauncherWanted(o)) return Pack(run, ServiceLauncherBeside(defaultLauncher));
    return Pack(run, o.console ? ConsoleLauncherBeside(defaultLauncher) : defaultLauncher);
}
