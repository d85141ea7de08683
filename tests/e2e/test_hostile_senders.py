"""A hostile program sends the running instance very many malformed hand-offs and oversized ones
(through the copydata-sender helper): the listener drops every malformed one, delivers each
valid one whole, and still delivers a real later start afterwards."""

import struct

import harness
from harness import require
from test_single_instance import SINGLE, TAG, RunningFirst, out, payload, single_app, trace_env


def sender():
    return require(harness.helper_exe("copydata-sender"), "e2e helper copydata-sender.exe")


def send(wine, messages):
    result = wine.run(sender(), [SINGLE, "--wait", "30000"] + messages, timeout=300)
    assert result.status == 0, (out(result), result.stderr_text)
    assert sum(line.startswith("sent ") for line in out(result).splitlines()) == len(messages)


def malformed(i):
    """One of several kinds of broken hand-off, chosen by i."""
    kinds = [
        f"{TAG}:-",                                                   # no data
        f"{TAG}:{(struct.pack('<i', -i - 1) + bytes(5)).hex()}",      # negative count
        f"{TAG}:{(struct.pack('<i', i + 2) + b'x' + bytes(6)).hex()}",  # count beyond the strings
        f"{TAG}:{(struct.pack('<i', 1) + b'abc' + bytes(5)).hex()}:{4 + i % 4}",  # cut short
        f"{TAG}:{(struct.pack('<i', 1) + b'a' + bytes(4) + bytes([1])).hex()}",  # tail not zero
        f"{i}:{payload([b'wrong tag']).hex()}",                       # not the forwarding tag
        "null",                                                       # no COPYDATASTRUCT at all
    ]
    return kinds[i % len(kinds)]


def test_very_many_malformed_hand_offs_leave_the_listener_delivering(wine, tmp_path, unique_name):
    exe = single_app(tmp_path, unique_name)
    first = RunningFirst(wine, tmp_path, exe)
    total = 0
    # Three senders of 1200 broken messages each (as many as a command line holds), each ending
    # with a valid one that must arrive.
    for round_ in range(3):
        messages = [malformed(i) for i in range(1200)] + [f"{TAG}:{payload([b'ok', str(round_).encode()]).hex()}"]
        send(wine, messages)
        total += len(messages)
    calls = first.trace.events("initSingleApplication")
    assert [call["args"] for call in calls] == [["ok", "0"], ["ok", "1"], ["ok", "2"]]
    assert first.trace.events("fault") == []

    env, _ = trace_env(wine, tmp_path / "later")
    assert wine.run(exe, ["after the flood"], env=env, cwd=tmp_path, timeout=120).status == 1
    assert first.trace.events("initSingleApplication")[-1]["args"] == ["after the flood"]
    done = first.finish()
    assert done.status == 0
    # The "null" ones never reach the handler's callback; every other message does.
    nulls = sum(malformed(i) == "null" for i in range(1200)) * 3
    assert out(done).count("Callback!!!\n") == total - nulls + 1


def test_oversized_hand_offs_are_delivered_whole_or_dropped(wine, tmp_path, unique_name):
    exe = single_app(tmp_path, unique_name)
    first = RunningFirst(wine, tmp_path, exe)
    many = [b"a%d" % i for i in range(2500)]
    long_one = [bytes([0x41 + i % 26 for i in range(14000)])]
    send(wine, [f"{TAG}:{payload(many).hex()}"])
    send(wine, [f"{TAG}:{payload(long_one).hex()}"])
    # As large, but the count claims one string more than there is: dropped.
    send(wine, [f"{TAG}:{(struct.pack('<i', 2501) + payload(many)[4:]).hex()}"])
    calls = first.trace.events("initSingleApplication")
    assert [call["args_hex"] for call in calls] == [[a.hex() for a in many], [long_one[0].hex()]]
    env, _ = trace_env(wine, tmp_path / "later")
    assert wine.run(exe, ["later"], env=env, cwd=tmp_path, timeout=120).status == 1
    assert first.trace.events("initSingleApplication")[-1]["args"] == ["later"]
    assert first.finish().status == 0
