"""Settings changed after installation: the options file beside the exe, a per-user file, includes,
${NAME} expansion, default arguments, the working folder, and the log file of a GUI exe and of a console exe."""

import time

import harness
from harness import make_app, require
from launcher_output import err, out
from runtime_trace import traced_env


def installed_app(tmp_path, name, **options):
    folder = tmp_path / "Program Files" / name
    return make_app(folder, name=name, main_class="com.example.App", classes=require(harness.test_app("app.jar")),
                    options_file=True, **options), folder


def test_one_user_raises_the_heap_over_the_machine_file_and_the_packed_value(wine, tmp_path, unique_name):
    exe, folder = installed_app(tmp_path, unique_name, vm_options="-Xmx256m", expand_env=True,
                                class_path="${LIBS}\\packed.jar",
                                user_options_file="${APPDATA}\\Vendor\\app.options",
                                arguments='--packed "two words"', working_dir="exe", log="${LOGS}\\app.log")
    (folder / f"{unique_name}.options").write_bytes(
        b"\xef\xbb\xbf# machine-wide\r\n-Xmx1g\r\n-Dsite=${SITE}\r\nclass-path-append=beside.jar\r\n"
        b"argument=beside\r\ninclude=site.options\r\n")
    (folder / "site.options").write_text("class-path-prepend=first.jar\n")
    profile = tmp_path / "Roaming" / "Vendor"
    profile.mkdir(parents=True)
    (profile / "app.options").write_text("-Xmx4g\nargument=user\n")
    logs = tmp_path / "logs"
    logs.mkdir()
    elsewhere = tmp_path / "desktop"
    elsewhere.mkdir()

    env, trace = traced_env(wine, tmp_path, {"APPDATA": wine.to_windows(tmp_path / "Roaming"), "SITE": "north",
                                             "LIBS": "L:\\libs", "LOGS": wine.to_windows(logs),
                                             "QUORVIA_TEST_MAIN": "throw"})
    result = wine.run(exe, ["own"], env=env, cwd=elsewhere)
    assert result.status == 1, result  # the application's exception

    options = trace.option_texts()
    heap = [text for text in options if text.startswith("-Xmx")]
    assert heap[-3:] == ["-Xmx256m", "-Xmx1g", "-Xmx4g"], "the user's file comes last, so the VM takes its heap"
    assert "-Dsite=north" in options
    class_path = next(text for text in options if text.startswith("-Djava.class.path="))
    assert class_path.startswith("-Djava.class.path=;first.jar;")
    # The packed entries end with their own ";", as the class path resource always does.
    assert class_path.endswith(";L:\\libs\\packed.jar;;beside.jar")
    assert trace.one("main")["args"] == ["--packed", "two words", "beside", "user", "own"]
    assert trace.one("create")["cwd"].rstrip("\\") == wine.to_windows(folder)

    log = (logs / "app.log").read_text(encoding="latin-1")
    assert "Quorvia Launcher (Quorvia Ltd.) Version 3.0" in log, "the launcher's own messages"
    assert "test runtime: main com.example.App" in log, "the application's stdout"
    assert 'Exception in thread "main" java.lang.RuntimeException: test failure' in log, "and its stderr"
    assert "test runtime: main" not in result.stdout_text


def test_a_typo_names_file_and_line_in_a_box_or_on_stderr(wine, tmp_path, unique_name):
    gui, folder = installed_app(tmp_path, unique_name)
    (folder / f"{unique_name}.options").write_text("-Xmx1g\nXmx2g\n")
    result = wine.run(gui, cwd=tmp_path)
    assert result.status == 1
    path = wine.to_windows(folder / f"{unique_name}.options")
    assert result.fatal_boxes[-1][1].startswith(f"{path}, line 2: not an option"), result

    console, folder = installed_app(tmp_path / "c", unique_name + "c",
                                    launcher=require(harness.console_launcher_exe(), "launcher-console.exe"))
    (folder / f"{unique_name}c.options").write_text("include=${NOT_SET_HERE}\\x\n")
    result = wine.run(console, cwd=tmp_path)
    assert result.status == 1 and not result.fatal_boxes
    assert f"{unique_name}c.options, line 1: the environment variable NOT_SET_HERE is not set" in err(result)


def test_a_gui_exe_with_a_log_that_ends_before_main_names_the_log_in_its_box(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, runtime=False, main_class="com.example.App", log="app.log")
    result = wine.run(exe, cwd=tmp_path)
    assert result.status == 2
    box = result.fatal_boxes[-1][1]
    assert box.startswith("Error: could not find Java 2 Runtime Environment")
    assert f"The log file {wine.to_windows(tmp_path / 'app.log')} holds the details." in box
    assert "could not find Java 2 Runtime Environment" in (tmp_path / "app.log").read_text(encoding="latin-1")


def test_a_utf8_file_reaches_an_exe_without_utf8_in_its_code_page(wine, tmp_path, unique_name):
    place = "-Dplace=Bibliothèque"
    cases = [("utf8", place.encode("utf-8"), place.encode("cp1252")),
             ("ansi", place.encode("cp1252"), place.encode("cp1252")),  # an older Notepad's "ANSI"
             ("cjk", "-Dplace=日本".encode("utf-8"), None)]
    for label, content, expected in cases:
        name = f"{unique_name}{label}"
        exe, folder = installed_app(tmp_path / label, name,
                                    launcher=require(harness.console_launcher_exe(), "launcher-console.exe"))
        (folder / f"{name}.options").write_bytes(content + b"\r\n")
        env, trace = traced_env(wine, tmp_path / label)
        result = wine.run(exe, cwd=tmp_path, env=env)
        if expected is None:
            assert result.status == 1, label
            assert "holds characters this PC's code page cannot hold (pack the exe with --utf8)" in err(result)
        else:
            options = [o for o in trace.one("create")["options"] if o["hex"].startswith(b"-Dplace=".hex())]
            assert [o["hex"] for o in options] == [expected.hex()], label


def test_a_console_exe_with_a_log_writes_both_to_the_end_and_moves_a_full_log_aside(wine, tmp_path, unique_name):
    # System.exit ends the process from the VM's exit hook: what is still in the copy's pipes must
    # reach the console and the log before it does. A child the application leaves running (here
    # one holding a file until told to stop) must not keep the copy waiting.
    app_jar = require(harness.test_app("app.jar"))
    hold = require(harness.helper_exe("hold-open"), "hold-open.exe")
    held, ready, stop = (wine.to_windows(tmp_path / name) for name in ("held", "ready", "stop"))
    (tmp_path / "held").write_bytes(b"")
    console = require(harness.console_launcher_exe(), "launcher-console.exe")
    unlogged = wine.run(make_app(tmp_path / "unlogged", name=unique_name, main_class="com.example.App",
                                 classes=app_jar, launcher=console), cwd=tmp_path)
    spawn = f"spawn:{wine.to_windows(hold)} {held} {ready} {stop}"
    for label, plan, status in [("return", "return", 0), ("exit", "exit:3", 3), ("child", spawn, 0)]:
        folder = tmp_path / label
        exe = make_app(folder, name=unique_name, main_class="com.example.App", log="app.log", classes=app_jar,
                       launcher=console)
        full = b"older run\n" * (1024 * 1024 // 10 + 1)
        (folder / "app.log").write_bytes(full)
        result = wine.run(exe, cwd=folder, env={"QUORVIA_TEST_MAIN": plan})
        assert result.status == status, plan
        # The copies end as soon as the streams are closed, not after waiting for them (2 s each).
        assert result.duration < unlogged.duration + 3, (plan, result.duration, unlogged.duration)
        line = "test runtime: main com.example.App"
        assert out(result).count(line + "\n") == 1, (plan, out(result))
        assert (folder / "app.log").read_text(encoding="latin-1").count(line) == 1, plan
        assert (folder / "app.log.1").read_bytes() == full, plan
    deadline = time.monotonic() + 30
    while not (tmp_path / "ready").exists() and time.monotonic() < deadline:
        time.sleep(0.1)
    (tmp_path / "stop").write_bytes(b"")
    assert (tmp_path / "ready").exists(), "the child was started and held the file"
