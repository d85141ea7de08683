"""The sync folder mirror under Wine: a source on a UNC share mirrored into the cache's sync
directory, compared file by file (content and last-write time); the libs jars on the class path;
refreshes, deletions, a runtime carried in the mirror, a later instance, a share that drops halfway,
links in the mirror, over-long paths, and the cost of an unchanged tree."""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

import harness
from harness import make_app, require
from runtime_trace import traced_env
from launcher_output import err, out

KEY1 = "SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment"
NO_RUNTIME_BOXES = [
    ("Fatal Error", "Error: could not find java.dll\n"),
    ("Fatal Error", "Error: could not find Java 2 Runtime Environment (looked for bin\\java.dll and jre\\bin\\java.dll in the application's folder, and for a version under HKLM\\SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment).\n"),
]
BASE_TIME_NS = 1_600_000_000 * 10**9  # whole seconds: what the file system and Windows both keep


# ---------------------------------------------------------------------------------------------
# Helpers


def write_tree(root: Path, files: dict, folders=()):
    """Writes files {relative posix path: bytes} with distinct fixed last-write times."""
    for i, (rel, data) in enumerate(sorted(files.items())):
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        stamp = BASE_TIME_NS + i * 10**9
        os.utime(path, ns=(stamp, stamp))
    for rel in folders:
        (root / rel).mkdir(parents=True, exist_ok=True)


def tree(root: Path):
    """{relative path: None for a folder, (bytes, mtime_ns) for a file}, links not followed."""
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        base = Path(dirpath)
        for name in dirnames:
            found[(base / name).relative_to(root).as_posix()] = None
        for name in filenames:
            path = base / name
            found[path.relative_to(root).as_posix()] = (path.read_bytes(), path.stat().st_mtime_ns)
    return found


def assert_mirror_equals(source: Path, mirror: Path):
    want, got = tree(source), tree(mirror)
    assert sorted(got) == sorted(want), f"mirror entries differ from the source's"
    for rel, entry in want.items():
        if entry is None:
            assert got[rel] is None, rel
            continue
        data, mtime = entry
        assert got[rel][0] == data, f"content of {rel}"
        # Windows keeps 100 ns; the copy carries the source's time as the listing reports it.
        assert got[rel][1] == mtime // 100 * 100, f"last-write time of {rel}"


def sample_files():
    app_jar = require(harness.test_app("app.jar")).read_bytes()
    return {
        "app.properties": b"name=sample\n",
        "libs/app.jar": app_jar,
        "libs/b-extra.jar": app_jar,
        "libs/a.tar.jar": app_jar,
        "libs/NOTES.JAR": b"upper-case suffix: copied, not on the class path",
        "libs/readme.txt": b"not a jar",
        "libs/ext/plugin.jar": app_jar,
        "conf/deep/er/settings.xml": b"<settings/>",
        ".hidden": b"a dot file is hidden under Wine",
    }


WIN_HELPER_CPP = r"""
#include <windows.h>
#include <stdio.h>
#include <string.h>
// "list PATTERN": the names FindFirstFileA/FindNextFileA give, one a line, in their order.
// "splash": whether a visible window of the launcher splash's class exists, waiting up to 20 s.
// "click PATTERN": the same wait, then a left click (through the input system) in that window's
// middle; "clicked N" with the number of entries matching PATTERN then, and "gone N" with their
// number once the window is gone (waiting up to 180 s).
static int count(const char* pattern) {
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do n += strcmp(d.cFileName, ".") != 0 && strcmp(d.cFileName, "..") != 0; while (FindNextFileA(h, &d));
    FindClose(h);
    return n;
}
int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "list") == 0) {
        WIN32_FIND_DATAA d;
        HANDLE h = FindFirstFileA(argv[2], &d);
        if (h == INVALID_HANDLE_VALUE) return 1;
        do printf("%s\n", d.cFileName); while (FindNextFileA(h, &d));
        FindClose(h);
        return 0;
    }
    for (int i = 0; i < 400; i++) {
        HWND w = NULL;
        while ((w = FindWindowExA(NULL, w, "SplashWindowClass", NULL)) != NULL) {
            if (!IsWindowVisible(w)) continue;
            if (argc == 3 && strcmp(argv[1], "click") == 0) {
                RECT r;
                GetWindowRect(w, &r);
                SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
                mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
                mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
                printf("clicked %d\n", count(argv[2]));
                for (int waited = 0; IsWindow(w) && waited < 180000; waited += 10) Sleep(10);
                printf("gone %d\n", IsWindow(w) ? -1 : count(argv[2]));
                return 0;
            }
            printf("splash 1\n");
            return 0;
        }
        Sleep(50);
    }
    printf("no splash\n");
    return 0;
}
"""


@pytest.fixture(scope="session")
def win_helper(tmp_path_factory):
    """A small Windows program of this module's own, built here: the harness has no folder lister
    nor window finder."""
    folder = tmp_path_factory.mktemp("sync-helper")
    source = folder / "sync_helper.cpp"
    source.write_text(WIN_HELPER_CPP)
    exe = folder / "sync_helper.exe"
    subprocess.run(["x86_64-w64-mingw32-g++-posix", "-O1", "-static", str(source), "-o", str(exe)],
                   check=True, capture_output=True, timeout=300)
    return exe


def windows_listing(wine, helper, folder_win):
    """Names in a folder as Windows lists them (Wine sorts them, as NTFS does), without . and .."""
    result = wine.run(helper, ["list", folder_win + "\\*"])
    return [n for n in result.stdout_text.replace("\r\n", "\n").split("\n") if n and n not in (".", "..")]


class SyncApp:
    """A packed exe whose SYNC-PATH names \\\\srv\\share\\app, a share of tmp_path/share."""

    def __init__(self, wine, tmp_path: Path, name: str, files=None, folders=(), runtime="registry"):
        self.wine = wine
        self.name = name
        self.share_dir = tmp_path / "share"
        self.source = self.share_dir / "app"
        self.source.mkdir(parents=True)
        write_tree(self.source, sample_files() if files is None else files, folders)
        self.unc = wine.make_unc_share("srv", "share", self.share_dir) + "\\app"
        if runtime == "registry":
            shutil.copytree(require(harness.test_runtime_dir()), wine.drive_c / "rt")
            wine.reg_add("HKLM\\" + KEY1, "CurrentVersion", "1.8")
            wine.reg_add("HKLM\\" + KEY1 + "\\1.8", "JavaHome", "C:\\rt")
        elif runtime == "mirror":
            shutil.copytree(require(harness.test_runtime_dir()), self.source / "jre")
        self.exe = make_app(tmp_path / "exe", name=name, runtime=False, sync_path=self.unc,
                            main_class="com.example.App")
        self.tmp_path = tmp_path
        self.cache = wine.drive_c / "ProgramData" / ".quorvia" / "cache"
        self.sync = self.cache / name / "sync"
        self.sync_win = f"C:\\ProgramData\\.quorvia\\cache\\{name}\\sync"
        self.runs = 0

    def run(self, env=None, **kwargs):
        self.runs += 1
        trace_env, trace = traced_env(self.wine, self.tmp_path / f"trace{self.runs}")
        (self.tmp_path / f"trace{self.runs}").mkdir()
        trace_env.update(env or {})
        result = self.wine.run(self.exe, cwd=self.tmp_path, env=trace_env, **kwargs)
        return result, trace

    def start(self, env=None, **kwargs):
        self.runs += 1
        trace_env, trace = traced_env(self.wine, self.tmp_path / f"trace{self.runs}")
        (self.tmp_path / f"trace{self.runs}").mkdir()
        trace_env.update(env or {})
        return self.wine.start(self.exe, cwd=self.tmp_path, env=trace_env, **kwargs), trace

    def mirror_jar(self, name):
        return f"{self.sync_win}\\.\\libs\\{name}"

    def class_path(self, trace):
        return trace.one("create")["classpath"]


# ---------------------------------------------------------------------------------------------
# First start, refreshes, deletions


def test_first_start_mirrors_the_whole_tree_and_puts_the_libs_jars_on_the_class_path(wine, tmp_path, unique_name,
                                                                                     win_helper):
    app = SyncApp(wine, tmp_path, unique_name, folders=["empty"])
    result, trace = app.run()
    assert result.status == 0, result
    assert "test runtime: main com.example.App\n" in out(result)
    assert_mirror_equals(app.source, app.sync)
    jars = [n for n in windows_listing(wine, win_helper, app.sync_win + "\\libs") if n.endswith(".jar")]
    assert sorted(jars) == ["a.tar.jar", "app.jar", "b-extra.jar"]
    # In the order in which the mirror's libs folder lists them; nothing from libs\ext, no .JAR.
    assert app.class_path(trace) == [""] + [app.mirror_jar(name) for name in jars]


def test_runtime_carried_in_the_mirror_is_the_runtime_home(wine, tmp_path, unique_name):
    files = {"libs/app.jar": require(harness.test_app("app.jar")).read_bytes()}
    app = SyncApp(wine, tmp_path, unique_name, files=files, runtime="mirror")
    result, trace = app.run()
    assert result.status == 0, result
    assert_mirror_equals(app.source, app.sync)
    loaded = trace.events("load")
    assert any(e["dll"] == "server" and e["path"].lower() == (app.sync_win + "\\jre\\bin\\server\\jvm.dll").lower()
               for e in loaded), loaded


def test_unchanged_tree_copies_nothing(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    before = tree(app.sync)
    # Contents changed behind the mirror's back stay: only size and time are compared.
    (app.sync / "app.properties").write_bytes(b"name=SAMPLE\n")
    os.utime(app.sync / "app.properties", ns=(before["app.properties"][1],) * 2)
    result, trace = app.run()
    assert result.status == 0, result
    assert (app.sync / "app.properties").read_bytes() == b"name=SAMPLE\n"


def test_changed_size_or_time_either_way_is_copied_again(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    src = app.source
    (src / "app.properties").write_bytes(b"name=sample, longer now\n")      # size
    os.utime(src / "app.properties", ns=(BASE_TIME_NS,) * 2)
    os.utime(src / "libs/readme.txt", ns=(BASE_TIME_NS + 500 * 10**9,) * 2)  # later
    (src / "conf/deep/er/settings.xml").write_bytes(b"<SETTINGS/>")          # same size,
    os.utime(src / "conf/deep/er/settings.xml", ns=(BASE_TIME_NS - 10**9,) * 2)  # earlier
    (src / ".hidden").write_bytes(b"A DOT FILE IS HIDDEN UNDER WINE")          # same size and time
    hidden_time = (app.sync / ".hidden").stat().st_mtime_ns
    os.utime(src / ".hidden", ns=(hidden_time,) * 2)
    result, _ = app.run()
    assert result.status == 0, result
    assert (app.sync / ".hidden").read_bytes() == b"a dot file is hidden under Wine"
    (app.sync / ".hidden").write_bytes((src / ".hidden").read_bytes())
    os.utime(app.sync / ".hidden", ns=(hidden_time,) * 2)
    assert_mirror_equals(app.source, app.sync)


def test_removed_file_and_folder_leave_the_mirror(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    assert (app.sync / "conf/deep/er/settings.xml").exists()
    shutil.rmtree(app.source / "conf")
    (app.source / "libs/b-extra.jar").unlink()
    result, trace = app.run()
    assert result.status == 0, result
    assert_mirror_equals(app.source, app.sync)
    assert app.mirror_jar("b-extra.jar") not in app.class_path(trace)


def test_libs_folder_in_another_case_puts_no_jar_on_the_class_path(wine, tmp_path, unique_name):
    files = {"Libs/app.jar": require(harness.test_app("app.jar")).read_bytes()}
    app = SyncApp(wine, tmp_path, unique_name, files=files)
    result, trace = app.run()
    assert_mirror_equals(app.source, app.sync)
    assert app.class_path(trace) == [""]
    assert result.status == 1  # the main class is nowhere on the class path


# ---------------------------------------------------------------------------------------------
# Unreachable source, later instance


def test_unreachable_source_first_instance_runs_the_mirror_as_it_is(wine, tmp_path, unique_name, win_helper):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    before = tree(app.sync)
    (wine.prefix / "dosdevices" / "unc" / "srv" / "share").unlink()  # the share is gone
    result, trace = app.run(env={"_JAVA_LAUNCHER_DEBUG": "1"})
    assert tree(app.sync) == before
    jars = [n for n in windows_listing(wine, win_helper, app.sync_win + "\\libs") if n.endswith(".jar")]
    assert app.class_path(trace) == [""] + [f"{app.sync_win}\\libs\\{name}" for name in jars]
    assert result.status == 0, result
    assert f"The sync folder {app.unc} can't be reached: starting from the mirror as it is\n" in out(result)


def test_later_instance_reads_the_existing_libs_folder_while_the_source_is_gone(wine, tmp_path, unique_name,
                                                                                win_helper):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    gate = tmp_path / "release-first"
    first, _ = app.start(env={"QUORVIA_TEST_MAIN": f"wait-file:{wine.to_windows(gate)}"}, timeout=120)
    try:
        deadline = time.monotonic() + 60
        while not (tmp_path / f"trace{app.runs}" / "trace.jsonl").exists() and time.monotonic() < deadline:
            time.sleep(0.1)
        (wine.prefix / "dosdevices" / "unc" / "srv" / "share").unlink()
        before = tree(app.sync)
        second, trace = app.run()
        assert second.status == 0, second
        jars = [n for n in windows_listing(wine, win_helper, app.sync_win + "\\libs") if n.endswith(".jar")]
        # Through the libs folder without the ".", in the folder's own order.
        assert app.class_path(trace) == [""] + [f"{app.sync_win}\\libs\\{name}" for name in jars]
        assert tree(app.sync) == before
    finally:
        gate.write_text("go")
        first.wait()


def test_sixteen_starts_on_an_empty_mirror_all_reach_main(wine, tmp_path, unique_name):
    # Enough files that the first mirror takes a while: later starts must wait for it, not start
    # the application from a half-copied libs folder.
    files = sample_files()
    files.update({f"filler/f{i:04}.txt": b"x" for i in range(800)})
    app = SyncApp(wine, tmp_path, unique_name, files=files)
    # Every application stays in main until all sixteen got there, so the first instance is alive
    # throughout and no later start can become a first instance of its own.
    gate = tmp_path / "all-in-main"
    env = {"QUORVIA_TEST_MAIN": f"wait-file:{wine.to_windows(gate)}"}
    starts = [app.start(env=env, timeout=300) for _ in range(16)]
    deadline = time.monotonic() + 240
    while time.monotonic() < deadline and not all(trace.events("main") for _, trace in starts):
        if any(running.poll() for running, _ in starts):
            break
        time.sleep(0.5)
    gate.write_text("go")
    results = [(running.wait(), trace) for running, trace in starts]
    for result, trace in results:
        assert result.status == 0, result
        assert trace.one("main")["class"] == "com/example/App"
    mirrored = [trace for _, trace in results if app.mirror_jar("app.jar") in app.class_path(trace)]
    readers = [trace for _, trace in results if f"{app.sync_win}\\libs\\app.jar" in app.class_path(trace)]
    assert len(mirrored) == 1, "exactly one first instance mirrors"
    assert len(readers) == 15, "every later start reads the finished mirror"
    assert_mirror_equals(app.source, app.sync)


# A later start's wait for the first instance's mirror (120 s), as Wine's relay trace shows the call.
WAIT_FOR_FIRST_INSTANCE = re.compile(r"Call (?:KERNEL32|KERNELBASE)\.WaitForSingleObject\([0-9a-f]+,0001d4c0\)")


def test_first_instance_killed_while_mirroring_lets_the_waiting_start_go_on_at_once(wine, tmp_path, unique_name):
    # The filler lists after libs, so the jars are in the mirror well before the kill.
    files = sample_files()
    files.update({f"zfiller/f{i:04}.txt": b"x" for i in range(4000)})
    app = SyncApp(wine, tmp_path, unique_name, files=files)
    first, _ = app.start(timeout=300)
    filler = app.sync / "zfiller"
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not (filler.exists() and len(os.listdir(filler)) > 20):
        time.sleep(0.05)
    # Only that call is traced, in the later start only.
    wine.reg_add(r"HKCU\Software\Wine\Debug", "RelayInclude", "KERNEL32.WaitForSingleObject;KERNELBASE.WaitForSingleObject")
    second, trace = app.start(env={"WINEDEBUG": "+relay"}, timeout=300)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not second.poll() and not WAIT_FOR_FIRST_INSTANCE.search(second.runner_log()):
        time.sleep(0.05)
    assert WAIT_FOR_FIRST_INSTANCE.search(second.runner_log()), "the later start never waited for the first one"
    assert not first.poll() and len(os.listdir(filler)) < 4000, "the mirror ended before the kill"
    first.kill()
    killed_at = time.monotonic()
    assert first.wait().status != 0
    result = second.wait()
    # The mutex the first instance held is abandoned: no waiting out the 120 s.
    assert time.monotonic() - killed_at < 30
    assert result.status == 0, result
    assert f"{app.sync_win}\\libs\\app.jar" in app.class_path(trace)


# ---------------------------------------------------------------------------------------------
# Mends: a share lost halfway, links, long paths


@pytest.fixture
def gated_server(wine):
    """Runs the wineserver under strace, stalling it for a few seconds right after it opened one file."""
    holder = {}

    def start(linux_path: Path, stall_s: float, log: Path):
        wine.stop_server()
        holder["proc"] = subprocess.Popen(
            ["strace", "-f", "-o", str(log), "-e", "trace=openat",
             "-e", f"inject=openat:delay_exit={int(stall_s * 1e6)}", "-P", str(linux_path),
             harness.WINESERVER, "-f", "-p"],
            env=wine.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wine._wait_for_server(holder["proc"])

    yield start
    if "proc" in holder:
        wine.stop_server()
        try:
            holder["proc"].wait(30)
        except subprocess.TimeoutExpired:
            holder["proc"].kill()
            holder["proc"].wait()
        wine.start_server()


def test_share_dropping_halfway_does_not_empty_the_mirror(wine, tmp_path, unique_name, gated_server):
    app = SyncApp(wine, tmp_path, unique_name)
    (app.source / "gate.txt").write_bytes(b"old")
    app.run()
    before = tree(app.sync)
    (app.source / "gate.txt").write_bytes(b"new!")  # copied again: the stall happens inside that copy
    log = tmp_path / "gate-strace.txt"
    # strace matches the path as the wineserver names it: through the prefix's share link.
    gated_server(wine.prefix / "dosdevices" / "unc" / "srv" / "share" / "app" / "gate.txt", 6, log)
    running, trace = app.start(timeout=180)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not (log.exists() and "gate.txt" in log.read_text(errors="replace")):
        time.sleep(0.05)
    assert "gate.txt" in log.read_text(errors="replace"), "the mirror never opened gate.txt"
    time.sleep(0.5)  # strace shows the call as it enters; let the open itself complete
    (wine.prefix / "dosdevices" / "unc" / "srv" / "share").unlink()  # the share drops mid-mirror
    running.wait()
    after = tree(app.sync)
    assert after["gate.txt"][0] == b"new!"
    del before["gate.txt"], after["gate.txt"]
    assert after == before, "entries were deleted although the source only became unreachable"


def test_vanished_folder_holding_a_link_keeps_what_the_link_points_to(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    precious = tmp_path / "precious"
    write_tree(precious, {"keep.txt": b"keep me", "sub/also.txt": b"and me"})
    (app.sync / "old").mkdir()
    (app.sync / "old" / "file.txt").write_bytes(b"vanished")
    os.symlink(precious, app.sync / "old" / "link")
    os.symlink(precious, app.sync / "gone-link")
    result, _ = app.run()
    assert result.status == 0, result
    assert tree(precious) == {"keep.txt": (b"keep me", BASE_TIME_NS), "sub": None,
                              "sub/also.txt": (b"and me", BASE_TIME_NS + 10**9)}
    # Wine cannot remove a directory link (RemoveDirectoryA answers "not empty"); Windows can. Either
    # way the walk stopped at the link instead of going through it.
    assert not (app.sync / "old" / "file.txt").exists() or (app.sync / "old" / "link").is_symlink()


def test_entries_whose_paths_would_not_fit_are_skipped_and_the_rest_is_mirrored(wine, tmp_path, unique_name):
    # \\srv\share\app\.\NAME fits in 259 characters; the mirror's C:\ProgramData\...\sync\.\NAME does not.
    mirror_prefix = len(f"C:\\ProgramData\\.quorvia\\cache\\{unique_name}\\sync\\.\\")
    name_len = 259 - mirror_prefix + 1
    assert len("\\\\srv\\share\\app\\.\\") + name_len <= 259 and name_len <= 255
    long_file, long_folder = "f" * name_len, "d" * name_len
    files = dict(sample_files())
    files[long_file] = b"too long for the mirror"
    files[f"{long_folder}/x.txt"] = b"below a folder too long for the mirror"
    files["zz-after.txt"] = b"mirrored"
    app = SyncApp(wine, tmp_path, unique_name, files=files)
    result, trace = app.run()
    assert result.status == 0, result
    want = tree(app.source)
    for rel in (long_file, long_folder, f"{long_folder}/x.txt"):
        del want[rel]
    got = tree(app.sync)
    assert sorted(got) == sorted(want)
    assert got["zz-after.txt"][0] == b"mirrored"
    assert app.mirror_jar("app.jar") in app.class_path(trace)


# ---------------------------------------------------------------------------------------------
# No runtime anywhere


def no_runtime_app(wine, tmp_path, unique_name, files=None):
    app = SyncApp(wine, tmp_path, unique_name, files=files, runtime=None)
    app.exe = make_app(tmp_path / "exe", name=unique_name, runtime=False, sync_path=app.unc,
                       main_class="com.example.App", splash=harness.repo_root() / "tests/e2e/data/splash/splash.png")
    return app


def test_no_runtime_anywhere_refreshes_the_mirror_then_ends_with_status_2(wine, tmp_path, unique_name):
    app = no_runtime_app(wine, tmp_path, unique_name)
    result, trace = app.run()
    assert result.status == 2, result
    assert result.fatal_boxes == NO_RUNTIME_BOXES
    assert_mirror_equals(app.source, app.sync)
    assert trace.records() == []  # no VM library was ever loaded


def test_no_runtime_anywhere_shows_the_splash_while_the_mirror_is_refreshed(wine_x11, tmp_path, unique_name,
                                                                            win_helper):
    wine = wine_x11  # a layered window needs a real display driver
    # Enough files that mirroring them takes a few seconds, while the splash is up.
    files = {f"filler/f{i:04}.txt": b"x" for i in range(2000)}
    app = no_runtime_app(wine, tmp_path, unique_name, files=files)
    running, _ = app.start(timeout=180)
    seen = False
    while not running.poll() and not running.boxes() and not seen:
        seen = wine.run(win_helper, ["splash"]).stdout_text.strip() == "splash 1"
    result = running.wait()
    assert seen, "no splash window while the mirror ran"
    assert result.fatal_boxes == NO_RUNTIME_BOXES
    assert result.status == 2
    assert_mirror_equals(app.source, app.sync)


def test_click_on_the_splash_while_the_mirror_runs_leaves_it_up_until_the_mirror_is_done(
        wine_x11, tmp_path, unique_name, win_helper):
    # A real click through the X server. The main thread pumps no messages while it mirrors, so the
    # click never reaches the splash's window procedure (which would close it): the splash stays up
    # until the launcher closes it after the mirror, and the launch goes on.
    wine = wine_x11
    files = sample_files()
    files.update({f"zfiller/f{i:04}.txt": b"x" for i in range(4000)})
    app = SyncApp(wine, tmp_path, unique_name, files=files)
    app.exe = make_app(tmp_path / "exe", name=unique_name, runtime=False, sync_path=app.unc,
                       main_class="com.example.App", splash=harness.repo_root() / "tests/e2e/data/splash/splash.png")
    running, trace = app.start(timeout=180)
    seen = wine.run(win_helper, ["click", app.sync_win + "\\zfiller\\*"], timeout=240).stdout_text.split()
    result = running.wait()
    assert seen[:1] == ["clicked"] and int(seen[1]) < 4000, (seen, "the mirror ended before the click")
    assert seen[2:] == ["gone", "4000"], (seen, "the splash went before the mirror was done")
    assert result.status == 0, result
    assert result.fatal_boxes == []
    assert trace.one("main")["class"] == "com/example/App"
    assert_mirror_equals(app.source, app.sync)


# ---------------------------------------------------------------------------------------------
# Cost of an unchanged tree, counted in the wineserver (where every open of a Windows program is)

_OPENAT = re.compile(r'^\d+\s+(?:[\d.]+\s+)?openat\(AT_FDCWD<[^>]*>, "([^"]*)", ([A-Z_|]+)[^)]*\)\s+=\s+(\S+)')


def server_opens(trace_path: Path):
    """(relative path as the server names it, flags) of every successful openat, from the raw lines:
    absolute or relative to the server's folder, always through the prefix's dosdevices links."""
    opens = []
    for line in trace_path.read_text(errors="replace").splitlines():
        m = _OPENAT.match(line)
        if m and not m.group(3).startswith("-1"):
            opens.append((m.group(1), m.group(2)))
    return opens


def test_unchanged_tree_costs_one_listing_per_folder_on_each_side_and_nothing_more(wine, tmp_path, unique_name):
    files = {f"d{d}/f{i}.txt": b"x" * i for d in range(3) for i in range(4)}
    files.update({"top.txt": b"top", "d0/sub/deep.txt": b"deep"})
    app = SyncApp(wine, tmp_path, unique_name, files=files, runtime=None)  # no VM: only the mirror opens files
    assert app.run()[0].status == 2
    with wine.strace_server() as trace:
        result, _ = app.run()
    assert result.status == 2
    opens = server_opens(trace.path)
    source = [(p, f) for p, f in opens if "unc/srv/share/app/" in p]
    mirror = [(p, f) for p, f in opens if f"/.quorvia/cache/{unique_name}/sync" in p]
    folders = 1 + 3 + 1                     # root, d0..d2, d0/sub
    assert all("O_WRONLY" not in f and "O_RDWR" not in f and "O_CREAT" not in f for _, f in source + mirror)
    # The listings carry every size and time the comparison needs: no file is opened on either side,
    # and no entry is looked up one by one.
    assert [p for p, _ in source if not p.endswith("/")] == [], "no source file is opened: its content is not read"
    assert [p for p, _ in mirror if not p.endswith("/")] == [], "no mirror file is opened"
    assert len(source) == folders
    assert len(mirror) == folders
    assert_mirror_equals(app.source, app.sync)


def test_one_changed_file_is_the_only_one_copied(wine, tmp_path, unique_name):
    files = {f"d{d}/f{i}.txt": b"x" * i for d in range(3) for i in range(4)}
    app = SyncApp(wine, tmp_path, unique_name, files=files, runtime=None)
    assert app.run()[0].status == 2
    changed = app.source / "d1" / "f2.txt"
    changed.write_bytes(b"yy")  # same size, a later time
    os.utime(changed, (time.time() + 60, time.time() + 60))
    with wine.strace_server() as trace:
        result, _ = app.run()
    assert result.status == 2
    opens = server_opens(trace.path)
    source_files = [p for p, _ in opens if "unc/srv/share/app/" in p and not p.endswith("/")]
    assert len(source_files) == 1 and source_files[0].endswith("d1/f2.txt"), source_files
    assert_mirror_equals(app.source, app.sync)


# ---------------------------------------------------------------------------------------------
# Links in the mirror are never entered, written through or pruned through. Under Wine a Linux
# link to a folder shows as a reparse point and a link to a file as a plain file; Wine can remove
# neither itself (a removal reaches the target), so there the link stays and is told on stderr.


LINK_KEPT = "Skipped {}: a link stands there and could not be removed\n"


def outside_folder(tmp_path):
    """A folder outside the cache with a file named like a source file, and files of its own."""
    outside = tmp_path / "outside"
    write_tree(outside, {"app.properties": b"theirs", "settings.xml": b"their settings",
                         "deep/er/own.txt": b"their own file"})
    return outside


def test_link_at_the_sync_root_is_not_written_through(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    outside = outside_folder(tmp_path)
    before = tree(outside)
    app.sync.parent.mkdir(parents=True)
    os.symlink(outside, app.sync)
    result, trace = app.run()
    assert tree(outside) == before, "the mirror wrote or deleted outside the cache"
    if app.sync.is_symlink():
        assert LINK_KEPT.format(app.sync_win) in err(result), result
        assert app.class_path(trace) == [""]
    else:
        assert_mirror_equals(app.source, app.sync)


def test_link_at_a_folder_named_like_a_source_folder_is_not_entered(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    outside = outside_folder(tmp_path)
    before = tree(outside)
    shutil.rmtree(app.sync / "conf")
    os.symlink(outside, app.sync / "conf")
    (app.source / "app.properties").write_bytes(b"name=sample, refreshed\n")
    result, trace = app.run()
    assert result.status == 0, result
    assert tree(outside) == before, "the mirror wrote or deleted outside the cache"
    assert (app.sync / "app.properties").read_bytes() == b"name=sample, refreshed\n", "the rest is mirrored"
    if (app.sync / "conf").is_symlink():
        assert LINK_KEPT.format(app.sync_win + "\\.\\conf") in err(result), result
    else:
        assert_mirror_equals(app.source, app.sync)


def test_link_at_a_file_name_is_replaced_not_written_through(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    outside = outside_folder(tmp_path)
    before = tree(outside)
    (app.sync / "app.properties").unlink()
    os.symlink(outside / "app.properties", app.sync / "app.properties")
    os.symlink(outside / "deep" / "er" / "own.txt", app.sync / "gone.txt")  # not in the source
    result, _ = app.run()
    assert result.status == 0, result
    assert tree(outside) == before, "the mirror wrote or deleted outside the cache"
    assert not (app.sync / "app.properties").is_symlink()
    assert (app.sync / "app.properties").read_bytes() == (app.source / "app.properties").read_bytes()
    # Wine shows a link to a file as a file, but does not delete it: the deletion would reach the target.
    if (app.sync / "gone.txt").is_symlink():
        (app.sync / "gone.txt").unlink()
    assert_mirror_equals(app.source, app.sync)


# ---------------------------------------------------------------------------------------------
# Temporary files, read-only files, files of another account


def test_orphan_temporary_file_in_the_mirror_is_gone_after_the_next_start(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    orphan = app.sync / "libs" / "~sync.99999996.tmp"  # no process of that id runs
    orphan.write_bytes(b"cut short by a crash")
    result, trace = app.run()
    assert result.status == 0, result
    assert not orphan.exists()
    assert_mirror_equals(app.source, app.sync)


def test_read_only_jar_is_refreshed_and_deleted(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    jar = app.source / "libs" / "ro.jar"
    jar.write_bytes(require(harness.test_app("app.jar")).read_bytes())
    jar.chmod(0o444)  # Wine shows a file without write bits as read-only
    assert app.run()[0].status == 0
    copy = app.sync / "libs" / "ro.jar"
    assert copy.stat().st_mode & 0o222 == 0, "the copy keeps the read-only attribute"
    jar.chmod(0o644)
    jar.write_bytes(require(harness.test_app("app-stored.jar")).read_bytes())  # another size
    jar.chmod(0o444)
    assert app.run()[0].status == 0
    assert copy.read_bytes() == jar.read_bytes()
    assert copy.stat().st_mode & 0o222 == 0
    jar.chmod(0o644)
    jar.unlink()
    result, trace = app.run()
    assert result.status == 0, result
    assert not copy.exists(), "a read-only copy whose source is gone is deleted"
    assert app.mirror_jar("ro.jar") not in app.class_path(trace)


def test_mirror_jar_of_another_account_is_copied_again(wine, tmp_path, unique_name):
    if os.geteuid() != 0:
        pytest.skip("planting a file of another owner needs root (chown)")
    app = SyncApp(wine, tmp_path, unique_name)
    app.run()
    planted = app.sync / "libs" / "app.jar"
    stat = planted.stat()
    planted.write_bytes(b"\0" * stat.st_size)  # same size and time: only its owner gives it away
    os.utime(planted, ns=(stat.st_mtime_ns, stat.st_mtime_ns))
    os.chown(planted, 12345, 12345)  # Wine names the owner of a file of another uid S-1-5-7
    result, _ = app.run()
    assert result.status == 0, result
    assert planted.read_bytes() == (app.source / "libs" / "app.jar").read_bytes()
    assert planted.stat().st_uid == os.geteuid()
