# Shared by the release tests (sourced): outcome counting, a Wine prefix of the test's own, and a
# start of a packed exe with the stand-in Java runtime beside it, whose trace names the main class
# and arguments the launcher handed over. Sourced with $root and $here set; skips (77) without Wine,
# and gives $work (removed at exit) and the release $version.

if ! command -v wine >/dev/null 2>&1; then
  echo "SKIP: wine not found: $(basename "$0") checked nothing (the bundles' exes and Windows tool need Wine)"
  exit 77
fi
work=$(mktemp -d)
trap 'stop_wine; rm -rf "$work"' EXIT
version=$(head -n 1 "$root/VERSION")

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

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

start_wine() {  # a fresh prefix in $work with the null graphics driver, and a persistent server
  export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  wineserver -p
}

stop_wine() {
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null
}

# runs_sample EXE RUNTIME: the exe, with RUNTIME copied beside it as jre, starts the sample's main
# with the two arguments given to it.
runs_sample() {
  local exe=$1 runtime=$2 folder trace
  folder=$(dirname "$exe")
  trace="$folder/trace.jsonl"
  rm -rf "$folder/jre" "$trace"
  cp -r "$runtime" "$folder/jre"
  (cd "$folder" && QUORVIA_TEST_TRACE="$(winepath -w "$trace" 2>/dev/null)" wine "$(basename "$exe")" Alice Bob) || return 1
  grep -F '"event":"main"' "$trace" | grep -F '"class":"com/quorvia/sample/Hello"' | grep -qF '"args":["Alice","Bob"]'
}
