"""The JarPath mode under Wine: a jar beside a launcher started from a local folder is used in
place; started from a network drive, the jar is copied into the cache and copied again only when
its size or last-write time changed; an earlier copy serves while the network jar is missing."""

import os
import shutil
import time
from pathlib import Path

import harness
from harness import make_app, require
from runtime_trace import traced_env
from launcher_output import out

KEY1 = "SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment"
T0 = 1_600_000_000 * 10**9


class JarApp:
    """tmp_path/net/NAME.exe with JAR-PATH lib\\app.jar; the folder is the network drive X: when
    `network`, otherwise it is started through its local C: path."""

    def __init__(self, wine, tmp_path: Path, name: str, network: bool, jar_path="lib\\app.jar"):
        self.wine, self.tmp_path, self.name = wine, tmp_path, name
        shutil.copytree(require(harness.test_runtime_dir()), wine.drive_c / "rt")
        wine.reg_add("HKLM\\" + KEY1, "CurrentVersion", "1.8")
        wine.reg_add("HKLM\\" + KEY1 + "\\1.8", "JavaHome", "C:\\rt")
        self.folder = (tmp_path / "net") if network else (wine.drive_c / "apps")
        make_app(self.folder, name=name, runtime=False, jar_path=jar_path, main_class="com.example.App")
        self.jar = self.folder / "lib" / "app.jar"
        self.jar.parent.mkdir(parents=True, exist_ok=True)
        self.jar.write_bytes(require(harness.test_app("app.jar")).read_bytes())
        os.utime(self.jar, ns=(T0, T0))
        self.exe_win = wine.map_network_drive("X", self.folder) + f"{name}.exe" if network \
            else f"C:\\apps\\{name}.exe"
        self.root = wine.drive_c / "ProgramData" / ".quorvia" / "cache"
        self.cache = self.root / name  # the application's own folder
        self.copy = self.cache / f"{name}.dat"
        self.copy_win = f"C:\\ProgramData\\.quorvia\\cache\\{name}\\{name}.dat"
        self.runs = 0

    def _env(self, extra):
        self.runs += 1
        folder = self.tmp_path / f"trace{self.runs}"
        folder.mkdir()
        env, trace = traced_env(self.wine, folder)
        env.update(extra or {})
        return env, trace

    def run(self, env=None):
        env, trace = self._env(env)
        return self.wine.run(self.exe_win, cwd=self.tmp_path, env=env), trace

    def start(self, env=None):
        env, trace = self._env(env)
        return self.wine.start(self.exe_win, cwd=self.tmp_path, env=env, timeout=120), trace


def test_local_jar_is_used_in_place_and_nothing_is_copied(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=False)
    result, trace = app.run()
    assert result.status == 0, result
    assert "test runtime: main com.example.App\n" in out(result)
    assert trace.one("create")["classpath"] == ["", f"C:\\apps\\lib\\app.jar"]
    assert not app.root.exists() or [p.name for p in app.root.iterdir()] == [], "nothing is written to the cache"


def test_absolute_jar_path_is_still_appended_to_the_exe_folder(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=False, jar_path="C:\\apps\\lib\\app.jar")
    result, trace = app.run()
    assert trace.one("create")["classpath"] == ["", "C:\\apps\\C:\\apps\\lib\\app.jar"]
    assert result.status == 1  # that path names no file: the main class can't be loaded
    assert result.fatal_boxes == []


def test_network_jar_is_copied_once_and_again_only_when_size_or_time_change(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=True)
    result, trace = app.run()
    assert result.status == 0, result
    assert trace.one("create")["classpath"] == ["", app.copy_win]  # once
    assert app.copy.read_bytes() == app.jar.read_bytes()
    assert app.copy.stat().st_mtime_ns == T0

    def marked_copy():
        # A byte changed in the copy, keeping its size and time, shows whether it was replaced.
        data = bytearray(app.copy.read_bytes())
        data[-1] ^= 0xFF
        stamp = app.copy.stat().st_mtime_ns
        app.copy.write_bytes(bytes(data))
        os.utime(app.copy, ns=(stamp, stamp))
        return bytes(data)

    marked = marked_copy()
    app.run()  # the marked copy is no longer a readable jar: this start's status says nothing
    assert app.copy.read_bytes() == marked, "equal size and time: no copy, whatever the content"

    os.utime(app.jar, ns=(T0 + 10**9, T0 + 10**9))  # later
    assert app.run()[0].status == 0
    assert app.copy.read_bytes() == app.jar.read_bytes()
    assert app.copy.stat().st_mtime_ns == T0 + 10**9

    marked_copy()
    os.utime(app.jar, ns=(T0 - 10**9, T0 - 10**9))  # earlier
    assert app.run()[0].status == 0
    assert app.copy.read_bytes() == app.jar.read_bytes()

    marked_copy()
    stamp = app.jar.stat().st_mtime_ns
    stored = require(harness.test_app("app-stored.jar")).read_bytes()  # the same classes, stored
    assert len(stored) != app.jar.stat().st_size
    app.jar.write_bytes(stored)  # size, same time
    os.utime(app.jar, ns=(stamp, stamp))
    assert app.run()[0].status == 0
    assert app.copy.read_bytes() == app.jar.read_bytes()


def test_missing_network_jar_starts_from_the_earlier_copy(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=True)
    assert app.run()[0].status == 0
    app.jar.unlink()
    result, trace = app.run()
    assert result.status == 0, result
    assert trace.one("create")["classpath"] == ["", app.copy_win]


def test_copy_held_open_by_a_running_instance_is_never_run_in_place_of_a_changed_jar(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=True)
    gate = tmp_path / "release"
    first, first_trace = app.start(env={"QUORVIA_TEST_MAIN": f"wait-file:{wine.to_windows(gate)}"})
    try:
        deadline = time.monotonic() + 60
        # The VM is created after the copy was made, with the copy on its class path.
        while not first_trace.events("create") and time.monotonic() < deadline:
            time.sleep(0.1)
        old = app.copy.read_bytes()
        # Unchanged, the copy held open is judged by its size and time and used.
        unchanged, trace = app.run()
        assert unchanged.status == 0, unchanged
        assert trace.one("create")["classpath"] == ["", app.copy_win]
        os.utime(app.jar, ns=(T0 + 5 * 10**9,) * 2)  # changed: a copy is due but the VM holds the old one
        second, trace = app.run()
        assert second.status == 1, second
        assert f"Could not replace {app.copy_win} with a copy of" in second.stderr_text
        assert second.fatal_boxes == [("Fatal Error", "Could not save cache.\n")]
        assert trace.events("create") == []
        assert app.copy.read_bytes() == old
    finally:
        gate.write_text("go")
        first.wait()
    assert app.run()[0].status == 0
    assert app.copy.stat().st_mtime_ns == T0 + 5 * 10**9, "refreshed once nothing holds it"


def test_too_long_jar_path_gives_no_jar_rather_than_a_cut_path(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=False, jar_path="j" * 250 + ".jar")
    result, trace = app.run()
    assert trace.one("create")["classpath"] == [""]
    assert result.status == 1
    assert result.fatal_boxes == []


def test_link_at_the_copy_name_is_replaced_not_written_through(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=True)
    outside = tmp_path / "outside.jar"
    outside.write_bytes(b"their own file")
    app.cache.mkdir(parents=True)
    os.symlink(outside, app.copy)
    result, trace = app.run()
    assert result.status == 0, result
    assert outside.read_bytes() == b"their own file"
    assert not app.copy.is_symlink()
    assert app.copy.read_bytes() == app.jar.read_bytes()


def test_orphan_temporary_file_is_gone_after_the_next_start(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=True)
    app.cache.mkdir(parents=True)
    orphan = app.cache / f"~{unique_name}.99999996.tmp"  # no process of that id runs
    orphan.write_bytes(b"cut short by a crash")
    orphan.chmod(0o444)  # a copy of a read-only jar is read-only too
    assert app.run()[0].status == 0
    assert not orphan.exists()


def big_jar(path: Path, size: int) -> bytes:
    """The test app's classes and a large stored entry: a jar the test runtime reads as a zip."""
    import zipfile
    with zipfile.ZipFile(require(harness.test_app("app.jar"))) as src, zipfile.ZipFile(path, "w") as dst:
        for info in src.infolist():
            dst.writestr(info, src.read(info.filename))
        dst.writestr(zipfile.ZipInfo("pad.bin"), os.urandom(size), compress_type=zipfile.ZIP_STORED)
    return path.read_bytes()


def linux_pid_of(exe_name: str) -> int:
    for entry in Path("/proc").iterdir():
        try:
            cmdline = (entry / "cmdline").read_bytes()
        except (OSError, ValueError):
            continue
        if entry.name.isdigit() and exe_name.encode() in cmdline and b"run-status" not in cmdline:
            return int(entry.name)
    raise AssertionError(f"no process of {exe_name}")


def test_start_during_a_refresh_or_after_a_crash_in_it_never_loads_a_cut_copy(wine, tmp_path, unique_name):
    import signal
    app = JarApp(wine, tmp_path, unique_name, network=True)
    assert app.run()[0].status == 0
    old = app.copy.read_bytes()
    data = big_jar(tmp_path / "big.jar", 200 * 1024 * 1024)  # the test runtime reads jars up to 256 MiB
    app.jar.write_bytes(data)
    first, _ = app.start()
    # Stop the first start in the middle of its copy: a temporary file, or the copy itself, half written.
    deadline = time.monotonic() + 60
    cut = None
    while cut is None and time.monotonic() < deadline and not first.poll():
        for path in app.cache.iterdir():
            size = path.stat().st_size if path.exists() else 0
            if 0 < size < len(data) and (path.name.startswith("~") or (path == app.copy and size != len(old))):
                cut = path
                break
    assert cut is not None, "the copy was never seen under way"
    pid = linux_pid_of(f"{unique_name}.exe")
    os.kill(pid, signal.SIGSTOP)
    away = app.jar.with_name("away.jar")
    try:
        assert 0 < cut.stat().st_size < len(data)
        app.jar.rename(away)  # the network jar can't be had: the copy in the cache serves
        second, trace = app.run()
        assert trace.events("classpath_error") == [], "a start during the copy loaded a cut jar"
        assert second.status == 0, second
        assert trace.one("create")["classpath"] == ["", app.copy_win]
    finally:
        os.kill(pid, signal.SIGKILL)  # a crash in the middle of the copy
        os.kill(pid, signal.SIGCONT)
        first.wait()
    third, trace = app.run()
    assert trace.events("classpath_error") == [], "a start after the crash loaded a cut jar"
    assert third.status == 0, third
    assert app.copy.read_bytes() == old, "the interrupted copy left the earlier one whole"
    assert [p.name for p in app.cache.iterdir()] == [app.copy.name], "the orphan temporary file is gone"
    away.rename(app.jar)
    assert app.run()[0].status == 0
    assert app.copy.read_bytes() == data


def test_network_jar_missing_without_an_earlier_copy_is_named(wine, tmp_path, unique_name):
    app = JarApp(wine, tmp_path, unique_name, network=True)
    app.jar.unlink()
    result, trace = app.run()
    assert result.status == 1, result
    assert result.fatal_boxes == [("Fatal Error", "Could not save cache.\nThe application's jar X:\\lib\\app.jar "
                                   "was not found, and no earlier copy is in the cache.\n")]
    assert "create" not in trace.names()
