"""quorvia-pack --check: what it reports for good and broken packages, read from fixtures the test
builds, and, under Wine, that the runtime, VM type and class path it names are the ones the launcher
then uses."""

import json
import shutil
import struct
import subprocess
import tempfile
import zlib
from pathlib import Path

import pefile
import pytest

import harness
from harness import make_app, require
from launcher_output import reached_main
from runtime_trace import traced_env

JDK17 = Path("/usr/lib/jvm/java-17-openjdk-amd64")


def check(path, *extra):
    """Runs the native --check with --json; returns (exit status, findings)."""
    tool = require(harness.pack_tool(), "quorvia-pack")
    r = subprocess.run([str(tool), "--check", str(path), "--json", *extra], capture_output=True, timeout=60)
    if r.returncode == 2:
        return 2, r.stderr.decode()
    return r.returncode, json.loads(r.stdout)["findings"] if r.stdout else r.stderr.decode()


def texts(findings, severity):
    return [f"{f['area']}: {f['text']}" for f in findings if f["severity"] == severity]


def one_text(findings, start):
    found = [f["text"] for f in findings if f["severity"] == "OK" and f["text"].startswith(start)]
    assert len(found) == 1, findings
    return found[0][len(start):]


def compile_main(tmp_path, release, name="Main", body="public static void main(String[] a) {}"):
    """com.example.NAME compiled by javac for that release, in a jar of its own."""
    work = Path(tempfile.mkdtemp(dir=tmp_path, prefix="javac-"))
    src = work / "com" / "example"
    src.mkdir(parents=True)
    (src / f"{name}.java").write_text(f"package com.example; public class {name} {{ {body} }}\n")
    classes = work / "classes"
    subprocess.run(["javac", "--release", str(release), "-d", str(classes), str(src / f"{name}.java")], check=True)
    jar = work / f"{name}.jar"
    subprocess.run(["jar", "cf", str(jar), "-C", str(classes), "."], check=True)
    return jar


def pe32_header():
    """The headers of a 32-bit (x86) DLL importing nothing: what a 32-bit runtime's jvm.dll starts with."""
    dos = b"MZ" + b"\0" * 58 + struct.pack("<I", 64)
    coff = struct.pack("<HHIIIHH", 0x14C, 0, 0, 0, 0, 224, 0x2102)
    optional = struct.pack("<H", 0x10B) + b"\0" * 90 + struct.pack("<I", 16) + b"\0" * 128
    return dos + b"PE\0\0" + coff + optional


def png(width, height):
    """A grey RGB PNG of that size."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + b"\x80" * (3 * width) for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def replace_import(dll, old, new):
    data = dll.read_bytes()
    assert old in data and len(new) <= len(old)
    dll.write_bytes(data.replace(old, new.ljust(len(old), b"\0"), 1))


def import_universal_crt(dll):
    """Makes the stand-in jvm.dll import the Universal CRT as a current JDK's jvm.dll does: ucrtbase.dll in
    place of quorvia_testdep.dll, and api-ms-win-crt-runtime-l1-1-0.dll in place of USER32.dll. That name is
    longer than any the DLL holds: it goes into the unused end of the import section, which then maps it."""
    pe = pefile.PE(str(dll))
    user32 = next(e for e in pe.DIRECTORY_ENTRY_IMPORT if e.dll.lower() == b"user32.dll")
    section = pe.get_section_by_rva(user32.struct.Name)
    name = b"api-ms-win-crt-runtime-l1-1-0.dll\0"
    used = section.Misc_VirtualSize
    assert used + len(name) <= section.SizeOfRawData, "no room left in the import section"
    pe.set_bytes_at_offset(section.PointerToRawData + used, name)
    section.Misc_VirtualSize = used + len(name)
    user32.struct.Name = section.VirtualAddress + used
    dll.write_bytes(pe.write())
    pe.close()
    replace_import(dll, b"quorvia_testdep.dll", b"ucrtbase.dll")
    return sorted(e.dll for e in pefile.PE(str(dll)).DIRECTORY_ENTRY_IMPORT)


# ---- Failures the check names, one fixture each ----

def _missing_vcruntime(tmp_path):
    # The stand-in jvm.dll imports quorvia_testdep.dll from bin; renamed, it needs a DLL no PC ships.
    replace_import(tmp_path / "jre/bin/server/jvm.dll", b"quorvia_testdep.dll", b"VCRUNTIME140.dll")
    return {}, "vm library: jvm.dll imports VCRUNTIME140.dll, which is not in the runtime"


def _runtime_32_bit(tmp_path):
    (tmp_path / "jre/bin/server/jvm.dll").write_bytes(pe32_header())
    return {}, "vm library: jvm.dll is x86 (32-bit)"


def _class_too_new(tmp_path):
    return {"classes": compile_main(tmp_path, 17)}, "application: class-file version 61 (Java 17) is newer than the runtime (Java 11)"


def _missing_main_class(tmp_path):
    return {"main_class": "com.example.Mian"}, "application: main class com.example.Mian is in no class path entry"


def _main_not_static(tmp_path):
    return ({"classes": compile_main(tmp_path, 8, body="public void main(String[] a) {}")},
            "application: com.example.Main.main(String[]) is not public static")


def _no_vm_library(tmp_path):
    (tmp_path / "jre/lib/jvm.cfg").write_text("-hotspot KNOWN\n")
    return {}, "runtime: no VM type of jvm.cfg has its bin\\TYPE\\jvm.dll"


def _damaged_splash(tmp_path):
    image = bytearray(png(64, 48))
    image[-20] ^= 0xFF  # inside the image data: its chunk's CRC no longer matches
    (tmp_path / "splash.png").write_bytes(bytes(image))
    # Stored as it is: packing with --splash refuses it.
    return ({"raw_text": [("VM-SPLASH", 20000, tmp_path / "splash.png")]},
            "splash: VM-SPLASH: PNG chunk IDAT fails its CRC")


def _missing_class_path_entry(tmp_path):
    return {"class_path": "#\\lib\\gone.jar"}, "application: class path entry"


@pytest.mark.parametrize("broken", [_missing_vcruntime, _runtime_32_bit, _class_too_new, _missing_main_class,
                                    _main_not_static, _missing_class_path_entry, _no_vm_library, _damaged_splash],
                         ids=lambda f: f.__name__[1:])
def test_check_fails_a_package_that_will_not_start(tmp_path, broken):
    shutil.copytree(require(harness.test_runtime_dir()), tmp_path / "jre")
    (tmp_path / "jre/release").write_text('JAVA_VERSION="11.0.2"\n')
    options = {"classes": compile_main(tmp_path, 8), "main_class": "com.example.Main"}
    changes, expected = broken(tmp_path)
    options.update(changes)
    make_app(tmp_path, runtime=False, **options)
    status, findings = check(tmp_path)  # the folder: it holds exactly this one packed exe
    failures = texts(findings, "FAIL")
    assert status == 1, findings
    assert len(failures) == 1 and failures[0].startswith(expected), failures
    assert all(f["fix"] for f in findings if f["severity"] != "OK")


def test_check_passes_classes_for_the_runtime_and_refuses_bad_usage(tmp_path):
    shutil.copytree(require(harness.test_runtime_dir()), tmp_path / "jre")
    (tmp_path / "jre/release").write_text('JAVA_VERSION="11.0.2"\n')
    (tmp_path / "splash.png").write_bytes(png(64, 48))
    exe = make_app(tmp_path, runtime=False, classes=compile_main(tmp_path, 8), main_class="com.example.Main",
                   splash=tmp_path / "splash.png", startup_cache=True)
    status, findings = check(exe)
    assert status == 0 and not texts(findings, "FAIL"), findings
    assert [t for t in texts(findings, "WARN") if "start-up cache" in t] == [
        "runtime: the start-up cache mark has no effect: this runtime offers no archive the launcher uses"]
    assert "application: class-file version 52 (Java 8) runs on Java 11" in texts(findings, "OK")
    assert "splash: splash image decodes, 64x48" in texts(findings, "OK")
    shutil.copy(exe, tmp_path / "Other.exe")
    assert check(tmp_path)[0] == 1, "a folder with two packed exes names no exe"
    assert check(exe, "--out", "x.exe")[0] == 2


@pytest.mark.parametrize("accepted,severity,text", [
    ("11", "FAIL", "is newer than the lowest Java the runtime rule accepts (11)"),
    ("17..21", "OK", "runs on every Java the runtime rule accepts")])
def test_check_holds_the_classes_against_the_lowest_java_the_rule_accepts(tmp_path, accepted, severity, text):
    exe = make_app(tmp_path, runtime=False, classes=compile_main(tmp_path, 17), main_class="com.example.Main",
                   java_version=accepted)
    _, findings = check(exe)
    found = [t for t in texts(findings, severity) if t.startswith(f"application: class-file version 61 (Java 17) {text}")]
    assert len(found) == 1, findings


def test_check_counts_the_universal_crt_as_part_of_every_windows(tmp_path):
    shutil.copytree(require(harness.test_runtime_dir()), tmp_path / "jre")
    (tmp_path / "jre/release").write_text('JAVA_VERSION="21.0.2"\n')
    imports = import_universal_crt(tmp_path / "jre/bin/server/jvm.dll")
    assert imports == [b"KERNEL32.dll", b"api-ms-win-crt-runtime-l1-1-0.dll", b"msvcrt.dll", b"ucrtbase.dll"]
    exe = make_app(tmp_path, runtime=False, classes=compile_main(tmp_path, 8), main_class="com.example.Main")
    status, findings = check(exe)
    assert status == 0 and not texts(findings, "FAIL"), findings
    assert "vm library: every DLL jvm.dll needs is in the runtime (0) or part of every Windows" in texts(findings, "OK")


def test_check_reads_a_real_jdk_release_file_and_jar(tmp_path):
    # A real JDK's release file and a jar its own jar tool wrote (deflated), with real class files.
    shutil.copytree(require(harness.test_runtime_dir()), tmp_path / "jre")
    shutil.copy(require(JDK17 / "release"), tmp_path / "jre/release")
    shutil.copy(require(JDK17 / "lib/jrt-fs.jar"), tmp_path / "jrt-fs.jar")
    exe = make_app(tmp_path, runtime=False, classes=compile_main(tmp_path, 17), main_class="com.example.Main",
                   class_path="#\\jrt-fs.jar", startup_cache=True)
    status, findings = check(exe)
    assert status == 0, findings
    assert one_text(findings, "runtime version ").startswith("17.")
    assert one_text(findings, "start-up cache with this runtime: ").startswith("dynamic class-data archive")
    assert "application: class-file version 61 (Java 17) runs on Java 17" in texts(findings, "OK")
    # A class of the JDK's jar as main class: found there, and it has no main.
    pack = harness.pack(exe, classes=compile_main(tmp_path, 17, name="Other"),
                        main_class="jdk.internal.jrtfs.JrtFileSystemProvider", class_path="#\\jrt-fs.jar")
    status, findings = check(pack)
    assert status == 1
    assert texts(findings, "FAIL") == ["application: jdk.internal.jrtfs.JrtFileSystemProvider has no main(String[])"]


def test_check_reads_a_sync_folder_at_its_source(tmp_path):
    source = tmp_path / "share"
    shutil.copytree(require(harness.test_runtime_dir()), source / "jre")
    (source / "libs").mkdir()
    shutil.copy(require(harness.test_app("app.jar")), source / "libs/app.jar")
    (tmp_path / "app").mkdir()
    exe = harness.pack(tmp_path / "app/Sync.exe", main_class="com.example.App", sync_path=str(source).replace("/", "\\"))
    status, findings = check(exe)
    assert status == 0, findings
    mirror = "C:\\ProgramData\\.quorvia\\cache\\Sync\\sync"
    assert one_text(findings, "runtime of the sync folder: ").endswith(f", loaded from its mirror {mirror}\\jre")
    assert one_text(findings, "class path: ") == f"{mirror}\\libs\\app.jar"
    assert one_text(findings, "main class found in ") == f"{mirror}\\libs\\app.jar"


# ---- What --check says is what the launcher does ----

def launcher_path(wine, checked):
    """A path of the check's report (the Linux folder written with backslashes) as Wine names it."""
    return checked if checked[1:2] == ":" else "Z:" + checked


@pytest.mark.parametrize("layout,jvm_cfg", [(True, None), ("home", "-client KNOWN\n-server KNOWN\n")],
                         ids=["jre-folder-server", "beside-exe-client-first"])
def test_check_names_the_runtime_vm_and_class_path_the_launcher_uses(wine, tmp_path, unique_name, layout, jvm_cfg):
    (tmp_path / "lib").mkdir()
    shutil.copy(require(harness.test_app("app-stored.jar")), tmp_path / "lib/extra.jar")
    exe = make_app(tmp_path, name=unique_name, runtime=layout, classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App", class_path="#\\lib\\extra.jar;@\\lib\\jvm.cfg")
    home = tmp_path / "jre" if layout is True else tmp_path
    if jvm_cfg:
        (home / "lib/jvm.cfg").write_text(jvm_cfg)
    (home / "release").write_text('JAVA_VERSION="17.0.2"\n')

    status, findings = check(exe)
    assert status == 0, texts(findings, "FAIL")
    checked_home = [f["text"].split(": ", 1)[1] for f in findings if f["text"].startswith("private runtime")]
    vm_line = one_text(findings, "VM type ")
    vm_type, vm_library = vm_line.split(": ", 1)
    class_path = one_text(findings, "class path: ").split(";")

    # The Windows build of the tool reports the same, with the folders as Windows names them.
    tool = require(harness.windows_build_dir() / "quorvia-pack.exe")
    windows_run = wine.run(tool, ["--check", wine.to_windows(exe), "--json"], cwd=tmp_path)
    assert windows_run.status == 0, windows_run
    native_folder = str(tmp_path).replace("/", "\\")
    assert json.loads(windows_run.stdout_text)["findings"] == [
        {key: value.replace(native_folder, wine.to_windows(tmp_path)) for key, value in f.items()} for f in findings]

    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, cwd=tmp_path, env=env)
    assert reached_main(result), result
    load = trace.one("load")
    assert load["dll"] == vm_type == ("client" if jvm_cfg else "server")
    assert load["path"].lower() == launcher_path(wine, vm_library).lower()
    assert launcher_path(wine, checked_home[0]).lower() == wine.to_windows(home).lower()
    option = [t for t in trace.option_texts() if t.startswith("-Djava.class.path=")]
    launched = [e for e in option[0][len("-Djava.class.path="):].split(";") if e]
    assert len(launched) == 3, launched  # the cache file, lib\\extra.jar, the runtime's jvm.cfg
    assert [e.lower() for e in launched] == [launcher_path(wine, e).lower() for e in class_path]
