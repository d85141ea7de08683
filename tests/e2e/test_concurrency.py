"""Sixteen starts at once of one packaged exe on an empty cache: every start reaches main, the
cache ends with exactly one complete copy of the embedded jar, and no start reports a failure."""

import hashlib

import harness
from harness import make_app, require
from launcher_output import out


def test_sixteen_first_starts_at_once_with_an_embedded_jar(wine, tmp_path, unique_name):
    jar = require(harness.test_app("app.jar"))
    exe = make_app(tmp_path, name=unique_name, runtime=True, classes=jar, main_class="com.example.App")
    cache = wine.drive_c / "ProgramData" / ".quorvia" / "cache" / unique_name  # the application's folder
    assert not cache.exists()
    # Each start stays in main a little, so that the later ones meet files being written and
    # files held open by a running VM.
    env = {"QUORVIA_TEST_MAIN": "sleep:1500"}
    running = [wine.start(exe, cwd=tmp_path, env=env, timeout=300) for _ in range(16)]
    results = [r.wait() for r in running]
    for result in results:
        assert "test runtime: main com.example.App\n" in out(result), result
        assert result.status == 0, result
        assert result.fatal_boxes == [], result
        assert "Unable to write cache buffer" not in result.stderr_text, result
    digest = hashlib.md5(jar.read_bytes()).hexdigest().upper()
    assert sorted(p.name for p in cache.iterdir()) == [f"{unique_name}.{digest}.dat"]
    # Not truncated: byte for byte the jar.
    assert (cache / f"{unique_name}.{digest}.dat").read_bytes() == jar.read_bytes()
    # A later start finds the file complete and uses it without writing.
    warm = wine.run(exe, cwd=tmp_path)
    assert "GetClassFrom REsource" not in out(warm)
    assert warm.status == 0
