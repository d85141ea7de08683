"""The sync mirror driven by an index that quorvia-pack --index wrote on the share: an unchanged start
reads only the index on the server, a new generation copies only what changed, and an application
never sees two generations mixed, even when the share is republished while it is mirrored."""

import hashlib
import os
import shutil
import subprocess
import time
from pathlib import Path

import harness
from harness import require
from launcher_output import err
from test_sync_mirror import SyncApp, gated_server, server_opens, tree, write_tree  # noqa: F401

INDEX = "quorvia-sync.index"


def publish(source: Path, files: dict):
    """Replaces the share's tree with files, then indexes it: an administrator's publishing."""
    for entry in source.iterdir():
        shutil.rmtree(entry) if entry.is_dir() else entry.unlink()
    write_tree(source, files)
    run = subprocess.run([str(require(harness.pack_tool())), "--index", str(source)], capture_output=True,
                         timeout=120)
    assert run.returncode == 0, run.stderr


def files_of(root: Path):
    return {rel: entry for rel, entry in tree(root).items() if entry is not None and rel != INDEX}


def mirror_holds(app, files: dict) -> bool:
    """The mirror's files are exactly these, with this content."""
    return {rel: data for rel, (data, _) in files_of(app.sync).items()} == files


def test_index_unchanged_start_opens_only_the_index_and_a_new_generation_copies_only_what_changed(
        wine, tmp_path, unique_name):
    jar = require(harness.test_app("app.jar")).read_bytes()
    files = {"libs/app.jar": jar, "conf/settings.xml": b"<settings/>", "data/a.txt": b"a", "data/b.txt": b"b",
             "data/gone.txt": b"removed in the next version"}
    app = SyncApp(wine, tmp_path, unique_name, files={})
    publish(app.source, files)
    result, trace = app.run()
    assert result.status == 0, result
    assert mirror_holds(app, files)
    assert app.class_path(trace) == ["", f"{app.sync_win}\\libs\\app.jar"]

    with wine.strace_server() as server:
        result, _ = app.run()
    assert result.status == 0, result
    source_opens = [p for p, _ in server_opens(server.path) if "unc/srv/share/app" in p]
    assert [p.rsplit("/", 1)[-1] for p in source_opens] == [INDEX], source_opens

    changed = dict(files, **{"data/b.txt": b"B, longer now"})
    del changed["data/gone.txt"]
    publish(app.source, changed)
    with wine.strace_server() as server:
        result, trace = app.run()
    assert result.status == 0, result
    source_opens = [p.rsplit("app/", 1)[-1] for p, _ in server_opens(server.path) if "unc/srv/share/app/" in p]
    # The head names a new generation: the whole index is read, then the one changed file copied.
    assert source_opens == [INDEX, INDEX, "data/b.txt"], source_opens
    assert mirror_holds(app, changed)
    assert app.class_path(trace) == ["", f"{app.sync_win}\\libs\\app.jar"]


def generation(number: int, jar: bytes) -> dict:
    """One version of the application: every file differs from the other versions', and its own jar
    name tells on the class path which version the VM was given."""
    files = {"libs/app.jar": jar, f"libs/gen{number}.jar": jar}
    for name in ("a", "gate", "m", "z"):
        files[f"data/{name}.txt"] = f"{name} of generation {number}".encode()
    return files


def test_share_republished_mid_refresh_gives_the_application_one_whole_generation(
        wine, tmp_path, unique_name, gated_server):
    jar = require(harness.test_app("app.jar")).read_bytes()
    gens = {n: generation(n, jar) for n in (1, 2, 3)}
    app = SyncApp(wine, tmp_path, unique_name, files={})
    publish(app.source, gens[1])
    assert app.run()[0].status == 0
    assert mirror_holds(app, gens[1])

    publish(app.source, gens[2])
    log = tmp_path / "gate-strace.txt"
    gated_server(wine.prefix / "dosdevices" / "unc" / "srv" / "share" / "app" / "data" / "gate.txt", 6, log)
    hold = tmp_path / "release-main"
    running, trace = app.start(env={"QUORVIA_TEST_MAIN": f"wait-file:{wine.to_windows(hold)}"}, timeout=240)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not (log.exists() and "gate.txt" in log.read_text(errors="replace")):
        time.sleep(0.05)
    assert "gate.txt" in log.read_text(errors="replace"), "the refresh never opened data/gate.txt"
    # The copy of data/gate.txt is stalled: the administrator publishes generation 3 under it.
    publish(app.source, gens[3])

    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not trace.events("wait_file"):
        time.sleep(0.1)
    assert trace.events("wait_file"), "main was never reached"
    # What the running VM has: its class path, and the files of the mirror it runs from.
    class_path = app.class_path(trace)
    seen = {rel: data for rel, (data, _) in files_of(app.sync).items()}
    hold.write_text("go")
    result = running.wait()
    assert result.status == 0, result

    whole = [n for n in gens if seen == gens[n]]
    assert len(whole) == 1, f"the mirror mixes generations: {sorted(seen.items())}"
    n = whole[0]
    assert class_path == ["", f"{app.sync_win}\\libs\\app.jar", f"{app.sync_win}\\libs\\gen{n}.jar"], class_path


def hand_written_index(source: Path, rels: list) -> bytes:
    """The index of these files as the format defines it, for a tree --index refuses to index."""
    names = sorted((rel.replace("/", "\\") for rel in rels), key=lambda name: name.replace("\\", "\x01").upper())
    lines = ""
    for name in names:
        path = source / name.replace("\\", "/")
        filetime = path.stat().st_mtime_ns // 100 + 116444736000000000
        lines += f"{hashlib.sha256(path.read_bytes()).hexdigest()} {path.stat().st_size} {filetime} {name}\n"
    generation = hashlib.sha256(lines.encode()).hexdigest()
    return f"quorvia-sync-index 1\ngeneration {generation}\nentries {len(names)}\n{lines}end\n".encode()


def test_index_naming_a_file_windows_cannot_hold_leaves_the_mirror_and_the_app_starts_from_it(
        wine, tmp_path, unique_name):
    jar = require(harness.test_app("app.jar")).read_bytes()
    files = {"libs/app.jar": jar, "data/a.txt": b"a"}
    app = SyncApp(wine, tmp_path, unique_name, files={})
    publish(app.source, files)
    assert app.run()[0].status == 0
    assert mirror_holds(app, files)

    # The next version holds a file named CON: --index refuses the tree, so its index is written by hand.
    write_tree(app.source, {"data/a.txt": b"a, changed", "CON": b"a device name on Windows"})
    refused = subprocess.run([str(require(harness.pack_tool())), "--index", str(app.source)], capture_output=True,
                             timeout=120)
    assert refused.returncode != 0 and b"/CON: the name can't be indexed" in refused.stderr, refused
    (app.source / INDEX).write_bytes(hand_written_index(app.source, ["libs/app.jar", "data/a.txt", "CON"]))

    result, trace = app.run()
    assert result.status == 0, result
    assert (f"Ignored {app.unc}\\{INDEX}: it is not a whole sync index; the mirror stays as it is\n"
            in err(result)), err(result)
    assert mirror_holds(app, files)
    assert app.class_path(trace) == ["", f"{app.sync_win}\\libs\\app.jar"]
    assert trace.events("main"), "the application started from the mirror it had"
