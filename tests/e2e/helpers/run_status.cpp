// run-status.exe SPECFILE: starts one program exactly as described by SPECFILE, presses OK on
// its message boxes, and reports the full 32-bit exit status. It exists because a Linux
// parent of Wine sees only 8 bits of the status and cannot pass arbitrary argument bytes.
//
// SPECFILE holds "key HEX" lines (values hex-encoded, so any byte survives):
//   exe PATH          program to start (lpApplicationName)
//   arg BYTES         one argument, repeated in order; quoted by the Windows argv rules
//   cmdline BYTES     optional: the raw command line, replacing exe + args
//   cwd PATH          optional working directory
//   stdin PATH        optional file for the child's stdin (default NUL)
//   stdout PATH       file receiving the child's stdout
//   stderr PATH       file receiving the child's stderr
//   result PATH       report file, written as events happen:
//                       "pid N", "box CAPTIONHEX TEXTHEX PRESSED", "timeout", "exit N",
//                       "error WHAT CODE"
//   env NAME=VALUE    set for the child (repeated; bytes reach GetEnvironmentVariableA as-is)
//   unset NAME        removed from the child's environment (repeated)
//   killfile PATH     when this file appears, terminate the child with status 1 ("killed")
//   timeout_ms N      optional (decimal): terminate the child after N ms
//   press 0|1|2       optional (decimal, default 1): press OK/Cancel (No on a Yes/No box) on the
//                     child's dialogs; 2 presses Yes on a Yes/No box
//   utf8 0|1          optional (decimal, default 0): exe, the command line and cwd are UTF-8 and
//                     the child is started with CreateProcessW, so that its command line is
//                     Unicode (as from Explorer or a UTF-8 console), not this runner's ANSI text
// Only dialogs (class #32770) of the child and its descendants are touched.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hexio.h"

namespace {

struct Spec {
    std::string exe, cmdline, cwd, stdin_path, stdout_path, stderr_path, result_path;
    std::vector<std::string> args, env_set, env_unset;
    std::string killfile;
    bool has_cmdline = false;
    DWORD timeout_ms = INFINITE;
    bool press = true;
    bool yes = false;
    bool utf8 = false;
};

HANDLE g_result = INVALID_HANDLE_VALUE;
CRITICAL_SECTION g_result_lock;

void report(const std::string& line) {
    EnterCriticalSection(&g_result_lock);
    e2e::write_all(g_result, line + "\n");
    LeaveCriticalSection(&g_result_lock);
}

[[noreturn]] void fail(const char* what) {
    DWORD code = GetLastError();
    std::string line = std::string("error ") + what + " " + std::to_string(code);
    if (g_result != INVALID_HANDLE_VALUE) report(line);
    e2e::write_all(GetStdHandle(STD_ERROR_HANDLE), "run-status: " + line + "\n");
    ExitProcess(2);
}

bool read_file(const char* path, std::string& out) {
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) && size.QuadPart < (16 << 20);
    if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        ok = out.empty() || (ReadFile(h, &out[0], static_cast<DWORD>(out.size()), &got, nullptr) &&
                             got == out.size());
    }
    CloseHandle(h);
    return ok;
}

bool parse_spec(const std::string& text, Spec& spec) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (line.empty()) continue;
        size_t sp = line.find(' ');
        std::string key = line.substr(0, sp);
        std::string raw = sp == std::string::npos ? std::string() : line.substr(sp + 1);
        if (key == "timeout_ms") {
            spec.timeout_ms = static_cast<DWORD>(std::strtoul(raw.c_str(), nullptr, 10));
            continue;
        }
        if (key == "press") {
            spec.press = raw != "0";
            spec.yes = raw == "2";
            continue;
        }
        if (key == "utf8") {
            spec.utf8 = raw != "0";
            continue;
        }
        std::string value;
        if (!e2e::from_hex(raw, value)) return false;
        if (key == "exe") spec.exe = value;
        else if (key == "arg") spec.args.push_back(value);
        else if (key == "cmdline") { spec.cmdline = value; spec.has_cmdline = true; }
        else if (key == "env") spec.env_set.push_back(value);
        else if (key == "unset") spec.env_unset.push_back(value);
        else if (key == "killfile") spec.killfile = value;
        else if (key == "cwd") spec.cwd = value;
        else if (key == "stdin") spec.stdin_path = value;
        else if (key == "stdout") spec.stdout_path = value;
        else if (key == "stderr") spec.stderr_path = value;
        else if (key == "result") spec.result_path = value;
        else return false;
    }
    return !spec.exe.empty() && !spec.stdout_path.empty() && !spec.stderr_path.empty() &&
           !spec.result_path.empty();
}

std::wstring wide_from_utf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    if (length <= 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        fail("utf8");
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

// Quoting that CommandLineToArgvW and the C runtimes undo: backslashes are literal except
// before a quote, where they must be doubled; empty arguments need a quoted pair.
void append_quoted(std::string& cmd, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        cmd += arg;
        return;
    }
    cmd.push_back('"');
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') cmd.append(backslashes * 2 + 1, '\\');
        else cmd.append(backslashes, '\\');
        backslashes = 0;
        cmd.push_back(c);
    }
    cmd.append(backslashes * 2, '\\');
    cmd.push_back('"');
}

HANDLE open_inheritable(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// ---- dialog watcher -------------------------------------------------------------------

struct Watcher {
    DWORD child_pid = 0;
    HANDLE child = nullptr;
    std::string killfile;
    bool press = true;
    bool yes = false;
    HANDLE stop = nullptr;
    std::vector<HWND> seen;
    std::vector<DWORD> family;  // child and descendants, refreshed when an unknown owner shows up
    std::vector<char> text = std::vector<char>(1 << 16);
};

bool in_family(Watcher& w, DWORD pid) {
    for (DWORD p : w.family)
        if (p == pid) return true;
    // Unknown owner: refresh the descendant list once and look again.
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    std::vector<PROCESSENTRY32> procs;
    PROCESSENTRY32 pe;
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) procs.push_back(pe);
    CloseHandle(snap);
    w.family.assign(1, w.child_pid);
    for (size_t i = 0; i < w.family.size() && w.family.size() < 4096; ++i)
        for (const auto& p : procs)
            if (p.th32ParentProcessID == w.family[i] && p.th32ProcessID != w.family[i]) w.family.push_back(p.th32ProcessID);
    for (DWORD p : w.family)
        if (p == pid) return true;
    return false;
}

BOOL CALLBACK collect_dialogs(HWND h, LPARAM param) {
    auto* found = reinterpret_cast<std::vector<HWND>*>(param);
    char cls[64];
    if (GetClassNameA(h, cls, sizeof cls) && !std::strcmp(cls, "#32770") && IsWindowVisible(h))
        found->push_back(h);
    return TRUE;
}

void handle_dialog(Watcher& w, HWND h) {
    for (HWND s : w.seen)
        if (s == h) return;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (!in_family(w, pid)) return;
    w.seen.push_back(h);

    char caption[1024];
    int n = GetWindowTextA(h, caption, sizeof caption);
    std::string cap(caption, n > 0 ? static_cast<size_t>(n) : 0);
    UINT len = GetDlgItemTextA(h, 0xFFFF, w.text.data(), static_cast<int>(w.text.size()));
    std::string text(w.text.data(), len < w.text.size() ? len : w.text.size() - 1);

    bool pressed = false;
    if (w.press) {
        // Press the button rather than WM_CLOSE: under Wine WM_CLOSE makes MessageBoxA return 2.
        HWND button = GetDlgItem(h, IDOK);
        if (!button) button = GetDlgItem(h, IDCANCEL);
        if (!button) button = GetDlgItem(h, w.yes ? IDYES : IDNO);
        DWORD_PTR ignored = 0;
        if (button) pressed = SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored) != 0;
    }
    report("box " + e2e::to_hex(cap) + " " + e2e::to_hex(text) + (pressed ? " 1" : " 0"));
    // Let the dialog go away before looking again, so a closing box is not seen twice.
    for (int i = 0; pressed && i < 200 && IsWindow(h); ++i) Sleep(10);
}

DWORD WINAPI watch(LPVOID param) {
    Watcher& w = *static_cast<Watcher*>(param);
    std::vector<HWND> found;
    do {
        found.clear();
        EnumWindows(collect_dialogs, reinterpret_cast<LPARAM>(&found));
        for (HWND h : found) handle_dialog(w, h);
        if (!w.killfile.empty() && GetFileAttributesA(w.killfile.c_str()) != INVALID_FILE_ATTRIBUTES) {
            report("killed");
            TerminateProcess(w.child, 1);
            w.killfile.clear();
        }
    } while (WaitForSingleObject(w.stop, 15) == WAIT_TIMEOUT);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    InitializeCriticalSection(&g_result_lock);
    if (argc != 2) {
        e2e::write_all(GetStdHandle(STD_ERROR_HANDLE), "usage: run-status.exe SPECFILE\n");
        return 2;
    }
    std::string text;
    Spec spec;
    if (!read_file(argv[1], text)) fail("read-spec");
    if (!parse_spec(text, spec)) {
        SetLastError(ERROR_INVALID_DATA);
        fail("parse-spec");
    }
    g_result = CreateFileA(spec.result_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_result == INVALID_HANDLE_VALUE) fail("open-result");

    std::string cmd;
    if (spec.has_cmdline) {
        cmd = spec.cmdline;
    } else {
        // argv[0] is split on quotes only (no backslash rules); a path holds no quotes.
        cmd = spec.exe.find_first_of(" \t") == std::string::npos ? spec.exe : "\"" + spec.exe + "\"";
        for (const auto& a : spec.args) {
            cmd.push_back(' ');
            append_quoted(cmd, a);
        }
    }
    // The child inherits this process's environment, edited here so that the runner itself
    // keeps its own (e.g. WINEDEBUG applies to the child only).
    for (const auto& entry : spec.env_set) {
        size_t eq = entry.find('=', 1);
        if (eq == std::string::npos) continue;
        SetEnvironmentVariableA(entry.substr(0, eq).c_str(), entry.substr(eq + 1).c_str());
    }
    for (const auto& name : spec.env_unset) SetEnvironmentVariableA(name.c_str(), nullptr);

    std::vector<char> cmd_buf(cmd.begin(), cmd.end());
    cmd_buf.push_back('\0');

    HANDLE in = open_inheritable(spec.stdin_path.empty() ? "NUL" : spec.stdin_path, false);
    HANDLE out = open_inheritable(spec.stdout_path, true);
    HANDLE err = open_inheritable(spec.stderr_path, true);
    if (in == INVALID_HANDLE_VALUE) fail("open-stdin");
    if (out == INVALID_HANDLE_VALUE) fail("open-stdout");
    if (err == INVALID_HANDLE_VALUE) fail("open-stderr");

    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (spec.utf8) {
        STARTUPINFOW si;
        ZeroMemory(&si, sizeof si);
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in;
        si.hStdOutput = out;
        si.hStdError = err;
        std::wstring exe = wide_from_utf8(spec.exe), cwd = wide_from_utf8(spec.cwd);
        std::wstring line = wide_from_utf8(cmd);
        std::vector<wchar_t> line_buf(line.begin(), line.end());
        line_buf.push_back(L'\0');
        if (!CreateProcessW(exe.c_str(), line_buf.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                            cwd.empty() ? nullptr : cwd.c_str(), &si, &pi))
            fail("create-process");
    } else {
        STARTUPINFOA si;
        ZeroMemory(&si, sizeof si);
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in;
        si.hStdOutput = out;
        si.hStdError = err;
        if (!CreateProcessA(spec.exe.c_str(), cmd_buf.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                            nullptr, spec.cwd.empty() ? nullptr : spec.cwd.c_str(), &si, &pi))
            fail("create-process");
    }
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    report("pid " + std::to_string(pi.dwProcessId));

    Watcher w;
    w.child_pid = pi.dwProcessId;
    w.child = pi.hProcess;
    w.killfile = spec.killfile;
    w.press = spec.press;
    w.yes = spec.yes;
    w.family.assign(1, pi.dwProcessId);
    w.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, watch, &w, 0, nullptr);
    if (!w.stop || !thread) fail("watcher");

    if (WaitForSingleObject(pi.hProcess, spec.timeout_ms) == WAIT_TIMEOUT) {
        report("timeout");
        TerminateProcess(pi.hProcess, 0xDEAD);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    SetEvent(w.stop);
    WaitForSingleObject(thread, INFINITE);
    DWORD status = 0;
    if (!GetExitCodeProcess(pi.hProcess, &status)) fail("exit-code");
    report("exit " + std::to_string(status));
    CloseHandle(g_result);
    return 0;
}
