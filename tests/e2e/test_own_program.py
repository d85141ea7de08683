"""The packed exe as the user's own program, read back by Windows itself under Wine: version details
and icon (GetFileVersionInfoA / VerQueryValueA, ExtractIconExA / LoadImageA through the
exe-details helper), the console launcher run from cmd, and a signed exe."""

import os
import shutil
import signal
import subprocess
import time
from pathlib import Path

import harness
from harness import cp1252_decode, helper_exe, make_app, pack, require
from launcher_output import err, out, reached_main
from runtime_trace import traced_env

# Centre colour of each size of the test icon, so that each size read back is known to be its own.
ICON_COLOURS = {16: "FF0000", 32: "00FF00", 48: "0000FF", 256: "FFFF00"}


def make_icon(tmp_path):
    """An .ico as real ones come: 16 (1 bpp), 32 (1 bpp with transparency), 48 (4 bpp) bitmaps and
    a 256-pixel PNG."""
    images = [
        ["-size", "16x16", "xc:#FF0000", "-type", "Palette", "PNG8:r16.png"],
        ["-size", "32x32", "xc:#00FF00", "-alpha", "set", "-fill", "none", "-draw", "color 0,0 point", "PNG32:g32.png"],
        ["-size", "48x48", "xc:#0000FF", "-fill", "#FF0000", "-draw", "point 0,0", "-fill", "#00FF00",
         "-draw", "point 1,0", "PNG24:b48.png"],
        ["-size", "256x256", "xc:#FFFF00", "-alpha", "set", "PNG32:y256.png"],
    ]
    for args in images:
        subprocess.run(["convert", *args], cwd=tmp_path, check=True, capture_output=True)
    subprocess.run(["icotool", "-c", "-o", "app.ico", "r16.png", "g32.png", "b48.png", "--raw=y256.png"],
                   cwd=tmp_path, check=True, capture_output=True)
    return tmp_path / "app.ico"


def exe_details(wine, exe, sizes=()):
    """Lines the exe-details helper prints for `exe`."""
    helper = require(helper_exe("exe-details"), "e2e helper exe-details.exe")
    r = wine.run(helper, [wine.to_windows(exe), *map(str, sizes)])
    assert r.status == 0, r
    return r.stdout_text.replace("\r\n", "\n").splitlines()


def version_strings(lines):
    return dict(line[len("string "):].split("=", 1) for line in lines if line.startswith("string "))


def checksum_is_right(exe):
    import pefile

    pe = pefile.PE(str(exe), fast_load=True)
    return pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()


def test_windows_reads_the_version_details_and_every_icon_size(wine, tmp_path):
    exe = pack(tmp_path / "Outil.exe", icon=make_icon(tmp_path), product_name="Outil Société",
               product_version="2.5", file_version="1.2.3.4", file_description="Builds €uro things",
               company="Example Ltd.", copyright="© 2026 Example", original_filename="outil.exe",
               internal_name="outil")
    lines = exe_details(wine, exe, ICON_COLOURS)
    assert "fixed 1.2.3.4 2.5.0.0" in lines
    assert version_strings(lines) == {
        "CompanyName": "Example Ltd.", "FileDescription": "Builds €uro things", "FileVersion": "1.2.3.4",
        "InternalName": "outil", "LegalCopyright": "© 2026 Example", "OriginalFilename": "outil.exe",
        "ProductName": "Outil Société", "ProductVersion": "2.5",
    }
    assert "icons 1" in lines
    assert "extracted 32x32 16x16" in lines
    for size, colour in ICON_COLOURS.items():
        assert f"image {size} {size}x{size} {colour}" in lines, lines
    assert checksum_is_right(exe)
    shown = subprocess.run([str(harness.pack_tool()), "--show", str(exe)], capture_output=True, text=True)
    assert 'version ProductName="Outil Société"' in shown.stdout
    assert "16x16 1bpp" in shown.stdout and "48x48 4bpp" in shown.stdout and "256x256 32bpp png" in shown.stdout


def test_without_version_options_the_exe_is_named_after_itself_and_has_a_plain_icon(wine, tmp_path):
    exe = pack(tmp_path / "Ledger Tool.exe", main_class="com.example.App")
    lines = exe_details(wine, exe, [32])
    assert version_strings(lines) == {
        "FileDescription": "Ledger Tool", "FileVersion": "1.0", "InternalName": "Ledger Tool",
        "OriginalFilename": "Ledger Tool.exe", "ProductName": "Ledger Tool", "ProductVersion": "1.0",
    }
    assert not any("Quorvia" in line for line in lines), lines
    assert "icons 1" in lines and "extracted 32x32 16x16" in lines
    assert any(line.startswith("image 32 32x32 ") for line in lines), lines


def console_app(tmp_path, name, **options):
    return make_app(tmp_path, name=name, launcher=require(harness.console_launcher_exe(), "launcher-console.exe"),
                    **options)


def test_console_tool_run_from_cmd_prints_to_the_console_and_cmd_gets_its_status(wine, tmp_path, unique_name):
    exe = console_app(tmp_path, unique_name, classes=require(harness.test_app("app.jar")),
                      main_class="com.example.App")
    # An interactive cmd reading its commands from a file: like a user at the prompt, it waits only
    # for console programs.
    commands = tmp_path / "commands.txt"
    commands.write_bytes(f'"{wine.to_windows(exe)}" one\r\necho status %errorlevel%\r\n'.encode())
    shell = wine.wine(["cmd"], stdin=commands, env={"QUORVIA_TEST_MAIN": "exit:7"}, timeout=120, check=False)
    text = cp1252_decode(shell.stdout + shell.stderr).replace("\r\n", "\n")
    assert "test runtime: main com.example.App\n" in text, text
    assert "status 7\n" in text, text
    assert text.index("test runtime: main") < text.index("status 7"), text


def test_console_tool_prints_only_what_the_application_prints_unless_debugging(wine, tmp_path, unique_name):
    # Arguments, optional resources that are absent, the default heap line: none of it is printed.
    exe = console_app(tmp_path, unique_name, classes=require(harness.test_app("app.jar")),
                      main_class="com.example.App")
    for start in ("first", "warm"):
        result = wine.run(exe, ["in.pdf", "output", "-"], cwd=tmp_path)
        assert result.status == 0, result
        assert out(result) == "test runtime: main com.example.App\n", (start, out(result))
        assert err(result) == "", (start, err(result))
    debug = wine.run(exe, ["in.pdf"], cwd=tmp_path, env={"_JAVA_LAUNCHER_DEBUG": "1"})
    assert "Option not recognized, is it an argument?(in.pdf)\n" in out(debug)
    assert "Unable to load CLASS-PATH Resource" in err(debug)
    # The GUI exe keeps telling, for a redirected output.
    gui = make_app(tmp_path / "gui", name=unique_name, classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App")
    assert "Option not recognized, is it an argument?(in.pdf)\n" in out(wine.run(gui, ["in.pdf"], cwd=tmp_path))


def test_console_tool_reports_a_fatal_error_on_stderr_without_a_box(wine, tmp_path, unique_name):
    exe = console_app(tmp_path, unique_name, runtime=False, main_class="com.example.App")
    result = wine.run(exe, cwd=tmp_path)
    assert result.boxes == []
    assert err(result).endswith(
        "Error: could not find java.dll\nError: could not find Java 2 Runtime Environment (looked for bin\\java.dll and jre\\bin\\java.dll in the application's folder, and for a version under HKLM\\SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment).\n"), result
    assert result.status == 2


def test_console_tool_hands_its_stdin_to_the_application(wine, tmp_path, unique_name):
    exe = console_app(tmp_path, unique_name, classes=require(harness.test_app("app.jar")),
                      main_class="com.example.App")
    stdin = tmp_path / "input.txt"
    stdin.write_bytes(b"first line\nsecond line\n")
    result = wine.run(exe, stdin=stdin, env={"QUORVIA_TEST_MAIN": "echo-stdin"})
    assert "test runtime: stdin first line\nsecond line\n\n" in out(result), result
    assert result.status == 0


def unix_pids_of(exe_name):
    """Unix processes that Wine runs the Windows program `exe_name` in (Wine names them after it)."""
    pids = []
    for entry in Path("/proc").iterdir():
        try:
            argv0 = (entry / "cmdline").read_bytes().split(b"\0")[0].decode(errors="replace")
        except OSError:
            continue
        if entry.name.isdigit() and argv0.replace("\\", "/").lower().endswith("/" + exe_name.lower()):
            pids.append(int(entry.name))
    return pids


def test_ctrl_c_reaches_the_vm_whose_shutdown_hooks_run(wine, tmp_path, unique_name):
    exe = console_app(tmp_path, unique_name, classes=require(harness.test_app("app.jar")),
                      main_class="com.example.App")
    env, trace = traced_env(wine, tmp_path, {"QUORVIA_TEST_MAIN": "sleep:60000"})
    running = wine.start(exe, env=env)
    deadline = time.monotonic() + 60
    while not trace.events("main") and not running.poll() and time.monotonic() < deadline:
        time.sleep(0.1)
    pids = unix_pids_of(exe.name)
    assert pids, "the console tool's process was not found"
    # What a terminal does on Ctrl+C; Wine turns SIGINT into the console's CTRL_C_EVENT.
    for pid in pids:
        os.kill(pid, signal.SIGINT)
    result = running.wait(timeout=60)
    assert "test runtime: shutdown hooks ran\n" in out(result), result
    assert result.status == 130, result


def osslsigncode(*args):
    return subprocess.run(["osslsigncode", *map(str, args)], capture_output=True, text=True, timeout=120)


def sign(exe, tmp_path):
    signed = exe.with_suffix(".signed")
    r = osslsigncode("sign", "-certs", tmp_path / "cert.pem", "-key", tmp_path / "key.pem", "-n", exe.stem,
                     "-in", exe, "-out", signed)
    assert r.returncode == 0, r.stdout + r.stderr
    signed.replace(exe)


def test_signed_exe_verifies_starts_and_is_packed_again_only_with_its_signature_stripped(wine, tmp_path, unique_name):
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                    "cert.pem", "-days", "2", "-subj", "/CN=Quorvia Test Signer"],
                   cwd=tmp_path, check=True, capture_output=True)
    exe = console_app(tmp_path, unique_name, classes=require(harness.test_app("app.jar")),
                      main_class="com.example.App", file_version="4.1")
    sign(exe, tmp_path)
    verified = osslsigncode("verify", "-CAfile", tmp_path / "cert.pem", "-in", exe)
    assert verified.returncode == 0 and "Signature verification: ok" in verified.stdout, verified.stdout
    assert checksum_is_right(exe)
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result) and result.status == 0, result
    assert "fixed 4.1.0.0 1.0.0.0" in exe_details(wine, exe)  # Windows reads the signed exe's resources

    repacked = tmp_path / f"{unique_name}-2.exe"
    tool = [str(harness.pack_tool()), "--launcher", str(exe), "--out", str(repacked), "--vm-options", "-Dx=1"]
    refused = subprocess.run(tool, capture_output=True, text=True)
    assert refused.returncode == 1 and "code signature" in refused.stderr and not repacked.exists()
    stripped = subprocess.run(tool + ["--strip-signature"], capture_output=True, text=True)
    assert stripped.returncode == 0, stripped.stderr
    assert "warning:" in stripped.stderr and "removed its code signature" in stripped.stderr
    assert checksum_is_right(repacked)
    assert osslsigncode("verify", "-CAfile", tmp_path / "cert.pem", "-in", repacked).returncode != 0
    sign(repacked, tmp_path)
    assert osslsigncode("verify", "-CAfile", tmp_path / "cert.pem", "-in", repacked).returncode == 0
    assert checksum_is_right(repacked)
    again = wine.run(repacked, cwd=tmp_path)
    assert reached_main(again) and again.status == 0, again


def test_utf8_exe_gets_its_folder_arguments_and_class_path_intact(wine, tmp_path):
    folder = tmp_path / "日本語"
    folder.mkdir()
    shutil.copyfile(require(harness.test_app("app.jar")), folder / "app.jar")
    exe = make_app(folder, name="App", utf8=True, main_class="com.example.App", jar_path="app.jar")
    env, trace = traced_env(wine, tmp_path)
    arguments = ["日本", "€😀", "café"]
    # Started with a Unicode command line, as from Explorer; an ANSI start would pass it through the
    # runner's own code page first.
    run = wine.run(exe, arguments, cwd=folder, env=env, unicode=True)
    printed = (run.stdout + run.stderr).decode("utf-8", "replace")
    assert run.status == 0, printed
    main = trace.one("main")
    assert main["args"] == arguments, printed
    assert main["args_hex"] == [argument.encode().hex() for argument in arguments]
    jar = wine.to_windows(folder / "app.jar")
    assert trace.one("create")["classpath"][-1] == jar
    assert any(r["name"] == "com/example/App" and r["found"] and r["source"] == jar
               for r in trace.events("findclass")), trace.events("findclass")
