#!/usr/bin/env bash
# Makes the release bundles from a build:
#   dist/quorvia-launcher-VERSION-linux-x64.tar.gz    quorvia-pack (static), the launchers, README, licence
#   dist/quorvia-launcher-VERSION-windows-x64.zip     quorvia-pack.exe, the launchers, README, licence
# Both carry LICENSE, THIRD-PARTY-NOTICES (from the link maps of the programs they ship), samples/
# and maven/quorvia-maven-plugin-VERSION.{jar,pom}, the Maven plugin with both packers inside, built
# offline against Debian's Maven repository. VERSION comes from the file VERSION.
#
#   release.sh [--from BUILD_DIR] [--dist DIST_DIR] [--no-maven]
# Without --from it builds into build/ only what ships (no tests, sanitizers or fuzzers) and
# bundles that. --no-maven leaves the plugin out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="" dist="$root/dist" maven=1
while [ $# -gt 0 ]; do
  case "$1" in
    --from) build=$(realpath -m "$2"); shift 2 ;;
    --dist) dist=$(realpath -m "$2"); shift 2 ;;
    --no-maven) maven=0; shift ;;
    *) echo "release.sh: unknown argument '$1' (see the comment at the top of the script)" >&2; exit 2 ;;
  esac
done
if [ -z "$build" ]; then
  build="$root/build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target quorvia-pack
  cmake -S "$root" -B "$build/windows" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build "$build/windows" --target launcher launcher-console launcher-service quorvia-pack
fi
version=$(head -n 1 "$root/VERSION")
windows="$build/windows"

for f in LICENSE README.md; do
  [ -f "$root/$f" ] || { echo "release.sh: $root/$f: missing" >&2; exit 1; }
done

launchers=("$windows/launcher.exe" "$windows/launcher-console.exe" "$windows/launcher-service.exe")
for f in "$build/quorvia-pack" "$windows/quorvia-pack.exe" "${launchers[@]}" "$build/quorvia-pack.map" \
  "$windows/quorvia-pack.exe.map" "$windows/launcher.exe.map" "$windows/launcher-console.exe.map" \
  "$windows/launcher-service.exe.map"; do
  [ -f "$f" ] || { echo "release.sh: $f: missing; build first (scripts/build.sh)" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
linux_dir="$stage/quorvia-launcher-$version-linux-x64"
windows_dir="$stage/quorvia-launcher-$version-windows-x64"
mkdir -p "$linux_dir" "$windows_dir"
# Stripped copies: the build keeps its symbols for debugging.
strip -o "$linux_dir/quorvia-pack" "$build/quorvia-pack"
x86_64-w64-mingw32-strip -o "$windows_dir/quorvia-pack.exe" "$windows/quorvia-pack.exe"
# The notices cover what both bundles ship; the check fails on a linked library without one.
python3 "$root/scripts/third-party-notices.py" --out "$stage/THIRD-PARTY-NOTICES" \
  "quorvia-pack for Linux=$build/quorvia-pack.map" "quorvia-pack.exe=$windows/quorvia-pack.exe.map" \
  "launcher.exe=$windows/launcher.exe.map" "launcher-console.exe=$windows/launcher-console.exe.map" \
  "launcher-service.exe=$windows/launcher-service.exe.map"
for d in "$linux_dir" "$windows_dir"; do
  cp "${launchers[@]}" "$root/README.md" "$root/LICENSE" "$stage/THIRD-PARTY-NOTICES" "$d/"
  mkdir -p "$d/samples"
  cp -r "$root/samples/hello" "$root/samples/maven" "$d/samples/"
done

if [ "$maven" = 1 ]; then
  if ! command -v mvn >/dev/null || [ ! -d /usr/share/maven-repo/org/apache/maven/plugins/maven-plugin-plugin ]; then
    echo "release.sh: Debian's Maven packages are missing (scripts/install-deps.sh installs them); or use --no-maven" >&2
    exit 1
  fi
  plugin="$stage/maven-plugin"
  mkdir -p "$plugin"
  cp -r "$root/tools/maven-plugin/src" "$plugin/"
  sed "s/@QUORVIA_VERSION@/$version/" "$root/tools/maven-plugin/pom.xml.in" >"$plugin/pom.xml"
  bundled="$plugin/src/main/resources/com/quorvia/maven/bundled"
  mkdir -p "$bundled/linux-x64" "$bundled/windows-x64"
  cp "$linux_dir/quorvia-pack" "$bundled/linux-x64/"
  cp "$windows_dir/quorvia-pack.exe" "$bundled/windows-x64/"
  cp "${launchers[@]}" "$bundled/"
  # Maven writes into its local repository: give it Debian's, linked file by file into a folder of its own.
  cp -rs /usr/share/maven-repo "$stage/m2"
  (cd "$plugin" && mvn -o -q -B -Dstyle.color=never -Dmaven.repo.local="$stage/m2" package)
  for d in "$linux_dir" "$windows_dir"; do
    mkdir -p "$d/maven"
    cp "$plugin/target/quorvia-maven-plugin-$version.jar" "$d/maven/"
    cp "$plugin/pom.xml" "$d/maven/quorvia-maven-plugin-$version.pom"
  done
fi

mkdir -p "$dist"
tar_file="$dist/quorvia-launcher-$version-linux-x64.tar.gz"
zip_file="$dist/quorvia-launcher-$version-windows-x64.zip"
rm -f "$tar_file" "$zip_file"
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner -czf "$tar_file" "$(basename "$linux_dir")"
(cd "$stage" && zip -qrX "$zip_file" "$(basename "$windows_dir")")
echo "$tar_file"
echo "$zip_file"
