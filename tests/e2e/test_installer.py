"""The app image and its MSI: the packer run natively as on a Linux CI machine, the MSI read back with
msitools, signed with osslsigncode, and installed, upgraded, refused as a downgrade and uninstalled
by Wine's msiexec. The test runtime stands in for a Windows JDK (no Windows JDK can be had here)."""

import os
import re
import shutil
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

import harness
from harness import launcher_exe, require, test_app, test_runtime_dir
from launcher_output import reached_main
from runtime_trace import traced_env
from test_single_instance import SINGLE, RunningFirst, check_delivered_on_listener_thread, trace_env, wait_until

UPGRADE_CODE = "6f1c1a4e-2b7d-4c55-9a0e-3d2f8b9c0a11"
HOST_JDK = Path("/usr/lib/jvm/java-17-openjdk-amd64")


def quorvia_pack(*args, env=None):
    tool = require(harness.pack_tool(), "quorvia-pack")
    return subprocess.run([str(tool), *map(str, args)], capture_output=True, text=True, timeout=300, env=env)


def image(tmp_path, name="Ledger", version="1.2.3", runtime=None, extra=(), main_class="com.example.App"):
    folder = tmp_path / name
    r = quorvia_pack("--launcher", require(launcher_exe()), "--image", folder, "--main-class", main_class,
                     "--lib", require(test_app("app.jar")), "--runtime", runtime or require(test_runtime_dir()),
                     "--product-name", name, "--company", "Example Ltd.", "--product-version", version, *extra)
    assert r.returncode == 0, r.stdout + r.stderr
    return folder


def msi(tmp_path, folder, out, *extra):
    r = quorvia_pack("--msi", out, "--image", folder, "--upgrade-code", UPGRADE_CODE, *extra)
    assert r.returncode == 0, r.stdout + r.stderr
    return out


def table(msi_file, name):
    """Rows of an MSI table as lists of columns (msiinfo export: three header lines, tab-separated)."""
    text = subprocess.run(["msiinfo", "export", str(msi_file), name], capture_output=True, text=True,
                          check=True).stdout
    return [line.split("\t") for line in text.replace("\r\n", "\n").splitlines()[3:] if line]


def zip_runtime(source, zip_path, top):
    with zipfile.ZipFile(zip_path, "w", zipfile.ZIP_DEFLATED) as z:
        for f in sorted(Path(source).rglob("*")):
            if f.is_file():
                z.write(f, f"{top}{f.relative_to(source)}")
    return zip_path


def test_image_holds_exe_jars_and_runtime_from_a_folder_or_a_zip_and_passes_the_check(tmp_path):
    runtime = require(test_runtime_dir())
    for kind, source in [("folder", runtime), ("zip", zip_runtime(runtime, tmp_path / "jdk.zip", "jdk-17.0.2+8/"))]:
        folder = image(tmp_path / kind, runtime=source)
        assert (folder / "Ledger.exe").is_file() and (folder / "lib" / "app.jar").is_file()
        assert sorted(p.relative_to(folder / "jre") for p in (folder / "jre").rglob("*")) == \
            sorted(p.relative_to(runtime) for p in runtime.rglob("*")), kind
        shown = quorvia_pack("--show", folder / "Ledger.exe").stdout
        assert 'JAR-PATH 4500 lang=1033 size=12 text="lib\\\\app.jar"' in shown, shown


def test_a_runtime_that_is_not_windows_x64_is_refused_and_a_failed_check_fails_the_image(tmp_path):
    runtime = require(test_runtime_dir())
    no_dll = tmp_path / "no-dll"
    shutil.copytree(runtime, no_dll)
    (no_dll / "bin" / "java.dll").unlink()
    x86 = tmp_path / "x86"
    shutil.copytree(runtime, x86)
    dll = bytearray((x86 / "bin" / "java.dll").read_bytes())
    pe = int.from_bytes(dll[0x3C:0x40], "little")
    dll[pe + 4:pe + 6] = (0x14C).to_bytes(2, "little")
    (x86 / "bin" / "java.dll").write_bytes(bytes(dll))
    slip = tmp_path / "slip.zip"
    with zipfile.ZipFile(slip, "w") as z:
        z.writestr("../evil.txt", "x")
    no_jvm = tmp_path / "no-jvm"
    shutil.copytree(runtime, no_jvm)
    shutil.rmtree(no_jvm / "bin" / "server")
    shutil.rmtree(no_jvm / "bin" / "client")
    cases = [
        (no_dll, "is not a Windows runtime: bin\\java.dll"),
        (x86, "bin\\java.dll is x86 (32-bit), not x64"),
        (slip, "entry '../evil.txt' would land outside the runtime folder"),
        (no_jvm, "FAIL  runtime"),
    ]
    for source, message in cases:
        folder = tmp_path / f"image-{source.name}"
        r = quorvia_pack("--launcher", launcher_exe(), "--image", folder, "--main-class", "com.example.App",
                         "--lib", test_app("app.jar"), "--runtime", source)
        assert r.returncode == 1, (source, r.stdout, r.stderr)
        assert message in r.stdout + r.stderr, (source, r.stdout, r.stderr)
    assert not (tmp_path / "evil.txt").exists()


@pytest.mark.skipif(not (HOST_JDK / "jmods").is_dir(), reason="the host JDK 17 with jmods is not installed")
def test_jlink_links_the_modules_jdeps_finds_and_refuses_a_runtime_of_another_major(tmp_path):
    """A fixture laid out like a Windows JDK 17 (an x64 bin\\java.dll, release, jmods) whose jmods are the
    host's own: the jlinked runtime is then a Linux one, which shows that the modules chosen and the jlink
    call are right, and is refused for want of an x64 java.dll, as it must be."""
    jdk = tmp_path / "jdk"
    shutil.copytree(require(test_runtime_dir()), jdk)
    (jdk / "jmods").symlink_to(HOST_JDK / "jmods")
    env = dict(**__import__("os").environ, JAVA_HOME=str(HOST_JDK))
    jar = require(test_app("app.jar"))
    for version, modules, expected in [("17.0.2", "auto", "MODULES=\"java.base\""),
                                       ("17.0.2", "java.base,java.logging", "MODULES=\"java.base java.logging\""),
                                       ("21.0.1", "auto", "the host's jlink is Java 17 but"),
                                       ("17.0.2", "java.base,,x", "--jlink-modules wants auto or module names")]:
        (jdk / "release").write_text(f'JAVA_VERSION="{version}"\n')
        folder = tmp_path / f"image-{version}-{len(modules)}"
        r = quorvia_pack("--launcher", launcher_exe(), "--image", folder, "--main-class", "com.example.App",
                         "--classes", jar, "--runtime", jdk, "--jlink-modules", modules, env=env)
        output = r.stdout + r.stderr
        release = folder / "jre" / "release"
        if expected.startswith("MODULES"):
            assert expected in release.read_text(), output
            assert not (folder / "jre" / "include").exists() and not (folder / "jre" / "man").exists()
            assert r.returncode == 1 and "is not a Windows runtime" in r.stderr, output
        else:
            assert r.returncode != 0 and expected in output and not release.exists(), output


def test_the_msi_read_back_names_product_upgrade_code_files_shortcuts_association_and_service(tmp_path):
    texts = {"SERVICE-NAME": "LedgerSvc", "SERVICE-DISPLAY-NAME": "Ledger service", "SERVICE-START": "delayed",
             "SERVICE-DEPENDS-ON": "Tcpip;Dnscache"}
    raw = []
    for i, (name, value) in enumerate(texts.items()):
        (tmp_path / name).write_bytes(value.encode() + b"\0")
        raw += ["--raw-text", f"{name}={15000 + i}:{tmp_path / name}"]
    folder = image(tmp_path, extra=raw)
    (tmp_path / "LICENSE.txt").write_text("licence")
    out = msi(tmp_path, folder, tmp_path / "Ledger-1.2.3.msi", "--shortcut", "start-menu,desktop",
              "--file-association", "ldg:Ledger book", "--license-file", tmp_path / "LICENSE.txt")
    props = dict(row[:2] for row in table(out, "Property"))
    assert props["UpgradeCode"] == "{" + UPGRADE_CODE.upper() + "}"
    assert (props["ProductName"], props["ProductVersion"], props["Manufacturer"], props["ALLUSERS"]) == \
        ("Ledger", "1.2.3", "Example Ltd.", "1")
    assert re.fullmatch(r"\{[0-9A-F-]{36}\}", props["ProductCode"])
    assert table(out, "LaunchCondition") == [["NOT WIX_DOWNGRADE_DETECTED",
                                              "A newer version of [ProductName] is already installed."]]
    files = sorted(row[2].split("|")[-1] for row in table(out, "File"))
    assert files == sorted(["Ledger.exe", "app.jar", "LICENSE.txt"] +
                           [p.name for p in test_runtime_dir().rglob("*") if p.is_file()])
    assert sorted((row[1], row[2]) for row in table(out, "Shortcut")) == \
        [("AppMenuDir", "Ledger"), ("AppMenuDir", "Ledger licence"), ("DesktopFolder", "Ledger")]
    registry = {(row[2], row[3]): row[4] for row in table(out, "Registry") if "Classes" in row[2]}
    assert registry == {
        ("Software\\Classes\\.ldg", ""): "Ledger.ldg",
        ("Software\\Classes\\Ledger.ldg", ""): "Ledger book",
        ("Software\\Classes\\Ledger.ldg\\DefaultIcon", ""): '"[#MainExe]",0',
        ("Software\\Classes\\Ledger.ldg\\shell\\open\\command", ""): '"[#MainExe]" "%1"',
    }
    service = table(out, "ServiceInstall")
    assert [(row[1], row[2], row[4], row[7], row[8], row[10], row[11]) for row in service] == \
        [("LedgerSvc", "Ledger service", "2", "Tcpip[~]Dnscache[~][~]", "NT AUTHORITY\\LocalService", "-service",
          "MainExe")]
    assert [(row[1], row[2]) for row in table(out, "ServiceControl")] == [("LedgerSvc", "163")]
    assert any(row[3] == "DelayedAutostart" for row in table(out, "Registry"))


def test_msi_settings_are_refused_with_their_reason(tmp_path):
    folder = image(tmp_path)
    four = image(tmp_path / "four", version="1.2.3.4")
    cases = [
        ([folder], "--msi needs --upgrade-code UUID", "must stay the same for every version"),
        ([folder, "--upgrade-code", UPGRADE_CODE, "--install-scope", "everyone"], "machine or user", ""),
        ([folder, "--upgrade-code", UPGRADE_CODE, "--file-association", "l d g:x"], "EXT:DESCRIPTION", ""),
        ([four, "--upgrade-code", UPGRADE_CODE], "ignores a fourth field", ""),
    ]
    for args, message, more in cases:
        r = quorvia_pack("--msi", tmp_path / "x.msi", "--image", *args)
        assert r.returncode in (1, 2) and message in r.stderr and more in r.stderr, (args, r.stderr)
        assert not (tmp_path / "x.msi").exists()
    r = quorvia_pack("--msi", folder / "x.msi", "--image", folder, "--upgrade-code", UPGRADE_CODE)
    assert r.returncode == 2 and "lies inside the image" in r.stderr, r.stderr


def sign(tmp_path, unsigned, signed):
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    if not cert.exists():
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "2", "-nodes",
                        "-keyout", key, "-out", cert, "-subj", "/CN=Quorvia Test Code Signing",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Ledger", "-h", "sha256",
                    "-in", unsigned, "-out", signed], check=True, capture_output=True)
    r = subprocess.run(["osslsigncode", "verify", "-in", signed, "-CAfile", cert], capture_output=True, text=True)
    assert r.returncode == 0 and "Signature verification: ok" in r.stdout, r.stdout + r.stderr
    return signed


def signed_msi(tmp_path, version, *extra):
    """The README's order: the exe signed in the image, then the MSI built from it and signed."""
    folder = image(tmp_path / version, version=version)
    exe = folder / "Ledger.exe"
    sign(tmp_path, exe, exe.with_suffix(".signed"))
    exe.with_suffix(".signed").replace(exe)
    built = msi(tmp_path, folder, tmp_path / f"Ledger-{version}-unsigned.msi", *extra)
    return sign(tmp_path, built, tmp_path / f"Ledger-{version}.msi")


# Keys Wine changes by itself, and the installer's own bookkeeping keys it leaves empty after the
# first product ever installed in a prefix.
VOLATILE = re.compile(r"^HKEY_LOCAL_MACHINE\\(System\\CurrentControlSet\\(Control\\(Video|DeviceClasses|Class)|"
                      r"Enum)|Hardware)|Software\\Wine\\(Temporary System Parameters|MenuFiles)|\\Explorer\\|"
                      r"Software\\Microsoft\\Cryptography\\RNG", re.I)


def snapshot(wine, tmp_path, name):
    """Every file of drive C: and every registry key with its values (an export by regedit)."""
    export = tmp_path / f"{name}.reg"
    wine.wine(["regedit", "/E", wine.to_windows(export)], timeout=120)
    keys, key = {}, None
    for line in export.read_bytes().decode("utf-16", "replace").replace("\r\n", "\n").replace("\\\n  ", "").splitlines():
        if line.startswith("["):
            key = line[1:-1]
            keys[key] = set()
        elif key and "=" in line:
            keys[key].add(line)
    keys = {k: v for k, v in keys.items() if not VOLATILE.search(k)}
    skip = ("windows/Installer", "windows/temp", "windows/logs", "users/root/Temp", "users/root/AppData/Local/Temp",
            "users/root/AppData/Roaming/Microsoft/Installer")  # the installer's own caches
    files = {str(p.relative_to(wine.drive_c)) for p in wine.drive_c.rglob("*")
             if not str(p.relative_to(wine.drive_c)).startswith(skip)}
    return files, keys


def left_behind(before, after):
    files = sorted(after[0] - before[0])
    keys = sorted(k for k in after[1].keys() - before[1].keys()
                  if after[1][k] or "\\Installer" not in k)  # the installer's empty bookkeeping keys
    values = sorted(k for k in after[1].keys() & before[1].keys() if after[1][k] != before[1][k])
    return files, keys, values


def installed_versions(wine):
    """DisplayVersion of each entry of Programs and Features named Ledger."""
    text = wine.wine(["reg", "query", r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall", "/s"]).stdout
    entries, values = [], None
    for line in text.decode(errors="replace").splitlines():
        if line.startswith("HKEY_"):
            values = {}
            entries.append(values)
        elif values is not None and "REG_" in line:
            parts = re.split(r"\s{4}", line.strip(), maxsplit=2)
            values[parts[0]] = parts[2] if len(parts) == 3 else ""
    return sorted(e.get("DisplayVersion") for e in entries if e.get("DisplayName") == "Ledger")


def msiexec(wine, *args):
    started = time.monotonic()
    r = wine.wine(["msiexec", *args, "/qn"], timeout=180, check=False)
    return r.returncode, time.monotonic() - started


def test_install_start_open_upgrade_refuse_downgrade_and_uninstall_cleanly(wine, tmp_path, record_property):
    assoc = ("--shortcut", "start-menu,desktop", "--file-association", "ldg:Ledger book")
    old, new = signed_msi(tmp_path, "1.2.3", *assoc), signed_msi(tmp_path, "1.2.4", *assoc)
    record_property("msi_bytes", old.stat().st_size)
    before = snapshot(wine, tmp_path, "before")

    status, seconds = msiexec(wine, "/i", wine.to_windows(old))
    assert status == 0
    record_property("install_s", round(seconds, 2))
    home = wine.drive_c / "Program Files" / "Ledger"
    assert (home / "Ledger.exe").is_file() and (home / "jre" / "bin" / "server" / "jvm.dll").is_file()
    menu = next(wine.drive_c.rglob("Start Menu/Programs/Ledger/Ledger.lnk"))
    assert b"C:\\Program Files\\Ledger\\Ledger.exe" in menu.read_bytes().replace(b"\0", b"")
    env, trace = traced_env(wine, tmp_path)
    r = wine.run("C:\\Program Files\\Ledger\\Ledger.exe", env=env)
    assert reached_main(r), r
    assert trace.one("load")["path"] == "C:\\Program Files\\Ledger\\jre\\bin\\server\\jvm.dll"
    assert "-Djava.class.path=;C:\\Program Files\\Ledger\\lib\\app.jar" in trace.option_texts()

    document = wine.drive_c / "users" / "Public" / "book one.ldg"
    document.write_text("entries")
    opened = len(trace.events("main"))
    wine.wine(["cmd", "/c", "start", "/wait", "", wine.to_windows(document)], env=env, timeout=120)
    args = [e["args"] for e in trace.events("main")[opened:]]
    assert args == [["C:\\users\\Public\\book one.ldg"]], trace.records()
    document.unlink()

    assert msiexec(wine, "/i", wine.to_windows(new))[0] == 0
    assert installed_versions(wine) == ["1.2.4"]
    assert (home / "Ledger.exe").read_bytes() == (tmp_path / "1.2.4" / "Ledger" / "Ledger.exe").read_bytes()
    assert msiexec(wine, "/i", wine.to_windows(old))[0] == 1603 & 0xFF  # refused: a newer one is there
    assert installed_versions(wine) == ["1.2.4"]

    status, seconds = msiexec(wine, "/x", wine.to_windows(new))
    assert status == 0
    record_property("uninstall_s", round(seconds, 2))
    assert left_behind(before, snapshot(wine, tmp_path, "after")) == ([], [], [])


def test_per_user_install_and_uninstall_leave_nothing_behind(wine, tmp_path):
    folder = image(tmp_path)
    out = msi(tmp_path, folder, tmp_path / "Ledger-user.msi", "--install-scope", "user", "--shortcut", "desktop",
              "--file-association", "ldg:Ledger book")
    assert "ALLUSERS" not in dict(row[:2] for row in table(out, "Property"))
    before = snapshot(wine, tmp_path, "before")
    assert msiexec(wine, "/i", wine.to_windows(out))[0] == 0
    assert next(wine.drive_c.glob("users/*/AppData/Local/Programs/Ledger/Ledger.exe")).is_file()
    assert wine.reg_query(r"HKCU\Software\Classes\.ldg", None) == "Ledger.ldg"
    assert msiexec(wine, "/x", wine.to_windows(out))[0] == 0
    assert left_behind(before, snapshot(wine, tmp_path, "after")) == ([], [], [])


def test_opening_an_associated_file_hands_it_to_the_running_single_instance_application(wine, tmp_path):
    out = msi(tmp_path, image(tmp_path, main_class=SINGLE), tmp_path / "Ledger.msi", "--file-association",
              "ldg:Ledger book")
    assert msiexec(wine, "/i", wine.to_windows(out))[0] == 0
    first = RunningFirst(wine, tmp_path, wine.drive_c / "Program Files" / "Ledger" / "Ledger.exe")
    document = wine.drive_c / "users" / "Public" / "book two.ldg"
    document.write_text("entries")
    env, opened = trace_env(wine, tmp_path / "opened")
    # Without /wait: the hand-off ends the opened start with status 1, which the harness would take
    # for a start Wine failed to make and make again.
    wine.wine(["cmd", "/c", "start", "", wine.to_windows(document)], env=env, timeout=120)
    # The start made by the shell found the running instance, handed the file over and ended.
    wait_until(lambda: opened.events("destroy"), "the opened start to end")
    assert opened.events("main") == [], opened.records()
    wait_until(lambda: first.trace.events("initSingleApplication"), "the hand-off to reach the running instance")
    check_delivered_on_listener_thread(first.trace, [b"C:\\users\\Public\\book two.ldg"])
    assert first.finish().status == 0


def test_the_msi_installs_starts_and_removes_the_service_of_a_service_exe(wine, tmp_path):
    # Services take their environment from the registry; "serve" keeps the stand-in VM up until a stop.
    wine.reg_add(r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment", "QUORVIA_TEST_MAIN", "serve")
    wine.restart_server()
    folder = tmp_path / "Ledger"
    r = quorvia_pack("--launcher", require(harness.windows_build_dir() / "launcher-service.exe"), "--image", folder,
                     "--main-class", "com.example.ServiceApp", "--lib", require(test_app("app.jar")),
                     "--runtime", require(test_runtime_dir()), "--service", "QvLedger", "--service-start", "demand",
                     "--product-name", "Ledger", "--company", "Example Ltd.", "--product-version", "1.0.0")
    assert r.returncode == 0, r.stdout + r.stderr
    out = msi(tmp_path, folder, tmp_path / "Ledger-service.msi")

    def state():
        q = wine.wine(["sc", "query", "QvLedger"], check=False)
        found = re.search(r"STATE\s+:\s+(\d+)", q.stdout.decode("cp1252"))
        return int(found.group(1)) if q.returncode == 0 and found else None

    assert msiexec(wine, "/i", wine.to_windows(out))[0] == 0
    key = r"HKLM\System\CurrentControlSet\Services\QvLedger"
    # Windows Installer quotes the path; Wine's does not.
    assert re.fullmatch(r'"?C:\\Program Files\\Ledger\\Ledger\.exe"? -service', wine.reg_query(key, "ImagePath"))
    assert state() == 4, "installed and started: the exe knew it was a service"
    assert msiexec(wine, "/x", wine.to_windows(out))[0] == 0
    assert state() is None


def test_the_readme_takes_the_sample_from_a_jar_to_a_signed_msi_that_installs_and_runs(wine, tmp_path):
    """The commands of the README's "Shipping an installer", run as written but for two things this
    machine lacks: no Windows JDK (a zip of the stand-in runtime takes the JDK zip's name, and
    --jlink-modules is left out: jlink is tested above over the host JDK's jmods) and no trusted
    code-signing certificate (a self-signed one, which verify is given as its CA)."""
    readme = (harness.repo_root() / "README.md").read_text()
    section = readme[readme.index("## Shipping an installer"):]
    commands = re.search(r"```sh\n(.*?)```", section, re.S).group(1)
    assert " --jlink-modules auto" in commands and "osslsigncode verify -in Hello-1.2.3.msi" in commands
    commands = commands.replace(" --jlink-modules auto", "").replace(
        "osslsigncode verify -in Hello-1.2.3.msi", "osslsigncode verify -CAfile cert.pem -in Hello-1.2.3.msi")

    shutil.copytree(harness.repo_root() / "samples" / "hello", tmp_path / "samples" / "hello")
    zip_runtime(require(test_runtime_dir()), tmp_path / "OpenJDK17U-jdk_x64_windows_hotspot_17.0.2_8.zip",
                "jdk-17.0.2+8/")
    (tmp_path / "LICENSE.txt").write_text("MIT\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-sha256", "-days", "2", "-nodes",
                    "-keyout", "key.pem", "-out", "cert.pem", "-subj", "/CN=Quorvia Test Code Signing",
                    "-addext", "extendedKeyUsage=codeSigning"], cwd=tmp_path, check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", "key.pem", "-in", "cert.pem", "-out", "codesign.p12",
                    "-passout", "pass:secret"], cwd=tmp_path, check=True, capture_output=True)
    tool = require(harness.pack_tool(), "quorvia-pack")
    env = {**os.environ, "PATH": f"{tool.parent}:{os.environ['PATH']}", "CODESIGN_PASSWORD": "secret"}
    r = subprocess.run(["bash", "-euo", "pipefail", "-c", commands], cwd=tmp_path, env=env, capture_output=True,
                       text=True, timeout=300)
    assert r.returncode == 0 and "Signature verification: ok" in r.stdout, r.stdout + r.stderr

    assert msiexec(wine, "/i", wine.to_windows(tmp_path / "Hello-1.2.3.msi"))[0] == 0
    env, trace = traced_env(wine, tmp_path)
    result = wine.run("C:\\Program Files\\Hello\\Hello.exe", ["Alice"], env=env)
    assert result.status == 0 and result.boxes == [], result
    assert trace.one("main")["class"] == "com/quorvia/sample/Hello" and trace.one("main")["args"] == ["Alice"]
    assert trace.one("load")["path"] == "C:\\Program Files\\Hello\\jre\\bin\\server\\jvm.dll"
