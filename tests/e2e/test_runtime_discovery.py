"""Finding the runtime under Wine: a private runtime beside the exe or in jre\\, the maker's and the
public registry keys with versions and warnings, jvm.cfg, the VM library and its bin-folder
dependency, and the exit statuses 2, 3, 5 and 6 with their messages."""

import shutil

import harness
from harness import make_app, require
from launcher_output import err, out, reached_main
from runtime_trace import traced_env

KEY1 = "SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment"
KEY2 = "SOFTWARE\\Zentorix Ltd.\\Java Runtime Environment"
NO_JAVA_DLL = ("Fatal Error", "Error: could not find java.dll\n")


def app(tmp_path, name, runtime=True):
    return make_app(tmp_path, name=name, runtime=runtime, classes=require(harness.test_app("app.jar")),
                    main_class="com.example.App")


def loaded_modules(result):
    """The "Loaded" lines of Wine's loaddll trace, backslashes undoubled, lower case."""
    return [line.replace("\\\\", "\\").lower() for line in result.runner_log.splitlines() if "Loaded" in line]


def vm_load_lines(result):
    return [line for line in loaded_modules(result) if "jvm.dll" in line]


def registry_runtime(wine):
    """The test runtime installed outside the application folder, for the registry to name."""
    shutil.copytree(require(harness.test_runtime_dir()), wine.drive_c / "rt")
    return "C:\\rt"


def add_version(wine, key, current, version=None, home=None):
    if current is not None:
        wine.reg_add("HKLM\\" + key, "CurrentVersion", current)
    if version is not None:
        wine.reg_add("HKLM\\" + key + "\\" + version, "JavaHome", home)


def test_private_runtime_beside_the_exe(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime="home")
    result = wine.run(exe, cwd=tmp_path, env={"WINEDEBUG": "+loaddll"})
    assert reached_main(result), result
    assert result.status == 0
    home = wine.to_windows(tmp_path)
    assert any(f"{home}\\bin\\server\\jvm.dll".lower() in line for line in vm_load_lines(result)), result.runner_log
    assert "GetJREHome" not in err(result), "the registry is not read when a private runtime exists"


def test_private_runtime_in_jre_subfolder_loads_its_bin_dependency(wine, tmp_path, unique_name):
    # The stand-in jvm.dll imports quorvia_testdep.dll, which exists only in the runtime's bin folder.
    exe = app(tmp_path, unique_name, runtime=True)
    assert not (tmp_path / "quorvia_testdep.dll").exists()
    env, trace = traced_env(wine, tmp_path, {"WINEDEBUG": "+loaddll"})
    result = wine.run(exe, cwd=tmp_path, env=env)
    assert reached_main(result), result
    assert result.status == 0
    lines = loaded_modules(result)
    jre = wine.to_windows(tmp_path / "jre").lower()
    assert any(f"{jre}\\bin\\quorvia_testdep.dll" in line for line in lines), lines
    assert any(f"{jre}\\bin\\server\\jvm.dll" in line for line in lines), lines
    # Later, as HotSpot does, the VM loads java.dll by its full path (its bin import is in memory by
    # then); the bin folder added for jvm.dll's own load is no longer in the search.
    java = trace.one("load_library")
    assert java["path"].lower() == f"{jre}\\bin\\java.dll" and java["ok"] is True, java
    assert java["bin_in_added_dll_folders"] is False


def test_maker_key_one_names_the_runtime(wine, tmp_path, unique_name):
    home = registry_runtime(wine)
    add_version(wine, KEY1, "1.8", "1.8", home)
    exe = app(tmp_path, unique_name, runtime=False)
    result = wine.run(exe, cwd=tmp_path, env={"WINEDEBUG": "+loaddll"})
    assert reached_main(result), result
    assert any("c:\\rt\\bin\\server\\jvm.dll" in line for line in vm_load_lines(result)), result.runner_log
    assert "GetJREHome" not in err(result)
    assert "Using public" not in out(result)


def test_missing_key_one_warns_and_key_two_is_used(wine, tmp_path, unique_name):
    home = registry_runtime(wine)
    add_version(wine, KEY2, "17", "17", home)
    result = wine.run(app(tmp_path, unique_name, runtime=False), cwd=tmp_path)
    assert reached_main(result), result
    assert f"GetJREHome(): Warning: could not open registry key '{KEY1}'\n" in err(result)


def test_requested_version_wins_over_current_version(wine, tmp_path, unique_name):
    home = registry_runtime(wine)
    add_version(wine, KEY1, "1.8", "11", home)
    result = wine.run(app(tmp_path, unique_name, runtime=False), ["-jre", "11"], cwd=tmp_path)
    assert reached_main(result), result
    assert f"Registry key '{KEY1}\\CurrentVersion' has value '1.8', but '11' is required.\n" in err(result)


def test_first_version_read_binds_the_second_key(wine, tmp_path, unique_name):
    home = registry_runtime(wine)
    add_version(wine, KEY1, "1.8")
    add_version(wine, KEY2, "9", "9", home)
    result = wine.run(app(tmp_path, unique_name, runtime=False), cwd=tmp_path)
    expected = (f"GetJREHome(): Warning: could not open registry key '{KEY1}\\1.8'\n"
                f"Registry key '{KEY2}\\CurrentVersion' has value '9', but '1.8' is required.\n"
                f"GetJREHome(): Warning: could not open registry key '{KEY2}\\1.8'\n")
    assert expected in err(result)
    assert result.fatal_boxes == [NO_JAVA_DLL,
                                  ("Fatal Error", "Error: could not find Java 2 Runtime Environment (1.8).\n")]
    assert result.status == 2


def test_public_keys_need_the_option(wine, tmp_path, unique_name):
    home = registry_runtime(wine)
    add_version(wine, "Software\\JavaSoft\\JRE", "1.8", "1.8", home)
    exe = app(tmp_path, unique_name, runtime=False)
    refused = wine.run(exe, cwd=tmp_path)
    assert refused.status == 2
    assert refused.fatal_boxes[0] == NO_JAVA_DLL
    used = wine.run(exe, ["-publicJRE"], cwd=tmp_path)
    assert "Using public JRE from C:\\rt\n" in out(used)
    assert reached_main(used), used


def test_public_jdk_key_comes_first(wine, tmp_path, unique_name):
    home = registry_runtime(wine)
    add_version(wine, "Software\\JavaSoft\\JDK", "17", "17", home)
    add_version(wine, "Software\\JavaSoft\\JRE", "17", "17", "C:\\nowhere")
    result = wine.run(app(tmp_path, unique_name, runtime=False), ["-publicJRE"], cwd=tmp_path)
    assert "Using public JDK from C:\\rt\n" in out(result)
    assert "Using public JRE" not in out(result)
    assert reached_main(result), result


def test_expandable_current_version_is_unreadable(wine, tmp_path, unique_name):
    home = registry_runtime(wine)
    wine.reg_add("HKLM\\" + KEY1, "CurrentVersion", "1.8", type="REG_EXPAND_SZ")
    add_version(wine, KEY1, None, "1.8", home)
    result = wine.run(app(tmp_path, unique_name, runtime=False), cwd=tmp_path)
    assert f"Failed reading value of registry key:\n\t{KEY1}\\CurrentVersion\n" in err(result)
    assert result.fatal_boxes[-1] == ("Fatal Error", "Error: could not find Java 2 Runtime Environment (looked for bin\\java.dll and jre\\bin\\java.dll in the application's folder, and for a version under HKLM\\SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment).\n")
    assert result.status == 2


def test_missing_jvm_cfg_is_fatal_with_status_3(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime=True)
    (tmp_path / "jre" / "lib" / "jvm.cfg").unlink()
    result = wine.run(exe, cwd=tmp_path)
    home = wine.to_windows(tmp_path / "jre")
    assert result.fatal_boxes == [("Fatal Error", f"Error: could not open Config File on ({home})\n")]
    assert result.status == 3


def test_jvm_cfg_without_entries_gives_status_3_without_box(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime=True)
    (tmp_path / "jre" / "lib" / "jvm.cfg").write_bytes(b"# nothing\r\n-server \r\n")
    result = wine.run(exe, cwd=tmp_path)
    assert "Warning: missing VM type on line 2 of Config File\n" in err(result)
    assert result.fatal_boxes == []
    assert result.status == 3


def test_processor_folder_jvm_cfg_and_alias(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime=True)
    lib = tmp_path / "jre" / "lib"
    (lib / "jvm.cfg").unlink()
    (lib / "amd64").mkdir()
    (lib / "amd64" / "jvm.cfg").write_bytes(b"-hotspot ALIASED_TO -client\r\n-server KNOWN\r\n")
    result = wine.run(exe, cwd=tmp_path, env={"WINEDEBUG": "+loaddll"})
    assert reached_main(result), result
    assert any("bin\\client\\jvm.dll" in line for line in vm_load_lines(result)), result.runner_log


def test_one_character_vm_name_is_skipped(wine, tmp_path, unique_name):
    # "x" minus its first character would name the empty type, bin\jvm.dll: a VM library there
    # (which no runtime has, and which could not find its home) is never loaded.
    exe = app(tmp_path, unique_name, runtime=True)
    bin_folder = tmp_path / "jre" / "bin"
    (tmp_path / "jre" / "lib" / "jvm.cfg").write_bytes(b"x KNOWN\r\n-server KNOWN\r\n")
    shutil.copyfile(bin_folder / "server" / "jvm.dll", bin_folder / "jvm.dll")
    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, cwd=tmp_path, env=env)
    assert reached_main(result), result
    assert "Warning: no leading - on line 1 of Config File\n" in err(result)
    assert trace.one("load")["path"].lower() == wine.to_windows(bin_folder / "server" / "jvm.dll").lower()


def test_second_vm_type_used_when_first_library_missing(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime=True)
    shutil.rmtree(tmp_path / "jre" / "bin" / "server")
    result = wine.run(exe, cwd=tmp_path, env={"WINEDEBUG": "+loaddll"})
    assert reached_main(result), result
    assert any("bin\\client\\jvm.dll" in line for line in vm_load_lines(result)), result.runner_log


def test_no_vm_library_gives_status_5(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime=True)
    shutil.rmtree(tmp_path / "jre" / "bin" / "server")
    shutil.rmtree(tmp_path / "jre" / "bin" / "client")
    result = wine.run(exe, cwd=tmp_path)
    assert result.fatal_boxes == [("Fatal Error", "Error: could not find a Java Virtual Machine.\n")]
    assert result.status == 5


def test_unloadable_vm_library_gives_status_6(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime=True)
    shutil.copyfile(require(harness.windows_build_dir() / "test-runtime-variants" / "notalib-jvm.dll"),
                    tmp_path / "jre" / "bin" / "server" / "jvm.dll")
    result = wine.run(exe, cwd=tmp_path)
    path = wine.to_windows(tmp_path / "jre" / "bin" / "server" / "jvm.dll")
    assert err(result).endswith(f"Error loading: {path}\n") or f"Error loading: {path}\n" in err(result)
    assert result.fatal_boxes == []
    assert result.status == 6


def test_vm_library_without_every_entry_point_gives_status_6(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime=True)
    shutil.copyfile(require(harness.windows_build_dir() / "test-runtime-variants" / "nodefault-jvm.dll"),
                    tmp_path / "jre" / "bin" / "server" / "jvm.dll")
    result = wine.run(exe, cwd=tmp_path)
    path = wine.to_windows(tmp_path / "jre" / "bin" / "server" / "jvm.dll")
    assert f"Error: can't find JNI interfaces in: {path}\n" in err(result)
    assert result.status == 6


def test_planted_cryptdll_beside_the_exe_is_not_loaded(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, runtime=True)
    shutil.copyfile(require(harness.windows_build_dir() / "e2e-planted" / "planted.dll"), tmp_path / "cryptdll.Dll")
    marker = tmp_path / "marker.txt"
    result = wine.run(exe, cwd=tmp_path,
                      env={"QUORVIA_PLANTED_MARKER": wine.to_windows(marker), "WINEDEBUG": "+loaddll"})
    assert reached_main(result), result
    assert not marker.exists()
    crypt = [line for line in loaded_modules(result) if "cryptdll.dll" in line]
    assert crypt and all("system32" in line for line in crypt), result.runner_log
