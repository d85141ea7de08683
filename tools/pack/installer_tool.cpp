#include "pack/installer_tool.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "pack/app_image.h"
#include "pack/child_process.h"
#include "pack/msi_source.h"
#include "pack/packed_exe.h"
#include "pack/preflight_check.h"
#include "pack/version_info.h"

namespace fs = std::filesystem;

namespace {

struct SingleOption {
    const char* name;
    std::string InstallerRequest::*field;
    const char* group;  // what the option shapes: the image, or only the MSI built from it
};

const SingleOption kSingleOptions[] = {
    {"--image", &InstallerRequest::image, "image"},
    {"--msi", &InstallerRequest::msi, "msi"},
    {"--runtime", &InstallerRequest::runtime, "image"},
    {"--jlink-modules", &InstallerRequest::jlinkModules, "image"},
    {"--upgrade-code", &InstallerRequest::upgradeCode, "msi"},
    {"--install-scope", &InstallerRequest::scope, "msi"},
    {"--shortcut", &InstallerRequest::shortcuts, "msi"},
    {"--license-file", &InstallerRequest::licenseFile, "msi"},
};

bool IsPathOptionName(const std::string& name) {
    return name == "--image" || name == "--msi" || name == "--runtime" || name == "--license-file" || name == "--lib";
}

int Usage(FILE* err, const std::string& message) {
    fprintf(err, "quorvia-pack: %s (see --help)\n", message.c_str());
    return 2;
}

int Fail(FILE* err, const std::string& message) {
    fprintf(err, "quorvia-pack: %s\n", message.c_str());
    return 1;
}

// The text of a string-typed resource, up to its first NUL; "" when absent.
std::string ResourceText(const std::vector<Resource>& resources, const char* type) {
    for (const Resource& r : resources) {
        if (!SameName(r.type, StringName(type))) continue;
        std::string text(r.data.begin(), r.data.end());
        return text.substr(0, text.find('\0'));
    }
    return "";
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    for (char c : text + ";") {
        if (c != ';' && c != ',') {
            item += c;
        } else if (!item.empty()) {
            items.push_back(item);
            item.clear();
        }
    }
    return items;
}

// The one exe at the top of the image, as --check finds it.
bool FindImageExe(const std::string& image, std::string& name, std::string& error) {
    std::string exe;
    if (!ChooseCheckedExe(image, exe, error)) return false;
    name = fs::path(exe).filename().string();
    return true;
}

// Product name, company and version come from the exe, so the MSI and Explorer agree.
int MsiSettingsFromExe(const InstallerRequest& r, const std::string& exePath, MsiSettings& s, FILE* err) {
    std::string error;
    if (r.upgradeCode.empty())
        return Usage(err,
                     "--msi needs --upgrade-code UUID: Windows Installer knows the versions of one product by "
                     "it, so it must stay the same for every version you ship (generate one once, e.g. with "
                     "uuidgen, and keep it with the build)");
    if (!ParseUpgradeCode(r.upgradeCode, s.upgradeCode, error)) return Usage(err, error);
    if (!r.scope.empty() && r.scope != "machine" && r.scope != "user")
        return Usage(err, "--install-scope takes machine or user, not '" + r.scope + "'");
    s.perUser = r.scope == "user";
    if (!r.shortcuts.empty() && !ParseShortcuts(r.shortcuts, s, error)) return Usage(err, error);
    for (const std::string& spec : r.associations) {
        MsiAssociation a;
        if (!ParseAssociation(spec, a, error)) return Usage(err, error);
        s.associations.push_back(a);
    }
    PackedExe exe;
    VersionDetails details;
    if (!LoadPackedExe(exePath, exe, error)) return Fail(err, exePath + ": " + error);
    const Resource* version = nullptr;
    for (const Resource& res : exe.resources) {
        if (!res.type.isString && res.type.id == 16) version = &res;
    }
    if (version == nullptr || !ReadVersionInfo(version->data, details, error))
        return Fail(err,
                    exePath + ": has no version details; pack it with --product-name, --company and --product-version");
    const std::u16string* product = FindVersionString(details, "ProductName");
    const std::u16string* company = FindVersionString(details, "CompanyName");
    s.productName = product ? Utf16ToUtf8(*product) : "";
    s.company = company ? Utf16ToUtf8(*company) : "";
    if (s.company.empty())
        return Fail(err, exePath + ": names no company; pack it with --company TEXT (the MSI's manufacturer)");
    if (!CheckInstallName("the product name", s.productName, true, error) ||
        !CheckInstallName("the company", s.company, false, error) ||
        !MsiVersionText(details.productVersion, s.version, error))
        return Fail(err, exePath + ": " + error);
    s.service.name = ResourceText(exe.resources, "SERVICE-NAME");
    if (!s.service.name.empty()) {
        s.service.displayName = ResourceText(exe.resources, "SERVICE-DISPLAY-NAME");
        s.service.description = ResourceText(exe.resources, "SERVICE-DESCRIPTION");
        std::string start = ResourceText(exe.resources, "SERVICE-START");
        if (!start.empty()) s.service.start = start;
        s.service.account = ResourceText(exe.resources, "SERVICE-ACCOUNT");
        s.service.dependsOn = SplitList(ResourceText(exe.resources, "SERVICE-DEPENDS-ON"));
        if (s.perUser)
            return Usage(err,
                         exePath + " is a service: a service is installed for the machine; drop --install-scope user");
        if (s.service.start != "auto" && s.service.start != "delayed" && s.service.start != "demand")
            return Fail(err, exePath + ": SERVICE-START is '" + s.service.start + "', not auto, delayed or demand");
    }
    return 0;
}

int BuildMsi(const InstallerRequest& r, const std::string& exeName, FILE* out, FILE* err) {
    MsiSettings s;
    fs::path exePath = fs::path(r.image) / exeName;
    int status = MsiSettingsFromExe(r, exePath.string(), s, err);
    if (status != 0) return status;
    std::error_code ec;
    // wixl reads a Source relative to the source file's folder, and refuses an absolute one.
    std::string wxs = r.msi + ".wxs";
    fs::path wxsFolder = fs::absolute(wxs, ec).parent_path();
    auto source = [&](const fs::path& file) {
        return fs::absolute(file, ec).lexically_relative(wxsFolder).generic_string();
    };
    std::vector<ImageFile> files;
    for (auto it = fs::recursive_directory_iterator(r.image, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string relative = fs::relative(it->path(), r.image, ec).generic_string();
        files.push_back({relative, source(it->path())});
    }
    if (ec) return Fail(err, r.image + ": cannot be listed: " + ec.message());
    std::sort(files.begin(), files.end(),
              [](const ImageFile& a, const ImageFile& b) { return a.relative < b.relative; });
    if (!r.licenseFile.empty()) {
        std::string name = fs::path(r.licenseFile).filename().string();
        if (!fs::is_regular_file(r.licenseFile, ec))
            return Fail(err, r.licenseFile + ": the licence file does not exist");
        for (const ImageFile& f : files) {
            if (f.relative == name) return Fail(err, r.licenseFile + ": the image already holds a file named " + name);
        }
        s.licenseFile = source(r.licenseFile);
    }
    {
        std::ofstream source(wxs, std::ios::binary);
        source << WixSource(s, exeName, files);
        if (!source.flush()) return Fail(err, wxs + ": cannot be written");
    }
    auto started = std::chrono::steady_clock::now();
    std::string output;
    int wixl = RunProgram({"wixl", "-a", "x64", "-o", r.msi, wxs}, output);
    // wixl drops what it does not know with a warning and still succeeds: any output is an error.
    if (wixl != 0 || !output.empty()) {
        fs::remove(r.msi, ec);
        if (wixl == -1) return Fail(err, "cannot run wixl: install it (Debian: apt-get install wixl)");
        return Fail(err, "wixl failed on " + wxs + " (kept for a look):\n" + output);
    }
    fs::remove(wxs, ec);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    fprintf(out, "quorvia-pack: wrote %s (%s %s, %zu files, %s, %.1f s)\n", r.msi.c_str(), s.productName.c_str(),
            s.version.c_str(), files.size() + (s.licenseFile.empty() ? 0 : 1), s.perUser ? "per user" : "per machine",
            seconds);
    if (!s.service.name.empty())
        fprintf(out, "quorvia-pack: the MSI installs the service %s\n", s.service.name.c_str());
    return 0;
}

int BuildImage(const InstallerRequest& r, const std::string& out, const std::function<int(const std::string&)>& pack,
               std::string& exeName, FILE* stdOut, FILE* err) {
    std::error_code ec;
    fs::path folder = fs::absolute(r.image, ec).lexically_normal();
    if (!folder.has_filename()) folder = folder.parent_path();  // DIR/ names DIR
    exeName = out.empty() ? folder.filename().string() + ".exe" : out;
    if (exeName == ".exe" || fs::path(exeName).has_parent_path())
        return Usage(err, "with --image, --out names the exe inside the image (a file name such as MyApp.exe)");
    fs::create_directories(r.image, ec);
    if (ec) return Fail(err, r.image + ": cannot be made: " + ec.message());
    int status = pack((fs::path(r.image) / exeName).string());
    if (status != 0) return status;
    std::string error;
    if (!r.libs.empty()) {
        fs::remove_all(fs::path(r.image) / "lib", ec);
        if (!CopyJars(r.libs, (fs::path(r.image) / "lib").string(), error)) return Fail(err, error);
    }
    std::string jre = (fs::path(r.image) / "jre").string();
    if (!r.jlinkModules.empty()) {
        std::vector<std::string> jars = r.libs;
        if (!r.classesJar.empty()) jars.insert(jars.begin(), r.classesJar);
        const char* javaHome = std::getenv("JAVA_HOME");
        std::string log;
        if (!LinkRuntime(r.runtime, r.jlinkModules, jars, javaHome ? javaHome : "", jre, log, error))
            return Fail(err, error);
        fputs(log.c_str(), stdOut);
    } else if (!r.runtime.empty() && !InstallRuntime(r.runtime, jre, error)) {
        return Fail(err, error);
    }
    // The image is only done once it would start on a clean PC.
    return RunPreflightCheck((fs::path(r.image) / exeName).string(), false, stdOut, err);
}

}  // namespace

const char kInstallerUsage[] =
    "\n"
    "An app image and its Windows Installer package (wixl, msitools):\n"
    "  --image DIR               pack the exe into DIR (named by --out, default DIR's name\n"
    "                            .exe), then run --check on it; a FAIL fails the command\n"
    "  --lib JAR                 copy JAR into DIR\\lib\\; repeatable. The first is the jar the\n"
    "                            exe runs (JAR-PATH) unless --classes or --jar-path names one,\n"
    "                            the others the class path (#/lib/JAR) unless --class-path is given\n"
    "  --runtime PATH            a Windows x64 JDK or JRE, a folder or a .zip, copied to DIR\\jre\n"
    "  --jlink-modules auto|LIST link a smaller DIR\\jre with the host's jlink (JAVA_HOME, the\n"
    "                            runtime's major version) over the runtime's jmods; auto asks\n"
    "                            jdeps about the jars\n"
    "  --msi FILE                build FILE from the image --image names (after packing it, when\n"
    "                            pack options are given); name, company and version are the\n"
    "                            exe's (--product-name, --company, --product-version N.N.N)\n"
    "  --upgrade-code UUID       required with --msi: the same for every version of the product\n"
    "  --install-scope machine|user    Program Files (default) or the user's own programs\n"
    "  --shortcut start-menu,desktop   shortcuts to the exe\n"
    "  --file-association EXT:DESCRIPTION  open .EXT files with the exe; repeatable\n"
    "  --license-file FILE       install FILE beside the exe (with a start-menu shortcut)\n";

bool InstallerRequest::Given() const {
    return !runtime.empty() || !jlinkModules.empty() || !upgradeCode.empty() || !scope.empty() || !shortcuts.empty() ||
           !licenseFile.empty() || !libs.empty() || !associations.empty();
}

std::vector<std::string> InstallerOptionNames() {
    std::vector<std::string> names;
    for (const SingleOption& o : kSingleOptions) names.push_back(o.name);
    names.push_back("--lib");
    names.push_back("--file-association");
    return names;
}

const char* InstallerOptionGroup(const std::string& option) {
    for (const SingleOption& o : kSingleOptions) {
        if (option == o.name) return o.group;
    }
    return option == "--file-association" ? "msi" : "image";
}

bool IsInstallerPathOption(const std::string& option) { return IsPathOptionName(option); }

bool InstallerOptionTakesValue(const std::string& option) {
    for (const SingleOption& o : kSingleOptions) {
        if (option == o.name) return true;
    }
    return option == "--lib" || option == "--file-association";
}

int TakeInstallerOptions(std::vector<Argument>& args, bool (*packTakesValue)(const std::string&),
                         InstallerRequest& request, FILE* err) {
    std::vector<Argument> rest;
    for (size_t i = 0; i < args.size(); i++) {
        std::string name = args[i].text, where = ArgumentOrigin(args[i]);
        size_t eq = name.find('=');
        bool inline_ = name.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (inline_) name.resize(eq);
        if (!InstallerOptionTakesValue(name)) {
            if (name == "--classes" && (inline_ || i + 1 < args.size()))
                request.classesJar = ArgumentPath(args[i], inline_ ? args[i].text.substr(eq + 1) : args[i + 1].text);
            rest.push_back(args[i]);
            if (packTakesValue(name) && !inline_ && i + 1 < args.size()) rest.push_back(args[++i]);
            continue;
        }
        const Argument* at = &args[i];
        std::string value;
        if (inline_) {
            value = args[i].text.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            at = &args[++i];
            value = at->text;
        } else {
            return Usage(err, where + "option " + name + " needs a value");
        }
        if (value.empty()) return Usage(err, where + "option " + name + " needs a non-empty value");
        if (IsPathOptionName(name)) value = ArgumentPath(*at, value);
        if (name == "--lib") {
            request.libs.push_back(value);
            continue;
        }
        if (name == "--file-association") {
            request.associations.push_back(value);
            continue;
        }
        for (const SingleOption& o : kSingleOptions) {
            if (name != o.name) continue;
            std::string& field = request.*o.field;
            if (!field.empty()) return Usage(err, where + "option " + name + " given twice");
            field = value;
        }
    }
    args = rest;
    return 0;
}

std::vector<Argument> ImageLaunchArguments(const InstallerRequest& request, const std::vector<Argument>& packArgs) {
    auto given = [&](const std::string& option) {
        return std::any_of(packArgs.begin(), packArgs.end(), [&](const Argument& a) {
            return a.text == option || a.text.compare(0, option.size() + 1, option + "=") == 0;
        });
    };
    std::vector<Argument> added;
    std::string classPath;
    for (const std::string& jar : request.libs) {
        std::string name = fs::path(jar).filename().string();
        // The launcher needs a jar of its own to run: the first one, unless the pack names one.
        if (added.empty() && !given("--classes") && !given("--jar-path"))
            added.push_back(Argument{"--jar-path=lib\\" + name, "", 0});
        else
            classPath += (classPath.empty() ? "#/lib/" : ";#/lib/") + name;
    }
    if (!classPath.empty() && !given("--class-path")) added.push_back(Argument{"--class-path=" + classPath, "", 0});
    return added;
}

int RunInstaller(const InstallerRequest& r, bool packing, const std::string& out,
                 const std::function<int(const std::string&)>& pack, FILE* stdOut, FILE* err) {
    if (r.image.empty()) return Usage(err, "the image and MSI options need --image DIR");
    bool building = packing || !r.libs.empty() || !r.runtime.empty() || !r.jlinkModules.empty();
    if (!r.jlinkModules.empty() && r.runtime.empty())
        return Usage(err, "--jlink-modules links the jmods of the Windows JDK that --runtime names, and there is none");
    bool msiOnly = !r.upgradeCode.empty() || !r.scope.empty() || !r.shortcuts.empty() || !r.licenseFile.empty() ||
                   !r.associations.empty();
    if (r.msi.empty() && msiOnly)
        return Usage(
            err, "--upgrade-code, --install-scope, --shortcut, --file-association and --license-file go with --msi");
    if (!building && r.msi.empty())
        return Usage(err, "--image DIR wants pack options (at least --main-class), --lib or --runtime");
    std::error_code ec;
    std::string inside = fs::absolute(r.msi, ec).lexically_relative(fs::absolute(r.image, ec)).generic_string();
    if (!r.msi.empty() && !inside.empty() && inside.compare(0, 2, "..") != 0)
        return Usage(err, "--msi " + r.msi + " lies inside the image it packages; write it elsewhere");
    std::string exeName;
    int status = 0;
    if (building)
        status = BuildImage(r, out, pack, exeName, stdOut, err);
    else if (!out.empty())
        return Usage(err, "--out goes with building the image");
    else {
        std::string error;
        if (!FindImageExe(r.image, exeName, error)) return Fail(err, error);
    }
    if (status != 0 || r.msi.empty()) return status;
    return BuildMsi(r, exeName, stdOut, err);
}
