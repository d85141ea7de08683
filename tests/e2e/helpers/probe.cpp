// probe.exe: a GUI-subsystem stand-in used by the harness self-tests. It performs the
// actions named on its command line in order, reporting on stdout in "key value" lines:
//   --args             "argc N", "arg I HEX" per argument, "cmdline HEX" (raw GetCommandLineA)
//   --cwd              "cwd PATH"
//   --module           "module PATH" (GetModuleFileNameA)
//   --env NAME         "env NAME HEX" or "env NAME unset"
//   --acp              "acp N"
//   --drive-type ROOT  "drive-type ROOT N" (GetDriveTypeA)
//   --exists PATH      "exists PATH 0|1" (GetFileAttributesA)
//   --out HEX          write the bytes to stdout exactly
//   --err HEX          write the bytes to stderr exactly
//   --box HEX          MessageBoxA(text, "Fatal Error", MB_ICONWARNING|MB_OK); "box-result N"
//   --box-caption CAPTION HEX   same with another caption
//   --sleep MS
//   --exit N           exit at once with N (0..4294967295)
//   --                 ends the actions; the remaining arguments are only data for --args
// Default exit status is 0; a malformed command line exits with 0xBAD.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hexio.h"

namespace {

HANDLE out_handle() { return GetStdHandle(STD_OUTPUT_HANDLE); }

void say(const std::string& line) { e2e::write_all(out_handle(), line + "\n"); }

[[noreturn]] void bad(const char* why) {
    e2e::write_all(GetStdHandle(STD_ERROR_HANDLE), std::string("probe: ") + why + "\n");
    ExitProcess(0xBAD);
}

std::string hex_arg(int argc, char** argv, int i) {
    if (i >= argc) bad("missing argument");
    std::string bytes;
    if (!e2e::from_hex(argv[i], bytes)) bad("argument is not hex");
    return bytes;
}

unsigned long number_arg(int argc, char** argv, int i) {
    if (i >= argc) bad("missing number");
    char* end = nullptr;
    unsigned long long v = std::strtoull(argv[i], &end, 0);
    if (end == argv[i] || *end != '\0' || v > 0xFFFFFFFFull) bad("bad number");
    return static_cast<unsigned long>(v);
}

void show_box(const char* caption, const std::string& text) {
    int r = MessageBoxA(nullptr, text.c_str(), caption, MB_ICONWARNING | MB_OK);
    say("box-result " + std::to_string(r));
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!std::strcmp(a, "--")) break;
        if (!std::strcmp(a, "--args")) {
            say("argc " + std::to_string(argc));
            for (int k = 0; k < argc; ++k) say("arg " + std::to_string(k) + " " + e2e::to_hex(argv[k]));
            say("cmdline " + e2e::to_hex(GetCommandLineA()));
        } else if (!std::strcmp(a, "--cwd")) {
            char buf[MAX_PATH * 4];
            DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
            if (n == 0 || n >= sizeof buf) bad("GetCurrentDirectoryA failed");
            say(std::string("cwd ") + buf);
        } else if (!std::strcmp(a, "--module")) {
            char buf[MAX_PATH * 4];
            DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
            if (n == 0 || n >= sizeof buf) bad("GetModuleFileNameA failed");
            say(std::string("module ") + buf);
        } else if (!std::strcmp(a, "--env")) {
            if (++i >= argc) bad("missing variable name");
            char buf[32768];
            DWORD n = GetEnvironmentVariableA(argv[i], buf, sizeof buf);
            if (n == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                say(std::string("env ") + argv[i] + " unset");
            else if (n >= sizeof buf)
                bad("variable too long");
            else
                say(std::string("env ") + argv[i] + " " + e2e::to_hex(std::string(buf, n)));
        } else if (!std::strcmp(a, "--acp")) {
            say("acp " + std::to_string(GetACP()));
        } else if (!std::strcmp(a, "--drive-type")) {
            if (++i >= argc) bad("missing root");
            say(std::string("drive-type ") + argv[i] + " " + std::to_string(GetDriveTypeA(argv[i])));
        } else if (!std::strcmp(a, "--exists")) {
            if (++i >= argc) bad("missing path");
            bool found = GetFileAttributesA(argv[i]) != INVALID_FILE_ATTRIBUTES;
            say(std::string("exists ") + argv[i] + (found ? " 1" : " 0"));
        } else if (!std::strcmp(a, "--out")) {
            e2e::write_all(out_handle(), hex_arg(argc, argv, ++i));
        } else if (!std::strcmp(a, "--err")) {
            e2e::write_all(GetStdHandle(STD_ERROR_HANDLE), hex_arg(argc, argv, ++i));
        } else if (!std::strcmp(a, "--box")) {
            show_box("Fatal Error", hex_arg(argc, argv, ++i));
        } else if (!std::strcmp(a, "--box-caption")) {
            if (i + 2 >= argc) bad("missing caption or text");
            const char* caption = argv[++i];
            show_box(caption, hex_arg(argc, argv, ++i));
        } else if (!std::strcmp(a, "--sleep")) {
            Sleep(number_arg(argc, argv, ++i));
        } else if (!std::strcmp(a, "--exit")) {
            ExitProcess(number_arg(argc, argv, ++i));
        } else {
            bad("unknown action");
        }
    }
    return 0;
}
