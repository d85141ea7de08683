#include <string>
#include <vector>

#include "pack/pack_tool.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

// The folder of this executable, with its trailing separator, or "" when it cannot be found.
static std::string OwnFolder() {
    char path[4096];
#ifdef _WIN32
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return "";
    std::string s(path, n);
#else
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || size_t(n) >= sizeof path) return "";
    std::string s(path, size_t(n));
#endif
    size_t slash = s.find_last_of("/\\");
    return slash == std::string::npos ? "" : s.substr(0, slash + 1);
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunPackTool(args, OwnFolder() + "launcher.exe", stdout, stderr);
}
