#!/usr/bin/env bash
# Builds, then runs every test (unit tests plain and under sanitizers, and the Wine end-to-end suite).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
ctest --test-dir "$root/build" --output-on-failure "$@"
