"""Wine end-to-end test harness for Quorvia Launcher.

Every test gets its own Wine prefix (copied from one template per build dir, made once under a
file lock) with its own persistent wineserver, so tests run in parallel (pytest-xdist) and in any
order without sharing registry keys, C:\\ProgramData or exe base names.

Fixtures (conftest.py)
    wine            Wine object on a fresh win10 prefix with the null graphics driver (no X).
    wine_x11        Same, but on a private Xvfb display (1280x1024x24) with the X11 driver;
                    offers .screenshot(path). Use only for tests that need pixels.
    unique_name     A short exe base name unique to the test, e.g. for make_app(name=...).

Wine object
    .prefix, .drive_c         Paths of the prefix.
    .work                     Harness scratch folder of this test (run specs and captures).
    .to_windows(path) -> str  "C:\\..." for paths inside drive_c, else "Z:\\...".
    .to_linux(winpath) -> Path   C:\\ and Z:\\ paths only.
    .env(extra=None) -> dict  Environment for a Wine process of this prefix (WINEPREFIX and
                              WINEDEBUG=-all always set; extra overrides; a None value removes).
    .run(exe, args=(), env=None, cwd=None, timeout=60, fatal_box=True, cmdline=None,
         stdin=None, strace_to=None, unicode=False) -> Result
        exe: Linux path (str/Path) or Windows path str ("C:\\..", "Z:\\..", "X:\\.."). args: str
        (sent as cp1252) or bytes (sent as is); empty strings arrive as empty arguments.
        env: {name: str | bytes | None} set (None: removed) for the program only, on top of the
        harness environment; bytes reach GetEnvironmentVariableA unchanged. WINEDEBUG given here
        traces the program only; Wine writes that trace to Result.runner_log, not to .stderr.
        cwd: Linux or Windows path. stdin: file for the program's stdin (default NUL).
        strace_to: file for `strace -f` of the client side (the program's own process), read
        with FileTrace(path).calls().
        unicode=True starts the program with CreateProcessW: str exe, args, cmdline and cwd are sent
        as UTF-8 and arrive as Unicode, as from Explorer (not through the runner's code page).
        cmdline: raw command line (str/bytes) used instead of exe + args (exe is still the image
        started). fatal_box=True presses OK on every message box of the process and its children;
        False leaves them up (the run then hits its timeout); a Yes/No box gets No, or Yes with
        fatal_box="yes". Raises RunTimeout (with the output
        so far) when the process is still running after `timeout` seconds; it is then killed.
    .start(same arguments, timeout=600) -> Running   background process
        Running.wait(timeout=None) -> Result, .poll() -> bool (finished?), .pid (Windows pid),
        .boxes() -> boxes seen so far, .runner_log() -> Wine's output so far (the program's
        WINEDEBUG channels, as they happen), .kill() (terminates the program with status 1; its
        own children live on until the test's teardown kills the prefix's wineserver).
    .wine(args, env=None, timeout=60, check=True, stdin=None, cwd=None) -> subprocess.CompletedProcess
        `wine TOOL ARGS...` in this prefix for Wine's own tools only (WINE_TOOLS: reg, attrib, cmd,
        ...; e.g. ['reg', 'query', ...]), stdin a file; a start that Wine failed to make (status 1,
        no output) is made once more. Anything else, the launcher above all, goes through run() or
        start(), which report its own status and never start it again.
    .reg_add(key, value, data, type='REG_SZ')   value None = the key's default value; data int
                                                for REG_DWORD / REG_QWORD.
    .reg_delete(key, value=None)                deletes the value, or the whole key.
    .reg_query(key, value) -> str | None        the data as reg.exe prints it, None if absent.
    .map_network_drive(letter, linux_dir) -> "X:\\"   a drive Windows reports as DRIVE_REMOTE
                                                (restarts this prefix's wineserver).
    .make_unc_share(server, share, linux_dir) -> "\\\\server\\share"
    .restart_server()                           wineserver -k, then a fresh persistent one.
    .strace_server() -> context manager yielding FileTrace; runs the wineserver under strace
        while inside (the real open() and directory listings of Windows programs happen there;
        existence checks such as GetFileAttributesA happen in the program: use strace_to).
        FileTrace.calls() -> [Syscall(pid, time, name, path, result, line)] of openat/getdents64/
        newfstatat/statx; .paths(name='openat'); .mark() forgets what was traced so far. strace
        buffers its file: read the calls after the with block (or after the traced run).
    .screenshot(path)                           wine_x11 only: ImageMagick import of the root.

Result
    .status         full 32-bit exit status, unsigned (4294967295 for -1); .status_signed
    .stdout, .stderr         exact bytes of the process's stdout / stderr (separate files)
    .stdout_text, .stderr_text   the same decoded as cp1252 (Windows ANSI text)
    .boxes          [Box(caption, text, pressed)] for every dialog shown, in order
    .fatal_boxes    [(caption, text)] of the "Fatal Error" boxes, text with its trailing "\\n"
    .pid, .duration (seconds, wall clock of the whole run)
    .runner_log     Wine's output for the run (the program's WINEDEBUG channels land here)

Module helpers
    build_dir(), windows_build_dir(), repo_root()        from env BUILD_DIR / WINDOWS_BUILD_DIR
    helper_exe(name) -> Path      e2e-helpers/NAME.exe of the Windows build
    launcher_exe(), console_launcher_exe(), test_runtime_dir(), test_app(jar_name), pack_tool()
                                  artifact paths
    require(path, what=None) -> Path   fails the test (never skips) when the artifact is missing
    pack(out, launcher=None, **options) -> Path   runs quorvia-pack; option foo_bar=V becomes
        --foo-bar V (a list repeats the option, True gives a bare flag, None/False omits it);
        raw_text=[(TYPE, NUMBER, path)] becomes --raw-text TYPE=NUMBER:PATH per entry.
    make_app(tmp_dir, name='App', runtime=True, launcher=None, **options) -> Path
        packs tmp_dir/NAME.exe; runtime=True copies test-runtime to tmp_dir/jre, 'home' copies its
        contents beside the exe (exe dir = runtime home), False copies none.
    cp1252_decode(bytes) -> str, cp1252_encode(str) -> bytes   Windows' code page 1252, with the
        five unassigned bytes mapped to U+0081.. like MultiByteToWideChar does.

Note: large files under drive_c/windows of a test prefix are hard links into the template; do not
write into existing files there (create new ones instead).
"""

from __future__ import annotations

import codecs
import contextlib
import dataclasses
import fcntl
import hashlib
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

import pytest

PathLike = Union[str, os.PathLike]
Arg = Union[str, bytes]

# Bump when the template recipe changes so old cached templates are not reused.
TEMPLATE_RECIPE = "win10+null-v1"
WINE = shutil.which("wine") or "/usr/bin/wine"
# Wine's own programs, which Wine.wine() runs; every other program goes through the status runner.
WINE_TOOLS = frozenset({"attrib", "cmd", "msiexec", "reg", "regedit", "sc", "wineboot"})
WINESERVER = shutil.which("wineserver") or "/usr/bin/wineserver"


# ---------------------------------------------------------------------------------------------
# Paths and artifacts


def repo_root() -> Path:
    return Path(__file__).resolve().parents[2]


def build_dir() -> Path:
    return Path(os.environ.get("BUILD_DIR") or repo_root() / "build").resolve()


def windows_build_dir() -> Path:
    env = os.environ.get("WINDOWS_BUILD_DIR")
    return Path(env).resolve() if env else build_dir() / "windows"


def helper_exe(name: str) -> Path:
    return windows_build_dir() / "e2e-helpers" / f"{name}.exe"


def launcher_exe() -> Path:
    return windows_build_dir() / "launcher.exe"


def console_launcher_exe() -> Path:
    return windows_build_dir() / "launcher-console.exe"


def test_runtime_dir() -> Path:
    return windows_build_dir() / "test-runtime"


def test_app(jar_name: str) -> Path:
    return windows_build_dir() / "test-apps" / jar_name


# Not tests, even when imported by name into a test module.
test_runtime_dir.__test__ = False  # type: ignore[attr-defined]
test_app.__test__ = False  # type: ignore[attr-defined]


def pack_tool() -> Path:
    for candidate in (build_dir() / "quorvia-pack", build_dir() / "tools" / "pack" / "quorvia-pack"):
        if candidate.exists():
            return candidate
    return build_dir() / "quorvia-pack"


def require(path: PathLike, what: Optional[str] = None) -> Path:
    """Returns path, or fails the test (not skips) when it does not exist."""
    p = Path(path)
    if not p.exists():
        pytest.fail(
            f"required {what or 'build artifact'} is missing: {p}\n"
            f"(build it: cmake -S {repo_root()} -B {build_dir()} -G Ninja && cmake --build {build_dir()})",
            pytrace=False,
        )
    return p


# ---------------------------------------------------------------------------------------------
# Code page 1252 as Windows has it (bytes 81 8D 8F 90 9D map to the C1 controls)


def _c1_errors(err: UnicodeError):
    if isinstance(err, UnicodeDecodeError):
        return "".join(chr(b) for b in err.object[err.start:err.end]), err.end
    if isinstance(err, UnicodeEncodeError):
        chunk = err.object[err.start:err.end]
        if all(0x80 <= ord(c) <= 0x9F for c in chunk):
            return bytes(ord(c) for c in chunk), err.end
    raise err


codecs.register_error("e2e-c1", _c1_errors)


def cp1252_decode(data: bytes) -> str:
    return data.decode("cp1252", errors="e2e-c1")


def cp1252_encode(text: str) -> bytes:
    return text.encode("cp1252", errors="e2e-c1")


def _to_bytes(value: Arg) -> bytes:
    return value if isinstance(value, bytes) else cp1252_encode(value)


# ---------------------------------------------------------------------------------------------
# Results


class HarnessError(Exception):
    """The harness itself could not do what was asked (not a launcher failure)."""


@dataclasses.dataclass
class Box:
    caption: str
    text: str
    pressed: bool
    raw_caption: bytes = b""
    raw_text: bytes = b""


@dataclasses.dataclass
class Result:
    status: int
    stdout: bytes
    stderr: bytes
    boxes: List[Box]
    pid: int
    duration: float
    runner_log: str = ""

    @property
    def status_signed(self) -> int:
        return self.status - (1 << 32) if self.status >= 1 << 31 else self.status

    @property
    def stdout_text(self) -> str:
        return cp1252_decode(self.stdout)

    @property
    def stderr_text(self) -> str:
        return cp1252_decode(self.stderr)

    @property
    def fatal_boxes(self) -> List[Tuple[str, str]]:
        return [(b.caption, b.text) for b in self.boxes if b.caption == "Fatal Error"]

    def __str__(self) -> str:
        return (
            f"status={self.status} ({self.status_signed}) pid={self.pid} duration={self.duration:.3f}s\n"
            f"stdout={self.stdout!r}\nstderr={self.stderr!r}\nboxes={self.boxes!r}"
        )


class RunTimeout(AssertionError):
    """The program was still running at its timeout (it has been killed)."""

    def __init__(self, message: str, result: Optional[Result]):
        super().__init__(message)
        self.result = result


def _parse_result_file(path: Path) -> dict:
    info = {"pid": 0, "boxes": [], "timeout": False, "killed": False, "exit": None, "error": None}
    try:
        lines = path.read_bytes().decode("ascii", "replace").splitlines()
    except FileNotFoundError:
        return info
    for line in lines:
        parts = line.split(" ")
        if parts[0] == "pid" and len(parts) == 2:
            info["pid"] = int(parts[1])
        elif parts[0] == "box" and len(parts) == 4:
            cap, txt = bytes.fromhex(parts[1]), bytes.fromhex(parts[2])
            info["boxes"].append(Box(cp1252_decode(cap), cp1252_decode(txt), parts[3] == "1", cap, txt))
        elif parts[0] == "timeout":
            info["timeout"] = True
        elif parts[0] == "killed":
            info["killed"] = True
        elif parts[0] == "exit" and len(parts) == 2:
            info["exit"] = int(parts[1])
        elif parts[0] == "error":
            info["error"] = " ".join(parts[1:])
    return info


class Running:
    """A program started in the background by Wine.start()."""

    def __init__(self, wine: "Wine", proc: subprocess.Popen, run_dir: Path, exe: str, timeout: float,
                 traced: bool = False, relaunch: Optional[Callable[[], subprocess.Popen]] = None):
        self._traced = traced
        self._relaunch = relaunch
        self._wine = wine
        self._proc = proc
        self._dir = run_dir
        self._exe = exe
        self._timeout = timeout
        self._started = time.monotonic()
        self._result: Optional[Result] = None

    @property
    def pid(self) -> int:
        """Windows process id of the program (waits up to 30 s for it to start)."""
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            info = _parse_result_file(self._dir / "result.txt")
            if info["pid"]:
                return info["pid"]
            if self._started_runner_again():
                continue
            if info["error"] or self._proc.poll() is not None:
                break
            time.sleep(0.02)
        raise HarnessError(f"{self._exe} did not start: {self._runner_log()}")

    def boxes(self) -> List[Box]:
        return _parse_result_file(self._dir / "result.txt")["boxes"]

    def poll(self) -> bool:
        # A runner that Wine failed to start is started again here too: callers poll until the end.
        return self._proc.poll() is not None and not self._started_runner_again()

    def kill(self) -> None:
        """Terminates the program (status 1); its children are left to the prefix teardown."""
        (self._dir / "kill").write_bytes(b"")

    def _started_runner_again(self) -> bool:
        """Wine now and then fails to start the runner at all (exit 1, no output, not even the result
        file the runner writes first), so the program under test never ran: start it once more."""
        if self._relaunch is None or self._proc.poll() is None or self._proc.returncode == 0:
            return False
        result = self._dir / "result.txt"
        if result.exists():
            # Under load Wine's CreateProcess now and then fails inside Wine itself (ERROR_INTERNAL_ERROR)
            # before the program runs a single instruction: that start is made once more too.
            if _parse_result_file(result)["error"] != "create-process 1359":
                return False
            result.unlink()
        print(f"[e2e] Wine did not start the runner for {self._exe} (exit {self._proc.returncode}); "
              "starting it again", file=sys.stderr)
        relaunch, self._relaunch = self._relaunch, None
        self._proc = relaunch()
        self._started = time.monotonic()
        return True

    def runner_log(self) -> str:
        return self._runner_log()

    def _runner_log(self) -> str:
        log = self._dir / "runner.log"
        return log.read_bytes().decode("utf-8", "replace") if log.exists() else ""

    def _wait_proc(self, limit: float) -> None:
        if not self._traced:
            self._proc.wait(timeout=limit)
            return
        # strace stays while any traced descendant lives: detach it once the runner is done.
        deadline = time.monotonic() + limit
        done_at = None
        while self._proc.poll() is None:
            now = time.monotonic()
            if now > deadline:
                raise subprocess.TimeoutExpired(self._proc.args, limit)
            if done_at is None and _parse_result_file(self._dir / "result.txt")["exit"] is not None:
                done_at = now
            if done_at is not None and now - done_at > 3:
                self._proc.terminate()
                self._proc.wait(30)
                return
            time.sleep(0.05)

    def wait(self, timeout: Optional[float] = None) -> Result:
        if self._result is not None:
            return self._result
        # run-status enforces the program's own timeout; this one is a backstop for Wine itself.
        limit = self._timeout + 30 if timeout is None else timeout
        try:
            self._wait_proc(limit)
            if self._started_runner_again():
                self._wait_proc(limit)
        except subprocess.TimeoutExpired:
            if timeout is not None and timeout < self._timeout:
                raise  # the caller asked for a short wait; the program goes on running
            self._wine._kill_everything()
            self._proc.wait()
            raise RunTimeout(f"{self._exe}: Wine did not finish within {limit} s", None)
        duration = time.monotonic() - self._started
        log = self._runner_log()
        info = _parse_result_file(self._dir / "result.txt")
        if info["error"]:
            raise HarnessError(f"run-status could not run {self._exe}: {info['error']}\n{log}")
        if info["exit"] is None:
            raise HarnessError(f"run-status ended without a result (exit {self._proc.returncode}):\n{log}")
        result = Result(
            status=info["exit"],
            stdout=(self._dir / "stdout").read_bytes(),
            stderr=(self._dir / "stderr").read_bytes(),
            boxes=info["boxes"],
            pid=info["pid"],
            duration=duration,
            runner_log=log,
        )
        if info["timeout"]:
            raise RunTimeout(f"{self._exe} still ran after {self._timeout} s and was killed:\n{result}", result)
        self._result = result
        return result


# ---------------------------------------------------------------------------------------------
# strace of the wineserver


TRACED_CALLS = "openat,getdents64,newfstatat,statx"


@dataclasses.dataclass
class Syscall:
    pid: int
    time: float
    name: str
    path: Optional[str]
    result: str
    line: str


_STRACE_LINE = re.compile(r"^(\d+)\s+(?:(\d+\.\d+)\s+)?(\w+)\((.*)\)\s+=\s+(.*)$")
_QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')
_FD_PATH = re.compile(r"^\d+<(.*)>")


_UNFINISHED = re.compile(r"^(\d+)\s+(.*) <unfinished \.\.\.>$")
_RESUMED = re.compile(r"^(\d+)\s+(?:\d+\.\d+\s+)?<\.\.\. (\w+) resumed>(.*)$")


def _joined_strace_lines(text: str) -> Iterator[str]:
    """The lines of `strace -f` output with each call that another thread interrupted
    ("<unfinished ...>", later "<... name resumed>") put back together as one line."""
    started: Dict[str, str] = {}
    for line in text.splitlines():
        m = _UNFINISHED.match(line)
        if m:
            started[m.group(1)] = line[: -len(" <unfinished ...>")]
            continue
        m = _RESUMED.match(line)
        if m:
            head = started.pop(m.group(1), None)
            if head is not None:
                yield head + m.group(3)
            continue
        yield line


def parse_strace(text: str) -> List[Syscall]:
    """Parses `strace -f -y` output lines."""
    calls = []
    for line in _joined_strace_lines(text):
        m = _STRACE_LINE.match(line)
        if not m:
            continue
        pid, stamp, name, args, res = m.groups()
        path = None
        if name == "getdents64":
            fd = _FD_PATH.match(args)
            path = fd.group(1) if fd else None
        else:
            q = _QUOTED.search(args)
            path = q.group(1) if q else None
            # openat(fd<dir>, "relative") names a path relative to that directory.
            if path is not None and not path.startswith("/"):
                fd = _FD_PATH.match(args)
                if fd:
                    path = fd.group(1).rstrip("/") + "/" + path
        calls.append(Syscall(int(pid), float(stamp or 0), name, path, res, line))
    return calls


class FileTrace:
    """strace output of Wine processes. strace buffers its file: read calls() after the traced
    programs have ended (for strace_server, after the with block)."""

    def __init__(self, path: Path):
        self.path = Path(path)
        self._since = 0.0

    def mark(self) -> None:
        """Forgets what was traced so far (e.g. after a warm-up run)."""
        self._since = time.time()

    def calls(self) -> List[Syscall]:
        text = self.path.read_bytes().decode("utf-8", "replace") if self.path.exists() else ""
        return [c for c in parse_strace(text) if c.time >= self._since]

    def paths(self, name: str = "openat") -> List[str]:
        return [c.path for c in self.calls() if c.name == name and c.path is not None]


# ---------------------------------------------------------------------------------------------
# Prefix template


def _base_env() -> dict:
    env = dict(os.environ)
    for key in ("WINEPREFIX", "WINEARCH", "WINESERVER", "WINELOADER", "DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(key, None)
    env["WINEDEBUG"] = "-all"
    # No Mono/Gecko install prompts: there is no network and nothing here needs them.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    if not env.get("LANG") and not env.get("LC_ALL"):
        env["LANG"] = "C.UTF-8"  # Unix side UTF-8 so str arguments/values convert losslessly
    return env


def _wine_version() -> str:
    return subprocess.run([WINE, "--version"], capture_output=True, text=True, env=_base_env()).stdout.strip()


def _run_captured(cmd: Sequence[str], env: dict, timeout: float = 120, stdin: Optional[PathLike] = None,
                  cwd: Optional[PathLike] = None) -> subprocess.CompletedProcess:
    """Runs a Wine command with its output in temporary files: Wine's service processes
    inherit the output handles and outlive the command, so waiting for a pipe's end would hang."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            open(stdin or os.devnull, "rb") as stdin_file:
        proc = subprocess.Popen(list(cmd), env=env, stdin=stdin_file, stdout=out, stderr=err, cwd=cwd)
        try:
            rc = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(list(cmd), rc, out.read(), err.read())


def _check(cmd: Sequence[str], env: dict, timeout: float = 120) -> None:
    r = _run_captured(cmd, env, timeout)
    if r.returncode != 0:
        raise HarnessError(f"{' '.join(cmd)} failed ({r.returncode}): {r.stdout!r} {r.stderr!r}")


def e2e_root() -> Path:
    return build_dir() / "e2e-wine"


_template_failure: Optional[BaseException] = None


def ensure_template() -> Tuple[Path, float]:
    """The shared template prefix, made on first use; returns (path, seconds spent making it)."""
    global _template_failure
    if _template_failure is not None:
        raise HarnessError(f"the template prefix could not be made earlier: {_template_failure}")
    try:
        return _ensure_template()
    except Exception as e:
        _template_failure = e
        raise


def _ensure_template() -> Tuple[Path, float]:
    root = e2e_root()
    root.mkdir(parents=True, exist_ok=True)
    key = hashlib.sha1(f"{_wine_version()}|{TEMPLATE_RECIPE}".encode()).hexdigest()[:12]
    template = root / f"template-{key}"
    with open(root / "template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if (template / ".e2e-ready").exists():
            return template, 0.0
        started = time.monotonic()
        tmp = root / f"template-{key}.tmp{os.getpid()}"
        env = _base_env()
        env["WINEPREFIX"] = str(tmp)
        # Wine now and then exits 1 without a word before doing anything; one more try from scratch
        # tells that apart from a prefix that can't be made.
        for attempt in (1, 2):
            shutil.rmtree(tmp, ignore_errors=True)
            try:
                _make_template_prefix(tmp, env)
                break
            except HarnessError as e:
                _run_captured([WINESERVER, "-k"], env, timeout=60)
                shutil.rmtree(tmp, ignore_errors=True)
                if attempt == 2:
                    raise
                print(f"[e2e] making the template prefix failed ({e}); trying once more", file=sys.stderr)
            except BaseException:
                _run_captured([WINESERVER, "-k"], env, timeout=60)
                shutil.rmtree(tmp, ignore_errors=True)
                raise
        spent = time.monotonic() - started
        (tmp / ".e2e-ready").write_text(f"{spent:.2f}\n")
        shutil.rmtree(template, ignore_errors=True)
        tmp.rename(template)
        return template, spent


def _make_template_prefix(tmp: Path, env: dict) -> None:
    _check([WINE, "wineboot", "-i"], env, timeout=300)
    _check([WINE, "reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", "win10", "/f"], env)
    _check([WINE, "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null", "/f"], env)
    # -k answers 1 when the server has already gone; -w then returns at once.
    _run_captured([WINESERVER, "-k"], env, timeout=60)
    _check([WINESERVER, "-w"], env)
    user_reg = (tmp / "user.reg").read_text("utf-8", "replace")
    if '"Version"="win10"' not in user_reg or '"Graphics"="null"' not in user_reg:
        raise HarnessError(f"template prefix {tmp} lacks its settings after wineserver -k")


_LINK_MIN_SIZE = 64 * 1024


def clone_prefix(template: Path, dest: Path) -> None:
    """Copies the template: big files under drive_c/windows (DLLs Wine never rewrites) become
    hard links, everything else (registry files above all) real copies. Falls back to copying
    when the two are on different file systems."""
    link_ok = True
    for dirpath, dirnames, filenames in os.walk(template):
        rel = Path(dirpath).relative_to(template)
        out_dir = dest / rel
        out_dir.mkdir(parents=True, exist_ok=True)
        shutil.copystat(dirpath, out_dir)
        for name in dirnames + filenames:
            src = Path(dirpath) / name
            dst = out_dir / name
            if src.is_symlink():
                os.symlink(os.readlink(src), dst)
                if name in dirnames:
                    dirnames.remove(name)  # do not walk into linked dirs (dosdevices/z: -> /)
            elif name in filenames:
                if name == ".e2e-ready":
                    continue
                st = src.stat()
                if link_ok and st.st_size >= _LINK_MIN_SIZE and rel.parts[:2] == ("drive_c", "windows"):
                    try:
                        os.link(src, dst)
                        continue
                    except OSError:
                        link_ok = False
                shutil.copy2(src, dst)


def _free_slug(base: Path, name: str) -> Path:
    slug = re.sub(r"[^A-Za-z0-9_.-]+", "_", name)[:60] or "test"
    for i in range(1000):
        candidate = base / (f"{slug}-{os.getpid()}" + (f"-{i}" if i else ""))
        try:
            candidate.mkdir(parents=True)
            return candidate
        except FileExistsError:
            continue
    raise HarnessError(f"no free folder for {name} in {base}")


def clean_stale_test_dirs(max_age_hours: float = 6) -> None:
    base = e2e_root() / "tests"
    if not base.exists():
        return
    cutoff = time.time() - max_age_hours * 3600
    for d in base.iterdir():
        try:
            if d.stat().st_mtime < cutoff:
                shutil.rmtree(d, ignore_errors=True)
        except FileNotFoundError:
            pass


# ---------------------------------------------------------------------------------------------
# Xvfb


class Xvfb:
    def __init__(self, size: str = "1280x1024x24"):
        read_fd, write_fd = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", size, "-nolisten", "tcp"],
                pass_fds=(write_fd,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL,
            )
        finally:
            os.close(write_fd)
        data = b""
        deadline = time.monotonic() + 20
        try:
            while not data.endswith(b"\n") and time.monotonic() < deadline:
                ready, _, _ = select.select([read_fd], [], [], 0.5)
                if ready:
                    chunk = os.read(read_fd, 64)
                    if not chunk:
                        break
                    data += chunk
        finally:
            os.close(read_fd)
        if not data.strip().isdigit():
            self.stop()
            raise HarnessError(f"Xvfb did not report a display: {data!r}")
        self.display = f":{int(data)}"

    def stop(self) -> None:
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


# ---------------------------------------------------------------------------------------------
# The per-test Wine prefix


_WIN_ABS = re.compile(r"^(?:[A-Za-z]:\\|\\\\)")


class Wine:
    def __init__(self, prefix: Path, work: Path, display: Optional[str] = None):
        self.prefix = prefix
        self.drive_c = prefix / "drive_c"
        self.work = work
        self.display = display
        self._runs = 0
        self._children: List[Running] = []

    # -- environment and paths --

    def env(self, extra: Optional[dict] = None) -> dict:
        env = _base_env()
        env["WINEPREFIX"] = str(self.prefix)
        if self.display:
            env["DISPLAY"] = self.display
        for k, v in (extra or {}).items():
            if v is None:
                env.pop(k, None)
            else:
                env[k] = str(v)
        return env

    def to_windows(self, path: PathLike) -> str:
        p = Path(os.path.abspath(path))
        for root in (self.drive_c, self.drive_c.resolve()):
            try:
                rel = p.relative_to(root)
            except ValueError:
                continue
            return "C:\\" + "\\".join(rel.parts)
        return "Z:" + str(p).replace("/", "\\")

    def to_linux(self, winpath: str) -> Path:
        drive, rest = winpath[:2].upper(), winpath[2:].lstrip("\\")
        parts = [x for x in rest.split("\\") if x]
        if drive == "C:":
            return self.drive_c.joinpath(*parts)
        if drive == "Z:":
            return Path("/").joinpath(*parts)
        raise HarnessError(f"to_linux: only C: and Z: paths are known, not {winpath!r}")

    def _win(self, path: PathLike) -> str:
        s = os.fspath(path)
        return s if isinstance(s, str) and _WIN_ABS.match(s) else self.to_windows(s)

    # -- server --

    def start_server(self) -> None:
        # The server daemonizes; its inherited output must not be a pipe someone waits on.
        rc = subprocess.run([WINESERVER, "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode
        if rc != 0:
            raise HarnessError(f"wineserver -p failed ({rc}) for {self.prefix}")

    def stop_server(self) -> None:
        _run_captured([WINESERVER, "-k"], self.env(), timeout=60)
        _run_captured([WINESERVER, "-w"], self.env(), timeout=60)

    def server_dir(self) -> Optional[Path]:
        """Wine's socket folder of this prefix's server (its name depends on the prefix inode)."""
        try:
            tmp = (self.prefix / "wineserver").read_text().strip()
            st = self.prefix.stat()
        except OSError:
            return None
        return Path("/tmp") / tmp / f"server-{st.st_dev:x}-{st.st_ino:x}"

    def _wait_for_server(self, proc: subprocess.Popen, timeout: float = 30) -> None:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            d = self.server_dir()
            if d is not None and (d / "socket").exists():
                return
            if proc.poll() is not None:
                raise HarnessError(f"traced wineserver exited at once ({proc.returncode})")
            time.sleep(0.02)
        raise HarnessError("traced wineserver did not open its socket")

    def restart_server(self) -> None:
        self.stop_server()
        self.start_server()

    def _kill_everything(self) -> None:
        _run_captured([WINESERVER, "-k"], self.env(), timeout=60)

    def close(self) -> None:
        self.stop_server()
        d = self.server_dir()
        if d is not None:
            shutil.rmtree(d, ignore_errors=True)
        for child in self._children:
            if child._proc.poll() is None:
                child._proc.kill()
            child._proc.wait()

    # -- running programs --

    def wine(self, args: Sequence[str], env: Optional[dict] = None, timeout: float = 60,
             check: bool = True, stdin: Optional[PathLike] = None,
             cwd: Optional[PathLike] = None) -> subprocess.CompletedProcess:
        tool = args[0].lower()
        if (tool[:-4] if tool.endswith(".exe") else tool) not in WINE_TOOLS:
            raise HarnessError(f"wine() runs Wine's own tools only, not {args[0]!r}: start programs with run()")
        cmd = [WINE, *args]
        r = _run_captured(cmd, self.env(env), timeout, stdin=stdin, cwd=cwd)
        # Under load Wine now and then fails to start a program at all: status 1 and not a byte of
        # output, where each of these tools prints something when it really fails. Only that start
        # is made once more, and a real failure fails again.
        if r.returncode == 1 and not r.stdout and not r.stderr:
            print(f"[e2e] Wine did not start {args[0]} (exit {r.returncode}); starting it again", file=sys.stderr)
            r = _run_captured(cmd, self.env(env), timeout, stdin=stdin, cwd=cwd)
        if check and r.returncode != 0:
            raise HarnessError(f"wine {' '.join(args)} failed ({r.returncode}): {r.stdout!r} {r.stderr!r}")
        return r

    def start(self, exe: PathLike, args: Iterable[Arg] = (), env: Optional[dict] = None,
              cwd: Optional[PathLike] = None, timeout: float = 600, fatal_box: bool = True,
              cmdline: Optional[Arg] = None, stdin: Optional[PathLike] = None,
              strace_to: Optional[PathLike] = None, unicode: bool = False) -> Running:
        runner = require(helper_exe("run-status"), "e2e helper run-status.exe")
        self._runs += 1
        run_dir = self.work / f"run-{self._runs:03d}"
        run_dir.mkdir(parents=True)
        exe_win = self._win(exe)

        def text(value: Arg) -> bytes:
            return value.encode() if unicode and isinstance(value, str) else _to_bytes(value)

        lines = [f"exe {text(exe_win).hex()}"]
        lines += [f"arg {text(a).hex()}" for a in args]
        if cmdline is not None:
            lines.append(f"cmdline {text(cmdline).hex()}")
        if cwd is not None:
            lines.append(f"cwd {text(self._win(cwd)).hex()}")
        if unicode:
            lines.append("utf8 1")
        if stdin is not None:
            lines.append(f"stdin {_to_bytes(self._win(stdin)).hex()}")
        for name, value in (env or {}).items():
            if value is None:
                lines.append(f"unset {_to_bytes(name).hex()}")
            else:
                value = str(value) if isinstance(value, int) else value
                lines.append(f"env {(_to_bytes(name) + b'=' + _to_bytes(value)).hex()}")
        lines.append(f"killfile {_to_bytes(self.to_windows(run_dir / 'kill')).hex()}")
        for key, name in (("stdout", "stdout"), ("stderr", "stderr"), ("result", "result.txt")):
            lines.append(f"{key} {_to_bytes(self.to_windows(run_dir / name)).hex()}")
        lines.append(f"timeout_ms {int(timeout * 1000)}")
        lines.append(f"press {2 if fatal_box == 'yes' else 1 if fatal_box else 0}")
        spec = run_dir / "spec.txt"
        spec.write_text("\n".join(lines) + "\n")
        cmd = [WINE, str(runner), self.to_windows(spec)]
        if strace_to is not None:
            # The first program of a server forks Wine's lasting services; do that untraced.
            self.wine(["cmd", "/c", "rem"], timeout=120)
            cmd = ["strace", "-f", "-y", "-ttt", "-e", f"trace={TRACED_CALLS}", "-o", str(strace_to)] + cmd
        def launch(mode: str = "wb") -> subprocess.Popen:
            # Files, not pipes: Wine's service processes may inherit and keep the runner's outputs.
            with open(run_dir / "runner.log", mode) as log:
                return subprocess.Popen(cmd, env=self.env(), stdin=subprocess.DEVNULL, stdout=log,
                                        stderr=subprocess.STDOUT)

        proc = launch()
        # strace -o truncates its file, so the trace of a start made again holds that start alone.
        running = Running(self, proc, run_dir, exe_win, timeout, traced=strace_to is not None,
                          relaunch=lambda: launch("ab"))
        self._children.append(running)
        return running

    def run(self, exe: PathLike, args: Iterable[Arg] = (), env: Optional[dict] = None,
            cwd: Optional[PathLike] = None, timeout: float = 60, fatal_box: bool = True,
            cmdline: Optional[Arg] = None, stdin: Optional[PathLike] = None,
            strace_to: Optional[PathLike] = None, unicode: bool = False) -> Result:
        return self.start(exe, args, env=env, cwd=cwd, timeout=timeout, fatal_box=fatal_box,
                          cmdline=cmdline, stdin=stdin, strace_to=strace_to, unicode=unicode).wait()

    # -- registry --

    def reg_add(self, key: str, value: Optional[str], data: Union[str, int], type: str = "REG_SZ") -> None:
        args = ["reg", "add", key] + (["/ve"] if value is None else ["/v", value])
        self.wine(args + ["/t", type, "/d", str(data), "/f"])

    def reg_delete(self, key: str, value: Optional[str] = None) -> None:
        self.wine(["reg", "delete", key] + ([] if value is None else ["/v", value]) + ["/f"])

    def reg_query(self, key: str, value: Optional[str]) -> Optional[str]:
        args = ["reg", "query", key] + (["/ve"] if value is None else ["/v", value])
        r = self.wine(args, check=False)
        if r.returncode != 0:
            return None
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            parts = re.split(r"\s{4}", line.strip(), maxsplit=2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None

    # -- drives and shares --

    def map_network_drive(self, letter: str, linux_dir: PathLike) -> str:
        drive = letter.rstrip(":\\").lower()
        if len(drive) != 1 or not drive.isalpha():
            raise HarnessError(f"not a drive letter: {letter!r}")
        link = self.prefix / "dosdevices" / f"{drive}:"
        if link.is_symlink() or link.exists():
            link.unlink()
        os.symlink(os.path.abspath(linux_dir), link)
        self.reg_add(r"HKLM\Software\Wine\Drives", f"{drive}:", "network")
        self.restart_server()  # the drive types are read when the server starts
        return f"{drive.upper()}:\\"

    def make_unc_share(self, server: str, share: str, linux_dir: PathLike) -> str:
        base = self.prefix / "dosdevices" / "unc" / server.lower()
        base.mkdir(parents=True, exist_ok=True)
        link = base / share.lower()
        if link.is_symlink() or link.exists():
            link.unlink()
        os.symlink(os.path.abspath(linux_dir), link)
        return f"\\\\{server}\\{share}"

    # -- tracing --

    @contextlib.contextmanager
    def strace_server(self) -> Iterator[FileTrace]:
        out = self.work / f"server-strace-{self._runs:03d}-{time.monotonic_ns()}.txt"
        self.stop_server()
        proc = subprocess.Popen(
            ["strace", "-f", "-y", "-ttt", "-e", f"trace={TRACED_CALLS}", "-o", str(out),
             WINESERVER, "-f", "-p"],
            env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            # A client that came before the socket would start an untraced server of its own.
            self._wait_for_server(proc)
            yield FileTrace(out)
        finally:
            self.stop_server()
            try:
                proc.wait(30)
            except subprocess.TimeoutExpired:
                proc.send_signal(signal.SIGKILL)
                proc.wait()
            self.start_server()

    # -- pixels --

    def screenshot(self, path: PathLike) -> Path:
        if not self.display:
            raise HarnessError("screenshot() needs the wine_x11 fixture")
        subprocess.run(["import", "-window", "root", "-display", self.display, str(path)], check=True,
                       capture_output=True, timeout=60)
        return Path(path)


def new_wine(name: str, x11: bool = False) -> Tuple[Wine, Optional[Xvfb], dict]:
    """Makes a prefix for one test; returns (wine, xvfb or None, timings)."""
    template, template_s = ensure_template()
    work = _free_slug(e2e_root() / "tests", name)
    started = time.monotonic()
    clone_prefix(template, work / "prefix")
    copy_s = time.monotonic() - started
    xvfb = Xvfb() if x11 else None
    wine = Wine(work / "prefix", work / "work", display=xvfb.display if xvfb else None)
    wine.work.mkdir()
    try:
        wine.start_server()
        if x11:
            wine.reg_delete(r"HKCU\Software\Wine\Drivers", "Graphics")
            wine.restart_server()  # the desktop process must come up with the X11 driver
    except BaseException:
        wine.close()
        if xvfb:
            xvfb.stop()
        raise
    return wine, xvfb, {"template_s": template_s, "copy_s": copy_s}


# ---------------------------------------------------------------------------------------------
# Packing apps


def _pack_args(options: dict) -> List[str]:
    args: List[str] = []
    for key, value in options.items():
        if value is None or value is False:
            continue
        flag = "--" + key.replace("_", "-")
        if key == "raw_text":
            for typ, number, path in value:
                args += [flag, f"{typ}={number}:{os.fspath(path)}"]
        elif value is True:
            args.append(flag)
        elif isinstance(value, (list, tuple)):
            for v in value:
                args += [flag, os.fspath(v) if isinstance(v, os.PathLike) else str(v)]
        else:
            args += [flag, os.fspath(value) if isinstance(value, os.PathLike) else str(value)]
    return args


def pack(out: PathLike, launcher: Optional[PathLike] = None, **options) -> Path:
    tool = require(pack_tool(), "packaging tool quorvia-pack")
    launcher = require(launcher or launcher_exe(), "launcher.exe")
    out = Path(out)
    # --force: tests pack incomplete exes on purpose, to see what the launcher does with them.
    cmd = [str(tool), "--launcher", str(launcher), "--out", str(out), "--force"] + _pack_args(options)
    r = subprocess.run(cmd, capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
    if r.returncode != 0 or not out.exists():
        pytest.fail(f"quorvia-pack failed ({r.returncode}): {' '.join(cmd)}\n"
                    f"{r.stdout.decode(errors='replace')}{r.stderr.decode(errors='replace')}", pytrace=False)
    return out


def make_app(tmp_dir: PathLike, name: str = "App", runtime: Union[bool, str] = True,
             launcher: Optional[PathLike] = None, **options) -> Path:
    tmp_dir = Path(tmp_dir)
    tmp_dir.mkdir(parents=True, exist_ok=True)
    exe = pack(tmp_dir / f"{name}.exe", launcher=launcher, **options)
    if runtime:
        src = require(test_runtime_dir(), "test-runtime folder")
        dest = tmp_dir if runtime == "home" else tmp_dir / "jre"
        shutil.copytree(src, dest, dirs_exist_ok=True)
    return exe
