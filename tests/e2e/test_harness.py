"""Self-tests of the Wine harness, driven by the helper probe.exe (not by the launcher)."""

import os
import shutil
import subprocess
import time
from pathlib import Path

import pytest

import harness
from harness import Wine, cp1252_decode, cp1252_encode

PROBE = harness.helper_exe("probe")


@pytest.fixture
def probe():
    # Only these self-tests skip on a missing artifact; launcher tests use harness.require().
    if not PROBE.exists() or not harness.helper_exe("run-status").exists():
        pytest.skip(f"e2e helpers not built in {PROBE.parent}")
    return PROBE


def hx(data) -> str:
    return (data if isinstance(data, bytes) else cp1252_encode(data)).hex()


def report(result) -> dict:
    """probe's "key value" lines: {key: [values...]} in order."""
    out = {}
    for line in result.stdout_text.splitlines():
        key, _, value = line.partition(" ")
        out.setdefault(key, []).append(value)
    return out


def test_full_32bit_exit_status(wine, probe):
    for status in (4294967295, 3000000000, 0, 1, 256):
        r = wine.run(probe, ["--exit", str(status)])
        assert r.status == status, r
    assert wine.run(probe, ["--exit", "4294967295"]).status_signed == -1


def test_stdout_and_stderr_separate_and_exact(wine, probe):
    out = b"first\r\nsecond\n\x00\x80\xff no newline"
    err = b"to stderr\n\xe9\r\n"
    r = wine.run(probe, ["--out", hx(out), "--err", hx(err), "--out", hx(b"+tail")])
    assert r.stdout == out + b"+tail"
    assert r.stderr == err
    assert r.stderr_text == "to stderr\n\u00e9\r\n"
    assert r.stdout_text.endswith("\u20ac\u00ff no newline+tail")
    assert r.boxes == []


def test_fatal_box_captured_and_pressed(wine, probe):
    r = wine.run(probe, ["--box", hx("Could not start the application.\n"), "--exit", "3"])
    assert r.fatal_boxes == [("Fatal Error", "Could not start the application.\n")]
    # MessageBoxA returned IDOK (1): the OK button was pressed, not the window closed.
    assert report(r)["box-result"] == ["1"]
    assert r.status == 3


def test_two_boxes_in_order_then_exit(wine, probe):
    r = wine.run(probe, ["--box", hx("one\n"), "--box-caption", "Other", hx("two"),
                         "--box", hx("three \xe9\n"), "--exit", "9"])
    assert [(b.caption, b.text) for b in r.boxes] == [("Fatal Error", "one\n"), ("Other", "two"),
                                                      ("Fatal Error", "three \xe9\n")]
    assert r.fatal_boxes == [("Fatal Error", "one\n"), ("Fatal Error", "three \xe9\n")]
    assert report(r)["box-result"] == ["1", "1", "1"]
    assert r.status == 9


def test_unpressed_box_blocks_until_timeout(wine, probe):
    with pytest.raises(harness.RunTimeout) as info:
        wine.run(probe, ["--box", hx("stuck\n"), "--exit", "5"], fatal_box=False, timeout=3)
    result = info.value.result
    assert result is not None and result.status != 5
    assert [(b.caption, b.text, b.pressed) for b in result.boxes] == [("Fatal Error", "stuck\n", False)]


def test_argument_bytes_arrive_exactly(wine, probe):
    high = bytes(range(0x80, 0x100))
    args = [b"--args", b"--", high, b"", b"a b", b'say "hi"', b"end\\", b"trail\\\\", b"\\\\srv\\x y\\",
            "caf\u00e9".encode("cp1252"), b""]
    r = wine.run(probe, args)
    seen = report(r)
    got = [bytes.fromhex(v.split(" ", 1)[1]) if " " in v else b"" for v in seen["arg"]]
    assert got[1:] == args
    assert seen["argc"] == [str(len(args) + 1)]
    # argv[0] is the exe as started, and the raw command line keeps the bytes above 127 as-is.
    assert got[0] == wine.to_windows(probe).encode()
    assert high in bytes.fromhex(seen["cmdline"][0])


def test_str_arguments_are_sent_as_cp1252(wine, probe):
    r = wine.run(probe, ["--args", "--", "\u20ac\u00e9\u00ff", "\x81"])
    got = [bytes.fromhex(v.split(" ", 1)[1]) for v in report(r)["arg"][3:]]
    assert got == [b"\x80\xe9\xff", b"\x81"]


def test_raw_cmdline(wine, probe):
    r = wine.run(probe, cmdline=b'fake-name.exe --args -- "x y" z\xe9')
    seen = report(r)
    assert bytes.fromhex(seen["cmdline"][0]) == b'fake-name.exe --args -- "x y" z\xe9'
    assert [bytes.fromhex(v.split(" ", 1)[1]) for v in seen["arg"]] == [b"fake-name.exe", b"--args", b"--",
                                                                        b"x y", b"z\xe9"]


def test_env_and_cwd_arrive(wine, probe, tmp_path, monkeypatch):
    monkeypatch.setenv("E2E_FROM_OUTSIDE", "inherited")
    cwd = tmp_path / "work dir"
    cwd.mkdir()
    r = wine.run(probe, ["--env", "E2E_VALUE", "--env", "E2E_FROM_OUTSIDE", "--env", "E2E_ABSENT", "--env",
                         "WINEDEBUG", "--cwd"],
                 env={"E2E_VALUE": "h\u00e9llo w\u00f6rld", "E2E_FROM_OUTSIDE": None}, cwd=cwd)
    env = report(r)["env"]
    assert env[0] == "E2E_VALUE " + hx(cp1252_encode("h\u00e9llo w\u00f6rld"))
    assert env[1] == "E2E_FROM_OUTSIDE unset"
    assert env[2] == "E2E_ABSENT unset"
    assert env[3] == "WINEDEBUG " + hx("-all")
    assert report(r)["cwd"] == [wine.to_windows(cwd)]


def test_winedebug_applies_to_the_program_only(wine, probe):
    r = wine.run(probe, ["--err", hx("own stderr\n")], env={"WINEDEBUG": "+loaddll"})
    # Wine's trace goes to the run's Wine log; the program's stderr stays exactly its own.
    assert r.stderr == b"own stderr\n"
    assert "probe.exe" in r.runner_log and "kernel32" in r.runner_log.lower()
    assert "run-status.exe" not in r.runner_log
    quiet = wine.run(probe, ["--exit", "0"])
    assert "loaddll" not in quiet.runner_log


def test_environment_bytes_arrive_exactly(wine, probe):
    r = wine.run(probe, ["--env", "E2E_BYTES"], env={"E2E_BYTES": b"\x80\x81 \xe9\xff=x"})
    assert report(r)["env"] == ["E2E_BYTES " + hx(b"\x80\x81 \xe9\xff=x")]


@pytest.mark.parametrize("side", ["first", "second"])
def test_prefixes_do_not_share_registry(wine, probe, side):
    # Whichever of the two runs second must not see the value the other one wrote.
    key = r"HKCU\Software\QuorviaE2E\Isolation"
    assert wine.reg_query(key, "Marker") is None
    wine.reg_add(key, "Marker", side)
    assert wine.reg_query(key, "Marker") == side
    wine.reg_add(key, "Count", 7, type="REG_DWORD")
    assert wine.reg_query(key, "Count") == "0x7"
    wine.reg_delete(key, "Count")
    assert wine.reg_query(key, "Count") is None
    wine.reg_delete(key)
    assert wine.reg_query(key, "Marker") is None


def test_two_live_prefixes_are_independent(wine, probe):
    other, _, _ = harness.new_wine("independence-peer")
    try:
        key = r"HKLM\Software\QuorviaE2E"
        wine.reg_add(key, "Only", "here")
        assert wine.reg_query(key, "Only") == "here"
        assert other.reg_query(key, "Only") is None
        (wine.drive_c / "ProgramData" / "marker.txt").write_text("x")
        r = other.run(probe, ["--exists", "C:\\ProgramData\\marker.txt"])
        assert report(r)["exists"] == ["C:\\ProgramData\\marker.txt 0"]
        r = wine.run(probe, ["--exists", "C:\\ProgramData\\marker.txt"])
        assert report(r)["exists"] == ["C:\\ProgramData\\marker.txt 1"]
    finally:
        other.close()
        shutil.rmtree(other.prefix.parent, ignore_errors=True)


def test_network_drive_is_remote(wine, probe, tmp_path):
    share = tmp_path / "share"
    share.mkdir()
    shutil.copy(probe, share / "probe.exe")
    root = wine.map_network_drive("x", share)
    assert root == "X:\\"
    r = wine.run("X:\\probe.exe", ["--drive-type", "X:\\", "--drive-type", "C:\\", "--module"])
    seen = report(r)
    assert seen["drive-type"] == ["X:\\ 4", "C:\\ 3"]  # DRIVE_REMOTE, DRIVE_FIXED
    assert seen["module"] == ["X:\\probe.exe"]


def test_unc_share_reaches_files(wine, probe, tmp_path):
    (tmp_path / "app.jar").write_bytes(b"PK")
    unc = wine.make_unc_share("FileServer", "Apps", tmp_path)
    assert unc == "\\\\FileServer\\Apps"
    r = wine.run(probe, ["--exists", unc + "\\app.jar", "--exists", unc + "\\missing.jar"])
    assert report(r)["exists"] == [unc + "\\app.jar 1", unc + "\\missing.jar 0"]


def test_background_start_wait_and_kill(wine, probe):
    slow = wine.start(probe, ["--sleep", "1500", "--out", hx("done"), "--exit", "7"])
    assert slow.pid > 0
    assert not slow.poll()
    r = slow.wait()
    assert (r.status, r.stdout) == (7, b"done")

    stuck = wine.start(probe, ["--sleep", "60000", "--exit", "0"])
    assert stuck.pid > 0
    started = time.monotonic()
    stuck.kill()
    r = stuck.wait(timeout=30)
    assert r.status == 1
    assert time.monotonic() - started < 30


def flaky_wine(tmp_path, failures: int, only: str = "", status: int = 1) -> str:
    """A stand-in for the wine command that exits with `status` (1: as Wine now and then does before
    the runner even starts) without a word `failures` times, and then runs the real one. With
    `only`, just the commands holding that text fail and are counted."""
    script = tmp_path / "flaky-wine"
    count = tmp_path / "flaky-count"
    script.write_text(f"""#!/bin/sh
case "$*" in *{only}*) ;; *) exec {harness.WINE} "$@" ;; esac
n=$(cat {count} 2>/dev/null || echo 0)
echo $((n + 1)) > {count}
[ "$n" -lt {failures} ] && exit {status}
exec {harness.WINE} "$@"
""")
    script.chmod(0o755)
    return str(script)


@pytest.mark.parametrize("traced", [False, True])
def test_runner_that_wine_failed_to_start_is_started_once_more(wine, probe, tmp_path, monkeypatch, traced):
    monkeypatch.setattr(harness, "WINE", flaky_wine(tmp_path, failures=1, only="run-status"))
    trace = harness.FileTrace(tmp_path / "client.txt") if traced else None
    r = wine.run(probe, ["--out", hx("ran"), "--exit", "3"], strace_to=trace and trace.path)
    assert (r.status, r.stdout) == (3, b"ran")
    assert (tmp_path / "flaky-count").read_text().strip() == "2"
    if traced:
        assert any(c.path and c.path.endswith("/probe.exe") for c in trace.calls())
    (tmp_path / "flaky-count").write_text("0")
    started = wine.start(probe, ["--exit", "0"])
    while not started.poll():  # the first runner's failure is not the end of the run
        time.sleep(0.05)
    assert (tmp_path / "flaky-count").read_text().strip() == "2"
    assert started.wait().status == 0


def test_wine_tool_that_wine_failed_to_start_is_run_once_more(wine, tmp_path, monkeypatch):
    monkeypatch.setattr(harness, "WINE", flaky_wine(tmp_path, failures=1))
    wine.reg_add(r"HKCU\Software\QuorviaE2E", "flaky", "ran")
    assert (tmp_path / "flaky-count").read_text().strip() == "2"
    assert wine.reg_query(r"HKCU\Software\QuorviaE2E", "flaky") == "ran"


def test_only_status_1_of_a_wine_tool_is_taken_for_a_failed_start_and_programs_need_the_runner(
        wine, probe, tmp_path, monkeypatch):
    # Status 3 without a word is what the program did, not Wine failing to start it.
    monkeypatch.setattr(harness, "WINE", flaky_wine(tmp_path, failures=1, status=3))
    assert wine.wine(["reg", "add", r"HKCU\Software\QuorviaE2E", "/f"], check=False).returncode == 3
    assert (tmp_path / "flaky-count").read_text().strip() == "1"
    # A program under test is never started through wine(), whose start may be made twice.
    for program in (str(probe), "probe.exe", wine.to_windows(probe)):
        with pytest.raises(harness.HarnessError):
            wine.wine([program, "--exit", "0"])
    assert (tmp_path / "flaky-count").read_text().strip() == "1"


def test_unicode_start_hands_a_folder_and_arguments_outside_the_code_page_over(wine, probe, tmp_path):
    folder = tmp_path / "日本語"
    folder.mkdir()
    shutil.copy(probe, folder / "probe.exe")
    r = wine.run(folder / "probe.exe", ["--module", "--args", "--", "é€"], cwd=folder, unicode=True)
    assert r.status == 0, r
    lines = report(r)
    # The probe reads them through its ANSI code page (1252): the folder's characters are not in it.
    assert lines["module"][0].endswith("\\???\\probe.exe"), lines["module"]
    assert lines["arg"][-1].split(" ")[1] == "e980"


def test_runner_that_never_starts_is_an_error(wine, probe, tmp_path, monkeypatch):
    monkeypatch.setattr(harness, "WINE", flaky_wine(tmp_path, failures=5))
    with pytest.raises(harness.HarnessError):
        wine.run(probe, ["--exit", "0"])
    assert (tmp_path / "flaky-count").read_text().strip() == "2"  # one more start, not a loop


def test_template_prefix_is_made_again_after_wine_exits_at_once(probe, tmp_path, monkeypatch, capsys):
    monkeypatch.setattr(harness, "e2e_root", lambda: tmp_path / "e2e")
    monkeypatch.setattr(harness, "_template_failure", None)
    monkeypatch.setattr(harness, "_wine_version", lambda: "flaky")  # so the first wine call is wineboot
    monkeypatch.setattr(harness, "WINE", flaky_wine(tmp_path, failures=1))
    template, _ = harness.ensure_template()
    assert "trying once more" in capsys.readouterr().err
    assert (template / ".e2e-ready").exists()
    assert '"Graphics"="null"' in (template / "user.reg").read_text("utf-8", "replace")
    assert [p.name for p in (tmp_path / "e2e").iterdir() if ".tmp" in p.name] == []


def test_strace_sees_file_operations(wine, probe, tmp_path):
    traced = tmp_path / "traced-marker.exe"
    shutil.copy(probe, traced)
    with wine.strace_server() as trace:
        wine.run(probe, ["--exit", "0"])  # warm-up: the services of the prefix start here
        trace.mark()
        wine.run(traced, ["--exit", "0"])
    server_paths = trace.paths("openat")
    # The server opens the image being started; the warm-up's probe.exe was before the mark.
    assert any(p.endswith("/traced-marker.exe") for p in server_paths), server_paths[:40]
    assert not any(p.endswith("/probe.exe") for p in server_paths)

    # Existence checks happen in the program's own process: trace the client side for those.
    client = harness.FileTrace(tmp_path / "client.txt")
    wine.run(probe, ["--exists", wine.to_windows(tmp_path / "absent.jar")], strace_to=client.path)
    stats = [c for c in client.calls() if c.path and c.path.endswith("/absent.jar")]
    assert stats and all(c.name in ("openat", "newfstatat", "statx") for c in stats)


def test_strace_calls_interrupted_by_another_thread_are_joined():
    # Wine programs run several threads: under load strace splits a call around another one.
    text = ('100 1.5 newfstatat(AT_FDCWD</w>, "/t/absent.jar",  <unfinished ...>\n'
            '101 1.6 openat(3</t>, "other", O_RDONLY) = 4</t/other>\n'
            '100 1.7 <... newfstatat resumed>0x7ffc, 0) = -1 ENOENT (No such file or directory)\n'
            '102 1.8 <... openat resumed>) = 5\n')
    calls = harness.parse_strace(text)
    assert [(c.pid, c.name, c.path, c.time) for c in calls] == [
        (101, "openat", "/t/other", 1.6), (100, "newfstatat", "/t/absent.jar", 1.5)]
    assert calls[1].result.startswith("-1 ENOENT")


def test_x11_prefix_draws_to_xvfb(wine_x11, probe, tmp_path):
    r = wine_x11.run(probe, ["--box", hx("on screen\n")], timeout=60)
    assert r.fatal_boxes == [("Fatal Error", "on screen\n")]
    shot = wine_x11.screenshot(tmp_path / "shot.png")
    size = subprocess.run(["identify", "-format", "%w %h", str(shot)], capture_output=True, text=True, check=True)
    assert size.stdout.split() == ["1280", "1024"]
    assert wine_x11.env()["DISPLAY"] == wine_x11.display
    assert wine_x11.reg_query(r"HKCU\Software\Wine\Drivers", "Graphics") is None


def test_warm_probe_run_time(wine, probe, record_property):
    wine.run(probe, ["--exit", "0"])  # first run of a prefix starts its services
    times = []
    for _ in range(5):
        started = time.monotonic()
        wine.run(probe, ["--exit", "0"])
        times.append(time.monotonic() - started)
    record_property("e2e_warm_probe_s", round(min(times), 3))
    print(f"\n[e2e] warm probe run: min {min(times):.3f}s max {max(times):.3f}s")
    assert min(times) < 5, times


def test_path_mapping():
    w = Wine(Path("/srv/pfx"), Path("/srv/work"))
    assert w.to_windows("/srv/pfx/drive_c/ProgramData/x.txt") == "C:\\ProgramData\\x.txt"
    assert w.to_windows("/tmp/a b/c.exe") == "Z:\\tmp\\a b\\c.exe"
    assert w.to_linux("C:\\ProgramData\\x.txt") == Path("/srv/pfx/drive_c/ProgramData/x.txt")
    assert w.to_linux("z:\\tmp\\c.exe") == Path("/tmp/c.exe")
    env = w.env({"A": "1", "WINEDEBUG": None})
    assert env["WINEPREFIX"] == "/srv/pfx" and env["A"] == "1" and "WINEDEBUG" not in env
    assert "DISPLAY" not in env


def test_cp1252_matches_windows():
    every = bytes(range(256))
    assert cp1252_encode(cp1252_decode(every)) == every
    assert cp1252_decode(b"\x80\x81\x9f") == "\u20ac\x81\u0178"


def test_pack_options_map_to_flags():
    args = harness._pack_args(dict(main_class="a.Main", classes=["x.jar", Path("y.jar")], md5=True,
                                   init_heap_percent=10, splash=None, raw_text=[("CONF", 101, "c.txt")]))
    assert args == ["--main-class", "a.Main", "--classes", "x.jar", "--classes", "y.jar", "--md5",
                    "--init-heap-percent", "10", "--raw-text", "CONF=101:c.txt"]


def test_require_fails_instead_of_skipping(tmp_path):
    with pytest.raises(pytest.fail.Exception, match="missing"):
        harness.require(tmp_path / "nope.exe", "launcher.exe")
    assert harness.require(tmp_path) == tmp_path
