"""The service launcher under Wine's Service Control Manager: -install, sc start, sc query, sc stop,
-uninstall, with the test runtime standing in for the VM."""

import re
import subprocess
import time
import zipfile

from harness import make_app, repo_root, windows_build_dir
from launcher_output import err, out
from runtime_trace import Trace


def service_launcher():
    return windows_build_dir() / "launcher-service.exe"


def query(wine, name):
    """(state, win32 exit code, service exit code) from `sc query`, or None when it is not installed."""
    r = wine.wine(["sc", "query", name], check=False)
    if r.returncode != 0:
        return None
    text = r.stdout.decode("cp1252").replace("\r", "")
    fields = {key: int(value) for key, value in re.findall(r"(STATE|WIN32_EXIT_CODE|SERVICE_EXIT_CODE)\s+:\s+(\d+)", text)}
    return fields["STATE"], fields["WIN32_EXIT_CODE"], fields["SERVICE_EXIT_CODE"]


def wait_state(wine, name, state, limit):
    """Polls `sc query` until the state shows or `limit` seconds pass; the last answer and the time taken."""
    start = time.monotonic()
    while True:
        seen = query(wine, name)
        if (seen and seen[0] == state) or time.monotonic() - start > limit:
            return seen, time.monotonic() - start
        time.sleep(0.1)


def sample_jar(tmp_path):
    """The Heartbeat sample, compiled and jarred as its README says."""
    classes = tmp_path / "sample-classes"
    source = repo_root() / "samples" / "service" / "src" / "com" / "quorvia" / "sample" / "Heartbeat.java"
    subprocess.run(["javac", "--release", "8", "-d", str(classes), str(source)], check=True, capture_output=True)
    jar = tmp_path / "heartbeat.jar"
    with zipfile.ZipFile(jar, "w") as z:
        for path in sorted(classes.rglob("*.class")):
            z.write(path, path.relative_to(classes).as_posix())
    return jar


def service_app(wine, tmp_path, name, environment, main_class="com.example.ServiceApp", classes=None, **options):
    """A packed service exe with the test runtime, and the environment services get set to
    `environment` (services take theirs from the registry, not from whoever starts them)."""
    for key, value in environment.items():
        wine.reg_add(r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment", key, value)
    wine.restart_server()  # services.exe reads that environment once, when it starts
    return make_app(tmp_path, name="Svc", launcher=service_launcher(), main_class=main_class,
                    classes=str(classes or windows_build_dir() / "test-apps" / "app.jar"), service=name, **options)


def start_and_wait_running(wine, name):
    assert wine.wine(["sc", "start", name], check=False).returncode == 0
    seen, _ = wait_state(wine, name, 4, 15)
    assert seen == (4, 0, 0)


def stop_and_time(wine, name, limit=30):
    """`sc stop` and the seconds from it until `sc query` shows STOPPED, with the final answer."""
    start = time.monotonic()
    assert wine.wine(["sc", "stop", name], check=False).returncode == 0
    seen, _ = wait_state(wine, name, 1, limit)
    return seen, time.monotonic() - start


def test_installed_service_runs_in_its_folder_and_stops_through_its_stop_method(wine, tmp_path):
    trace = Trace(tmp_path / "trace.jsonl")
    exe = service_app(wine, tmp_path, "QvStopMethod", {"QUORVIA_TEST_TRACE": wine.to_windows(trace.path),
                                                      "QUORVIA_TEST_MAIN": "serve"},
                      service_stop="com.example.ServiceApp.stop", service_display_name="Quorvia Stop Method",
                      log="service.log")
    assert query(wine, "QvStopMethod") is None
    r = wine.run(exe, ["-install"])
    assert r.status == 0 and out(r) == "Installed the service QvStopMethod (Quorvia Stop Method).\n", r
    key = r"HKLM\System\CurrentControlSet\Services\QvStopMethod"
    assert wine.reg_query(key, "ImagePath") == f'"{wine.to_windows(exe)}" -service'
    assert wine.reg_query(key, "ObjectName") == r"NT AUTHORITY\LocalService"
    assert err(wine.run(exe, ["-install"])) == "The service QvStopMethod is already installed.\n"
    assert query(wine, "QvStopMethod") == (1, 1077, 0)

    start_and_wait_running(wine, "QvStopMethod")
    assert trace.one("create")["cwd"].rstrip("\\") == wine.to_windows(tmp_path)
    seen, seconds = stop_and_time(wine, "QvStopMethod")
    print(f"sc stop to STOPPED: {seconds:.2f} s")
    assert seen == (1, 0, 0)
    assert seconds < 5
    stop = [e for e in trace.events("call") if e["name"] == "stop"]
    assert [(e["class"], e["sig"]) for e in stop] == [("com/example/ServiceApp", "([Ljava/lang/String;)V")]
    attached = [e for e in trace.events("attach") if e.get("name") == "Service stop"]
    assert [e["thread"] for e in attached] == [stop[0]["thread"]]
    # The VM ended by itself once the worker stopped: hooks ran, and nobody forced an exit.
    assert trace.names()[-2:] == ["shutdown_hooks", "destroyed"]
    assert trace.events("exit") == []
    # No console: the application's stdout reaches the log file beside the exe.
    assert "test runtime: main com.example.ServiceApp" in (tmp_path / "service.log").read_text(encoding="latin-1")

    r = wine.run(exe, ["-uninstall"])
    assert r.status == 0 and out(r) == "Uninstalled the service QvStopMethod.\n", r
    assert query(wine, "QvStopMethod") is None
    assert err(wine.run(exe, ["-uninstall"])) == "The service QvStopMethod is not installed.\n"


def test_failures_show_in_the_exit_codes_and_a_clean_stop_exits_the_vm(wine, tmp_path):
    trace = Trace(tmp_path / "trace.jsonl")
    exe = service_app(wine, tmp_path, "QvExit", {"QUORVIA_TEST_TRACE": wine.to_windows(trace.path),
                                                "QUORVIA_TEST_MAIN": "serve"})
    assert wine.run(exe, ["-install"]).status == 0
    # Without a stop method the stop is the VM's own exit, shutdown hooks included.
    start_and_wait_running(wine, "QvExit")
    seen, seconds = stop_and_time(wine, "QvExit")
    assert seen == (1, 0, 0) and seconds < 5
    assert [(e["code"], e["via"]) for e in trace.events("exit")] == [(0, "System.exit")]
    assert trace.events("shutdown_hooks")[-1]["via"] == "System.exit"
    # Packed without --log: the output goes to the service's application folder.
    log = wine.drive_c / "ProgramData" / ".quorvia" / "cache" / "Svc" / "Svc.log"
    assert "test runtime: main com.example.ServiceApp" in log.read_text(encoding="latin-1")

    for plan, expected in [("sleep:300,exit:3", (1, 1066, 3)), ("throw", (1, 1066, 1))]:
        wine.reg_add(r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment", "QUORVIA_TEST_MAIN", plan)
        wine.restart_server()
        wait_state(wine, "QvExit", 1, 15)  # the restarted service manager answers before it is asked to start
        assert wine.wine(["sc", "start", "QvExit"], check=False).returncode == 0
        seen, _ = wait_state(wine, "QvExit", 1, 15)
        assert seen == expected, plan
        assert out(wine.run(exe, ["-status"])) == f"QvExit: stopped, exit code {expected[2]}\n"
    assert wine.run(exe, ["-uninstall"]).status == 0


def test_a_stop_that_hangs_ends_at_its_timeout(wine, tmp_path):
    trace = Trace(tmp_path / "trace.jsonl")
    exe = service_app(wine, tmp_path, "QvHang", {"QUORVIA_TEST_TRACE": wine.to_windows(trace.path),
                                                "QUORVIA_TEST_MAIN": "serve", "QUORVIA_TEST_STOP": "hang"},
                      service_stop="com.example.ServiceApp.stop", service_stop_timeout="2")
    assert wine.run(exe, ["-install"]).status == 0
    start_and_wait_running(wine, "QvHang")
    seen, seconds = stop_and_time(wine, "QvHang", limit=15)
    assert seen == (1, 0, 0)
    assert 2 <= seconds < 5
    assert [e["name"] for e in trace.events("call")] == ["stop"]
    assert "destroyed" not in trace.names()
    assert wine.run(exe, ["-uninstall"]).status == 0


def test_the_sample_manages_its_own_service(wine, tmp_path):
    # The stand-in VM runs no bytecode: "serve" plays the sample's worker, which ends when the
    # sample's stop method is called.
    trace = Trace(tmp_path / "trace.jsonl")
    exe = service_app(wine, tmp_path, "QvManage", {"QUORVIA_TEST_TRACE": wine.to_windows(trace.path),
                                                  "QUORVIA_TEST_MAIN": "serve"},
                      main_class="com.quorvia.sample.Heartbeat", classes=sample_jar(tmp_path),
                      service_stop="com.quorvia.sample.Heartbeat.stop", service_start="demand")
    assert wine.run(exe, ["-install"]).status == 0
    assert wine.reg_query(r"HKLM\System\CurrentControlSet\Services\QvManage", "Start") == "0x3"
    for round in range(2):  # started, stopped, and started again
        r = wine.run(exe, ["-start"])
        assert (r.status, out(r)) == (0, "Started the service QvManage.\n"), r
        assert re.fullmatch(r"QvManage: running, process \d+\n", out(wine.run(exe, ["-status"])))
        assert err(wine.run(exe, ["-start"])) == "The service QvManage is already running.\n"
        started = time.monotonic()
        r = wine.run(exe, ["-stop"])  # returns once the service is stopped
        print(f"sample: -stop to stopped {time.monotonic() - started:.2f} s")
        assert (r.status, out(r)) == (0, "Stopped the service QvManage.\n"), r
    assert len(trace.events("main")) == 2
    assert [e["class"] for e in trace.events("call") if e["name"] == "stop"] == ["com/quorvia/sample/Heartbeat"] * 2
    assert out(wine.run(exe, ["-status"])) == "QvManage: stopped\n"
    assert err(wine.run(exe, ["-stop"])) == "The service QvManage is not running.\n"
    # Any other argument runs the application in the console, as a developer tries it.
    r = wine.run(exe, ["console-try"], env={"QUORVIA_TEST_TRACE": wine.to_windows(trace.path), "QUORVIA_TEST_MAIN": "return"})
    assert r.status == 0
    assert trace.events("main")[-1]["args"] == ["console-try"]
    assert wine.run(exe, ["-uninstall"]).status == 0
