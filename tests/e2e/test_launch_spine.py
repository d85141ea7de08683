"""The launch sequence under Wine up to the runtime search: banner, the program path, the exit
statuses and messages before a runtime exists, resource limits, the exe's imports and manifest,
and system DLLs planted beside the exe."""

import shutil
import subprocess

import harness
from harness import make_app, require
from launcher_output import err, out

BANNER_FIRST = "Quorvia Launcher (Quorvia Ltd.) Version 3.0 (build "
NO_MAIN_CLASS_ERRORS = (
    "Unable to load CONFIG-PATH Resource (Resource not found)<1813>\n"
    "Unable to load INIT-HEAP-PERC Resource (Resource not found) errno <1813>\n"
    "Unable to load MAX-HEAP-PERCENT Resource (Resource not found) 1813\n"
    "Unable to load SYNC-PATH Resource (Resource not found)1813\n"
    "Unable to load MAIN-CLASS Resource (Resource not found) 1813\n"
)
NO_RUNTIME_BOXES = [
    ("Fatal Error", "Error: could not find java.dll\n"),
    ("Fatal Error", "Error: could not find Java 2 Runtime Environment (looked for bin\\java.dll and jre\\bin\\java.dll in the application's folder, and for a version under HKLM\\SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment).\n"),
]


def bare_launcher(tmp_path, name):
    exe = tmp_path / f"{name}.exe"
    shutil.copyfile(require(harness.launcher_exe()), exe)
    return exe


def test_banner_then_every_item_reported_and_no_main_class_gives_minus_one(wine, tmp_path, unique_name):
    exe = bare_launcher(tmp_path, unique_name)
    result = wine.run(exe, ["first", "", "-Xmx1g"], cwd=tmp_path)
    lines = out(result).split("\n")
    assert lines[0].startswith(BANNER_FIRST) and lines[0].endswith(")")
    assert "Quorvia Ltd." in lines[1]
    assert lines[2] == ""
    program = wine.to_windows(exe)
    assert lines[3] == f"Option not recognized, is it an argument?({program})"
    assert lines[4:7] == [
        "Option not recognized, is it an argument?(first)",
        "Option not recognized, is it an argument?()",
        "Option not recognized, is it an argument?(-Xmx1g)",
    ]
    assert lines[7].startswith("There are ") and lines[7].endswith(" total MB of physical memory.")
    assert lines[8] == lines[7], "the VM-OPTIONS parse writes the memory line again"
    assert err(result) == NO_MAIN_CLASS_ERRORS
    assert result.fatal_boxes == []
    assert result.status == 4294967295


def test_trailing_class_path_option_fails_with_status_1(wine, tmp_path, unique_name):
    exe = bare_launcher(tmp_path, unique_name)
    result = wine.run(exe, ["word", "-cp"], cwd=tmp_path)
    assert result.status == 1
    assert err(result) == "-cp requires class path specification\n"
    assert result.fatal_boxes == []
    jre = wine.run(exe, ["-jre"], cwd=tmp_path)
    assert (jre.status, err(jre)) == (1, "-jre requires a version specification\n")


def test_no_runtime_anywhere_shows_both_messages_and_status_2(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, runtime=False, main_class="com.example.App")
    result = wine.run(exe, cwd=tmp_path)
    assert result.fatal_boxes == NO_RUNTIME_BOXES
    assert result.status == 2
    # The registry search warns about the maker's keys before it gives up.
    assert ("GetJREHome(): Warning: could not open registry key "
            "'SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment'\n") in err(result)


def test_requested_version_appears_in_the_runtime_message(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, runtime=False, main_class="com.example.App")
    result = wine.run(exe, ["-jre", "11.0.2"], cwd=tmp_path)
    assert result.fatal_boxes[-1] == ("Fatal Error", "Error: could not find Java 2 Runtime Environment (11.0.2).\n")
    assert result.status == 2


def write_bytes(path, data):
    path.write_bytes(data)
    return path


def test_main_class_resource_limit_is_1023_bytes(wine, tmp_path, unique_name):
    accepted = make_app(tmp_path, name=unique_name + "-a", runtime=False,
                        raw_text=[("MAIN-CLASS", 3000, write_bytes(tmp_path / "a.txt", b"a" * 1023))])
    result = wine.run(accepted, cwd=tmp_path)
    assert "MainClass name too long" not in err(result)
    assert result.status == 2, "a 1023-byte name is taken and the launch goes on to the runtime search"

    refused = make_app(tmp_path, name=unique_name + "-r", runtime=False,
                       raw_text=[("MAIN-CLASS", 3000, write_bytes(tmp_path / "r.txt", b"a" * 1024))])
    result = wine.run(refused, cwd=tmp_path)
    assert err(result).endswith("MainClass name too long (1024)\n")
    assert result.fatal_boxes == []
    assert result.status == 4294967295


def test_path_resource_limits_and_slashes(wine, tmp_path, unique_name):
    exe = make_app(tmp_path, name=unique_name, runtime=False, main_class="com.example.App",
                   raw_text=[("SYNC-PATH", 10000, write_bytes(tmp_path / "s.txt", b"s" * 1024)),
                             ("CONFIG-PATH", 9000, write_bytes(tmp_path / "c.txt", b"c" * 1500))])
    result = wine.run(exe, cwd=tmp_path)
    assert "ConfigPath too long (1500)\n" in err(result)
    assert "SyncPath too long (1024)\n" in err(result)
    assert result.status == 2


def test_objdump_imports_only_system_dlls():
    # The console variant is the same code linked for the console subsystem.
    for exe, subsystem in ((harness.launcher_exe(), "00000002\t(Windows GUI)"),
                           (harness.console_launcher_exe(), "00000003\t(Windows CUI)")):
        dump = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(require(exe))], capture_output=True,
                              text=True, check=True).stdout
        imported = {line.split(":", 1)[1].strip().upper() for line in dump.splitlines() if "DLL Name:" in line}
        allowed = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "SHELL32.DLL", "SHLWAPI.DLL",
                   "OLE32.DLL", "OLEAUT32.DLL",
                   "MSVCRT.DLL", "PSAPI.DLL", "WINDOWSCODECS.DLL"}
        assert imported and imported <= allowed, imported - allowed
        assert "KERNEL32.DLL" in imported
        assert "Subsystem\t\t" + subsystem in dump
        assert "Magic\t\t\t020b\t(PE32+)" in dump


def test_manifest_is_compiled_in():
    data = require(harness.launcher_exe()).read_bytes()
    assert b'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>' in data
    assert b">true/PM</dpiAware>" in data


def test_planted_system_dlls_beside_the_exe_are_never_loaded(wine, tmp_path, unique_name):
    planted = require(harness.windows_build_dir() / "e2e-planted" / "planted.dll")
    exe = bare_launcher(tmp_path, unique_name)
    for name in ("SHCore.dll", "User32.dll", "cryptdll.Dll", "shlwapi.dll"):
        shutil.copyfile(planted, tmp_path / name)
    marker = tmp_path / "marker.txt"
    result = wine.run(exe, ["-dpi"], cwd=tmp_path,
                      env={"QUORVIA_PLANTED_MARKER": wine.to_windows(marker), "WINEDEBUG": "+loaddll"})
    assert result.status == 4294967295
    assert not marker.exists(), marker.read_text()
    loaded = [line for line in result.runner_log.splitlines() if "Loaded" in line and "native" in line]
    assert loaded, "the loader trace shows at least the exe itself"
    assert all(unique_name in line for line in loaded), loaded
