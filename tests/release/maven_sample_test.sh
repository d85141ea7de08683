#!/bin/bash
# Installs quorvia-maven-plugin from the Linux release bundle into a local repository, builds
# samples/maven offline with "mvn -o package" against Debian's Maven repository, and starts the
# exe it packed under Wine. Exit 77 (skipped) where Debian's Maven packages or Wine are missing.
#   maven_sample_test.sh SOURCE_DIR BUILD_DIR DIST_DIR
set -u
root=$(realpath -m "$1")
build=$(realpath -m "$2")
dist=$(realpath -m "$3")
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v mvn >/dev/null 2>&1 || [ ! -d /usr/share/maven-repo/org/apache/maven/plugins/maven-plugin-plugin ]; then
  echo "SKIP: Debian's Maven packages are not installed (scripts/install-deps.sh installs them):" \
    "the Maven plugin was not checked"
  exit 77
fi
. "$here/common.sh"
bundle="$work/bundle/quorvia-launcher-$version-linux-x64"
mkdir -p "$work/bundle" "$work/samples"
tar -C "$work/bundle" -xzf "$dist/quorvia-launcher-$version-linux-x64.tar.gz" || exit 1

# The sample's pom names the plugin version a user would write; it must be this release's.
check "samples/maven names this release" grep -qF "<quorvia.version>$version</quorvia.version>" "$root/samples/maven/pom.xml"

# Maven writes into its local repository: give it Debian's, linked file by file into the test's folder.
cp -rs /usr/share/maven-repo "$work/m2"
mvn_offline() { mvn -o -B -Dstyle.color=never -Dmaven.repo.local="$work/m2" "$@"; }
check "plugin installs from the bundle" mvn_offline install:install-file \
  -Dfile="$bundle/maven/quorvia-maven-plugin-$version.jar" -DpomFile="$bundle/maven/quorvia-maven-plugin-$version.pom"

# A copy of the samples, so that target/ is made outside the source tree.
cp -r "$root/samples/maven" "$root/samples/hello" "$work/samples/"
package_sample() { (cd "$work/samples/maven" && mvn_offline package); }
check "mvn -o package packs the sample" package_sample
exe="$work/samples/maven/target/Hello.exe"
"$bundle/quorvia-pack" --show "$exe" >"$work/show.txt" 2>&1
check "main class from the pom" grep -qx 'MAIN-CLASS 3000 lang=1033 size=25 text="com.quorvia.sample.Hello"' "$work/show.txt"
check "options from the argument file" grep -qx 'VM-OPTIONS 5000 lang=1033 size=35 text="-Dfile.encoding=UTF-8 -Dapp.home=#"' "$work/show.txt"
check "the project's jar embedded" grep -q "^CLASSES 1000 lang=1033 size=$(stat -c %s "$work/samples/maven/target/Hello.jar") md5=" "$work/show.txt"

# Values starting with @ (the runtime home) or # (the exe's folder) reach the packer as written: the
# plugin passes each as one --option=VALUE argument, which a packer never reads as an argument file.
cp -r "$work/samples/maven" "$work/samples/prefixes"
sed -i 's|<mainClass>|<classPath>@/lib/tools.jar;#/lib/x.jar</classPath><jarPath>@hello.args</jarPath>\n<mainClass>|' \
  "$work/samples/prefixes/pom.xml"
printf '#!/bin/bash\nprintf "%%s\\n" "$@" >"%s"\nexec "%s" "$@"\n' "$work/packer-args.txt" "$bundle/quorvia-pack" \
  >"$work/logging-pack"
chmod +x "$work/logging-pack"
package_prefixes() { (cd "$work/samples/prefixes" && mvn_offline -Dquorvia.packer="$work/logging-pack" package); }
check "mvn -o package with @ and # values" package_prefixes
check "the plugin passes one --option=VALUE argument" grep -qx -- '--class-path=@/lib/tools.jar;#/lib/x.jar' \
  "$work/packer-args.txt"
"$bundle/quorvia-pack" --show "$work/samples/prefixes/target/Hello.exe" >"$work/prefixes.txt" 2>&1
check "class path with @ and # as written" \
  grep -qx 'CLASS-PATH 4000 lang=1033 size=28 text="@/lib/tools.jar;#/lib/x.jar"' "$work/prefixes.txt"
check "jar path with @ as written" grep -qx 'JAR-PATH 4500 lang=1033 size=12 text="@hello.args"' "$work/prefixes.txt"

start_wine
check "the packed exe runs the sample" runs_sample "$exe" "$build/windows/test-runtime"
finish
