#!/bin/sh
# Runs the stand-in Java runtime's self-test under Wine.
# Usage: run_selftest.sh <windows build dir>   (the folder holding test-runtime-selftest.exe)
# Prints the self-test's PASS/FAIL lines and ends with "N passed, N failed"; exit status 0 only
# when everything passed.
set -eu
build_dir=${1:?usage: run_selftest.sh <windows build dir>}
exe="$build_dir/test-runtime-selftest.exe"
[ -f "$exe" ] || { echo "missing $exe" >&2; exit 2; }
: "${WINEPREFIX:=${TMPDIR:-/tmp}/quorvia-rt-wineprefix}"
export WINEPREFIX
export WINEDEBUG=-all
# The build dir as a Windows path (Wine maps Z: to /).
win_dir="Z:$(cd "$build_dir" && pwd | sed 's|/|\\|g')"
wine "$exe" "$win_dir"
