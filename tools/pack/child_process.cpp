#include "pack/child_process.h"

#include <cstdio>

#ifndef _WIN32
#include <sys/wait.h>
#endif

// popen runs a shell on both sides (sh, cmd), so each argument is quoted for that shell.
static std::string Quoted(const std::string& arg) {
#ifdef _WIN32
    std::string q = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            slashes++;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped, as CommandLineToArgvW reads them.
        q.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        slashes = 0;
        q += c;
    }
    return q.append(slashes * 2, '\\') + "\"";
#else
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
#endif
}

int RunProgram(const std::vector<std::string>& argv, std::string& output) {
    std::string command;
    for (const std::string& arg : argv) command += (command.empty() ? "" : " ") + Quoted(arg);
    command += " 2>&1";
#ifdef _WIN32
    // cmd drops the outer quotes of a line that starts with one: one more pair keeps ours.
    FILE* pipe = _popen(("\"" + command + "\"").c_str(), "r");
#else
    FILE* pipe = popen(command.c_str(), "r");
#endif
    if (pipe == nullptr) return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
#ifdef _WIN32
    return _pclose(pipe);
#else
    int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status)) return -1;
    int code = WEXITSTATUS(status);
    return code == 127 ? -1 : code;  // the shell's "command not found"
#endif
}
