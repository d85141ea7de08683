#include "pack/try_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/launch_state.h"
#include "base/text.h"
#include "cache/cache_names.h"
#include "config/resource_contract.h"
#include "files/entry_names.h"
#include "launcher/launch_settings.h"
#include "launcher/vm_option_list.h"
#include "pack/check_platform.h"
#include "pack/file_io.h"
#include "pack/packed_exe.h"

#ifndef _WIN32
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const char kClassPathOption[] = "-Djava.class.path=";

// The launcher forms Windows paths; here they name this machine's files.
std::string ToHost(const std::string& text) {
    std::string host = text;
    std::replace(host.begin(), host.end(), '\\', '/');
    return host;
}

std::string HostClassPath(const char* windowsClassPath) {
    std::string joined, entry;
    for (const char* at = windowsClassPath;; at++) {
        if (*at == ';' || *at == '\0') {
            if (!entry.empty()) joined += (joined.empty() ? "" : ":") + ToHost(entry);
            entry.clear();
            if (*at == '\0') break;
        } else {
            entry.push_back(*at);
        }
    }
    return joined;
}

// The launcher reads the mirror's libs jars; the try has no mirror and reads them at the source.
void AddSyncSourceJars() {
#ifndef _WIN32
    std::string libs = HostPath(std::string(g_launch.syncPath.text) + "\\libs");
    std::vector<std::string> jars;
    if (DIR* folder = opendir(libs.c_str())) {
        while (dirent* entry = readdir(folder)) {
            if (IsJarName(entry->d_name)) jars.push_back(libs + "/" + entry->d_name);
        }
        closedir(folder);
    }
    std::sort(jars.begin(), jars.end());
    for (const std::string& jar : jars) AppendClassPath(jar.c_str());
#endif
}

}  // namespace

TryPlan PlanTryRun(const std::string& exePath, const std::vector<Resource>& resources, const std::string& javaHome,
                   const std::vector<std::string>& arguments, const std::string& applicationJar,
                   uint64_t availableMemory) {
    TryPlan plan;
    BeginCheckPlatform(FullPath(exePath), resources);
    g_checkPlatform.availableMemory = availableMemory;
    g_checkPlatform.totalMemory = availableMemory;

    // The launcher's command line: its own path, then what the user typed.
    std::vector<std::string> commandLine = {g_checkPlatform.exeWindowsPath};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    std::vector<char*> argvStorage;
    for (std::string& item : commandLine) argvStorage.push_back(&item[0]);
    argvStorage.push_back(nullptr);
    int argc = int(commandLine.size()), status = 0, vmOptionCount = 0;
    char** argv = argvStorage.data();
    char** vmOptionItems = nullptr;
    char agentOption[1024] = "";
    std::string jarPathHost;
    if (!ReadLaunchSettings(&argc, &argv, &vmOptionCount, &vmOptionItems, &status)) {
        plan.error = "the launcher refuses the command line";
    } else if (!ReadMainClassName()) {
        plan.error = "no main class: neither MAIN-CLASS nor the configuration file names one";
    } else {
        for (int i = 1; i < argc; i++) plan.appArguments.push_back(argv[i]);
        plan.mainClass = g_launch.mainClassName;
        LaunchMode mode = ChooseLaunchMode();
        char resolved[1024] = "";
        if (mode == SyncFolder) {
            AddSyncSourceJars();
        } else if (mode == JarPath) {
            if (!FormResolvedJarPath(resolved, sizeof resolved, g_checkPlatform.exeWindowsPath.c_str(),
                                     g_launch.jarPath))
                plan.error = std::string("jar path ") + g_launch.jarPath + " is too long beside the exe";
            g_launch.agentJarPath = resolved;
        } else if (applicationJar.empty()) {
            plan.error = "no CLASSES jar and no jar path: the launcher has no application jar";
        } else {
            g_launch.agentJarPath = applicationJar.c_str();
        }
        if (plan.error.empty()) {
            CompleteClassPath(agentOption, sizeof agentOption, WindowsPath(javaHome).c_str());
            AddCollectedVmOptions(nullptr, vmOptionCount, vmOptionItems);
        }
    }
    for (int i = 0; plan.error.empty() && i < g_launch.jvmOptions.count; i++) {
        const char* option = g_launch.jvmOptions.options[i].optionString;
        if (strncmp(option, kClassPathOption, sizeof kClassPathOption - 1) == 0)
            plan.classPath = HostClassPath(option + sizeof kClassPathOption - 1);
        else
            plan.vmOptions.push_back(ToHost(option));
    }
    for (const std::string& fatal : g_checkPlatform.fatalMessages) plan.notes.push_back(fatal);
    for (const std::string& message : g_checkPlatform.messages) plan.notes.push_back(message);
    EndCheckPlatform();
    ResetLaunchState();
    return plan;
}

#ifdef _WIN32

int RunTryCommand(const std::vector<std::string>& args, FILE*, FILE* err) {
    if (std::find(args.begin(), args.end(), "--try") == args.end()) return -1;
    fprintf(err, "quorvia-pack: --try runs on Linux; on Windows start the exe itself\n");
    return 2;
}

#else

namespace {

struct TryRequest {
    std::string exe, javaHome;
    bool verbose = false;
    std::vector<std::string> arguments;
};

// MemAvailable of /proc/meminfo, the counterpart of Windows' available physical memory.
uint64_t AvailableMemory() {
    FILE* meminfo = fopen("/proc/meminfo", "r");
    if (meminfo == nullptr) return 0;
    char line[256];
    unsigned long long kib = 0;
    while (fgets(line, sizeof line, meminfo) != nullptr) {
        if (sscanf(line, "MemAvailable: %llu kB", &kib) == 1) break;
    }
    fclose(meminfo);
    return uint64_t(kib) * 1024;
}

bool IsExecutable(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The runtime home and its java: --java-home, else JAVA_HOME, else the java on PATH.
bool FindJava(const std::string& given, std::string& home, std::string& java, std::string& error) {
    const char* environment = getenv("JAVA_HOME");
    std::string named = !given.empty() ? given : environment != nullptr && *environment ? environment : "";
    if (!named.empty()) {
        java = named + "/bin/java";
        home = FullPath(named);
        if (IsExecutable(java)) return true;
        error = "no bin/java in " + named + (given.empty() ? " (JAVA_HOME)" : " (--java-home)");
        return false;
    }
    const char* path = getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::string candidate = folders.substr(start, end - start) + "/java";
        if (end > start && IsExecutable(candidate)) {
            java = candidate;
            std::string real = FullPath(candidate);  // .../bin/java behind the links
            home = real.substr(0, real.rfind("/bin/java"));
            return true;
        }
        start = end + 1;
    }
    error = "no Java found: give --java-home DIR, set JAVA_HOME, or put java on PATH";
    return false;
}

// The embedded jar in a file of its own that only this user can read, for the VM's class path.
bool ExtractClassesJar(const std::vector<Resource>& resources, std::string& path, std::string& error) {
    const Resource* classes = nullptr;
    for (const Resource& r : resources) {
        if (SameName(r.type, StringName(kClassesResource.typeName))) classes = &r;
    }
    if (classes == nullptr) return true;
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/quorvia-try-XXXXXX.jar";
    int fd = mkstemps(&pattern[0], 4);  // mode 0600
    if (fd < 0) {
        error = "cannot make a temporary file for the embedded jar in " + pattern.substr(0, pattern.rfind('/'));
        return false;
    }
    path = pattern;
    size_t written = 0;
    while (written < classes->data.size()) {
        ssize_t n = write(fd, classes->data.data() + written, classes->data.size() - written);
        if (n <= 0) break;
        written += size_t(n);
    }
    bool complete = close(fd) == 0 && written == classes->data.size();
    if (!complete) error = path + ": cannot write the embedded jar";
    return complete;
}

// Starts java and waits for it; the caller removes the jar afterwards, also after Ctrl+C, which
// reaches java and not this process.
int RunJava(const std::string& java, const std::vector<std::string>& command, FILE* err) {
    std::vector<char*> argv;
    for (const std::string& item : command) argv.push_back(const_cast<char*>(item.c_str()));
    argv.push_back(nullptr);
    fflush(nullptr);
    struct sigaction ignore = {}, oldInt = {}, oldQuit = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGINT, &ignore, &oldInt);
    sigaction(SIGQUIT, &ignore, &oldQuit);
    pid_t child = fork();
    if (child == 0) {
        sigaction(SIGINT, &oldInt, nullptr);
        sigaction(SIGQUIT, &oldQuit, nullptr);
        execv(java.c_str(), argv.data());
        fprintf(err, "quorvia-pack: cannot start %s: %s\n", java.c_str(), strerror(errno));
        _exit(127);
    }
    int status = 0;
    bool waited = child > 0;
    while (waited && waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) waited = false;
    }
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGQUIT, &oldQuit, nullptr);
    if (!waited) {
        fprintf(err, "quorvia-pack: cannot start %s: %s\n", java.c_str(), strerror(errno));
        return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Try(const TryRequest& request, FILE* out, FILE* err) {
    PackedExe exe;
    std::string error, home, java, jar;
    if (!LoadPackedExe(request.exe, exe, error) || !FindJava(request.javaHome, home, java, error) ||
        !ExtractClassesJar(exe.resources, jar, error)) {
        fprintf(err, "quorvia-pack: %s\n", error.c_str());
        return 1;
    }
    TryPlan plan = PlanTryRun(request.exe, exe.resources, home, request.arguments, jar, AvailableMemory());
    if (!plan.error.empty()) {
        for (const std::string& note : plan.notes) fprintf(err, "quorvia-pack: the launcher says: %s", note.c_str());
        if (!jar.empty()) unlink(jar.c_str());
        fprintf(err, "quorvia-pack: %s: %s\n", request.exe.c_str(), plan.error.c_str());
        return 1;
    }
    std::vector<std::string> command = {java};
    command.insert(command.end(), plan.vmOptions.begin(), plan.vmOptions.end());
    command.push_back("-cp");
    command.push_back(plan.classPath);
    command.push_back(plan.mainClass);
    command.insert(command.end(), plan.appArguments.begin(), plan.appArguments.end());
    if (request.verbose) {
        fprintf(err, "quorvia-pack: java: %s\n", java.c_str());
        for (const std::string& option : plan.vmOptions) fprintf(err, "quorvia-pack: VM option: %s\n", option.c_str());
        fprintf(err, "quorvia-pack: class path: %s\n", plan.classPath.c_str());
        fprintf(err, "quorvia-pack: main class: %s\n", plan.mainClass.c_str());
        for (const std::string& argument : plan.appArguments)
            fprintf(err, "quorvia-pack: argument: %s\n", argument.c_str());
    }
    (void)out;
    int status = RunJava(java, command, err);
    if (!jar.empty()) unlink(jar.c_str());
    return status;
}

}  // namespace

int RunTryCommand(const std::vector<std::string>& args, FILE* out, FILE* err) {
    size_t end = std::find(args.begin(), args.end(), "--") - args.begin();
    bool isTry = false;
    for (size_t i = 0; i < end; i++) isTry = isTry || args[i] == "--try" || args[i].compare(0, 6, "--try=") == 0;
    if (!isTry) return -1;
    TryRequest request;
    for (size_t i = 0; i < end; i++) {
        const std::string& arg = args[i];
        size_t eq = arg.find('=');
        std::string name = arg.substr(0, eq);
        std::string* value = name == "--try" ? &request.exe : name == "--java-home" ? &request.javaHome : nullptr;
        if (arg == "--verbose") {
            request.verbose = true;
        } else if (value != nullptr && value->empty() && (eq != std::string::npos || i + 1 < end)) {
            *value = eq != std::string::npos ? arg.substr(eq + 1) : args[++i];
        } else {
            fprintf(err,
                    "quorvia-pack: --try wants APP.exe [--java-home DIR] [--verbose] [-- ARGUMENTS...], "
                    "not '%s' (see --help)\n",
                    arg.c_str());
            return 2;
        }
    }
    if (request.exe.empty()) {
        fprintf(err, "quorvia-pack: --try needs the packed exe (see --help)\n");
        return 2;
    }
    if (end < args.size()) request.arguments.assign(args.begin() + long(end) + 1, args.end());
    return Try(request, out, err);
}

#endif
