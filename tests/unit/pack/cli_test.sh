#!/bin/bash
# Runs quorvia-pack as a program on real mingw-built exes, then reads the resources back under
# Wine through FindResource: from a packed exe that must still start, and from the real launcher
# when the Windows build has made it. Exit 77 (skipped) without Wine.
#   cli_test.sh QUORVIA_PACK FIXTURE_DIR WINDOWS_BUILD_DIR
set -u
pack=$(realpath -m "$1")
fixtures=$(realpath -m "$2")
windows_build=$(realpath -m "$3")

if ! command -v wine >/dev/null 2>&1; then
  echo "wine not found; skipping"
  exit 77
fi

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

# Inputs: a jar of random bytes, a PNG, the expected stored bytes of each text resource.
head -c 200000 /dev/urandom >app.jar
printf '\x89PNG\r\n\x1a\n\0\0\0\rIHDRpixels' >splash.png
printf 'com.example.Main\0' >main.txt
printf -- '-Xmx256m -Dname=value\0' >vmopts.txt
printf 'lib/a.jar;lib/b.jar\0' >cp.txt
printf '25\0' >init.txt
printf '75\0' >max.txt
md5sum app.jar | cut -c1-32 | tr a-f A-F | tr -d '\n' >md5.txt
cp "$here/fixtures/fixture.manifest" manifest.txt
printf 'just text\n' >notes.txt

pack_args=(--classes app.jar --main-class com.example.Main --vm-options "-Xmx256m -Dname=value"
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

# The real launcher, once the Windows build has made it: resources readable through Windows.
launcher="$windows_build/launcher.exe"
if [ -f "$launcher" ]; then
  check "pack launcher" "$pack" --launcher "$launcher" --out app.exe "${pack_args[@]}"
  check "read launcher resources" wine "$fixtures/checker.exe" --file app.exe --checksum app.exe \
    "${expected[@]:0:32}"
else
  echo "note: $launcher not built; packed only the test exes"
fi

# The Windows build of the tool must write the same bytes as the native one.
if [ -f "$windows_build/quorvia-pack.exe" ]; then
  # Under the same file name, which the default version details are made of.
  mkdir -p win
  check "windows tool packs" wine "$windows_build/quorvia-pack.exe" --launcher "$fixtures/checker.exe" \
    --out win/checker-packed.exe "${pack_args[@]}"
  check "windows and native output identical" cmp win/checker-packed.exe checker-packed.exe
  cp win/checker-packed.exe win-packed.exe
  # Over an existing file, which on Windows needs MoveFileEx rather than rename.
  check "windows tool replaces its output" wine "$windows_build/quorvia-pack.exe" --launcher win-packed.exe \
    --out win-packed.exe --main-class replaced.Main
  check "replaced output readable" bash -c "'$pack' --show win-packed.exe | grep -q 'text=\"replaced.Main\"'"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
