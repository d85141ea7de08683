#!/usr/bin/env bash
# Packages the sample Java application into Hello.exe, puts the test runtime beside it and
# launches it under Wine with two arguments. The test runtime stands in for a Java runtime:
# it records what the launcher asked of it, and the demo shows that record. Then the same exe
# runs on this machine's real Java (quorvia-pack --try), which prints the application's greeting.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"
demo="$build/demo"
"$root/scripts/build.sh" >/dev/null

rm -rf "$demo" && mkdir -p "$demo/classes" "$demo/Hello"
javac --release 8 -d "$demo/classes" "$root/samples/hello/src/com/quorvia/sample/Hello.java"
jar cf "$demo/hello.jar" -C "$demo/classes" .

"$build/quorvia-pack" --launcher "$build/windows/launcher.exe" --out "$demo/Hello/Hello.exe" \
  --main-class com.quorvia.sample.Hello --classes "$demo/hello.jar"
cp -r "$build/windows/test-runtime" "$demo/Hello/jre"
echo "== Packaged:"
"$build/quorvia-pack" --show "$demo/Hello/Hello.exe"

export WINEPREFIX="$demo/wine" WINEDEBUG=-all
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wineserver -w
export QUORVIA_TEST_TRACE="$(winepath -w "$demo/trace.jsonl" 2>/dev/null)"
echo "== Running: Hello.exe Alice Bob"
set +e
(cd "$demo/Hello" && wine Hello.exe Alice Bob)
status=$?
set -e
wineserver -k || true
echo "== Exit status: $status"
echo "== What the runtime was asked to do (main and its arguments):"
grep '"event":"main"' "$demo/trace.jsonl" || { echo "main was not called"; exit 1; }
[ "$status" -eq 0 ] || exit "$status"
echo "== The same Hello.exe on this machine's Java: quorvia-pack --try Hello.exe -- Alice Bob"
exec "$build/quorvia-pack" --try "$demo/Hello/Hello.exe" -- Alice Bob
