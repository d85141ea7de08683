#!/bin/bash
# Unpacks each release bundle into an empty folder and uses it as a user would: the Linux one packs
# the sample application (and the exe runs under Wine), the Windows one's quorvia-pack.exe packs the
# same application under Wine; both exes must carry the same resources. Exit 77 (skipped) without Wine.
#   bundles_test.sh SOURCE_DIR BUILD_DIR DIST_DIR
set -u
root=$(realpath -m "$1")
build=$(realpath -m "$2")
dist=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
linux="$work/linux/quorvia-launcher-$version-linux-x64"
windows="$work/windows/quorvia-launcher-$version-windows-x64"

mkdir -p "$work/linux" "$work/windows" "$work/app" "$work/from-linux" "$work/from-windows"
check "linux bundle unpacks" tar -C "$work/linux" -xzf "$dist/quorvia-launcher-$version-linux-x64.tar.gz"
check "windows bundle unpacks" unzip -q "$dist/quorvia-launcher-$version-windows-x64.zip" -d "$work/windows"
# The build always makes both launchers: a bundle without one is broken, not a smaller release.
contents=(launcher.exe launcher-console.exe launcher-service.exe README.md LICENSE THIRD-PARTY-NOTICES samples/maven/pom.xml
  samples/hello/src/com/quorvia/sample/Hello.java)
for f in quorvia-pack "${contents[@]}"; do check "linux bundle has $f" test -f "$linux/$f"; done
for f in quorvia-pack.exe "${contents[@]}"; do check "windows bundle has $f" test -f "$windows/$f"; done

# Nothing from the build machine but the C library, which every Debian and Ubuntu has.
only_c_library() {
  local deps
  deps=$(ldd "$1" 2>&1)
  echo "$deps"
  case "$deps" in *"not a dynamic executable"* | *"statically linked"*) return 0 ;; esac
  ! echo "$deps" | grep -vE '^\s*(linux-vdso\.so|libc\.so\.6|libm\.so\.6|/lib64/ld-linux-x86-64\.so)'
}
check "linux quorvia-pack needs no library beyond the C library" only_c_library "$linux/quorvia-pack"
check "linux quorvia-pack --version" test "$("$linux/quorvia-pack" --version)" = "quorvia-pack $version"

start_wine
check "windows quorvia-pack.exe --version" \
  test "$(wine "$windows/quorvia-pack.exe" --version | tr -d '\r')" = "quorvia-pack $version"

# The sample application, and an argument file that both tools read from their own working folder.
javac --release 8 -d "$work/classes" "$root/samples/hello/src/com/quorvia/sample/Hello.java"
jar cf "$work/app/hello.jar" -C "$work/classes" .
printf '%s\n' '--main-class com.quorvia.sample.Hello' '--classes hello.jar' \
  '--vm-options "-Dfile.encoding=UTF-8 -Dapp.home=#"' >"$work/app/hello.args"

check "linux bundle packs the sample" bash -c "cd '$work' && '$linux/quorvia-pack' @app/hello.args --out from-linux/Hello.exe"
check "windows bundle packs the sample" bash -c "cd '$work' && wine '$windows/quorvia-pack.exe' @app/hello.args --out from-windows/Hello.exe"
"$linux/quorvia-pack" --show "$work/from-linux/Hello.exe" >"$work/linux.show" 2>&1
"$linux/quorvia-pack" --show "$work/from-windows/Hello.exe" >"$work/windows.show" 2>&1
check "linux output carries the sample" grep -qx 'MAIN-CLASS 3000 lang=1033 size=25 text="com.quorvia.sample.Hello"' "$work/linux.show"
check "both outputs carry the same resources" diff "$work/linux.show" "$work/windows.show"
# The build tree works like a bundle: build/quorvia-pack takes the launchers of its own build.
for row in "GUI|" "console|--console"; do
  IFS='|' read -r subsystem flag <<<"$row"
  check "build/quorvia-pack ${flag:-without --launcher} packs the $subsystem launcher of the build" bash -c \
    "cd '$work' && '$build/quorvia-pack' $flag @app/hello.args --out build-$subsystem.exe >/dev/null &&
     file build-$subsystem.exe | grep -qF '($subsystem)'"
done
check "exe packed on linux runs the sample" runs_sample "$work/from-linux/Hello.exe" "$build/windows/test-runtime"
finish
