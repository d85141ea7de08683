#!/usr/bin/env bash
# Builds everything into build/: the native tools and tests, and build/windows/launcher.exe with the test runtime.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build"
