#!/usr/bin/env bash
# Builds what the benchmarks need (if not built yet), then measures the launcher against its floors.
# Usage: bash bench/run.sh [BUILD_DIR] [bench.py options, e.g. --out FILE.json --runs 31 --only startup]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(dirname "$here")"
build="${1:-$repo/build}"
[ $# -gt 0 ] && shift

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$repo" -B "$build" -G Ninja >/dev/null
fi
ninja -C "$build" >/dev/null

# The floor programs, built as the launcher is: static runtime, stripped, GUI subsystem.
mkdir -p "$build/bench"
cxx=x86_64-w64-mingw32-g++-posix
flags=(-std=c++17 -O2 -Wall -Wextra -Werror -mwindows -static -static-libgcc -static-libstdc++ -s)
# jni.h is the JDK's, as the launcher's build finds it; its machine-dependent half is ours.
jni_dir="$(sed -n 's/^JNI_HEADER_DIR:PATH=//p' "$build/CMakeCache.txt")"
flags+=(-I"$jni_dir" -I"$repo/src/jni/win32")
for name in floor_gui floor_dpi floor_vm; do
  if [ ! -f "$build/bench/$name.exe" ] || [ "$here/$name.cpp" -nt "$build/bench/$name.exe" ]; then
    "$cxx" "${flags[@]}" -o "$build/bench/$name.exe" "$here/$name.cpp"
  fi
done

# The start-up cache driver (bench/CMakeLists.txt) is built with the rest by the ninja run above.

exec /usr/bin/python3 "$here/bench.py" --build "$build" "$@"
