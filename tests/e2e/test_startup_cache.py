"""The start-up cache under Wine: with the STARTUP-CACHE mark the test runtime receives the archive
options of the version its release file names, the archive lies in the application's folder of the
cache beside the jar cache, and one without the VM's magic is removed before the VM could reject it."""

import hashlib
import os
import re

import pytest

import harness
from harness import make_app, require
from launcher_output import reached_main
from runtime_trace import traced_env

CACHE = "C:\\ProgramData\\.quorvia\\cache"


def app(tmp_path, name, release, mark=True):
    exe = make_app(tmp_path, name=name, runtime=True, classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App", startup_cache=mark)
    if release is not None:
        (tmp_path / "jre" / "release").write_text(f'IMPLEMENTOR="Test"\nJAVA_VERSION="{release}"\n')
    return exe


def start(wine, exe, tmp_path, label):
    """One start; its trace (the options the runtime received, the archive it mapped)."""
    folder = tmp_path / label
    folder.mkdir()
    env, trace = traced_env(wine, folder)
    result = wine.run(exe, cwd=tmp_path, env=env)
    assert reached_main(result), result
    assert result.status == 0
    return trace


def archive_options(trace):
    return [text for text in trace.option_texts() if "Archive" in text or "AOT" in text]


def archive_prefix(name):
    digest = hashlib.md5(require(harness.test_app("app.jar")).read_bytes()).hexdigest().upper()
    return f"{CACHE}\\{name}\\{name}.{digest}."  # in the application's own folder


# "{A}" stands for the archive's path without its extension: the cache folder, the exe's base name,
# the jar's digest, the runtime key and the exe's path key.
@pytest.mark.parametrize("release, first, second", [
    ("11.0.22", [], []),
    ("17.0.9", [r"-XX:ArchiveClassesAtExit={A}\.jsa\.\d+\.tmp"], [r"-XX:SharedArchiveFile={A}\.jsa"]),
    ("21.0.5", [r"-XX:\+AutoCreateSharedArchive", r"-XX:SharedArchiveFile={A}\.jsa"],
     [r"-XX:\+AutoCreateSharedArchive", r"-XX:SharedArchiveFile={A}\.jsa"]),
    ("25", [r"-XX:AOTCacheOutput={A}\.aot"], [r"-XX:AOTCache={A}\.aot"]),
])
def test_release_version_chooses_the_options_and_the_second_start_maps_the_archive(
        wine, tmp_path, unique_name, release, first, second):
    exe = app(tmp_path, unique_name, release)
    stem = re.escape(archive_prefix(unique_name)) + r"\d+-[0-9a-f]{16}\.[0-9a-f]{8}"

    def matches(options, patterns):
        return len(options) == len(patterns) and all(
            re.fullmatch(pattern.replace("{A}", stem), text) for text, pattern in zip(options, patterns))

    first_trace = start(wine, exe, tmp_path, "first")
    assert matches(archive_options(first_trace), first), archive_options(first_trace)
    second_trace = start(wine, exe, tmp_path, "second")
    assert matches(archive_options(second_trace), second), archive_options(second_trace)
    if second:
        assert [event["mapped"] for event in second_trace.events("archive")] == [True]
        assert [event["ok"] for event in first_trace.events("archive_written")] == [True]
    else:
        assert second_trace.events("archive") == []


def test_no_archive_option_without_the_mark_or_without_a_release_file(wine, tmp_path, unique_name):
    unmarked = app(tmp_path / "unmarked", unique_name, "25", mark=False)
    assert archive_options(start(wine, unmarked, tmp_path / "unmarked", "run")) == []
    no_release = app(tmp_path / "no-release", unique_name + "b", None)
    assert archive_options(start(wine, no_release, tmp_path / "no-release", "run")) == []
    assert not list(harness_cache(wine).glob("*/*.aot")) and not list(harness_cache(wine).glob("*/*.jsa*"))


def harness_cache(wine):
    return wine.drive_c / "ProgramData" / ".quorvia" / "cache"


def test_archive_with_a_zero_header_is_removed_and_written_again(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, "25")
    start(wine, exe, tmp_path, "first")
    archives = list(harness_cache(wine).glob(f"{unique_name}/{unique_name}.*.aot"))
    assert len(archives) == 1
    # What an AOT training run killed before its header leaves behind.
    archives[0].write_bytes(b"\0" * 64)
    trace = start(wine, exe, tmp_path, "zeroed")
    # Removed before the VM saw it: the runtime trains a new one instead of rejecting this one.
    assert [text.split("=")[0] for text in archive_options(trace)] == ["-XX:AOTCacheOutput"]
    assert trace.events("archive") == []
    assert archives[0].read_bytes()[:4] == b"\xa2\xab\x0b\xf0"


def test_link_at_the_archive_name_is_neither_mapped_nor_written_through(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, "25")
    start(wine, exe, tmp_path, "first")
    archive = next(harness_cache(wine).glob(f"{unique_name}/{unique_name}.*.aot"))
    outside = tmp_path / "outside.aot"
    whole = archive.read_bytes()  # a whole archive, which the VM would map
    outside.write_bytes(whole)
    archive.unlink()
    os.symlink(outside, archive)
    trace = start(wine, exe, tmp_path, "linked")
    # Wine reaches a link's target on removal, so the launcher leaves the link and this start out.
    assert archive_options(trace) == []
    assert archive.is_symlink()
    assert outside.read_bytes() == whole


def test_java17_runtime_without_its_base_archive_gets_no_archive_options_and_starts(wine, tmp_path, unique_name):
    # A jlink image made without --generate-cds-archive: HotSpot 17 would refuse -XX:ArchiveClassesAtExit.
    exe = app(tmp_path, unique_name, "17.0.9")
    for vm in ("server", "client"):
        (tmp_path / "jre" / "bin" / vm / "classes.jsa").unlink()
    for label in ("first", "second"):
        trace = start(wine, exe, tmp_path, label)
        assert archive_options(trace) == [], label
        assert trace.one("create")["base_archive"] is False
    assert not list(harness_cache(wine).glob(f"{unique_name}/{unique_name}.*.jsa*"))
    # The stand-in refuses the option there as HotSpot does, so the launcher's leaving it out counts.
    own = make_app(tmp_path / "own", name=unique_name + "o", classes=require(harness.test_app("app.jar")),
                   main_class="com.example.App", vm_options="-XX:ArchiveClassesAtExit=C:\\own.jsa")
    (tmp_path / "own" / "jre" / "release").write_text('JAVA_VERSION="17.0.9"\n')
    (tmp_path / "own" / "jre" / "bin" / "server" / "classes.jsa").unlink()
    refused = wine.run(own, cwd=tmp_path)
    assert refused.status == 1, refused
    assert "DynamicDumpSharedSpaces is unsupported when base CDS archive is not loaded" in refused.stderr_text


def test_two_exes_of_one_name_in_two_folders_each_map_their_own_archive(wine, tmp_path, unique_name):
    # Two installations of the same application, each with a runtime build of its own.
    exes = []
    for folder, build in (("one", "25+36"), ("two", "25.0.1+8")):
        exe = app(tmp_path / folder, unique_name, "25")
        (tmp_path / folder / "jre" / "release").write_text(f'JAVA_VERSION="25"\nJAVA_RUNTIME_VERSION="{build}"\n')
        exes.append((folder, exe))
    for run in ("first", "second"):
        for folder, exe in exes:
            trace = start(wine, exe, tmp_path / folder, run)
            [option] = archive_options(trace)
            if run == "first":
                assert option.startswith("-XX:AOTCacheOutput="), (folder, option)
            else:
                assert option.startswith("-XX:AOTCache="), (folder, option)
                assert [event["mapped"] for event in trace.events("archive")] == [True], folder
    assert len(list(harness_cache(wine).glob(f"{unique_name}/{unique_name}.*.aot"))) == 2
