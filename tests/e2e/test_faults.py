"""Faults of the embedded-jar cache: a disk that fills up part way through the write, and a cache
folder that can't be written. Each start ends in the documented outcome ("Could not save cache.",
exit status 1, or the cached jar when it is already there), and no incomplete file is left for a
later start to take as the jar.

The faults are real file systems: a size-limited or read-only tmpfs mounted over the application's
folder in the cache, private to the user as the launcher makes it (needs root, as in CI; skipped
otherwise). A machine-wide cache that can't be written at all sends the launcher to the user's own
cache folder instead."""

import contextlib
import hashlib
import os
import subprocess

import pytest

import harness
from harness import make_app, require
from launcher_output import err, out


def jar():
    return require(harness.test_app("app.jar"))


def digest():
    return hashlib.md5(jar().read_bytes()).hexdigest().upper()


def cache_dir(wine):
    return wine.drive_c / "ProgramData" / ".quorvia" / "cache"


def app_folder(wine, name):
    return cache_dir(wine) / name


@contextlib.contextmanager
def tmpfs(path, options):
    path.mkdir(parents=True, exist_ok=True)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", str(path)],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {mounted.stderr.strip()}")
    try:
        yield path
    finally:
        # The test's Wine processes may still hold the folder; a lazy unmount always succeeds.
        subprocess.run(["umount", "-l", str(path)], check=False)


def remount(path, options):
    subprocess.run(["mount", "-o", "remount," + options, str(path)], check=True)


def app(tmp_path, name):
    return make_app(tmp_path, name=name, runtime=True, classes=jar(), main_class="com.example.App")


def test_disk_full_during_the_cache_write_leaves_no_incomplete_jar(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    size = len(jar().read_bytes())
    assert size > 4096, "the jar must be larger than the one page left"
    cached = app_folder(wine, unique_name) / f"{unique_name}.{digest()}.dat"
    with tmpfs(app_folder(wine, unique_name), "size=256k,mode=0755") as cache:
        # Leave less room than the jar needs.
        filler = cache / "filler"
        fd = os.open(filler, os.O_WRONLY | os.O_CREAT)
        try:
            with contextlib.suppress(OSError):
                while True:
                    os.write(fd, b"\0" * 4096)
        finally:
            os.close(fd)
        os.truncate(filler, filler.stat().st_size - 4096)
        result = wine.run(exe, cwd=tmp_path, timeout=120)
        assert result.status == 1, result
        assert "Unable to write cache buffer\n" in err(result), result
        assert result.fatal_boxes == [("Fatal Error", "Could not save cache.\n")]
        assert "test runtime: main" not in out(result)
        # Either nothing or a complete jar under the name; never a cut one.
        assert not cached.exists() or cached.read_bytes() == jar().read_bytes()
        # Room again: the next start writes the whole jar and reaches main.
        filler.unlink()
        again = wine.run(exe, cwd=tmp_path, timeout=120)
        assert "test runtime: main com.example.App\n" in out(again), again
        assert cached.read_bytes() == jar().read_bytes()


def test_read_only_cache_folder_ends_the_first_start_and_serves_a_cached_jar(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    cached = app_folder(wine, unique_name) / f"{unique_name}.{digest()}.dat"
    with tmpfs(app_folder(wine, unique_name), "size=1m,mode=0755") as cache:
        remount(cache, "ro")
        first = wine.run(exe, cwd=tmp_path, timeout=120)
        assert first.status == 1, first
        assert "Unable to write cache buffer\n" in err(first), first
        assert first.fatal_boxes == [("Fatal Error", "Could not save cache.\n")]
        assert list(cache.iterdir()) == []
        # Writable once, the jar gets cached; read-only again, later starts still use it.
        remount(cache, "rw")
        warmup = wine.run(exe, cwd=tmp_path, timeout=120)
        assert "test runtime: main com.example.App\n" in out(warmup), warmup
        remount(cache, "ro")
        warm = wine.run(exe, cwd=tmp_path, timeout=120)
        assert "test runtime: main com.example.App\n" in out(warm), warm
        assert warm.status == 0
        assert cached.read_bytes() == jar().read_bytes()


def test_read_only_machine_wide_cache_sends_the_jar_to_the_users_own_cache(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    with tmpfs(cache_dir(wine), "size=1m,mode=0755") as cache:
        remount(cache, "ro")
        result = wine.run(exe, cwd=tmp_path, timeout=120)
        assert "test runtime: main com.example.App\n" in out(result), result
        assert list(cache.iterdir()) == []
        users = list(wine.drive_c.glob(f"users/*/AppData/Local/.quorvia/cache/{unique_name}/{unique_name}.*.dat"))
        assert [path.read_bytes() for path in users] == [jar().read_bytes()]
