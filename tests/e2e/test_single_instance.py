"""Single instance with two and more real launcher processes: a later start of a single-instance
application hands its arguments to the running instance's listener and ends with status 1; the
listener delivers them to initSingleApplication on its own attached thread and drops malformed
hand-offs (sent by the copydata-sender helper) without stopping."""

import shutil
import struct
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

import harness
from harness import make_app, require
from runtime_trace import Trace
from launcher_output import out

SINGLE = "com.example.SingleApp"
TAG = 0xCAFE


def app_jar():
    return require(harness.test_app("app.jar"))


def trace_env(wine, folder: Path, extra=None):
    """Environment tracing into folder/trace.jsonl (one trace per process); returns (env, Trace)."""
    folder.mkdir(parents=True, exist_ok=True)
    path = folder / "trace.jsonl"
    env = {"QUORVIA_TEST_TRACE": wine.to_windows(path)}
    env.update(extra or {})
    return env, Trace(path)


def wait_until(condition, what, timeout=90):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


def payload(arguments):
    """The forwarded-arguments payload, built independently of the launcher."""
    body = b"".join(argument + b"\0" for argument in arguments)
    return struct.pack("<i", len(arguments)) + body + b"\0" * 5


class RunningFirst:
    """A first instance whose main waits for a gate file, so it stays up while later starts come."""

    def __init__(self, wine, tmp_path, exe, name="first", args=()):
        self.wine = wine
        self.gate = tmp_path / f"{name}.gate"
        self.env, self.trace = trace_env(wine, tmp_path / name,
                                         {"QUORVIA_TEST_MAIN": f"wait-file:{wine.to_windows(self.gate)}"})
        self.running = wine.start(exe, args, env=self.env, cwd=tmp_path, timeout=300)
        # The listener window exists before main is called, so a start seen in main is ready.
        wait_until(lambda: self.trace.events("main") or self.running.poll(), f"{name} to reach main")
        assert self.trace.events("main"), (self.trace.records(), self._early_result())

    def _early_result(self):
        result = self.running.wait(timeout=10)
        return result.status, out(result), result.stderr_text

    def finish(self):
        self.gate.write_bytes(b"")
        return self.running.wait(timeout=120)


def single_app(tmp_path, name, folder=None, main_class=SINGLE, classes=None):
    return make_app(folder or tmp_path, name=name, main_class=main_class, classes=classes or app_jar())


def check_delivered_on_listener_thread(trace, expected):
    """initSingleApplication ran once with exactly these bytes, on another thread than main, which
    was attached for the call and detached after it."""
    main = trace.one("main")
    call = trace.one("initSingleApplication")
    assert call["class"] == "com/example/SingleApp"
    assert call["args_hex"] == [argument.hex() for argument in expected]
    # Read with the VM's platform encoding (Cp1252 under Wine), not with its UTF-8 default charset.
    assert call["args"] == [argument.decode("cp1252") for argument in expected]
    assert call["main_thread"] is False
    assert call["attached"] is True
    listener = call["thread"]
    assert listener != main["thread"]
    records = trace.records()
    at = records.index(call)
    attaches = [i for i, r in enumerate(records) if r["event"] == "attach" and r.get("thread") == listener]
    detaches = [i for i, r in enumerate(records) if r["event"] == "detach" and r.get("thread") == listener]
    assert attaches and attaches[-1] < at, records
    assert [i for i in detaches if i > at], records


@pytest.mark.parametrize("round_", range(3))
def test_second_start_forwards_its_arguments_and_ends(wine, tmp_path, unique_name, round_):
    exe = single_app(tmp_path, unique_name)
    first = RunningFirst(wine, tmp_path, exe, args=["one"])

    arguments = [b"plain", b"", b"caf\xe9 \xfc\x80\xff", b"two words"]
    env, second_trace = trace_env(wine, tmp_path / "second")
    second = wine.run(exe, arguments, env=env, cwd=tmp_path, timeout=120)

    assert second.status == 1, (out(second), second.stderr_text)
    assert second.fatal_boxes == []
    assert second_trace.events("main") == []
    lookups = [r for r in second_trace.events("getstaticmethodid") if r["name"] == "initSingleApplication"]
    assert lookups and lookups[0]["found"] is True
    # The later start still tears its own VM down.
    assert second_trace.events("destroy")

    check_delivered_on_listener_thread(first.trace, arguments)
    # Between requests the listener is not attached: everything it attached, it detached.
    listener = first.trace.one("initSingleApplication")["thread"]
    records = first.trace.records()
    assert sum(r["event"] == "attach" and r.get("thread") == listener for r in records) == \
        sum(r["event"] == "detach" and r.get("thread") == listener for r in records)

    result = first.finish()
    assert result.status == 0, (out(result), result.stderr_text)
    assert out(result).count("Callback!!!\n") == 1
    assert first.trace.one("main")["args"] == ["one"]


def test_no_arguments_and_another_exe_name_still_reach_the_running_instance(wine, tmp_path, unique_name):
    exe = single_app(tmp_path, unique_name)
    first = RunningFirst(wine, tmp_path, exe)
    # Same application under another file name: the listener is found by class, not by exe.
    other = tmp_path / f"{unique_name}-copy.exe"
    shutil.copyfile(exe, other)

    env, later = trace_env(wine, tmp_path / "later")
    result = wine.run(exe, [], env=env, cwd=tmp_path, timeout=120)
    assert result.status == 1
    env, renamed = trace_env(wine, tmp_path / "renamed")
    result = wine.run(other, [b"from-copy"], env=env, cwd=tmp_path, timeout=120)
    assert result.status == 1
    assert later.events("main") == [] and renamed.events("main") == []

    calls = first.trace.events("initSingleApplication")
    assert [call["args"] for call in calls] == [[], ["from-copy"]]
    assert all(call["main_thread"] is False and call["attached"] is True for call in calls)
    assert first.finish().status == 0


def other_single_jar(tmp_path):
    """A jar with a second single-instance main class, other.SoloApp."""
    javac = shutil.which("javac") or "/usr/lib/jvm/java-17-openjdk-amd64/bin/javac"
    source_dir = tmp_path / "solo-src"
    (source_dir / "other").mkdir(parents=True)
    (source_dir / "other" / "SoloApp.java").write_text(
        "package other;\n"
        "public class SoloApp {\n"
        "    public static void main(String[] args) {}\n"
        "    public static void initSingleApplication(String[] args) {}\n"
        "}\n")
    classes = tmp_path / "solo-classes"
    subprocess.run([javac, "--release", "8", "-d", str(classes), str(source_dir / "other" / "SoloApp.java")],
                   check=True, capture_output=True)
    jar = tmp_path / "solo.jar"
    with zipfile.ZipFile(jar, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n")
        archive.write(classes / "other" / "SoloApp.class", "other/SoloApp.class")
    return jar


def test_different_main_classes_do_not_see_each_other(wine, tmp_path, unique_name):
    # Same exe file name, other folder: only the main class names the mutex and the listener.
    exe = single_app(tmp_path, unique_name, folder=tmp_path / "single")
    solo = single_app(tmp_path, unique_name, folder=tmp_path / "solo", main_class="other.SoloApp",
                      classes=other_single_jar(tmp_path))
    first = RunningFirst(wine, tmp_path, exe, name="single")

    env, solo_trace = trace_env(wine, tmp_path / "solo-run")
    result = wine.run(solo, ["x"], env=env, cwd=tmp_path, timeout=120)
    # A first instance of its own: it starts its listener and runs main, and ends normally.
    assert result.status == 0, (out(result), result.stderr_text)
    assert solo_trace.one("main")["args"] == ["x"]
    assert first.trace.events("initSingleApplication") == []

    # While the solo application runs, a start of SingleApp still reaches only SingleApp.
    solo_first = RunningFirst(wine, tmp_path, solo, name="solo-first")
    env, later = trace_env(wine, tmp_path / "later")
    assert wine.run(exe, ["y"], env=env, cwd=tmp_path, timeout=120).status == 1
    assert [call["args"] for call in first.trace.events("initSingleApplication")] == [["y"]]
    assert solo_first.trace.events("initSingleApplication") == []
    assert solo_first.finish().status == 0
    assert first.finish().status == 0


def test_application_without_init_single_application_simply_runs_twice(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App", classes=app_jar())
    first = RunningFirst(wine, tmp_path, exe)
    env, second_trace = trace_env(wine, tmp_path / "second")
    second = wine.run(exe, ["again"], env=env, cwd=tmp_path, timeout=120)
    assert second.status == 0, (out(second), second.stderr_text)
    assert second_trace.one("main")["args"] == ["again"]
    assert second_trace.one("main")["main_thread"] is True
    assert first.trace.events("initSingleApplication") == []
    result = first.finish()
    assert result.status == 0
    assert "Callback!!!" not in out(result)


def test_malformed_hand_offs_are_dropped_and_the_listener_keeps_running(wine, tmp_path, unique_name):
    exe = single_app(tmp_path, unique_name)
    first = RunningFirst(wine, tmp_path, exe)
    sender = require(harness.helper_exe("copydata-sender"), "e2e helper copydata-sender.exe")

    valid = payload([b"valid", b"", b"\xe9"])
    messages = [
        f"0:{valid.hex()}",                                        # not the forwarding tag
        f"{TAG}:-",                                                # tag without data
        f"{TAG}:{(struct.pack('<i', -1) + bytes(5)).hex()}",       # negative count
        f"{TAG}:{(struct.pack('<i', 3) + b'a' + bytes(6)).hex()}",  # count beyond the strings
        f"{TAG}:{(struct.pack('<i', 1) + b'abc' + bytes(5)).hex()}:7",  # string cut before its NUL
        f"{TAG}:{(struct.pack('<i', 2) + b'a').hex()}:3",          # cbData below 4
        f"{TAG}:{(struct.pack('<i', 0x7fffffff) + b'a' + bytes(5)).hex()}",  # huge count
        f"{TAG}:{valid.hex()}",                                    # and a valid one after all that
    ]
    result = wine.run(sender, [SINGLE, "--wait", "30000"] + messages, timeout=120)
    assert result.status == 0, (out(result), result.stderr_text)
    assert len([line for line in out(result).splitlines() if line.startswith("sent ")]) == len(messages), out(result)

    calls = first.trace.events("initSingleApplication")
    assert [call["args_hex"] for call in calls] == [[b"valid".hex(), "", b"\xe9".hex()]]
    assert calls[0]["args"] == ["valid", "", "\xe9"]
    # Nothing was touched in the VM for the rejected ones: one attach and one detach of the listener.
    listener = calls[0]["thread"]
    records = first.trace.records()
    assert sum(r["event"] == "attach" and r.get("thread") == listener for r in records) == 1
    assert sum(r["event"] == "detach" and r.get("thread") == listener for r in records) == 1
    assert first.trace.events("fault") == []

    # Still listening afterwards: a real later start is delivered too.
    env, _ = trace_env(wine, tmp_path / "later")
    assert wine.run(exe, ["last"], env=env, cwd=tmp_path, timeout=120).status == 1
    assert [call["args"] for call in first.trace.events("initSingleApplication")][-1] == ["last"]

    done = first.finish()
    assert done.status == 0
    assert out(done).count("Callback!!!\n") == len(messages) + 1


def test_simultaneous_starts_find_exactly_one_first_instance(wine, tmp_path, unique_name):
    exe = single_app(tmp_path, unique_name)
    gate = tmp_path / "gate"
    count = 4
    starts = []
    for i in range(count):
        env, trace = trace_env(wine, tmp_path / f"start{i}",
                               {"QUORVIA_TEST_MAIN": f"wait-file:{wine.to_windows(gate)}"})
        starts.append((wine.start(exe, [f"start{i}"], env=env, cwd=tmp_path, timeout=300), trace))

    # Every start but one forwards and ends on its own; the first waits in main for the gate.
    wait_until(lambda: sum(running.poll() for running, _ in starts) >= count - 1, "the later starts to end",
               timeout=240)
    time.sleep(1)  # would a second first instance also be waiting in main?
    firsts = [trace for running, trace in starts if trace.events("main")]
    assert len(firsts) == 1, [trace.names() for _, trace in starts]
    later = [(running, trace) for running, trace in starts if not trace.events("main")]
    for running, trace in later:
        result = running.wait(timeout=60)
        assert result.status == 1, (out(result), result.stderr_text)

    gate.write_bytes(b"")
    for running, trace in starts:
        if trace.events("main"):
            assert running.wait(timeout=120).status == 0
    # What reached the first instance came from the later starts only, each at most once.
    received = [call["args"] for call in firsts[0].events("initSingleApplication")]
    sent = [[f"start{i}"] for i, (_, trace) in enumerate(starts) if not trace.events("main")]
    assert all(args in sent for args in received) and len(received) == len({tuple(a) for a in received})
