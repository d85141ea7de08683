#!/bin/bash
# Runs quorvia-pack as a program: first on hostile inputs, each of which must be refused or reported
# within seconds and a memory limit; then on real mingw-built exes, whose resources are read back
# under Wine through FindResource, from a packed exe that must still start and from the real
# launcher; and the Windows build of the tool must write the same bytes. Exit 77 (skipped) without
# Wine, once the hostile inputs have passed.
#   cli_test.sh QUORVIA_PACK FIXTURE_DIR WINDOWS_BUILD_DIR
set -u
pack=$(realpath -m "$1")
fixtures=$(realpath -m "$2")
windows_build=$(realpath -m "$3")

work=$(mktemp -d)
trap 'wineserver -w 2>/dev/null; rm -rf "$work"' EXIT
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
here=$(cd "$(dirname "$0")" && pwd)
cd "$work" || exit 1

passed=0
failed=0
check() {  # check NAME COMMAND...: counts the outcome, shows the output of failures
  local name=$1
  shift
  if "$@" >"$work/last.log" 2>&1; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAILED: $name"
    cat "$work/last.log"
  fi
}
expect_fail() {  # expect_fail NAME STATUS MESSAGE COMMAND...
  local name=$1 status=$2 message=$3
  shift 3
  "$@" >"$work/out.log" 2>"$work/err.log"
  local got=$?
  if [ "$got" -eq "$status" ] && grep -qF -- "$message" "$work/err.log"; then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAILED: $name (status $got, wanted $status and '$message')"
    cat "$work/err.log"
  fi
}

# ---- Hostile inputs: each refused or reported within 20 s and 1 GiB of address space ----

# A 1x1 PNG; 68 bytes declaring 16384x16384 16-bit RGBA, interlaced (2 GiB inflated); bit depth 255;
# a jar of 70,000 entries and the main class last (zip64); a jar whose main class entry uses a
# compression method the check does not read.
mkdir -p classes/com/example folder
printf 'package com.example; public class Main { public static void main(String[] a) {} }\n' \
  >classes/com/example/Main.java
javac --release 8 -d classes classes/com/example/Main.java || exit 1
python3 - <<'PY' || exit 1
import struct, zipfile, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
def png(width, height, depth, colour, interlace, rows):
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, interlace))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
open("splash.png", "wb").write(png(1, 1, 8, 0, 0, b"\0\x80"))
open("huge.png", "wb").write(png(16384, 16384, 16, 6, 1, b"\0" * 9))
open("depth255.png", "wb").write(png(1, 1, 255, 6, 0, b"\0" * 9))
main = open("classes/com/example/Main.class", "rb").read()
with zipfile.ZipFile("many.jar", "w") as jar:
    for i in range(70000):
        jar.writestr("r/%d" % i, b"")
    jar.writestr("com/example/Main.class", main)
with zipfile.ZipFile("method9.jar", "w") as jar:
    jar.writestr("com/example/Main.class", main)
data = bytearray(open("method9.jar", "rb").read())
for signature, at in ((b"PK\x03\x04", 8), (b"PK\x01\x02", 10)):
    data[data.index(signature) + at] = 9  # deflate64, in the local header and the directory
open("method9.jar", "wb").write(bytes(data))
PY

hostile() {  # hostile NAME STATUS TEXT COMMAND...: the status, and TEXT in the output, within the limits
  local name=$1 status=$2 text=$3 writer got
  shift 3
  # Standard input is a pipe that stays open and empty: reading it would wait for ever.
  exec 3< <(exec sleep 60 2>/dev/null)
  writer=$!
  (ulimit -v "$memory_limit" && exec timeout 20 "$@" <&3) >"$work/hostile.log" 2>&1
  got=$?
  exec 3<&-
  kill "$writer" 2>/dev/null
  if [ "$got" -eq "$status" ] && grep -qF -- "$text" "$work/hostile.log"; then
    passed=$((passed + 1))
    echo "ok: hostile $name"
  else
    failed=$((failed + 1))
    echo "FAILED: hostile $name (status $got, wanted $status and '$text')"
    cat "$work/hostile.log"
  fi
}
memory_limit=1048576  # KiB
base="$fixtures/checker_stripped.exe"
checked() {  # checked NAME PACK-OPTIONS...: a packed exe to --check, complete or not (--force)
  "$pack" --launcher "$base" --out "$1.exe" --force --main-class com.example.Main "${@:2}" >/dev/null || echo "cannot pack $1"
  echo "$1.exe"
}
printf -- '--main-class injected.Main\n' >options.args
hostile "argument file /dev/zero" 1 "/dev/zero: a device, not a regular file" "$pack" @/dev/zero
hostile "argument file /dev/stdin" 1 "/dev/stdin: a pipe, not a regular file" "$pack" @/dev/stdin
hostile "argument file a folder" 1 "folder: a folder, not a regular file" "$pack" @folder
hostile "splash /dev/zero" 1 "/dev/zero: a device, not a regular file" "$pack" --launcher "$base" --out x.exe --splash /dev/zero
hostile "jar /dev/stdin" 1 "/dev/stdin: a pipe, not a regular file" "$pack" --launcher "$base" --out x.exe --classes /dev/stdin
hostile "icon a folder" 1 "folder: a folder, not a regular file" "$pack" --launcher "$base" --out x.exe --icon folder
hostile "launcher /dev/zero" 1 "/dev/zero: a device, not a regular file" "$pack" --launcher /dev/zero --out x.exe
hostile "show /dev/stdin" 1 "/dev/stdin: a pipe, not a regular file" "$pack" --show /dev/stdin
hostile "splash 16384x16384 interlaced" 1 "huge.png: PNG image of 16384x16384 pixels would inflate to more than 256 MiB" \
  "$pack" --launcher "$base" --out x.exe --splash huge.png
hostile "splash bit depth 255" 1 "depth255.png: PNG header declares bit depth 255" "$pack" --launcher "$base" --out x.exe --splash depth255.png
check "no output after refusals" test ! -e x.exe
hostile "@ value packed as written" 0 "wrote at.exe" "$pack" --launcher "$base" --out at.exe --force --class-path @options.args \
  --vm-options=@options.args
check "@ values stored as written" bash -c "'$pack' --show at.exe | grep -c 'text=\"@options.args\"' | grep -qx 2"
check "@ values inject no options" bash -c "! '$pack' --show at.exe | grep -q injected"
hostile "check -splash:/dev/zero" 1 "FAIL  splash: \\dev\\zero: a device, not a regular file" \
  "$pack" --check "$(checked splash-zero --vm-options -splash:/dev/zero)"
hostile "check -splash:/dev/stdin" 1 "FAIL  splash: \\dev\\stdin: a pipe, not a regular file" \
  "$pack" --check "$(checked splash-stdin --vm-options -splash:/dev/stdin)"
hostile "check class path /dev/zero" 1 "WARN  application: class path entry \\dev\\zero is not a readable jar: a device" \
  "$pack" --check "$(checked class-path-zero --class-path /dev/zero)"
hostile "check class path /dev/stdin" 1 "class path entry \\dev\\stdin is not a readable jar: a pipe" \
  "$pack" --check "$(checked class-path-stdin --class-path /dev/stdin)"
hostile "check splash 16384x16384" 1 "FAIL  splash: VM-SPLASH: PNG image of 16384x16384 pixels would inflate" \
  "$pack" --check "$(checked splash-huge --raw-text VM-SPLASH=20000:huge.png)"
hostile "check splash bit depth 255" 1 "FAIL  splash: ${work//\//\\}\\depth255.png: PNG header declares bit depth 255" \
  "$pack" --check "$(checked splash-depth --vm-options "-splash:$work/depth255.png")"
hostile "check 70,000-entry jar" 0 "OK    application: main class found in" "$pack" --check "$(checked many --classes many.jar)"
check "70,000-entry jar: no application failure" bash -c "! grep -F 'FAIL  application' '$work/hostile.log'"
hostile "check unreadable jar entry" 0 "WARN  application: main class com.example.Main cannot be checked" \
  "$pack" --check "$(checked method9 --classes method9.jar)"
check "unreadable jar entry: no application failure" bash -c "! grep -F 'FAIL  application' '$work/hostile.log'"
mkfifo pipe
hostile "check configuration file /dev/stdin" 1 "WARN  resources: configuration file /dev/stdin is not there" \
  "$pack" --check "$(checked config-stdin --config-path /dev/stdin)"
hostile "check configuration file a pipe" 1 "WARN  resources: configuration file $work/pipe is not there" \
  "$pack" --check "$(checked config-pipe --config-path "$work/pipe")"
mkdir -p runtime/bin runtime/lib && : >runtime/bin/java.dll && ln -s /dev/zero runtime/lib/jvm.cfg
"$pack" --launcher "$base" --out runtime/App.exe --force --main-class com.example.Main >/dev/null
hostile "check jvm.cfg /dev/zero" 1 "FAIL  runtime: jvm.cfg is missing or names no VM type" "$pack" --check runtime/App.exe
mkdir -p share && ln -s /dev/zero share/quorvia-sync.index
hostile "check index /dev/zero" 1 "quorvia-sync.index: a device, not a regular file" "$pack" --check share

# ---- Packed exes read back under Wine ----

if ! command -v wine >/dev/null 2>&1; then
  echo "SKIP: wine not found: packed exes not read back under Windows, Windows tool output not compared"
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && exit 77
  exit 1
fi

head -c 200000 /dev/urandom >app.jar
printf 'com.example.Main\0' >main.txt
printf -- '-Xmx256m -Dname=value\0' >vmopts.txt
printf 'lib/a.jar;lib/b.jar\0' >cp.txt
printf '25\0' >init.txt
printf '75\0' >max.txt
md5sum app.jar | cut -c1-32 | tr a-f A-F | tr -d '\n' >md5.txt
cp "$here/fixtures/fixture.manifest" manifest.txt
printf 'just text\n' >notes.txt

# app.jar is random bytes, not a jar: --force packs it all the same.
pack_args=(--force --classes app.jar --main-class com.example.Main --vm-options "-Xmx256m -Dname=value"
           --class-path "lib/a.jar;lib/b.jar" --init-heap-percent 25 --max-heap-percent 75
           --splash splash.png --company "Société €")
expected=(CLASSES 1000 1033 app.jar MAIN-CLASS 3000 1033 main.txt VM-OPTIONS 5000 1033 vmopts.txt
          CLASS-PATH 4000 1033 cp.txt VM-INIT-HEAP-PERC 11000 1033 init.txt
          VM-MAX-HEAP-PERC 11100 1033 max.txt VM-SPLASH 20000 1033 splash.png
          MD5-SUM 6000 1033 md5.txt '#24' 1 1033 manifest.txt)

for layout in checker checker_stripped checker_last; do
  check "pack $layout" "$pack" --launcher "$fixtures/$layout.exe" --out "$layout-packed.exe" "${pack_args[@]}"
  # The packed exe runs and finds its own resources; the German MAIN-CLASS is gone.
  check "run packed $layout" wine "$layout-packed.exe" --checksum "$layout-packed.exe" \
    --missing MAIN-CLASS 3000 1031 "${expected[@]}"
done

# The checker can fail: the unpacked exe has no CLASSES and still has the German MAIN-CLASS.
check "checker catches a missing resource" bash -c "! wine '$fixtures/checker.exe' CLASSES 1000 1033 app.jar"
check "checker catches a resource left in" bash -c "! wine '$fixtures/checker.exe' --missing MAIN-CLASS 3000 1031"

check "show lists the text" bash -c "'$pack' --show checker-packed.exe | grep -qx 'MAIN-CLASS 3000 lang=1033 size=17 text=\"com.example.Main\"'"
check "repack keeps the size" bash -c "'$pack' --launcher checker-packed.exe --out again.exe ${pack_args[*]@Q} &&
  cmp checker-packed.exe again.exe"

expect_fail "missing --out" 2 "missing --out" "$pack" --launcher "$fixtures/checker.exe"
expect_fail "unknown option" 2 "unknown option '--nope'" "$pack" --out x.exe --nope
expect_fail "text file launcher" 1 "notes.txt: not a PE32+ executable" "$pack" --launcher notes.txt --out x.exe
expect_fail "splash not png" 1 "main.txt: not a PNG image" "$pack" --launcher "$fixtures/checker.exe" --out x.exe --splash main.txt
expect_fail "missing jar" 1 "nope.jar: No such file or directory" "$pack" --launcher "$fixtures/checker.exe" --out x.exe --classes nope.jar
check "no output after failures" test ! -e x.exe

# The real launchers and the Windows tool: the build always makes them, so one missing is a failure.
for built in launcher.exe launcher-console.exe launcher-service.exe quorvia-pack.exe; do
  check "the Windows build made $built" test -f "$windows_build/$built"
done

# The real launcher: resources readable through Windows.
launcher="$windows_build/launcher.exe"
check "pack launcher" "$pack" --launcher "$launcher" --out app.exe "${pack_args[@]}"
check "read launcher resources" wine "$fixtures/checker.exe" --file app.exe --checksum app.exe \
  "${expected[@]:0:32}"

# The Windows build of the tool must write the same bytes as the native one, under the same file
# name, which the default version details are made of.
mkdir -p win
check "windows tool packs" wine "$windows_build/quorvia-pack.exe" --launcher "$fixtures/checker.exe" \
  --out win/checker-packed.exe "${pack_args[@]}"
check "windows and native output identical" cmp win/checker-packed.exe checker-packed.exe
cp win/checker-packed.exe win-packed.exe
# Over an existing file, which on Windows needs MoveFileEx rather than rename.
check "windows tool replaces its output" wine "$windows_build/quorvia-pack.exe" --launcher win-packed.exe \
  --out win-packed.exe --force --main-class replaced.Main
check "replaced output readable" bash -c "'$pack' --show win-packed.exe | grep -q 'text=\"replaced.Main\"'"
# The same hostile inputs reach the Windows tool's reads: a folder, and a PNG declaring 2 GiB. Wine
# reserves more address space than the limit allows.
memory_limit=unlimited
hostile "windows tool: splash a folder" 1 "folder: a folder, not a regular file" \
  wine "$windows_build/quorvia-pack.exe" --launcher "$fixtures/checker.exe" --out x.exe --splash folder
hostile "windows tool: splash 16384x16384" 1 "would inflate to more than 256 MiB" \
  wine "$windows_build/quorvia-pack.exe" --launcher "$fixtures/checker.exe" --out x.exe --splash huge.png

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
