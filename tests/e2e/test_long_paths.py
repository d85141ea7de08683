"""Executables in long folders and in folders with unusual names: blanks, '%', '#' and characters
of the ANSI code page outside ASCII. Paths up to the 260-character limit work in full; past it the
launcher, which reads its own path into 260 characters, must still end in an orderly way."""

import hashlib

import harness
from harness import make_app, require
from runtime_trace import traced_env
from launcher_output import err, reached_main

# Crash statuses of Windows: access violation, stack buffer overrun (/GS, fortify), heap corruption,
# stack overflow, illegal instruction, abort().
CRASH_STATUSES = {0xC0000005, 0xC0000409, 0xC0000374, 0xC00000FD, 0xC000001D, 3}


def jar():
    return require(harness.test_app("app.jar"))


def folder_of_length(wine, total, exe_name):
    """A folder under C:\\ whose exe path C:\\...\\exe_name is exactly `total` characters."""
    base = wine.drive_c / "lp"
    windows = "C:\\lp"
    remaining = total - len(windows) - 1 - len(exe_name)
    parts = []
    while remaining > 0:
        # Segments of at most 100 characters, each preceded by its backslash.
        size = min(100, remaining - 1) if remaining > 1 else 0
        if size <= 0:
            break
        parts.append("d" * size)
        remaining -= size + 1
    # Any left-over character is absorbed by lengthening the last segment.
    if remaining > 0:
        parts[-1] += "d" * remaining
    folder = base.joinpath(*parts)
    windows_exe = windows + "".join("\\" + p for p in parts) + "\\" + exe_name
    assert len(windows_exe) == total
    return folder, windows_exe


def test_exe_path_of_259_characters_reaches_main_and_caches_the_jar(wine, unique_name):
    folder, windows_exe = folder_of_length(wine, 259, unique_name + ".exe")
    exe = make_app(folder, name=unique_name, runtime=True, classes=jar(), main_class="com.example.App")
    result = wine.run(windows_exe, cwd=folder)
    assert reached_main(result), result
    assert result.status == 0
    digest = hashlib.md5(jar().read_bytes()).hexdigest().upper()
    cached = wine.drive_c / "ProgramData" / ".quorvia" / "cache" / unique_name / f"{unique_name}.{digest}.dat"
    assert cached.read_bytes() == jar().read_bytes()
    assert exe.exists()


def test_exe_path_over_260_characters_cannot_even_be_started(wine, unique_name):
    # The system itself refuses to start an image at such a path (path not found), so the
    # launcher never sees one; longer paths reach it only as paths it forms, below.
    folder, windows_exe = folder_of_length(wine, 300, unique_name + ".exe")
    make_app(folder, name=unique_name, runtime=False, classes=jar(), main_class="com.example.App")
    try:
        result = wine.run(windows_exe, cwd=folder, timeout=120)
    except harness.HarnessError as error:
        assert "create-process 3" in str(error)
    else:
        assert result.status not in CRASH_STATUSES, result


def test_cache_file_name_over_260_characters_is_not_cut_and_the_launch_ends(wine, unique_name):
    # A 220-character base name makes the cache file name about 290 characters: no cut name may
    # be formed, so nothing is written and the start ends as for a failed cache write.
    name = (unique_name + "x" * 220)[:220]
    folder = wine.drive_c / "lp"
    make_app(folder, name=name, runtime=True, classes=jar(), main_class="com.example.App")
    result = wine.run(f"C:\\lp\\{name}.exe", cwd=folder, timeout=120)
    assert result.status == 1, result
    assert "Unable to write cache buffer\n" in err(result)
    assert result.fatal_boxes == [("Fatal Error", "Could not save cache.\n")]
    assert not reached_main(result)
    cache = wine.drive_c / "ProgramData" / ".quorvia" / "cache"
    assert [path.name for path in cache.iterdir()] == [name]  # the application's folder, and nothing in it
    assert list((cache / name).iterdir()) == []


def expected_vm_option_items(text, exe_folder, mirror_root):
    """The documented substitution: blanks split, '#' is the exe folder, then every '%' (also one
    that came with the folder) is the mirror root, then each item is percent-decoded."""
    import re
    substituted = text.replace(" ", "\x01").replace("#", exe_folder).replace("%", mirror_root)
    items = [item for item in substituted.split("\x01") if item]
    decode = lambda item: re.sub("%([0-9A-Fa-f]{2})", lambda m: chr(int(m.group(1), 16)), item)
    return [decode(item) for item in items]


def test_blanks_percent_hash_and_ansi_letters_in_folder_and_name(wine, unique_name):
    folder_name = "My Apps %41 #1 \u00e9t\u00e9"
    name = "Ap p%#\u00e9" + unique_name[-8:]
    folder = wine.drive_c / "lp" / folder_name
    vm_options = "-Dhome=# -Dsync=% -Dlit=%4a"
    make_app(folder, name=name, runtime=True, classes=jar(), main_class="com.example.App",
             vm_options=vm_options)
    env, trace = traced_env(wine, folder.parent)
    result = wine.run(f"C:\\lp\\{folder_name}\\{name}.exe", cwd=folder, env=env, timeout=120)
    assert reached_main(result), result
    assert result.status == 0
    exe_folder = f"C:\\lp\\{folder_name}\\"
    mirror_root = f"C:\\ProgramData\\.quorvia\\cache\\{name}\\sync"
    expected = expected_vm_option_items(vm_options, exe_folder, mirror_root)
    options = trace.option_texts()
    for item in expected:
        assert item in options, (item, options)
    # The jar is cached under the name with its blank, '%', '#' and accented letter.
    digest = hashlib.md5(jar().read_bytes()).hexdigest().upper()
    cached = wine.drive_c / "ProgramData" / ".quorvia" / "cache" / name / f"{name}.{digest}.dat"
    assert cached.read_bytes() == jar().read_bytes()
