#include "pack/app_image.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "pack/child_process.h"
#include "pack/file_io.h"
#include "pack/jar_reader.h"
#include "pack/pe_imports.h"

namespace fs = std::filesystem;

// A JDK's zip is about 200 MB; the reader holds it whole.
constexpr FileKind kRuntimeArchive = {"a runtime archive", size_t(1024) << 20};

int JavaMajor(const std::string& version) {
    size_t i = 0;
    int first = 0;
    while (i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])) && first < 1000)
        first = first * 10 + (version[i++] - '0');
    if (first != 1 || i >= version.size() || version[i] != '.') return first;
    int second = 0;  // 1.8.0 is Java 8
    while (++i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])) && second < 1000)
        second = second * 10 + (version[i] - '0');
    return second;
}

// A folder holds a Windows x64 runtime when its bin\java.dll is an x64 image.
static bool CheckWindowsRuntime(const fs::path& home, const std::string& shown, std::string& error) {
    std::vector<uint8_t> dll;
    PeImports imports;
    std::string why;
    fs::path java = home / "bin" / "java.dll";
    if (!ReadWholeFile(java.string(), kDllFile, dll, why)) {
        error = shown + " is not a Windows runtime: bin\\java.dll: " + why;
        return false;
    }
    if (!ReadPeImports(dll, imports, why)) {
        error = shown + ": bin\\java.dll is not a Windows DLL: " + why;
        return false;
    }
    if (imports.machine != kMachineAmd64 || !imports.isPe32Plus) {
        error = shown + ": bin\\java.dll is " + MachineName(imports.machine) +
                ", not x64: the launcher is a 64-bit program and loads only a 64-bit runtime";
        return false;
    }
    return true;
}

static bool SafeEntryName(const std::string& name) {
    if (name.empty() || name[0] == '/' || name.find(':') != std::string::npos) return false;
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") return false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return true;
}

// Extracts a runtime zip into `to`. A JDK zip holds one top folder (jdk-17.0.2+8\): it is dropped.
static bool ExtractRuntimeZip(const std::string& zip, const fs::path& to, std::string& error) {
    std::vector<uint8_t> data;
    std::vector<JarEntry> entries;
    if (!ReadWholeFile(zip, kRuntimeArchive, data, error) || !ReadJarDirectory(data, entries, error)) {
        error = zip + ": " + error;
        return false;
    }
    std::set<std::string> tops;
    for (JarEntry& e : entries) {
        for (char& c : e.name) c = c == '\\' ? '/' : c;
        if (!SafeEntryName(e.name)) {
            error = zip + ": entry '" + e.name + "' would land outside the runtime folder";
            return false;
        }
        tops.insert(e.name.substr(0, e.name.find('/')));
    }
    std::string strip;
    if (tops.size() == 1 && !tops.count("bin")) strip = *tops.begin() + "/";
    for (const JarEntry& e : entries) {
        std::string name = e.name.compare(0, strip.size(), strip) == 0 ? e.name.substr(strip.size()) : e.name;
        if (name.empty()) continue;
        fs::path target = to / name;
        std::error_code ec;
        if (name.back() == '/') {
            fs::create_directories(target, ec);
            continue;
        }
        std::vector<uint8_t> bytes;
        if (!ExtractJarEntry(data, e, kRuntimeArchive.limit, bytes, error)) {
            error = zip + ": " + e.name + ": " + error;
            return false;
        }
        fs::create_directories(target.parent_path(), ec);
        std::ofstream file(target, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!file.flush()) {
            error = target.string() + ": cannot be written";
            return false;
        }
    }
    return true;
}

static bool IsZip(const std::string& path) {
    return path.size() > 4 &&
           (path.compare(path.size() - 4, 4, ".zip") == 0 || path.compare(path.size() - 4, 4, ".ZIP") == 0);
}

// The runtime as a folder: `source` itself, or its zip extracted into `scratch`.
static bool RuntimeFolder(const std::string& source, const fs::path& scratch, fs::path& home, std::string& error) {
    std::error_code ec;
    if (IsZip(source)) {
        fs::remove_all(scratch, ec);
        if (!ExtractRuntimeZip(source, scratch, error)) return false;
        home = scratch;
    } else if (fs::is_directory(source, ec)) {
        home = source;
    } else {
        error = source + ": --runtime wants a folder or a .zip of a Windows JDK or JRE";
        return false;
    }
    return CheckWindowsRuntime(home, source, error);
}

static fs::path ScratchBeside(const std::string& jre) {
    std::random_device random;
    return fs::path(jre).parent_path() / (".runtime-" + std::to_string(random()));
}

bool InstallRuntime(const std::string& source, const std::string& jre, std::string& error) {
    std::error_code ec;
    fs::remove_all(jre, ec);
    if (IsZip(source)) {
        // Extracted straight into place: a failure leaves no half runtime behind.
        fs::path home;
        if (!RuntimeFolder(source, jre, home, error)) {
            fs::remove_all(jre, ec);
            return false;
        }
        return true;
    }
    fs::path home;
    if (!RuntimeFolder(source, fs::path(), home, error)) return false;
    fs::copy(home, jre, fs::copy_options::recursive, ec);
    if (ec) error = jre + ": copying the runtime failed: " + ec.message();
    return !ec;
}

static std::string ReleaseVersion(const fs::path& home) {
    std::ifstream release(home / "release");
    std::string line;
    const std::string key = "JAVA_VERSION=\"";
    while (std::getline(release, line)) {
        if (line.compare(0, key.size(), key) == 0)
            return line.substr(key.size(), line.find('"', key.size()) - key.size());
    }
    return "";
}

static std::string LastLine(const std::string& text) {
    size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos) return "";
    size_t start = text.find_last_of("\r\n", end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

static bool ValidModuleList(const std::string& list) {
    if (list.empty() || list.front() == ',' || list.back() == ',') return false;
    for (char c : list) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != ',') return false;
    }
    return list.find(",,") == std::string::npos;
}

static bool LinkFromFolder(const fs::path& home, const std::string& source, const std::string& modules,
                           const std::vector<std::string>& jars, const std::string& jlinkHome, const std::string& jre,
                           std::string& log, std::string& error) {
    std::string tool = jlinkHome.empty() ? "" : (fs::path(jlinkHome) / "bin").string() + "/";
    std::error_code ec;
    if (!fs::is_directory(home / "jmods", ec)) {
        error = source + " has no jmods folder: --jlink-modules needs a JDK (a JRE cannot be linked)";
        return false;
    }
    std::string output;
    int status = RunProgram({tool + "jlink", "--version"}, output);
    int hostMajor = status == 0 ? JavaMajor(LastLine(output)) : 0;
    if (hostMajor == 0) {
        error = "cannot run " + tool + "jlink --version: install a JDK on this machine (set JAVA_HOME)";
        return false;
    }
    std::string runtimeVersion = ReleaseVersion(home);
    int runtimeMajor = JavaMajor(runtimeVersion);
    if (runtimeMajor != hostMajor) {
        error = "the host's jlink is Java " + std::to_string(hostMajor) + " but " + source + " is Java " +
                (runtimeMajor == 0 ? std::string("of unknown version (no JAVA_VERSION in its release file)")
                                   : std::to_string(runtimeMajor)) +
                ": jlink links only jmods of its own version; point JAVA_HOME at a JDK " +
                (runtimeMajor == 0 ? std::string("of the runtime's version") : std::to_string(runtimeMajor)) +
                " on this machine";
        return false;
    }
    std::string list = modules;
    if (modules == "auto") {
        if (jars.empty()) {
            error = "--jlink-modules auto reads the application's jars (--classes, --lib), and none was given";
            return false;
        }
        std::vector<std::string> jdeps = {tool + "jdeps", "--print-module-deps", "--ignore-missing-deps",
                                          "--multi-release", std::to_string(hostMajor)};
        jdeps.insert(jdeps.end(), jars.begin(), jars.end());
        output.clear();
        status = RunProgram(jdeps, output);
        list = LastLine(output);
        log += "jdeps: " + list + "\n";
        if (status != 0 || !ValidModuleList(list)) {
            error = "jdeps could not list the modules of the application's jars:\n" + output;
            return false;
        }
    } else if (!ValidModuleList(list)) {
        error = "--jlink-modules wants auto or module names separated by commas, not '" + modules + "'";
        return false;
    }
    fs::remove_all(jre, ec);
    output.clear();
    status = RunProgram({tool + "jlink", "--module-path", (home / "jmods").string(), "--add-modules", list,
                         "--strip-debug", "--no-header-files", "--no-man-pages", "--output", jre},
                        output);
    log += output;
    if (status != 0) {
        error = "jlink failed:\n" + output;
        return false;
    }
    // The jmods decide the platform of the result, whatever the host: a runtime linked from a
    // Linux JDK's jmods would only fail on the user's PC.
    if (!CheckWindowsRuntime(jre, "the linked runtime " + jre, error)) {
        error += " (link the jmods of a Windows x64 JDK)";
        return false;
    }
    return true;
}

bool LinkRuntime(const std::string& source, const std::string& modules, const std::vector<std::string>& jars,
                 const std::string& jlinkHome, const std::string& jre, std::string& log, std::string& error) {
    fs::path scratch = ScratchBeside(jre), home;
    bool ok = RuntimeFolder(source, scratch, home, error) &&
              LinkFromFolder(home, source, modules, jars, jlinkHome, jre, log, error);
    std::error_code ec;
    fs::remove_all(scratch, ec);
    return ok;
}

bool CopyJars(const std::vector<std::string>& jars, const std::string& lib, std::string& error) {
    std::error_code ec;
    fs::create_directories(lib, ec);
    std::set<std::string> names;
    for (const std::string& jar : jars) {
        std::string name = fs::path(jar).filename().string();
        if (!names.insert(name).second) {
            error = jar + ": another --lib jar is also named " + name + ": lib\\ can hold only one";
            return false;
        }
        if (!fs::is_regular_file(jar, ec) ||
            !fs::copy_file(jar, fs::path(lib) / name, fs::copy_options::overwrite_existing, ec)) {
            error = jar + ": cannot be copied into " + lib + (ec ? ": " + ec.message() : ": not a regular file");
            return false;
        }
    }
    return true;
}
