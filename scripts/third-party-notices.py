#!/usr/bin/env python3
"""Writes THIRD-PARTY-NOTICES for what ships, from the GNU ld link maps of its programs.

    third-party-notices.py [--out FILE] PROGRAM=MAP ...

Every archive that gave the link at least one member, and every object file loaded from outside
the build, must match a row of LIBRARIES; an unknown one fails (exit 1), so that a library added
to a link cannot ship without its notice. The texts live in legal/notices/.
"""
import argparse
import re
import sys
from pathlib import Path

NOTICES = Path(__file__).resolve().parent.parent / "legal" / "notices"

# (pattern on the library's path, notice file or None for our own code). First match wins.
LIBRARIES = [
    (r"^(src|tools)/|/CMakeFiles/|^/tmp/cc\w+\.ltrans\d*\.ltrans\.o$", None),
    (r"/x86_64-w64-mingw32/lib/libpthread\.a$", "winpthreads.txt"),
    (r"/x86_64-w64-mingw32/lib/libz\.a$", "zlib.txt"),
    (r"/x86_64-w64-mingw32/lib/(crt2\.o|lib(mingw32|mingwex|msvcrt|moldname|uuid|delayimp)\.a)$",
     "mingw-w64-runtime.txt"),
    # Import libraries of the Windows DLLs: mingw-w64's, holding only names to import.
    (r"/x86_64-w64-mingw32/lib/lib(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comdlg32"
     r"|winspool|psapi|bcrypt|shlwapi|version|comctl32|ntdll)\.a$", "mingw-w64-runtime.txt"),
    (r"/gcc/x86_64-(w64-mingw32|linux-gnu)/\d+[^/]*/(lib(stdc\+\+|gcc|gcc_eh|supc\+\+)\.a|crt(begin|beginT|end)\.o)$",
     "gcc-runtime.txt"),
    (r"/x86_64-linux-gnu/(lib(c|m|mvec|m-[\d.]+|pthread|dl|rt)\.a|crt[1in]\.o)$", "glibc.txt"),
    (r"/x86_64-linux-gnu/libz\.a$", "zlib.txt"),
    (r"/x86_64-linux-gnu/libcrypto\.a$", "openssl-libcrypto.txt"),
]

MEMBER = re.compile(r"^(\S+\.a)\(")  # "archive.a(member.o)" in the archive-member section
LOADED_OBJECT = re.compile(r"^LOAD (\S+\.o)$")


def linked_libraries(map_text):
    """The archives that gave members and the object files loaded, as the map names them."""
    found = set()
    members = True
    for line in map_text.splitlines():
        if line.startswith(("Discarded input sections", "Memory Configuration")):
            members = False  # past the archive-member section, "x.a(y.o)" only restates it
        m = MEMBER.match(line) if members else None
        if m:
            found.add(m.group(1))
        m = LOADED_OBJECT.match(line)
        if m:
            found.add(m.group(1))
    return found


def notice_of(library):
    for pattern, notice in LIBRARIES:
        if re.search(pattern, library):
            return notice
    raise KeyError(library)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out")
    parser.add_argument("maps", nargs="+", metavar="PROGRAM=MAP")
    args = parser.parse_args()
    users = {}  # notice -> programs that link it
    unknown = []
    for item in args.maps:
        program, _, map_path = item.partition("=")
        text = Path(map_path).read_text(errors="replace")
        libraries = linked_libraries(text)
        if not libraries:
            unknown.append(f"{map_path}: no linked library found; is it a GNU ld link map?")
        for library in sorted(libraries):
            try:
                notice = notice_of(library)
            except KeyError:
                unknown.append(f"{program}: {library} has no notice (add one to legal/notices and LIBRARIES)")
                continue
            if notice:
                users.setdefault(notice, set()).add(program)
    if unknown:
        print("\n".join(unknown), file=sys.stderr)
        return 1
    parts = ["Third-party software linked into Quorvia Launcher's programs, as their link maps show.\n"
             "Quorvia Launcher itself is under the MIT licence (LICENSE).\n"]
    for notice in sorted(users):
        body = (NOTICES / notice).read_text()
        parts.append("=" * 78 + "\n" + "In: " + ", ".join(sorted(users[notice])) + "\n\n" + body)
    text = "\n".join(parts)
    if args.out:
        Path(args.out).write_text(text)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
