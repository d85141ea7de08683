"""Every source of settings at once, and the precedence between them: the command line, launcher
options among the VM-OPTIONS items, the configuration file, then the launch resources."""

import harness
from harness import make_app, require
from runtime_trace import traced_env
from launcher_output import err


def write_config(path, **keys):
    path.write_text("[java]\n" + "".join(f"{key}={value}\n" for key, value in keys.items()), encoding="latin-1")
    return path


def test_every_source_in_launch_order(wine, tmp_path, unique_name):
    # "%41" in the exe's base name reaches the sync folder name, where the VM-OPTIONS decoding turns it into "A".
    name = unique_name + "%41"
    config = write_config(tmp_path / "app.ini", jre="1.8", mainclass="com.example.App", classpath="cfg.jar",
                          vmoptions="-Dcfg.a=1  -Dcfg.b=2", md5="CONFIGDIGEST", initialHeapSize="1000",
                          maxHeapSize="2000")
    exe = make_app(tmp_path, name=name, main_class="com.example.NoMain", classes=require(harness.test_app("app.jar")),
                   config_path=wine.to_windows(config), init_heap_percent=1, max_heap_percent=2,
                   vm_options="-cp vmopt.jar -Dhome=# -Dsync=% -Dhex=%41 -Xss2m",
                   class_path="#/beside.jar;;@/lib/rt.jar;%/synced.jar;plain.jar")
    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, ["-cp", "cmd.jar", "-Dcmd=1", "-verbose", "arg1"], env=env, cwd=tmp_path)
    assert result.status == 0, err(result)

    exe_folder = wine.to_windows(tmp_path) + "\\"
    home = exe_folder + "jre"
    cache = "C:\\ProgramData\\.quorvia\\cache"
    decoded_sync = f"{cache}\\{unique_name}A\\sync"
    cache_file = f"{cache}\\{name}\\{name}.CONFIGDIGEST.dat"
    class_path = (f";cmd.jar;vmopt.jar;cfg.jar;{cache_file};"
                  f"{exe_folder}beside.jar;{home}\\lib/rt.jar;{cache}\\{name}\\sync\\synced.jar;plain.jar;")
    assert trace.option_texts() == [
        "-Dcmd=1", "-verbose",                                          # command line
        f"-Dhome={exe_folder}", f"-Dsync={decoded_sync}", f"-Dhex={decoded_sync}41",  # VM-OPTIONS launcher items
        "-Dcfg.a=1", "-Dcfg.b=2",                                       # configuration file
        "-Xms1000m", "-Xmx2000m",                                       # heap
        "-Xss2m",                                                       # VM-OPTIONS, verbatim
        "-Djava.class.path=" + class_path, "abort", "exit",
    ]
    assert trace.one("main")["class"] == "com/example/App", "the configuration file's main class wins"
    assert trace.one("main")["args"] == ["arg1"]
    assert "Option not recognized, is it an argument?(-Xss2m)" in result.stdout_text


def no_runtime_message(wine, tmp_path, exe, args=()):
    result = wine.run(exe, list(args), cwd=tmp_path)
    assert result.status == 2
    return result.fatal_boxes[-1][1]


def test_runtime_version_precedence(wine, tmp_path, unique_name):
    config = write_config(tmp_path / "v.ini", jre="8")
    with_config = make_app(tmp_path, name=unique_name + "c", runtime=False, main_class="com.example.App",
                           config_path=wine.to_windows(config), vm_options="-jre 17")
    # VM-OPTIONS launcher items come after the command line and replace its value.
    assert no_runtime_message(wine, tmp_path, with_config, ["-jre", "11"]).endswith("(17).\n")

    plain = make_app(tmp_path, name=unique_name + "p", runtime=False, main_class="com.example.App",
                     config_path=wine.to_windows(config))
    assert no_runtime_message(wine, tmp_path, plain, ["-jre", "11"]).endswith("(11).\n")
    assert no_runtime_message(wine, tmp_path, plain).endswith("(8).\n"), "the file fills an unset version"


def test_configfile_option_wins_over_resource_and_relative_path_is_read(wine, tmp_path, unique_name):
    write_config(tmp_path / "resource.ini", jre="1.1")
    write_config(tmp_path / "option.ini", jre="2.2")
    exe = make_app(tmp_path, name=unique_name, runtime=False, main_class="com.example.App",
                   config_path=wine.to_windows(tmp_path / "resource.ini"))
    assert no_runtime_message(wine, tmp_path, exe).endswith("(1.1).\n")
    # A relative name is read from the current folder, not from the Windows folder.
    assert no_runtime_message(wine, tmp_path, exe, ["-configfile", "option.ini"]).endswith("(2.2).\n")


def heap_megabytes(trace):
    options = [text for text in trace.option_texts() if text.startswith(("-Xms", "-Xmx"))]
    assert len(options) == 2, options
    return [int(text[4:-1]) for text in options]


def test_configuration_heap_percentages_win_over_resources(wine, tmp_path, unique_name):
    config = write_config(tmp_path / "h.ini", initialHeapPercent="10", maxHeapPercent="50")
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App",
                   classes=require(harness.test_app("app.jar")), config_path=wine.to_windows(config),
                   init_heap_percent=20, max_heap_percent=40)
    env, trace = traced_env(wine, tmp_path)
    assert wine.run(exe, env=env, cwd=tmp_path).status == 0
    initial, maximum = heap_megabytes(trace)
    assert 4.5 < maximum / initial < 5.5, (initial, maximum)

    # Without the file the resources decide: 40/20.
    plain = make_app(tmp_path, name=unique_name + "r", main_class="com.example.App",
                     classes=require(harness.test_app("app.jar")), init_heap_percent=20, max_heap_percent=40)
    env, trace = traced_env(wine, tmp_path / "r")
    (tmp_path / "r").mkdir()
    assert wine.run(plain, env=env, cwd=tmp_path).status == 0
    initial, maximum = heap_megabytes(trace)
    assert 1.8 < maximum / initial < 2.2, (initial, maximum)


def test_command_line_heap_option_wins_over_configuration(wine, tmp_path, unique_name):
    config = write_config(tmp_path / "h.ini", initialHeapSize="300", maxHeapSize="400")
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App",
                   classes=require(harness.test_app("app.jar")), config_path=wine.to_windows(config))
    env, trace = traced_env(wine, tmp_path)
    assert wine.run(exe, ["-maxHeapSize", "500"], env=env, cwd=tmp_path).status == 0
    assert heap_megabytes(trace) == [300, 500]


def test_failed_vm_options_parse_hands_every_item_to_the_vm(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, main_class="com.example.App",
                   classes=require(harness.test_app("app.jar")), vm_options="-Dbefore=1 -cp")
    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, env=env, cwd=tmp_path)
    texts = trace.option_texts()
    assert texts[0] == "-Dbefore=1", "the item before the failure took effect at once"
    assert texts[1:3] == ["-Dbefore=1", "-cp"], "and every item then reaches the VM verbatim"
    assert result.fatal_boxes == [("Fatal Error", "Could not create the Java virtual machine.\n")]
    assert result.status == 1
