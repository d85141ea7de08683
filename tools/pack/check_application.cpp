// The application area of quorvia-pack --check: the class path the launch builds, its entries, and the
// main class with its entry points and class-file version.
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "files/app_folder.h"
#include "cache/cache_names.h"
#include "config/config_edge.h"
#include "config/resource_lists.h"
#include "config/resources.h"
#include "config/service_settings.h"
#include "files/entry_names.h"
#include "pack/check_platform.h"
#include "pack/check_report.h"
#include "pack/class_file.h"
#include "pack/file_io.h"
#include "pack/jar_reader.h"

namespace check {

namespace {

struct ClassSource {
    std::string shown;     // as the class path names it
    std::string hostPath;  // empty for the embedded jar
    bool embedded = false;
};

void SplitClassPath(const char* text, std::vector<std::string>& entries) {
    std::string current;
    for (const char* at = text ? text : ""; ; at++) {
        if (*at == ';' || *at == '\0') {
            if (!current.empty()) entries.push_back(current);
            current.clear();
            if (*at == '\0') break;
        } else {
            current.push_back(*at);
        }
    }
}

enum class ClassLookup { Found, Absent, Unreadable };

// Reads a class out of one class path entry: Unreadable, with the reason, when the entry may hold it
// but cannot be read here.
ClassLookup ReadClassFrom(const ClassSource& source, const std::string& classEntry, Bytes& classBytes,
                          std::string& error) {
    Bytes jar;
    if (source.embedded) {
        size_t size = 0;
        const void* bytes = LoadLaunchResource(kClassesResource, &size, nullptr);
        if (bytes == nullptr) return ClassLookup::Absent;
        jar.assign(static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
    } else {
        bool isFolder = false;
        if (!IsFile(source.hostPath, &isFolder)) return ClassLookup::Absent;
        if (isFolder) {
            std::string path = source.hostPath + "/" + classEntry;
            if (!IsFile(path, &isFolder)) return ClassLookup::Absent;
            return ReadWholeFile(path, kClassFile, classBytes, error) ? ClassLookup::Found : ClassLookup::Unreadable;
        }
        if (!ReadWholeFile(source.hostPath, kJarFile, jar, error)) return ClassLookup::Unreadable;
    }
    std::vector<JarEntry> entries;
    if (!ReadJarDirectory(jar, entries, error)) return ClassLookup::Unreadable;
    for (const JarEntry& entry : entries) {
        if (entry.name != classEntry) continue;
        bool read = ExtractJarEntry(jar, entry, kClassFile.limit, classBytes, error);
        return read ? ClassLookup::Found : ClassLookup::Unreadable;
    }
    return ClassLookup::Absent;
}

bool IsReadableJar(const std::string& hostPath, std::string& error) {
    Bytes jar;
    std::vector<JarEntry> entries;
    return ReadWholeFile(hostPath, kJarFile, jar, error) && ReadJarDirectory(jar, entries, error);
}

void DescribeClassPathEntries(Report& report, std::vector<ClassSource>& sources) {
    std::string error;
    for (ClassSource& source : sources) {
        if (source.embedded) continue;
        // Shown with backslashes, as Windows names it, also where the package wrote slashes.
        const std::string entry = WindowsPath(source.shown);
        std::string windows = IsRelative(entry) ? ExeFolder() + "\\" + entry : entry;
        // Mirrored jars are read at their source; the mirror does not exist before the first start.
        if (source.hostPath.empty()) source.hostPath = HostPath(windows);
        else windows = WindowsPath(source.hostPath);
        if (!CheckableHere(windows)) {
            report.Warn(kApplication, "class path entry " + entry + " names another machine's path; not checked here",
                        "Run the check on Windows, or use #\\ to name files beside the exe.");
            continue;
        }
        bool isFolder = false;
        if (!IsFile(source.hostPath, &isFolder)) {
            report.Fail(kApplication, "class path entry " + entry + " does not exist",
                        "Ship " + entry + ", or correct the class path.");
        } else if (IsRelative(entry)) {
            report.Warn(kApplication, "class path entry " + entry +
                                          " is relative: it is found only when the current folder is the exe's",
                        "Write it as #\\" + entry + " so that it names the exe's folder.");
        } else if (!isFolder && !IsReadableJar(source.hostPath, error)) {
            report.Warn(kApplication, "class path entry " + entry + " is not a readable jar: " + error,
                        "Ship an intact copy of the jar.");
        } else {
            report.Ok(kApplication, "class path entry " + entry + (isFolder ? " (folder)" : ""));
        }
    }
}

// The class of that internal name, from the first class path entry holding it. When it is found in
// none, `unreadable` names an entry that could not be read here and may hold it.
bool FindClass(Report& report, const std::vector<ClassSource>& sources, const std::string& className,
               ClassFileInfo& info, std::string& foundIn, std::string& unreadable) {
    std::string classEntry = className + ".class";
    for (const ClassSource& source : sources) {
        Bytes classBytes;
        std::string error;
        ClassLookup lookup = ReadClassFrom(source, classEntry, classBytes, error);
        if (lookup == ClassLookup::Unreadable && unreadable.empty())
            unreadable = WindowsPath(source.shown) + " (" + error + ")";
        if (lookup != ClassLookup::Found) continue;
        if (!ReadClassFile(classBytes.data(), classBytes.size(), info, error)) {
            report.Fail(kApplication, classEntry + " in " + source.shown + ": " + error, "Rebuild the jar.");
            return false;
        }
        foundIn = source.shown;
        return true;
    }
    return false;
}

}  // namespace

// The application jar of the launch mode: the jar path's, the embedded one in its cache file, or the
// sync folder's libs jars read at the source.
static void CollectApplicationJars(Report& report, std::vector<ClassSource>& sources) {
    if (g_launch.launchMode != SyncFolder) {
        char exePath[1024], resolved[1024];
        if (!IsEmpty(g_launch.jarPath) &&
            (!GetExePath(exePath, sizeof exePath) ||
             !FormResolvedJarPath(resolved, sizeof resolved, exePath, g_launch.jarPath))) {
            report.Fail(kApplication, std::string("jar path ") + g_launch.jarPath + " is too long beside the exe",
                        "Use a shorter jar path.");
        } else if (!IsEmpty(g_launch.jarPath)) {
            // Always taken from the exe's folder; one on a network path is used through a cache copy.
            report.Ok(kApplication, std::string("launch mode: the jar ") + g_launch.jarPath + ", that is " + resolved);
            sources.push_back({resolved, "", false});
        } else {
            size_t size = 0;
            if (LoadLaunchResource(kClassesResource, &size, nullptr) == nullptr) {
                report.Fail(kApplication, "no CLASSES jar and no jar path: the launcher has no application jar to cache",
                            "Pack the exe with --classes or --jar-path.");
            } else {
                // The VM reads the jar from its cache file, named by the configured or packed digest.
                bool hasDigest = false;
                std::string digest = !IsEmpty(g_launch.cacheDigest) ? g_launch.cacheDigest
                                                                    : ResourceText(kMd5SumResource, &hasDigest);
                ForgetCacheFileName();
                const char* cacheFile = GetCacheFileName(digest.c_str());
                std::string shown = cacheFile != nullptr ? cacheFile : "(embedded CLASSES jar)";
                report.Ok(kApplication, "launch mode: the embedded CLASSES jar, cached on the first start as " + shown);
                sources.push_back({shown, "", true});
            }
        }
    } else {
        char mirrorRoot[1024] = "";
        FormatMirrorRoot(mirrorRoot, sizeof mirrorRoot);
        report.Ok(kApplication, std::string("launch mode: the sync folder ") + g_launch.syncPath.text +
                                    ", mirrored into " + mirrorRoot + " on the first start");
        // The mirror puts the jars of the source's libs folder on the class path; read them at the source.
        std::string libs = std::string(g_launch.syncPath.text) + "\\libs";
        if (DIR* folder = opendir(HostPath(libs).c_str())) {
            std::vector<std::string> jars;
            while (dirent* entry = readdir(folder)) {
                if (IsJarName(entry->d_name)) jars.push_back(entry->d_name);
            }
            closedir(folder);
            std::sort(jars.begin(), jars.end());
            for (const std::string& jar : jars)
                sources.push_back({std::string(mirrorRoot) + "\\libs\\" + jar, HostPath(libs + "\\" + jar), false});
        }
    }
}

// The class path in the launcher's order: -cp and configuration entries, the application jar,
// then the CLASS-PATH resource.
static std::vector<ClassSource> CollectClassPath(Report& report, const RuntimeChoice& runtime) {
    std::vector<std::string> entries;
    SplitClassPath(g_launch.classPath.text, entries);
    std::vector<ClassSource> sources;
    for (const std::string& entry : entries) sources.push_back({entry, "", false});
    CollectApplicationJars(report, sources);
    char* resourceClassPath = BuildResourceClassPath(runtime.home.empty() ? nullptr : runtime.home.c_str());
    if (resourceClassPath != nullptr) {
        std::vector<std::string> resourceEntries;
        SplitClassPath(resourceClassPath, resourceEntries);
        for (const std::string& entry : resourceEntries) sources.push_back({entry, "", false});
        free(resourceClassPath);
    }
    ReportLauncherMessages(report, kApplication);
    std::string shown;
    for (const ClassSource& source : sources) shown += (shown.empty() ? "" : ";") + source.shown;
    report.Ok(kApplication, "class path: " + WindowsPath(shown));

    return sources;
}

// main(String[]) and initSingleApplication(String[]), found in the class or its superclasses.
static void DescribeEntryPoints(Report& report, const Settings& settings, const std::vector<ClassSource>& sources,
                                const ClassFileInfo& info) {
    // The launcher asks for static methods, which a class also inherits from its superclasses.
    EntryMethod main = info.main, initSingleApplication = info.initSingleApplication;
    ClassFileInfo ancestor = info;
    for (int depth = 0; depth < 32 && !ancestor.superName.empty() && ancestor.superName.compare(0, 5, "java/") != 0;
         depth++) {
        std::string foundIn, unreadable;
        ClassFileInfo parent;
        if (!FindClass(report, sources, ancestor.superName, parent, foundIn, unreadable)) break;
        if (!main.found) main = parent.main;
        if (!initSingleApplication.found) initSingleApplication = parent.initSingleApplication;
        ancestor = parent;
    }
    if (!main.found)
        report.Fail(kApplication, settings.mainClass + " has no main(String[])",
                    "Add public static void main(String[] args), or name the class that has it.");
    else if (!main.isStatic || !main.isPublic)
        report.Fail(kApplication, settings.mainClass + ".main(String[]) is not public static",
                    "Declare it public static void main(String[] args).");
    else
        report.Ok(kApplication, "public static void main(String[]) found");
    if (initSingleApplication.found && initSingleApplication.isStatic)
        report.Ok(kApplication, "initSingleApplication(String[]) found: the app is single-instance");
}

// The class-file version against the runtime's.
static void DescribeClassVersion(Report& report, const RuntimeChoice& runtime, const ClassFileInfo& info) {
    int needed = JavaReleaseOfClassVersion(info.majorVersion);
    std::string classVersion = "class-file version " + std::to_string(info.majorVersion) + " (Java " +
                               std::to_string(needed) + ")";
    if (runtime.feature == 0 && runtime.lowestAccepted > 0 && needed > runtime.lowestAccepted)
        report.Fail(kApplication, classVersion + " is newer than the lowest Java the runtime rule accepts (" +
                                      std::to_string(runtime.lowestAccepted) + "): UnsupportedClassVersionError there",
                    "Pack with --java-version " + std::to_string(needed) + ", or compile with --release " +
                        std::to_string(runtime.lowestAccepted) + ".");
    else if (runtime.feature == 0 && runtime.lowestAccepted > 0)
        report.Ok(kApplication, classVersion + " runs on every Java the runtime rule accepts");
    else if (runtime.feature == 0)
        report.Warn(kApplication, classVersion + "; the runtime's version is unknown", "Ship a runtime with its release file.");
    else if (needed > runtime.feature)
        report.Fail(kApplication, classVersion + " is newer than the runtime (Java " + std::to_string(runtime.feature) +
                                      "): UnsupportedClassVersionError",
                    "Compile with --release " + std::to_string(runtime.feature) + ", or ship a newer runtime.");
    else
        report.Ok(kApplication, classVersion + " runs on Java " + std::to_string(runtime.feature));
}

// The main class in the class path, its entry points (inherited ones too) and its class-file version.
static void DescribeMainClass(Report& report, const Settings& settings, const RuntimeChoice& runtime,
                              const std::vector<ClassSource>& sources) {
    std::string className = settings.mainClass;
    for (char& c : className) {
        if (c == '.') c = '/';
    }
    ClassFileInfo info;
    std::string foundIn, unreadable;
    if (!FindClass(report, sources, className, info, foundIn, unreadable)) {
        // Not found where it could be looked for: whether it is in the rest is unknown here.
        if (!unreadable.empty()) {
            std::string text = "main class " + settings.mainClass + " cannot be checked: it is in no class path " +
                               "entry read here, and " + unreadable + " cannot be read";
            report.Warn(kApplication, text, "Check that the class path holds " + className + ".class.");
            return;
        }
        report.Fail(kApplication, "main class " + settings.mainClass + " is in no class path entry (" + className +
                                      ".class)",
                    "Correct the main class name, or add the jar that holds it.");
        return;
    }
    report.Ok(kApplication, "main class found in " + foundIn);
    DescribeEntryPoints(report, settings, sources, info);
    DescribeClassVersion(report, runtime, info);
}

// A service launcher's settings, read as the launcher reads them, and its stop method, which the
// launcher calls as a public static void method(String[]) and otherwise replaces by the VM's exit.
static void DescribeService(Report& report, const std::vector<ClassSource>& sources) {
    ServiceSettings s;
    ServiceSettingsResult result = ReadServiceSettings(&s);
    ReportLauncherMessages(report, kApplication);
    if (result == NotAServiceLauncher) return;
    if (result == ServiceSettingsMalformed) {
        report.Fail(kApplication, "the service settings cannot be used", "Repack with valid --service options.");
        return;
    }
    const char* starts[] = {"auto", "delayed", "demand"};
    report.Ok(kApplication, std::string("service ") + s.name + " (" + s.displayName + "), start " + starts[s.start] +
                                ", account " + s.account + ", stop timeout " + std::to_string(s.stopTimeoutSeconds) +
                                " s" + (s.dependsOn[0] ? std::string(", depends on ") + s.dependsOn : ""));
    if (s.stopClass[0] == '\0') {
        report.Ok(kApplication, "service stop: System.exit(0), which runs the shutdown hooks");
        return;
    }
    std::string dotted = s.stopClass;
    std::replace(dotted.begin(), dotted.end(), '/', '.');
    std::string named = dotted + "." + s.stopMethod + "(String[])";
    ClassFileInfo info;
    std::string foundIn, unreadable;
    const EntryMethod* method = nullptr;
    bool found = FindClass(report, sources, s.stopClass, info, foundIn, unreadable);
    for (const NamedEntryMethod& m : info.stringArrayMethods) {
        if (found && m.name == s.stopMethod) method = &m.method;
    }
    const std::string fix = "Declare public static void " + std::string(s.stopMethod) + "(String[] args) in " + dotted +
                            ", or repack with the --service-stop that names it.";
    if (!found && !unreadable.empty())
        report.Warn(kApplication, "service stop method " + named + " cannot be checked: " + unreadable, fix);
    else if (method == nullptr)
        report.Warn(kApplication, "service stop method " + named + " does not exist: a stop exits the VM instead", fix);
    else if (!method->isStatic || !method->isPublic)
        report.Warn(kApplication, "service stop method " + named + " is not public static void", fix);
    else
        report.Ok(kApplication, "service stop method public static void " + named + " found");
}

void DescribeApplication(Report& report, const Settings& settings, const RuntimeChoice& runtime) {
    std::vector<ClassSource> sources = CollectClassPath(report, runtime);
    DescribeClassPathEntries(report, sources);
    if (!settings.mainClass.empty()) DescribeMainClass(report, settings, runtime, sources);
    DescribeService(report, sources);
}

}  // namespace check
