"""The embedded jar under Wine: its cache file in the hidden machine-wide cache folder, named by
its digest text, the stale cleanup, warm starts that leave the jar resource and the MD5 library
alone, and several first starts at once on an empty cache."""

import hashlib

import harness
from harness import make_app, require
from launcher_output import err, out, reached_main


def jar_bytes():
    return require(harness.test_app("app.jar")).read_bytes()


def app(tmp_path, name, **options):
    return make_app(tmp_path, name=name, runtime=True, classes=require(harness.test_app("app.jar")),
                    main_class="com.example.App", **options)


def cache_dir(wine):
    return wine.drive_c / "ProgramData" / ".quorvia" / "cache"


def app_folder(wine, name):
    """The application's own folder in the cache, where its cache files lie."""
    return cache_dir(wine) / name


def loaded_modules(result):
    return [line.replace("\\\\", "\\").lower() for line in result.runner_log.splitlines() if "Loaded" in line]


def is_hidden(wine, windows_path):
    listing = wine.wine(["attrib", windows_path]).stdout.decode("utf-8", "replace")
    flags = listing.split(windows_path[:3])[0]
    return "H" in flags


def test_first_start_writes_the_jar_under_its_digest_in_hidden_folders(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result), result
    assert result.status == 0
    digest = hashlib.md5(jar_bytes()).hexdigest().upper()
    cached = app_folder(wine, unique_name) / f"{unique_name}.{digest}.dat"
    assert cached.read_bytes() == jar_bytes()
    assert "GetClassFrom REsource '#1000'\n" in out(result)
    assert is_hidden(wine, "C:\\ProgramData\\.quorvia")
    assert is_hidden(wine, "C:\\ProgramData\\.quorvia\\cache")
    assert not is_hidden(wine, f"C:\\ProgramData\\.quorvia\\cache\\{unique_name}\\{unique_name}.{digest}.dat")
    # Nothing but the application's folder, and in it nothing but the cache file, is left behind.
    assert sorted(p.name for p in cache_dir(wine).iterdir()) == [unique_name]
    assert sorted(p.name for p in app_folder(wine, unique_name).iterdir()) == [cached.name]


def test_warm_start_loads_neither_the_jar_nor_the_md5_library(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    first = wine.run(exe, cwd=tmp_path, env={"WINEDEBUG": "+loaddll"})
    assert reached_main(first), first
    assert any("cryptdll.dll" in line for line in loaded_modules(first)), "the first start looks for the MD5 library"
    warm = wine.run(exe, cwd=tmp_path, env={"WINEDEBUG": "+loaddll"})
    assert reached_main(warm), warm
    assert "GetClassFrom REsource" not in out(warm)
    assert not any("cryptdll.dll" in line for line in loaded_modules(warm)), warm.runner_log


def test_missing_md5_library_is_told_only_by_a_start_that_writes_the_file(wine, tmp_path, unique_name):
    # The packed digest names the file, so the jar is written although no MD5 routine can be had.
    exe = app(tmp_path, unique_name)
    # Wine's loader takes a disabled override from the prefix's registry (this prefix is the test's own).
    wine.wine(["reg", "add", "HKCU\\Software\\Wine\\DllOverrides", "/v", "cryptdll", "/t", "REG_SZ", "/d", "",
               "/f"])
    first = wine.run(exe, cwd=tmp_path)
    assert reached_main(first), first
    assert "Unable to find crypto lib\n" in err(first)
    digest = hashlib.md5(jar_bytes()).hexdigest().upper()
    assert (app_folder(wine, unique_name) / f"{unique_name}.{digest}.dat").read_bytes() == jar_bytes()
    warm = wine.run(exe, cwd=tmp_path)
    assert reached_main(warm), warm
    assert "crypto" not in err(warm)


def test_existing_file_of_the_name_is_used_unchanged(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    digest = hashlib.md5(jar_bytes()).hexdigest().upper()
    cache = app_folder(wine, unique_name)
    cache.mkdir(parents=True)
    planted = cache / f"{unique_name}.{digest}.dat"
    planted.write_bytes(b"short")
    result = wine.run(exe, cwd=tmp_path)
    # Not a jar: the VM finds no class in it, which shows that this file went on the class path.
    assert "ClassNotFoundException: com.example.App" in out(result) + err(result), result
    assert result.fatal_boxes == []
    assert planted.read_bytes() == b"short"


def test_md5_text_names_the_file_even_when_it_is_not_the_jars_digest(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, md5="0123456789ABCDEF0123456789ABCDEF")
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result), result
    assert (app_folder(wine, unique_name) / f"{unique_name}.0123456789ABCDEF0123456789ABCDEF.dat").read_bytes() == \
        jar_bytes()


def test_digest_text_too_long_for_a_name_falls_back_to_the_jars_digest(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name, md5="E" * 300)
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result), result
    digest = hashlib.md5(jar_bytes()).hexdigest().upper()
    assert (app_folder(wine, unique_name) / f"{unique_name}.{digest}.dat").read_bytes() == jar_bytes()
    assert "Could not save cache" not in str(result.boxes)


def test_stale_cleanup_spares_other_launchers_and_folders(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    cache = app_folder(wine, unique_name)
    cache.mkdir(parents=True)
    old_digest = "0123456789ABCDEF0123456789ABCDEF"
    (cache / f"{unique_name}.{old_digest}.dat").write_bytes(b"old")
    (cache / f"{unique_name}.dat").write_bytes(b"jar copy")
    (cache / f"{unique_name.lower()}.{old_digest.lower()}.dat").write_bytes(b"case")
    for other in (f"{unique_name}Tool", f"{unique_name}.Tool"):  # AppTool.exe and App.Tool.exe
        (cache / f"{other}.{old_digest}.dat").write_bytes(b"another launcher")
        (cache / f"{other}.dat").write_bytes(b"another launcher")
    (cache / unique_name).mkdir()
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result), result
    digest = hashlib.md5(jar_bytes()).hexdigest().upper()
    left = sorted(p.name for p in cache.iterdir())
    assert left == sorted([unique_name, f"{unique_name}.{digest}.dat", f"{unique_name}Tool.{old_digest}.dat",
                           f"{unique_name}Tool.dat", f"{unique_name}.Tool.{old_digest}.dat",
                           f"{unique_name}.Tool.dat"])


def test_eight_first_starts_at_once_all_reach_main(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    running = [wine.start(exe, cwd=tmp_path, timeout=180) for _ in range(8)]
    results = [r.wait() for r in running]
    for result in results:
        assert reached_main(result), result
        assert result.status == 0
        assert result.fatal_boxes == []
    digest = hashlib.md5(jar_bytes()).hexdigest().upper()
    cache = app_folder(wine, unique_name)
    assert sorted(p.name for p in cache.iterdir()) == [f"{unique_name}.{digest}.dat"]
    assert (cache / f"{unique_name}.{digest}.dat").read_bytes() == jar_bytes()


def test_link_at_the_cache_file_name_is_replaced_not_opened_through(wine, tmp_path, unique_name):
    import os
    exe = app(tmp_path, unique_name)
    cache = app_folder(wine, unique_name)
    cache.mkdir(parents=True)
    outside = tmp_path / "outside.jar"
    outside.write_bytes(b"their own file")
    digest = hashlib.md5(jar_bytes()).hexdigest().upper()
    cached = cache / f"{unique_name}.{digest}.dat"
    os.symlink(outside, cached)
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result), result
    assert outside.read_bytes() == b"their own file"
    assert not cached.is_symlink()
    assert cached.read_bytes() == jar_bytes()


def test_orphan_temporary_file_is_gone_after_the_next_start(wine, tmp_path, unique_name):
    exe = app(tmp_path, unique_name)
    cache = app_folder(wine, unique_name)
    cache.mkdir(parents=True)
    orphan = cache / f"~{unique_name}.99999996.tmp"  # no process of that id runs
    orphan.write_bytes(b"cut short by a crash")
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result), result
    assert not orphan.exists()


def test_cache_file_of_another_account_is_replaced_when_its_digest_does_not_match(wine, tmp_path, unique_name):
    import os
    import pytest
    if os.geteuid() != 0:
        pytest.skip("planting a file of another owner needs root (chown)")
    exe = app(tmp_path, unique_name)
    cache = app_folder(wine, unique_name)
    cache.mkdir(parents=True)
    digest = hashlib.md5(jar_bytes()).hexdigest().upper()
    planted = cache / f"{unique_name}.{digest}.dat"
    planted.write_bytes(b"planted by another account")
    os.chown(planted, 12345, 12345)  # Wine names the owner of a file of another uid S-1-5-7
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result), result
    assert planted.read_bytes() == jar_bytes()
    assert planted.stat().st_uid == os.geteuid()
    # The same bytes under another owner pass the digest check and are used as they are.
    os.chown(planted, 12345, 12345)
    result = wine.run(exe, cwd=tmp_path)
    assert reached_main(result), result
    assert planted.stat().st_uid == 12345
