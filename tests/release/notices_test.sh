#!/bin/bash
# THIRD-PARTY-NOTICES from the link maps of what ships: every library linked has a notice, and a
# library the notices do not know fails the check rather than shipping without one.
#   notices_test.sh SOURCE_DIR BUILD_DIR
set -u
root=$(realpath -m "$1")
build=$(realpath -m "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
maps=("quorvia-pack for Linux=$build/quorvia-pack.map" "quorvia-pack.exe=$build/windows/quorvia-pack.exe.map"
  "launcher.exe=$build/windows/launcher.exe.map" "launcher-console.exe=$build/windows/launcher-console.exe.map"
  "launcher-service.exe=$build/windows/launcher-service.exe.map")
notices() { python3 "$root/scripts/third-party-notices.py" "$@"; }
passed=0 failed=0
check() {  # check NAME COMMAND...
  if "${@:2}" >"$work/out" 2>&1; then passed=$((passed + 1)); echo "ok: $1"
  else failed=$((failed + 1)); echo "FAILED: $1"; cat "$work/out"; fi
}

check "every linked library has a notice" notices --out "$work/NOTICES" "${maps[@]}"
# Each row: a library the programs link, and a line of its notice.
while IFS='|' read -r library line; do
  check "$library is in the notices" grep -qF "$line" "$work/NOTICES"
done <<'ROWS'
mingw-w64 runtime|Zope Public License 2.1
winpthreads|Copyright (c) 2011-2016 mingw-w64 project
libstdc++ and libgcc|GCC RUNTIME LIBRARY EXCEPTION
zlib|Jean-loup Gailly and Mark Adler
libcrypto|The OpenSSL Project Authors
glibc|GNU LESSER GENERAL PUBLIC LICENSE
ROWS

# A link that pulls in a library without a notice: the check fails and names it.
{ echo "Archive member included to satisfy reference by file (symbol)"; echo
  echo "/usr/lib/x86_64-linux-gnu/libzstd.a(zstd_decompress.o)"
  echo "                              tools/pack/libpack_core.a(jar_reader.cpp.o) (ZSTD_decompress)"
  cat "$build/quorvia-pack.map"; } >"$work/unknown.map"
check "an unknown library fails the check" bash -c \
  "! python3 '$root/scripts/third-party-notices.py' 'quorvia-pack=$work/unknown.map' 2>'$work/err'"
check "the failure names the library" grep -qF "libzstd.a has no notice" "$work/err"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
