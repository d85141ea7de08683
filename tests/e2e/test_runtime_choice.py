"""Choosing the runtime by a packed rule under Wine: copies of the test runtime that differ only in
their release file, registered under two vendors' keys, on JAVA_HOME and on PATH; the version range,
the source order, and the one message (console: stderr; GUI: a Yes/No box whose Yes opens the page)
when nothing fits."""

import os
import shutil
import time

import harness
from harness import make_app, require
from launcher_output import err, out, reached_main

TEMURIN = "HKLM\\SOFTWARE\\Eclipse Adoptium\\JDK\\{ver}\\hotspot\\MSI"
TEMURIN_USER = "HKCU\\SOFTWARE\\Eclipse Adoptium\\JDK\\{ver}\\hotspot\\MSI"
JAVASOFT = "HKLM\\SOFTWARE\\JavaSoft\\JDK\\{ver}"
PAGE = "https://adoptium.net/temurin/releases/?version=21"
NEEDS = "This application needs Java 17 to 21 (64-bit).\n"


def runtime(wine, name, version, arch="x86_64"):
    """A copy of the test runtime at C:\\NAME whose release file names version and arch."""
    home = wine.drive_c / name
    shutil.copytree(require(harness.test_runtime_dir()), home)
    (home / "release").write_text(f'IMPLEMENTOR="Test"\nJAVA_VERSION="{version}"\nOS_ARCH="{arch}"\n')
    (home / "bin" / "java.exe").write_bytes(b"MZ")  # only looked for on PATH, never started
    return f"C:\\{name}"


def app(tmp_path, name, console=False, **rule):
    launcher = harness.console_launcher_exe() if console else None
    return make_app(tmp_path, name=name, runtime=False, launcher=launcher,
                    classes=require(harness.test_app("app.jar")), main_class="com.example.App", **rule)


def vm_loaded_from(result, home):
    wanted = f"{home}\\bin\\server\\jvm.dll".lower()
    return any("Loaded" in line and wanted in line.replace("\\\\", "\\").lower()
               for line in result.runner_log.splitlines())


def test_range_picks_registered_temurin_and_skips_what_does_not_fit(wine, tmp_path, unique_name):
    wine.reg_add(TEMURIN.format(ver="21.0.4.7"), "Path", runtime(wine, "temurin-21", "21.0.4") + "\\")
    wine.reg_add(TEMURIN_USER.format(ver="25.0.1.8"), "Path", runtime(wine, "temurin-25", "25.0.1") + "\\")
    wine.reg_add(JAVASOFT.format(ver="11.0.4"), "JavaHome", runtime(wine, "corretto-11", "11.0.4", "amd64"))
    wine.reg_add(JAVASOFT.format(ver="19"), "JavaHome", runtime(wine, "x86-19", "19.0.2", "x86"))
    wine.reg_add(JAVASOFT.format(ver="20"), "JavaHome", runtime(wine, "arm-20", "20", "aarch64"))
    exe = app(tmp_path, unique_name, java_version="17..21")
    result = wine.run(exe, cwd=tmp_path, env={"WINEDEBUG": "+loaddll"})
    assert reached_main(result) and result.status == 0, result
    assert vm_loaded_from(result, "C:\\temurin-21"), result.runner_log
    for line in ("Runtime C:\\corretto-11 (HKLM\\SOFTWARE\\JavaSoft\\JDK): Java 11, too old\n",
                 "Runtime C:\\x86-19 (HKLM\\SOFTWARE\\JavaSoft\\JDK): Java 19, 32-bit\n",
                 "Runtime C:\\arm-20 (HKLM\\SOFTWARE\\JavaSoft\\JDK): Java 20, ARM64\n",
                 "Runtime C:\\temurin-25 (HKCU\\SOFTWARE\\Eclipse Adoptium): Java 25, too new\n"):
        assert line in out(result), out(result)
    assert result.fatal_boxes == []


def test_sources_are_tried_in_the_packed_order(wine, tmp_path, unique_name):
    env = {"WINEDEBUG": "+loaddll", "JAVA_HOME": runtime(wine, "home-17", "17.0.2") + "\\",
           "PATH": "C:\\windows\\system32;C:\\windows;" + runtime(wine, "path-21", "21") + "\\bin"}
    wine.reg_add(TEMURIN.format(ver="21.0.4.7"), "Path", runtime(wine, "temurin-21", "21.0.4") + "\\")
    for order, chosen in (("java-home,path,registry", "C:\\home-17"), ("path,java-home", "C:\\path-21"),
                          ("registry,path", "C:\\temurin-21")):
        exe = app(tmp_path / order.replace(",", "-"), unique_name, java_version="17", runtime_search=order)
        result = wine.run(exe, cwd=tmp_path, env=env)
        assert reached_main(result), (order, result)
        assert vm_loaded_from(result, chosen), (order, result.runner_log)


def test_nothing_fits_console_writes_one_message_and_the_page(wine, tmp_path, unique_name):
    wine.reg_add(JAVASOFT.format(ver="11.0.4"), "JavaHome", runtime(wine, "corretto-11", "11.0.4", "amd64"))
    exe = app(tmp_path, unique_name, console=True, java_version="17..21", download_url=PAGE)
    result = wine.run(exe, cwd=tmp_path, env={"JAVA_HOME": None})
    assert result.status == 2, result
    assert result.boxes == []
    assert err(result).endswith(
        NEEDS + "Looked in: the application folder, the registry, JAVA_HOME, PATH.\nFound:\n"
        "  C:\\corretto-11 (HKLM\\SOFTWARE\\JavaSoft\\JDK): Java 11, too old\n"
        f"Download Java from {PAGE}\n"), err(result)
    assert "could not find" not in err(result)


def test_nothing_fits_gui_asks_once_and_yes_opens_the_page(wine, tmp_path, unique_name):
    wine.reg_add(JAVASOFT.format(ver="11.0.4"), "JavaHome", runtime(wine, "corretto-11", "11.0.4", "amd64"))
    # Wine hands a page the shell opens to the browser named here: a script that records it.
    opened = tmp_path / "opened.txt"
    browser = tmp_path / "browser.sh"
    browser.write_text(f'#!/bin/sh\nprintf "%s\\n" "$@" >> "{opened}"\n')
    os.chmod(browser, 0o755)
    wine.reg_add("HKCU\\Software\\Wine\\WineBrowser", "Browsers", str(browser))
    exe = app(tmp_path, unique_name, java_version="17..21", download_url=PAGE)
    for answer, pages in ((True, [PAGE]), (False, [])):
        opened.unlink(missing_ok=True)
        result = wine.run(exe, cwd=tmp_path, fatal_box="yes" if answer else True)
        assert result.status == 2, result
        assert [b.text for b in result.boxes] == [
            NEEDS + "Looked in: the application folder, the registry, JAVA_HOME, PATH.\nFound:\n"
            "  C:\\corretto-11 (HKLM\\SOFTWARE\\JavaSoft\\JDK): Java 11, too old\n\nOpen the download page?\n"], result
        assert result.boxes[0].pressed
        for _ in range(100):  # the browser runs on after the launcher has ended
            if opened.exists() or not pages:
                break
            time.sleep(0.1)
        assert (opened.read_text().split() if opened.exists() else []) == pages
