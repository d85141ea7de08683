#include "pack_tool.h"

#include <cstring>

#include "argument_file.h"
#include "file_io.h"
#include "icon_file.h"
#include "manifest_code_page.h"
#include "md5.h"
#include "signature.h"
#include "version_info.h"

namespace qpack {

namespace {

constexpr uint16_t kLangEnUs = 1033;
// The launcher reads these into 1024-byte buffers, terminator included.
constexpr size_t kTextLimit = 1024;

enum class Kind { Text, LimitedText, Percent, File, Png, Digest };

struct LaunchResource {
    const char* option;
    const char* type;
    uint16_t id;
    Kind kind;
};

constexpr LaunchResource kLaunchResources[] = {
    {"--classes", "CLASSES", 1000, Kind::File},
    {"--main-class", "MAIN-CLASS", 3000, Kind::LimitedText},
    {"--class-path", "CLASS-PATH", 4000, Kind::Text},
    {"--jar-path", "JAR-PATH", 4500, Kind::LimitedText},
    {"--vm-options", "VM-OPTIONS", 5000, Kind::LimitedText},
    {"--md5", "MD5-SUM", 6000, Kind::Digest},
    {"--config-path", "CONFIG-PATH", 9000, Kind::LimitedText},
    {"--sync-path", "SYNC-PATH", 10000, Kind::LimitedText},
    {"--init-heap-percent", "VM-INIT-HEAP-PERC", 11000, Kind::Percent},
    {"--max-heap-percent", "VM-MAX-HEAP-PERC", 11100, Kind::Percent},
    {"--splash", "VM-SPLASH", 20000, Kind::Png},
};
constexpr size_t kLaunchCount = sizeof kLaunchResources / sizeof kLaunchResources[0];

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
    "  --version                 print the version of quorvia-pack\n"
    "  @FILE                     the arguments written in FILE, one option or value per line;\n"
    "                            \"...\" or '...' around a value with blanks, # starts a comment;\n"
    "                            relative --launcher, --out, --show, --classes, --splash and\n"
    "                            --icon paths there are taken from FILE's own folder\n"
    "\n"
    "Text is stored as its bytes plus one NUL. MAIN-CLASS, JAR-PATH, VM-OPTIONS, CONFIG-PATH\n"
    "and SYNC-PATH may be at most 1022 bytes (1023 with the NUL).\n"
    "A launcher carrying a code signature is refused unless --strip-signature is given:\n"
    "sign the packed exe afterwards.\n"
    "Options also take the form --option=VALUE.\n"
    "Exit status: 0 done, 1 bad input file or value, 2 bad command line.\n";

bool printable(uint8_t c) { return c >= 0x20 && c < 0x7F; }

std::string quoted_text(const Bytes& data) {
    std::string out = "\"";
    for (uint8_t c : data) {
        if (c == 0) break;
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(char(c));
        } else if (printable(c)) {
            out.push_back(char(c));
        } else {
            char buf[8];
            int n = snprintf(buf, sizeof buf, "\\x%02X", unsigned(c));
            if (n > 0 && size_t(n) < sizeof buf) out.append(buf);
        }
    }
    out.push_back('"');
    return out;
}

const char* standard_type_name(uint16_t id) {
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

const LaunchResource* launch_type(const ResName& type) {
    if (!type.is_string) return nullptr;
    for (const LaunchResource& l : kLaunchResources) {
        if (same_name(type, ResName::string(l.type))) return &l;
    }
    return nullptr;
}

Bytes text_bytes(const std::string& text, bool terminated) {
    Bytes b(text.begin(), text.end());
    if (terminated) b.push_back(0);
    return b;
}

Resource launch_resource(const char* type, uint16_t id, Bytes data) {
    Resource r;
    r.type = ResName::string(type);
    r.name = ResName::number(id);
    r.lang = ResName::number(kLangEnUs);
    r.data = std::move(data);
    return r;
}

bool parse_uint(const std::string& s, unsigned long max, unsigned long& value) {
    if (s.empty() || s.size() > 6) return false;
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + unsigned(c - '0');
    }
    return value <= max;
}

struct Options {
    bool help = false;
    bool print_version = false;
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
    bool strip_signature = false;
    bool utf8 = false;
};

class Tool {
public:
    Tool(FILE* out, FILE* err) : out_(out), err_(err) {}

    int run(const std::vector<Argument>& args, const std::string& default_launcher) {
        int status = parse(args);
        if (status != kExitOk) return status;
        if (opts_.help) {
            fputs(kUsage, out_);
            return kExitOk;
        }
        if (opts_.print_version) {
            fprintf(out_, "quorvia-pack %s\n", QUORVIA_VERSION);
            return kExitOk;
        }
        if (!opts_.show.empty()) return show(opts_.show);
        if (opts_.out.empty()) return usage("missing --out");
        if (!opts_.launcher.empty()) return pack(opts_.launcher);
        return pack(opts_.console ? ConsoleLauncherBeside(default_launcher) : default_launcher);
    }

private:
    int usage(const std::string& message) {
        fprintf(err_, "quorvia-pack: %s (see --help)\n", message.c_str());
        return kExitUsage;
    }
    int fail(const std::string& message) {
        fprintf(err_, "quorvia-pack: %s\n", message.c_str());
        return kExitInput;
    }
    int fail(const std::string& file, const std::string& message) {
        return fail(file + ": " + message);
    }

    int parse(const std::vector<Argument>& args) {
        opts_.storage.reserve(args.size());
        bool packing = false;
        for (size_t i = 0; i < args.size(); ++i) {
            std::string name = args[i].text, value;
            const std::string where = ArgumentOrigin(args[i]);
            const Argument* value_at = &args[i];
            bool has_value = false;
            if (name == "--help" || name == "-h") {
                opts_.help = true;
                continue;
            }
            if (name == "--version") {
                opts_.print_version = true;
                continue;
            }
            if (name.compare(0, 2, "--") != 0) return usage(where + "unexpected argument '" + name + "'");
            size_t eq = name.find('=');
            if (eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                has_value = true;
            }
            auto take_value = [&]() {
                if (has_value) return true;
                if (i + 1 >= args.size()) return false;
                value_at = &args[++i];
                value = value_at->text;
                return true;
            };
            std::string* single = nullptr;
            if (name == "--show") single = &opts_.show;
            if (name == "--launcher") single = &opts_.launcher;
            if (name == "--out") single = &opts_.out;
            if (single != nullptr) {
                if (!take_value()) return usage(where + "option " + name + " needs a value");
                if (!single->empty()) return usage(where + "option " + name + " given twice");
                if (value.empty()) return usage(where + "option " + name + " needs a non-empty value");
                *single = ArgumentPath(*value_at, value);
                packing = packing || name != "--show";
                continue;
            }
            bool* flag = nullptr;
            if (name == "--console") flag = &opts_.console;
            if (name == "--strip-signature") flag = &opts_.strip_signature;
            if (name == "--utf8") flag = &opts_.utf8;
            if (flag != nullptr) {
                if (has_value) return usage(where + "option " + name + " takes no value");
                *flag = true;
                packing = true;
                continue;
            }
            const VersionOption* version = nullptr;
            for (const VersionOption& v : kVersionOptions) {
                if (name == v.option) version = &v;
            }
            if (version != nullptr || name == "--icon") {
                if (!take_value()) return usage(where + "option " + name + " needs a value");
                bool twice = name == "--icon" ? !opts_.icon.empty() : false;
                for (const VersionSetting& given : opts_.version) {
                    if (version != nullptr && std::strcmp(given.key, version->key) == 0) twice = true;
                }
                if (twice) return usage(where + "option " + name + " given twice");
                if (version != nullptr) {
                    opts_.version.push_back({version->key, value});
                } else {
                    if (value.empty()) return usage(where + "option " + name + " needs a non-empty value");
                    opts_.icon = ArgumentPath(*value_at, value);
                }
                packing = true;
                continue;
            }
            if (name == "--raw-text") {
                if (!take_value()) return usage(where + "option " + name + " needs a value");
                opts_.raw.push_back(*value_at);
                opts_.raw.back().text = value;
                packing = true;
                continue;
            }
            size_t k = 0;
            while (k < kLaunchCount && name != kLaunchResources[k].option) ++k;
            if (k == kLaunchCount) return usage(where + "unknown option '" + name + "'");
            if (!take_value()) return usage(where + "option " + name + " needs a value");
            if (opts_.values[k] != nullptr) return usage(where + "option " + name + " given twice");
            bool path = kLaunchResources[k].kind == Kind::File || kLaunchResources[k].kind == Kind::Png;
            opts_.storage.push_back(path ? ArgumentPath(*value_at, value) : value);
            opts_.values[k] = &opts_.storage.back();
            opts_.origins[k] = ArgumentOrigin(*value_at);
            packing = true;
        }
        if (!opts_.show.empty() && packing) return usage("--show cannot be combined with packing");
        if (opts_.console && !opts_.launcher.empty())
            return usage("--console picks the console launcher; it cannot be combined with --launcher");
        return kExitOk;
    }

    // Builds the resource for one option; returns kExitOk or the exit status.
    int make(const LaunchResource& l, const std::string& value, const std::string& where,
             std::vector<Resource>& out) {
        switch (l.kind) {
            case Kind::Text:
                out.push_back(launch_resource(l.type, l.id, text_bytes(value, true)));
                return kExitOk;
            case Kind::LimitedText: {
                size_t stored = value.size() + 1;
                if (stored >= kTextLimit) {
                    return fail(where + l.type + " text is " + std::to_string(stored) +
                                " bytes with its terminator; the limit is " +
                                std::to_string(kTextLimit - 1));
                }
                out.push_back(launch_resource(l.type, l.id, text_bytes(value, true)));
                return kExitOk;
            }
            case Kind::Percent: {
                unsigned long v = 0;
                if (!parse_uint(value, 100, v)) {
                    return fail(where + l.option + " must be an integer from 0 to 100, not '" +
                                value + "'");
                }
                out.push_back(launch_resource(l.type, l.id, text_bytes(std::to_string(v), true)));
                return kExitOk;
            }
            case Kind::Digest:
                out.push_back(launch_resource(l.type, l.id, text_bytes(value, false)));
                return kExitOk;
            case Kind::File:
            case Kind::Png: {
                Bytes data;
                std::string error;
                if (!read_file(value, data, error)) return fail(value, error);
                static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
                if (l.kind == Kind::Png && (data.size() < 8 || memcmp(data.data(), kPng, 8) != 0))
                    return fail(value, "not a PNG image");
                if (l.kind == Kind::File && !given(Kind::Digest)) {
                    std::string digest = md5_hex(data.data(), data.size());
                    out.push_back(launch_resource("MD5-SUM", 6000, text_bytes(digest, false)));
                }
                out.push_back(launch_resource(l.type, l.id, std::move(data)));
                return kExitOk;
            }
        }
        return kExitInput;
    }

    bool given(Kind kind) const {
        for (size_t k = 0; k < kLaunchCount; ++k) {
            if (kLaunchResources[k].kind == kind && opts_.values[k] != nullptr) return true;
        }
        return false;
    }

    int raw_resource(const Argument& arg, std::vector<Resource>& out) {
        const std::string& spec = arg.text;
        size_t eq = spec.find('='), colon = spec.find(':', eq == std::string::npos ? 0 : eq);
        unsigned long number = 0;
        if (eq == 0 || eq == std::string::npos || colon == std::string::npos ||
            colon + 1 == spec.size() || !parse_uint(spec.substr(eq + 1, colon - eq - 1), 65535, number)) {
            fprintf(err_, "quorvia-pack: --raw-text wants TYPE=NUMBER:FILE, not '%s'\n", spec.c_str());
            return kExitUsage;
        }
        std::string type = spec.substr(0, eq), file = ArgumentPath(arg, spec.substr(colon + 1));
        Bytes data;
        std::string error;
        if (!read_file(file, data, error)) return fail(file, error);
        Resource r = launch_resource("", uint16_t(number), std::move(data));
        unsigned long type_id = 0;
        r.type = parse_uint(type, 65535, type_id) ? ResName::number(uint16_t(type_id))
                                                  : ResName::string(type);
        out.push_back(std::move(r));
        return kExitOk;
    }

    int pack(const std::string& launcher) {
        // Values first, so that a bad value is reported before any file is touched.
        std::vector<Resource> added;
        for (size_t k = 0; k < kLaunchCount; ++k) {
            if (opts_.values[k] == nullptr) continue;
            int status = make(kLaunchResources[k], *opts_.values[k], opts_.origins[k], added);
            if (status != kExitOk) return status;
        }
        for (const Argument& spec : opts_.raw) {
            int status = raw_resource(spec, added);
            if (status != kExitOk) return status;
        }
        std::string error;
        for (const VersionSetting& setting : opts_.version) {
            if (!CheckVersionSetting(setting, error)) return fail(error);
        }
        std::vector<IconImage> icons;
        if (!opts_.icon.empty()) {
            Bytes ico;
            if (!read_file(opts_.icon, ico, error) || !ReadIcoFile(ico, icons, error))
                return fail(opts_.icon, error);
        }

        Bytes image;
        if (!read_file(launcher, image, error)) return fail(launcher, error);
        PeInfo info;
        std::vector<Resource> resources;
        if (!parse_pe(image, info, error)) return fail(launcher, error);
        if (opts_.strip_signature && HasSignature(info)) {
            if (!StripSignature(image, error) || !parse_pe(image, info, error)) return fail(launcher, error);
            fprintf(err_, "quorvia-pack: warning: %s: removed its code signature; sign %s again\n",
                    launcher.c_str(), opts_.out.c_str());
        }
        if (!read_resources(image, info, resources, error)) return fail(launcher, error);
        int status = PackOwnProgram(resources, icons, launcher);
        if (status != kExitOk) return status;
        for (Resource& r : added) put_resource(resources, std::move(r));
        if (!write_resources(image, resources, error)) return fail(launcher, error);
        if (!write_file_replacing(opts_.out, image, error)) return fail(opts_.out, error);
        fprintf(out_, "quorvia-pack: wrote %s (%zu bytes, %zu resources)\n", opts_.out.c_str(),
                image.size(), resources.size());
        return kExitOk;
    }

    // What makes the packed exe the user's own program: version details, icon, code page. Runs
    // before the launch resources are added, so that it sees whether the launcher was packed before.
    int PackOwnProgram(std::vector<Resource>& resources, const std::vector<IconImage>& icons,
                       const std::string& launcher) {
        std::string error;
        bool packedBefore = false;
        const Resource* versionResource = nullptr;
        Resource* manifest = nullptr;
        for (Resource& r : resources) {
            if (launch_type(r.type) != nullptr) packedBefore = true;
            if (r.type.is_string || r.name.is_string) continue;
            if (r.type.id == kTypeVersion && r.name.id == kVersionId) versionResource = &r;
            if (r.type.id == kTypeManifest && r.name.id == kManifestId) manifest = &r;
        }
        // The launcher's own details describe the launcher: only those of an earlier pack carry over.
        // Every packed exe names an OriginalFilename, and the launcher's own details do not.
        VersionDetails details = DefaultVersionDetails(opts_.out);
        if (versionResource != nullptr) {
            VersionDetails found;
            if (!ReadVersionInfo(versionResource->data, found, error)) {
                if (packedBefore) return fail(launcher, error);
            } else if (packedBefore || FindVersionString(found, "OriginalFilename") != nullptr) {
                details = found;
            }
        }
        ApplyVersionSettings(details, opts_.version);
        if (opts_.utf8) {
            if (manifest == nullptr) return fail(launcher, "has no application manifest (RT_MANIFEST 1) for --utf8");
            std::string text(manifest->data.begin(), manifest->data.end()), updated;
            if (!AddUtf8CodePage(text, updated, error)) return fail(launcher, error);
            manifest->data.assign(updated.begin(), updated.end());
        }
        Resource version;
        version.type = ResName::number(kTypeVersion);
        version.name = ResName::number(kVersionId);
        version.lang = ResName::number(kLangEnUs);
        if (!BuildVersionInfo(details, version.data, error)) return fail(error);
        put_resource(resources, std::move(version));
        if (!icons.empty()) ReplaceIcons(resources, icons);
        return kExitOk;
    }

    static std::string ConsoleLauncherBeside(const std::string& launcher) {
        size_t slash = launcher.find_last_of("/\\");
        return (slash == std::string::npos ? std::string() : launcher.substr(0, slash + 1)) + kConsoleLauncherName;
    }

    int show(const std::string& path) {
        Bytes image;
        std::string error;
        if (!read_file(path, image, error)) return fail(path, error);
        PeInfo info;
        std::vector<Resource> resources;
        if (!parse_pe(image, info, error) || !read_resources(image, info, resources, error))
            return fail(path, error);
        fputs(describe_resources(resources).c_str(), out_);
        fputs(DescribeVersion(resources).c_str(), out_);
        fputs(DescribeIcons(resources).c_str(), out_);
        return kExitOk;
    }

    FILE* out_;
    FILE* err_;
    Options opts_;
};

}  // namespace

std::string describe_resources(const std::vector<Resource>& resources) {
    std::string out;
    for (const Resource& r : resources) {
        const LaunchResource* l = launch_type(r.type);
        std::string line = r.type.display() + (l != nullptr ? " " : "/") + r.name.display() +
                           " lang=" + r.lang.display() + " size=" + std::to_string(r.data.size());
        if (l != nullptr) {
            if (l->kind == Kind::File || l->kind == Kind::Png)
                line += " md5=" + md5_hex(r.data.data(), r.data.size());
            else
                line += " text=" + quoted_text(r.data);
        } else if (!r.type.is_string && standard_type_name(r.type.id) != nullptr) {
            line += std::string(" (") + standard_type_name(r.type.id) + ")";
        }
        out += line + "\n";
    }
    return out;
}

int run_pack_tool(const std::vector<std::string>& args, const std::string& default_launcher,
                  FILE* out, FILE* err) {
    std::vector<Argument> expanded;
    std::string error;
    int status = ExpandArgumentFiles(args, expanded, error);
    if (status != kExitOk) {
        fprintf(err, "quorvia-pack: %s\n", error.c_str());
        return status;
    }
    Tool tool(out, err);
    return tool.run(expanded, default_launcher);
}

}  // namespace qpack
