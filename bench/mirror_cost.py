#!/usr/bin/env python3
"""Cost of refreshing an unchanged sync mirror under Wine.

Builds a source tree of FILES files in FOLDERS folders on a UNC share, lets the launcher mirror it
once, then starts it again with nothing changed and reports
  - the wineserver's opens during that second start (strace of the server: every open of a file
    or folder by a Windows program happens there; a FindFirstFileA lookup opens the entry's folder),
    split into source and mirror, folder and file;
  - the wall time of that start, and of a start whose source holds only the libs jar (the fixed
    cost of a launch), both without strace, best of REPEAT;
  - the floor: one Windows program listing both trees recursively with FindFirstFileA, minus the
    same program listing two empty folders.

With --index it compares instead, on the same tree, the server's work of three starts: unchanged
with a sync index (quorvia-pack --index), unchanged without one, and 1% of the files changed and
indexed again; the index's reads are counted in the launcher's own process, where Wine reads.

Usage (after the normal build; BUILD_DIR / WINDOWS_BUILD_DIR as for the e2e tests):
  /usr/bin/python3 bench/mirror_cost.py [--files 10000] [--folders 200] [--repeat 3] [--index]
"""

import argparse
import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import harness  # noqa: E402

KEY1 = "SOFTWARE\\Quorvia Ltd.\\Java Runtime Environment"

WALK_CPP = r"""
#include <windows.h>
#include <stdio.h>
// Lists every folder below each root with FindFirstFileA, as the mirror's floor; prints the count.
static long Walk(const char* folder) {
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%s\\*", folder) >= (int)sizeof pattern) return 0;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) return 0;
    long n = 0;
    do {
        if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, "..")) continue;
        n++;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            char sub[MAX_PATH];
            if (snprintf(sub, sizeof sub, "%s\\%s", folder, d.cFileName) < (int)sizeof sub) n += Walk(sub);
        }
    } while (FindNextFileA(h, &d));
    FindClose(h);
    return n;
}
int main(int argc, char** argv) {
    long n = 0;
    for (int i = 1; i < argc; i++) n += Walk(argv[i]);
    printf("%ld\n", n);
    return 0;
}
"""


COPY_CPP = r"""
#include <windows.h>
#include <stdio.h>
// Copies a tree file by file with CopyFileA, as a bare program would: the floor of a first mirror
// under the same platform.
static long Copy(const char* from, const char* to) {
    CreateDirectoryA(to, NULL);
    char pattern[MAX_PATH];
    if (snprintf(pattern, sizeof pattern, "%s\\*", from) >= (int)sizeof pattern) return 0;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) return 0;
    long n = 0;
    do {
        if (!strcmp(d.cFileName, ".") || !strcmp(d.cFileName, "..")) continue;
        char source[MAX_PATH], target[MAX_PATH];
        if (snprintf(source, sizeof source, "%s\\%s", from, d.cFileName) >= (int)sizeof source) continue;
        if (snprintf(target, sizeof target, "%s\\%s", to, d.cFileName) >= (int)sizeof target) continue;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            n += Copy(source, target);
        } else if (CopyFileA(source, target, FALSE)) {
            n++;
        }
    } while (FindNextFileA(h, &d));
    FindClose(h);
    return n;
}
int main(int argc, char** argv) {
    if (argc != 3) return 2;
    printf("%ld\n", Copy(argv[1], argv[2]));
    return 0;
}
"""

def make_source(root: Path, files: int, folders: int, jar: bytes):
    per_folder = files // folders
    for f in range(folders):
        folder = root / f"dir{f:03d}"
        folder.mkdir(parents=True)
        for i in range(per_folder):
            (folder / f"file{i:03d}.dat").write_bytes(b"x" * (i % 64))
    (root / "libs").mkdir(parents=True, exist_ok=True)
    (root / "libs" / "app.jar").write_bytes(jar)


_OPENAT = re.compile(r'^\d+\s+(?:[\d.]+\s+)?openat\(AT_FDCWD<[^>]*>, "([^"]*)", ([A-Z_|]+)[^)]*\)\s+=\s+(\S+)')


def classify(trace_path: Path, source_rel: str, mirror_rel: str):
    """Counts the server's successful opens: folder (a listing, or a lookup's folder) or file, read
    or write, on the source or the mirror side. The server names paths relative to its folder."""
    counts = collections.Counter()
    for line in trace_path.read_text(errors="replace").splitlines():
        m = _OPENAT.match(line)
        if not m or m.group(3).startswith("-1"):
            continue
        path, flags = m.group(1), m.group(2)
        side = "source" if source_rel in path else "mirror" if mirror_rel in path else None
        if side is None:
            continue
        kind = "folder" if path.endswith("/") else "file"
        if "O_WRONLY" in flags or "O_RDWR" in flags or "O_CREAT" in flags:
            kind += "-write"
        counts[(side, kind)] += 1
    return counts


INDEX_NAME = "quorvia-sync.index"
_INDEX_READ = re.compile(r'^\d+\s+(?:[\d.]+\s+)?p?read(?:64)?\(\d+<[^>]*' + re.escape(INDEX_NAME) + r'>(.*)$')


def index_reads(trace_path: Path) -> int:
    """read() calls on the index in the launcher's process, those that strace shows cut in two
    (another thread ran meanwhile) included; calls that failed or read nothing are not counted."""
    count = 0
    for line in trace_path.read_text(errors="replace").splitlines():
        m = _INDEX_READ.match(line)
        if m and (m.group(1).endswith("<unfinished ...>") or not re.search(r"=\s+(?:0|-1)\b", m.group(1))):
            count += 1
    return count


def measure_index(wine, work: Path, unc: str, share: Path, files: int, folders: int, jar: bytes, repeat: int = 3):
    """The three starts on two trees of the same shape, "indexed" (with an index) and "listed"
    (without). Returns {start: {"server": Counter of classify(), "index_reads": n, "ms": best}}.
    The caller has made the share and the registry runtime."""
    make_source(share / "indexed", files, folders, jar)
    make_source(share / "listed", files, folders, jar)
    tool = str(harness.require(harness.pack_tool()))

    def index():
        subprocess.run([tool, "--index", str(share / "indexed")], check=True, stdout=subprocess.DEVNULL)

    index()
    exes = {name: harness.make_app(work / "exe", name=name.capitalize(), runtime=False,
                                   main_class="com.example.App", sync_path=f"{unc}\\{name}")
            for name in ("indexed", "listed")}
    mirror_of = {name: f"c:/ProgramData/.quorvia/cache/{name.capitalize()}/sync" for name in exes}
    for name in exes:
        assert wine.run(exes[name], timeout=3600).status == 0

    def traced(name):
        client = work / f"client-{name}-{time.monotonic_ns()}.txt"
        saved = harness.TRACED_CALLS
        harness.TRACED_CALLS = saved + ",read,pread64"
        try:
            with wine.strace_server() as trace:
                result = wine.run(exes[name], timeout=3600, strace_to=client)
        finally:
            harness.TRACED_CALLS = saved
        assert result.status == 0, result
        return {"server": classify(trace.path, f"unc/srv/share/{name}", mirror_of[name]),
                "index_reads": index_reads(client)}

    def best(name):
        return min(wine.run(exes[name], timeout=3600).duration for _ in range(repeat)) * 1000

    found = {"unchanged, index": dict(traced("indexed"), ms=best("indexed")),
             "unchanged, no index": dict(traced("listed"), ms=best("listed"))}
    picked = sorted((share / "indexed").glob("dir*/*.dat"))[:: 100][: files // 100]
    for p in picked:
        p.write_bytes(p.read_bytes() + b"changed")
    index()
    found["1% changed, index"] = traced("indexed")
    found["1% changed, index"]["changed_files"] = len(picked)
    return found


def print_index_counts(found: dict):
    print("server opens (wineserver) and index reads (launcher process) per start:")
    for start, figures in found.items():
        server = figures["server"]
        source = sum(v for (side, _), v in server.items() if side == "source")
        mirror = sum(v for (side, _), v in server.items() if side == "mirror")
        ms = f", best {figures['ms']:.0f} ms" if "ms" in figures else ""
        print(f"  {start:22s} source opens {source:6d}, mirror opens {mirror:6d}, index reads "
              f"{figures['index_reads']}{ms}   {dict(sorted(server.items()))}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--files", type=int, default=10000)
    parser.add_argument("--folders", type=int, default=200)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--index", action="store_true", help="the sync index's three starts")
    args = parser.parse_args()

    if args.index:
        wine, _, _ = harness.new_wine("mirror-cost-index")
        work = Path(tempfile.mkdtemp(prefix="mirror-cost-index-"))
        try:
            jar = harness.require(harness.test_app("app.jar")).read_bytes()
            share = work / "share"
            share.mkdir()
            unc = wine.make_unc_share("srv", "share", share)
            shutil.copytree(harness.require(harness.test_runtime_dir()), wine.drive_c / "rt")
            wine.reg_add("HKLM\\" + KEY1, "CurrentVersion", "1.8")
            wine.reg_add("HKLM\\" + KEY1 + "\\1.8", "JavaHome", "C:\\rt")
            print_index_counts(measure_index(wine, work, unc, share, args.files, args.folders, jar, args.repeat))
        finally:
            wine.close()
            shutil.rmtree(work, ignore_errors=True)
            shutil.rmtree(wine.prefix.parent, ignore_errors=True)
        return

    wine, _, _ = harness.new_wine("mirror-cost")
    work = Path(tempfile.mkdtemp(prefix="mirror-cost-"))
    try:
        jar = harness.require(harness.test_app("app.jar")).read_bytes()
        big, small = work / "share" / "big", work / "share" / "small"
        make_source(big, args.files, args.folders, jar)
        make_source(small, 0, 1, jar)
        unc = wine.make_unc_share("srv", "share", work / "share")
        shutil.copytree(harness.require(harness.test_runtime_dir()), wine.drive_c / "rt")
        wine.reg_add("HKLM\\" + KEY1, "CurrentVersion", "1.8")
        wine.reg_add("HKLM\\" + KEY1 + "\\1.8", "JavaHome", "C:\\rt")
        exes = {}
        for name in ("Big", "Small"):
            exes[name] = harness.make_app(work / "exe", name=name, runtime=False, main_class="com.example.App",
                                          sync_path=f"{unc}\\{name.lower()}")
        walk_src = work / "walk.cpp"
        walk_src.write_text(WALK_CPP)
        walk = work / "walk.exe"
        subprocess.run(["x86_64-w64-mingw32-g++-posix", "-O1", "-static", str(walk_src), "-o", str(walk)],
                       check=True)
        mirror_win = "C:\\ProgramData\\.quorvia\\cache\\Big\\sync"
        mirror_linux = "c:/ProgramData/.quorvia/cache/Big/sync"  # as the server names it

        first = wine.run(exes["Big"], timeout=1800)
        assert first.status == 0, first
        print(f"first start (copies {args.files} files): {first.duration:.2f} s")
        wine.run(exes["Small"], timeout=600)

        def best(fn):
            return min(fn() for _ in range(args.repeat))

        unchanged = best(lambda: wine.run(exes["Big"], timeout=1800).duration)
        baseline = best(lambda: wine.run(exes["Small"], timeout=600).duration)
        (work / "e1").mkdir()
        (work / "e2").mkdir()
        floor = best(lambda: wine.run(walk, [f"{unc}\\big", mirror_win], timeout=600).duration)
        floor_base = best(lambda: wine.run(walk, [wine.to_windows(work / "e1"), wine.to_windows(work / "e2")]).duration)
        listed = wine.run(walk, [f"{unc}\\big", mirror_win]).stdout_text.strip()

        with wine.strace_server() as trace:
            traced = wine.run(exes["Big"], timeout=3600)
            assert traced.status == 0, traced
            counts = classify(trace.path, "unc/srv/share/big", mirror_linux)

        folders = args.folders + 2  # the root and libs
        files = args.files + 1
        print(f"tree: {files} files in {folders} folders on each side; the floor program saw {listed} entries")
        print("wineserver operations of an unchanged start (strace -f of the server):")
        for key in sorted(counts):
            print(f"  {key[0]:6s} {key[1]:13s} {counts[key]}")
        print(f"  expected: source folder opens = {folders} listings + {files + folders - 1} lookups "
              f"(one per mirror entry) = {2 * folders + files - 1}; mirror folder opens = {folders} listings; "
              f"mirror file opens = {files} probes + 1 (the VM reading libs\\app.jar); no file-write, "
              f"no source file")
        print(f"unchanged start: {unchanged:.2f} s; start with a one-jar tree: {baseline:.2f} s; "
              f"mirror share: {unchanged - baseline:.2f} s")
        print(f"floor (recursive FindFirstFileA listing of both trees): {floor:.2f} s, "
              f"empty-folder run {floor_base:.2f} s, listing share {floor - floor_base:.2f} s")
    finally:
        wine.close()
        shutil.rmtree(work, ignore_errors=True)
        shutil.rmtree(wine.prefix.parent, ignore_errors=True)


if __name__ == "__main__":
    main()
