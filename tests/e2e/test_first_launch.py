"""A packaged exe with a runtime beside it: the VM option list in order, main and its arguments,
the exit code, and every failure after the runtime is bound."""

import shutil

import pytest

import harness
from harness import make_app, require
from runtime_trace import traced_env
from launcher_output import err, out


def app_jar():
    return require(harness.test_app("app.jar"))


def test_complete_option_list_in_launch_order(wine, tmp_path, unique_name):
    # The embedded jar is an agent (as with -crypt in real use); the application jar lies beside the exe.
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App",
                   classes=require(harness.test_app("agent.jar")), class_path="#/app.jar",
                   vm_options="-Dfrom.resource=1 -Xss2m")
    shutil.copyfile(app_jar(), tmp_path / "app.jar")
    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, ["-Dfrom.command=1", "-verbose", "-crypt", "-maxHeapSize", "512", "-initialHeapSize",
                            "64", "arg"], env=env, cwd=tmp_path)
    assert result.status == 0, (out(result), err(result))
    create = trace.one("create")
    texts = [option["text"] for option in create["options"]]
    assert len(texts) == 10, texts
    cache_file = texts[5][len("-javaagent:"):]
    assert cache_file.startswith(f"C:\\ProgramData\\.quorvia\\cache\\{unique_name}\\{unique_name}.")
    app_beside = wine.to_windows(tmp_path) + "\\app.jar"
    assert texts == ["-Dfrom.command=1", "-verbose", "-Dfrom.resource=1", "-Xms64m", "-Xmx512m",
                     "-javaagent:" + cache_file, "-Xss2m", f"-Djava.class.path=;{cache_file};{app_beside};",
                     "abort", "exit"]
    assert [option["extra"] for option in create["options"]] == [False] * 8 + [True, True]
    assert [entry for entry in create["classpath"] if entry] == [cache_file, app_beside]
    assert trace.one("agent")["premain"] is True
    assert trace.one("main")["args"] == ["arg"]


def test_main_receives_arguments_exactly(wine, tmp_path, unique_name):
    # No -Dfile.encoding: the stand-in's default charset is UTF-8, as since Java 18, while the
    # arguments are windows-1252 bytes; the VM's platform encoding (Cp1252 here) must read them.
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App", classes=app_jar())
    env, trace = traced_env(wine, tmp_path)
    arguments = [b"plain", b"", b"two words", b"caf\xe9 \xfc\x80", b'quote"inside']
    result = wine.run(exe, arguments, env=env, cwd=tmp_path)
    assert result.status == 0, err(result)
    main = trace.one("main")
    assert main["class"] == "com/example/App"
    assert main["args_hex"] == [argument.hex() for argument in arguments]
    assert main["args"] == [argument.decode("cp1252") for argument in arguments]
    assert main["main_thread"] is True
    names = trace.names()
    assert names.index("main") < names.index("detach") < names.index("destroy")


def test_no_arguments_give_an_empty_array_and_debug_printout(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App", classes=app_jar())
    env, trace = traced_env(wine, tmp_path, {"_JAVA_LAUNCHER_DEBUG": ""})
    result = wine.run(exe, env=env, cwd=tmp_path)
    assert result.status == 0
    assert trace.one("main")["args"] == []
    assert "Main-Class is 'com.example.App'\nApp's (0)\n" in out(result)

    result = wine.run(exe, ["a", "b c"], env=env, cwd=tmp_path)
    assert "App's (2)\n    argv[ 0] = 'a'\n    argv[ 1] = 'b c'\n" in out(result)


def test_exit_code_of_system_exit_is_the_status(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App", classes=app_jar())
    for code in (0, 7, -1, 3000000000 - 2**32):
        env, trace = traced_env(wine, tmp_path, {"QUORVIA_TEST_MAIN": f"exit:{code}"})
        result = wine.run(exe, env=env, cwd=tmp_path)
        assert result.status == code % 2**32
        assert trace.events("exit_hook")[-1]["code"] == code


def test_exception_in_main_is_described_and_status_is_1(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App", classes=app_jar())
    env, trace = traced_env(wine, tmp_path, {"QUORVIA_TEST_MAIN": "throw"})
    result = wine.run(exe, env=env, cwd=tmp_path)
    assert result.status == 1
    assert 'Exception in thread "main" java.lang.RuntimeException: test failure' in err(result)
    assert "detach" not in trace.names(), "the main thread is not detached after an exception"
    assert "destroy" in trace.names()


def test_missing_class_is_described_and_status_is_1(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.Missing", classes=app_jar())
    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, env=env, cwd=tmp_path)
    assert result.status == 1
    assert "java.lang.NoClassDefFoundError: com/example/Missing" in err(result)
    assert [r["name"] for r in trace.events("findclass") if not r["name"].startswith("java/")] == \
        ["com/example/Missing"]
    assert "main" not in trace.names()


def test_class_without_main_is_described_and_status_is_1(wine, tmp_path, unique_name):
    for main_class in ("com.example.NoMain", "com.example.WrongMain"):
        exe = make_app(tmp_path, name=f"{unique_name}-{main_class[-6:]}", main_class=main_class, classes=app_jar())
        env, trace = traced_env(wine, tmp_path / main_class)
        (tmp_path / main_class).mkdir()
        result = wine.run(exe, env=env, cwd=tmp_path)
        assert result.status == 1
        assert "java.lang.NoSuchMethodError" in err(result) and ".main([Ljava/lang/String;)V" in err(result)
        assert result.fatal_boxes == []


def test_rejected_option_fails_creation(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App", classes=app_jar(),
                   vm_options="-Xbogus")
    result = wine.run(exe, cwd=tmp_path)
    assert result.fatal_boxes == [("Fatal Error", "Could not create the Java virtual machine.\n")]
    assert result.status == 1


def test_non_daemon_thread_is_waited_for_after_main_returns(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App", classes=app_jar())
    env, trace = traced_env(wine, tmp_path, {"QUORVIA_TEST_MAIN": "thread:700,exit:0,return"})
    env["QUORVIA_TEST_MAIN"] = "thread:700"
    result = wine.run(exe, env=env, cwd=tmp_path)
    assert result.status == 0
    names = trace.names()
    assert names.index("detach") < names.index("destroy")
    assert trace.one("destroyed")["waited_ms"] >= 500


@pytest.mark.parametrize("layout", ["home", True])
def test_runtime_beside_the_exe_or_in_jre(wine, tmp_path, unique_name, layout):
    exe = make_app(tmp_path, name=unique_name, runtime=layout, main_class="com.example.App", classes=app_jar())
    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, env=env, cwd=tmp_path)
    assert result.status == 0, err(result)
    assert trace.one("load")["dll"] == "server"
