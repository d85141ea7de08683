"""Another account never gets its code run. The launcher keeps every file of an application in the
application's own folder of the cache, made private to the user, and uses it only when no other
account owns it or may change it (otherwise the user's own cache folder); files another process holds
open are judged by their real owner; code that could not be brought up to date ends the start; no
temporary file is written through a link; and the mirror survives a crash and a start without the share.

Another account is played by files of another Unix uid, whose owner Wine names S-1-5-7; "others may
change it" by the mode's "other" bits, which Wine reads as an Everyone entry of the DACL."""

import contextlib
import hashlib
import os
import shutil
import time
from pathlib import Path

import pytest

import harness
from harness import make_app, require
from launcher_output import err, out, reached_main
from runtime_trace import traced_env
from test_sync_index import publish
from test_sync_mirror import SyncApp, tree

FOREIGN = 12345
needs_root = pytest.mark.skipif(os.geteuid() != 0, reason="playing another account needs root (chown)")


def app_jar() -> bytes:
    return require(harness.test_app("app.jar")).read_bytes()


def other_jar() -> bytes:
    """A jar without the application's main class: had the VM been given it, main would not be reached."""
    return require(harness.test_app("agent.jar")).read_bytes()


def digest() -> str:
    return hashlib.md5(app_jar()).hexdigest().upper()


def machine_cache(wine) -> Path:
    return wine.drive_c / "ProgramData" / ".quorvia" / "cache"


def user_cache(wine) -> Path:
    found = list(wine.drive_c.glob("users/*/AppData/Local/.quorvia/cache"))
    assert len(found) == 1, found
    return found[0]


def foreign(path: Path) -> Path:
    os.chown(path, FOREIGN, FOREIGN, follow_symlinks=False)
    return path


@contextlib.contextmanager
def held_open(wine, tmp_path: Path, path: Path, exclusive=False):
    """Another process holds the file open (read and write sharing, as Java opens jars) meanwhile."""
    ready, stop = tmp_path / f"ready-{path.name}", tmp_path / f"stop-{path.name}"
    args = [wine.to_windows(path), wine.to_windows(ready), wine.to_windows(stop)] + (["exclusive"] if exclusive else [])
    holder = wine.start(require(harness.helper_exe("hold-open")), args, timeout=120)
    deadline = time.monotonic() + 30
    while not ready.exists():
        assert time.monotonic() < deadline and not holder.poll(), "the holder did not open the file"
        time.sleep(0.05)
    try:
        yield
    finally:
        stop.write_text("stop")
        holder.wait()


def run(wine, exe, tmp_path, label, env=None):
    folder = tmp_path / label
    folder.mkdir()
    trace_env, trace = traced_env(wine, folder, env)
    return wine.run(exe, cwd=tmp_path, env=trace_env), trace


def class_path(trace):
    return [entry for entry in trace.one("create")["classpath"] if entry]


# ---------------------------------------------------------------------------------------------
# The application folder


def test_application_folder_is_made_private_and_holds_the_jar_cache(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App")
    result, trace = run(wine, exe, tmp_path, "first")
    assert reached_main(result), result
    folder = machine_cache(wine) / unique_name
    status = folder.stat()
    assert status.st_uid == os.geteuid()
    # Wine keeps a DACL as mode bits: no entry lets anyone but the user, SYSTEM and Administrators change it.
    assert status.st_mode & 0o022 == 0, oct(status.st_mode)
    assert class_path(trace) == [wine.to_windows(folder / f"{unique_name}.{digest()}.dat")]


@needs_root
@pytest.mark.parametrize("unsafe", ["another account's", "others may change it", "a link"])
def test_unsafe_application_folder_sends_the_cache_to_the_users_own_folder(wine, tmp_path, unique_name, unsafe):
    exe = make_app(tmp_path, name=unique_name, classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App")
    folder = machine_cache(wine) / unique_name
    machine_cache(wine).mkdir(parents=True)
    planted_folder = tmp_path / "planted" if unsafe == "a link" else folder
    planted_folder.mkdir()
    planted = planted_folder / f"{unique_name}.{digest()}.dat"
    planted.write_bytes(other_jar())
    if unsafe == "a link":
        os.symlink(planted_folder, folder)
    elif unsafe == "another account's":
        foreign(planted)
        foreign(folder)
    else:
        folder.chmod(0o777)
    result, trace = run(wine, exe, tmp_path, "start", {"_JAVA_LAUNCHER_DEBUG": "1"})
    assert reached_main(result), result
    mine = user_cache(wine) / unique_name / f"{unique_name}.{digest()}.dat"
    assert class_path(trace) == [wine.to_windows(mine)]
    assert mine.read_bytes() == app_jar()
    assert planted.read_bytes() == other_jar()
    assert f"Not using the cache folder {wine.to_windows(folder)}" in out(result)


# ---------------------------------------------------------------------------------------------
# Files held open by another process are judged by their owner


@needs_root
def test_planted_jar_held_open_at_the_old_cache_name_never_reaches_the_class_path(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App")
    machine_cache(wine).mkdir(parents=True)
    planted = machine_cache(wine) / f"{unique_name}.{digest()}.dat"  # where the jar cache used to lie
    planted.write_bytes(other_jar())
    foreign(planted)
    with held_open(wine, tmp_path, planted):
        result, trace = run(wine, exe, tmp_path, "start")
    assert reached_main(result), result
    assert wine.to_windows(planted) not in class_path(trace)
    assert planted.read_bytes() == other_jar()


@needs_root
def test_cache_file_of_another_account_held_open_is_not_trusted(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App")
    assert reached_main(run(wine, exe, tmp_path, "first")[0])
    cached = machine_cache(wine) / unique_name / f"{unique_name}.{digest()}.dat"
    cached.write_bytes(other_jar())  # another account's jar under this digest's name
    foreign(cached)
    with held_open(wine, tmp_path, cached):
        result, trace = run(wine, exe, tmp_path, "held")
    # It can't be replaced while held, and it is not used: the start ends.
    assert result.status == 1, result
    assert result.fatal_boxes == [("Fatal Error", "Could not save cache.\n")]
    assert trace.events("create") == []
    assert "belongs to another account" in err(result)


@needs_root
def test_start_up_archive_of_another_account_held_open_is_not_given_to_the_vm(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App", startup_cache=True)
    (tmp_path / "jre" / "release").write_text('JAVA_VERSION="25"\n')
    assert reached_main(run(wine, exe, tmp_path, "first")[0])
    archive = next((machine_cache(wine) / unique_name).glob("*.aot"))
    foreign(archive)
    with held_open(wine, tmp_path, archive):
        result, trace = run(wine, exe, tmp_path, "held")
    assert reached_main(result), result
    assert not [text for text in trace.option_texts() if archive.name in text]


@needs_root
def test_libs_jar_of_another_account_held_open_ends_the_start(wine, tmp_path, unique_name):
    app = SyncApp(wine, tmp_path, unique_name)
    assert app.run()[0].status == 0
    planted = app.sync / "libs" / "app.jar"
    planted.write_bytes(other_jar() + b"-longer")  # another size: it differs from the share's
    foreign(planted)
    with held_open(wine, tmp_path, planted):
        result, trace = app.run()
    assert result.status == 1, result
    assert trace.events("create") == []
    assert [box[0] for box in result.fatal_boxes] == ["Fatal Error"]


# ---------------------------------------------------------------------------------------------
# The mirror by index


def indexed_app(wine, tmp_path, name, files):
    app = SyncApp(wine, tmp_path, name, files={}, runtime="mirror")
    publish(app.source, dict(files, **{f"jre/{rel}": data for rel, (data, _) in
                                        ((r, e) for r, e in tree(app.source / "jre").items() if e is not None)}))
    return app


def test_code_the_index_does_not_list_is_removed_before_the_vm_loads(wine, tmp_path, unique_name):
    app = indexed_app(wine, tmp_path, unique_name, {"libs/app.jar": app_jar(), "conf/app.cfg": b"x=1\n"})
    assert app.run()[0].status == 0
    # Beside jvm.dll, under the name of a DLL that jvm.dll imports: loaded first, were it left there.
    planted = app.sync / "jre" / "bin" / "server" / "quorvia_testdep.dll"
    shutil.copyfile(require(harness.windows_build_dir() / "e2e-planted" / "planted.dll"), planted)
    extra_jar = app.sync / "libs" / "extra.jar"
    extra_jar.write_bytes(other_jar())
    marker = tmp_path / "planted-marker.txt"
    result, trace = app.run(env={"QUORVIA_PLANTED_MARKER": app.wine.to_windows(marker)})
    assert result.status == 0, result
    assert reached_main(result)
    assert not planted.exists() and not extra_jar.exists()
    assert not marker.exists()
    assert app.class_path(trace) == ["", f"{app.sync_win}\\libs\\app.jar"]


@needs_root
def test_new_generation_never_takes_a_file_of_another_account(wine, tmp_path, unique_name):
    files = {"libs/app.jar": app_jar(), "conf/app.cfg": b"x=1\n", "data/a.txt": b"a"}
    app = SyncApp(wine, tmp_path, unique_name, files={})
    publish(app.source, files)
    assert app.run()[0].status == 0
    foreign(app.sync / "conf" / "app.cfg")  # the right content, but another account's file
    publish(app.source, dict(files, **{"data/a.txt": b"a, version 2"}))
    result, _ = app.run()
    assert result.status == 0, result
    assert (app.sync / "conf" / "app.cfg").stat().st_uid == os.geteuid()
    assert (app.sync / "data" / "a.txt").read_bytes() == b"a, version 2"


def test_links_at_every_old_temporary_name_are_never_written_through(wine, tmp_path, unique_name):
    files = {"libs/app.jar": app_jar(), "data/a.txt": b"a"}
    app = SyncApp(wine, tmp_path, unique_name, files={})
    publish(app.source, files)
    assert app.run()[0].status == 0
    victims = tmp_path / "victims"
    victims.mkdir()
    folders = [app.sync.parent, app.sync, app.sync / "libs", app.sync / "data"]
    # The names earlier versions wrote through: "~sync.{process id}.tmp", for every id Wine hands out here.
    for number, folder in enumerate(folders):
        victim = victims / f"victim{number}"
        victim.write_bytes(b"outside the cache")
        for pid in range(0, 4096, 4):
            os.symlink(victim, folder / f"~sync.{pid}.tmp")
    publish(app.source, dict(files, **{"data/a.txt": b"a, version 2", "data/b.txt": b"b"}))
    result, _ = app.run()
    assert result.status == 0, result
    assert (app.sync / "data" / "a.txt").read_bytes() == b"a, version 2"
    assert [victim.read_bytes() for victim in sorted(victims.iterdir())] == [b"outside the cache"] * len(folders)


# ---------------------------------------------------------------------------------------------
# A crash, then starts without the share


@pytest.mark.parametrize("indexed", [True, False])
def test_crash_between_the_renames_then_a_start_without_the_share_keeps_the_mirror(
        wine, tmp_path, unique_name, indexed):
    files = {"libs/app.jar": app_jar(), "data/a.txt": b"a"}
    app = SyncApp(wine, tmp_path, unique_name, files={} if indexed else files)
    if indexed:
        publish(app.source, files)
    assert app.run()[0].status == 0
    record = app.sync.parent / "sync.generation"
    assert record.exists() == indexed
    before = tree(app.sync)
    inode = (app.sync / "data" / "a.txt").stat().st_ino
    app.sync.rename(app.sync.parent / "sync.old")  # the crash, between a switch's two renames
    share = app.wine.prefix / "dosdevices" / "unc" / "srv" / "share"
    target = os.readlink(share)
    share.unlink()
    result, trace = app.run(env={"_JAVA_LAUNCHER_DEBUG": "1"})
    assert result.status == 0, result
    assert "can't be reached: starting from the mirror as it is" in out(result)
    assert tree(app.sync) == before
    assert app.class_path(trace) == ["", f"{app.sync_win}\\libs\\app.jar"]
    assert record.exists() == indexed
    os.symlink(target, share)
    result, _ = app.run()
    assert result.status == 0, result
    assert (app.sync / "data" / "a.txt").stat().st_ino == inode, "mirrored again although nothing changed"
