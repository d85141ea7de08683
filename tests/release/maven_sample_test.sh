#!/bin/bash
# Installs quorvia-maven-plugin from the Linux release bundle with README's offline Debian commands,
# builds the bundle's samples/maven with "mvn -o package" against Debian's Maven repository, packs
# variants of it through the plugin's settings, and starts the exe it packed under Wine. Exit 77 (skipped) where Debian's Maven packages or Wine are missing.
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
mkdir -p "$work/bundle"
tar -C "$work/bundle" -xzf "$dist/quorvia-launcher-$version-linux-x64.tar.gz" || exit 1

# The sample's pom names the plugin version a user would write; it must be this release's.
check "samples/maven names this release" grep -qF "<quorvia.version>$version</quorvia.version>" "$root/samples/maven/pom.xml"

# README's offline variant for Debian, in a home of the test's own: Debian's Maven packages as the
# local repository, and the install goal named in full (no plugin prefix resolves offline).
export MAVEN_OPTS="-Duser.home=$work/home"
mkdir -p "$work/home/.m2/repository"
cp -rs /usr/share/maven-repo/. "$work/home/.m2/repository/"
mvn_offline() { mvn -o -B -Dstyle.color=never "$@"; }
check "plugin installs from the bundle" mvn_offline \
  org.apache.maven.plugins:maven-install-plugin:3.1.0:install-file \
  -Dfile="$bundle/maven/quorvia-maven-plugin-$version.jar" -DpomFile="$bundle/maven/quorvia-maven-plugin-$version.pom"

# The bundle's samples, built where they were unpacked.
samples="$bundle/samples"
package() {  # package PROJECT [MVN ARGS]: mvn -o package, showing Maven's output when it fails
  local project=$1
  shift
  (cd "$samples/$project" && mvn_offline "$@" package) >"$work/$project.log" 2>&1 || { cat "$work/$project.log"; return 1; }
}
check "mvn -o package packs the sample" package maven
exe="$samples/maven/target/Hello.exe"
"$bundle/quorvia-pack" --show "$exe" >"$work/show.txt" 2>&1
check "main class from the pom" grep -qx 'MAIN-CLASS 3000 lang=1033 size=25 text="com.quorvia.sample.Hello"' "$work/show.txt"
check "options from the argument file" grep -qx 'VM-OPTIONS 5000 lang=1033 size=35 text="-Dfile.encoding=UTF-8 -Dapp.home=#"' "$work/show.txt"
check "the project's jar embedded" grep -q "^CLASSES 1000 lang=1033 size=$(stat -c %s "$samples/maven/target/Hello.jar") md5=" "$work/show.txt"
check "the sample passes --check" grep -q "OK    application: public static void main" "$work/maven.log"

# Packer options as settings, the project's version, and a runtime dependency copied into lib/.
mkdir -p "$work/greeting/g"
echo 'package g; public class Greeting {}' >"$work/greeting/g/Greeting.java"
javac --release 8 -d "$work/greeting" "$work/greeting/g/Greeting.java"
jar cf "$work/greeting-1.0.jar" -C "$work/greeting" g
check "a dependency installs" mvn_offline org.apache.maven.plugins:maven-install-plugin:3.1.0:install-file \
  -Dfile="$work/greeting-1.0.jar" -DgroupId=com.example -DartifactId=greeting -Dversion=1.0 -Dpackaging=jar
cp -r "$samples/maven" "$samples/settings"
sed -i -e '0,/<version>1.0</s|<version>1.0</version>|<version>2.5.1-SNAPSHOT</version>|' \
  -e 's|<packaging>jar</packaging>|&<dependencies><dependency><groupId>com.example</groupId><artifactId>greeting</artifactId><version>1.0</version></dependency></dependencies>|' \
  -e 's|<mainClass>|<productName>Hello Tool</productName><console>true</console>\n&|' "$samples/settings/pom.xml"
check "mvn -o package with packer settings" package settings
"$bundle/quorvia-pack" --show "$samples/settings/target/Hello.exe" >"$work/settings.txt" 2>&1
while IFS='|' read -r what line; do
  check "$what" grep -qxF "$line" "$work/settings.txt"
done <<'ROWS'
productName as --product-name|version ProductName="Hello Tool"
file version from the project|version FileVersion="2.5.1"
product version from the project|version ProductVersion="2.5.1"
the dependency on the class path|CLASS-PATH 4000 lang=1033 size=23 text="#/lib/greeting-1.0.jar"
ROWS
check "the dependency copied beside the exe" cmp "$work/greeting-1.0.jar" "$samples/settings/target/lib/greeting-1.0.jar"
check "console as --console" bash -c "file '$samples/settings/target/Hello.exe' | grep -q '(console)'"
check "copyDependencies=false leaves the class path alone" package settings -Dquorvia.copyDependencies=false
check "no class path without the dependencies" bash -c \
  "! '$bundle/quorvia-pack' --show '$samples/settings/target/Hello.exe' | grep -q '^CLASS-PATH'"

# The msi goal: the image (project jar, dependency, stand-in runtime) and its MSI, with repeated
# elements of a repeatable option. A file left in the default image folder must not reach either.
cp -r "$samples/settings" "$samples/installer"
sed -i -e 's|<goal>pack</goal>|<goal>msi</goal>|' -e 's|<console>true</console>||' \
  -e 's|<packaging>jar</packaging>|&<organization><name>Example Ltd.</name></organization>|' \
  -e "s|<mainClass>|<runtime>$build/windows/test-runtime</runtime><upgradeCode>6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11</upgradeCode>\n<fileAssociation>hlo:Hello text</fileAssociation><fileAssociation>hlb:Hello book</fileAssociation>\n&|" \
  "$samples/installer/pom.xml"
mkdir -p "$samples/installer/target/image" && touch "$samples/installer/target/image/Stale.exe"
check "mvn -o package with the msi goal" package installer
image="$samples/installer/target/image"
for f in Hello.exe lib/Hello.jar lib/greeting-1.0.jar jre/bin/server/jvm.dll; do check "the image has $f" test -f "$image/$f"; done
check "nothing of an earlier build in the image" test ! -e "$image/Stale.exe"
"$bundle/quorvia-pack" --show "$image/Hello.exe" >"$work/image.txt" 2>&1
while IFS='|' read -r what line; do
  check "$what" grep -qxF "$line" "$work/image.txt"
done <<'ROWS'
the project's jar runs from lib|JAR-PATH 4500 lang=1033 size=14 text="lib\\Hello.jar"
the dependency on the class path|CLASS-PATH 4000 lang=1033 size=23 text="#/lib/greeting-1.0.jar"
the project's version in three fields|version ProductVersion="2.5.1"
the company from the project's organization|version CompanyName="Example Ltd."
ROWS
msi="$samples/installer/target/Hello.msi"
msiinfo export "$msi" Property >"$work/property.txt" 2>&1
msiinfo export "$msi" Registry >"$work/registry.txt" 2>&1
check "the MSI's version" grep -qP '^ProductVersion\t2\.5\.1\r?$' "$work/property.txt"
check "the MSI's upgrade code" grep -qP '^UpgradeCode\t\{6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11\}\r?$' "$work/property.txt"
check "both associations in the MSI" bash -c "grep -qF 'Software\\Classes\\.hlo' '$work/registry.txt' && grep -qF 'Software\\Classes\\.hlb' '$work/registry.txt'"

# A setting of what another goal makes is refused with the goal to use.
cp -r "$samples/maven" "$samples/misplaced"
sed -i 's|<mainClass>|<runtime>jdk.zip</runtime>\n&|' "$samples/misplaced/pom.xml"
check "an image setting fails the pack goal" bash -c "! (cd '$samples/misplaced' && mvn -o -B package) >'$work/misplaced.log' 2>&1"
check "the failure names the goals" grep -q "<runtime> shapes the app image: it is a setting of the image and msi goals, not of pack" \
  "$work/misplaced.log"

# The two steps of a signed MSI: settings for the whole plugin, the image goal in the build, the exe
# changed (as signing does) and then the msi goal with buildImage false, which must take the image
# as it is, also when run by another packer (which is then handed no launcher, since nothing is
# packed). Each goal takes its own settings of the plugin's and leaves the others.
cp -r "$samples/maven" "$samples/twostep"
cat >"$work/twostep.xml" <<XML
<configuration>
  <mainClass>com.quorvia.sample.Hello</mainClass><company>Example Ltd.</company><productName>Hello</productName>
  <runtime>$build/windows/test-runtime</runtime><upgradeCode>6F1C1A4E-2B7D-4C55-9A0E-3D2F8B9C0A11</upgradeCode>
</configuration>
<executions>
  <execution><id>image</id><goals><goal>image</goal></goals></execution>
  <execution><id>installer</id><phase>verify</phase><goals><goal>msi</goal></goals>
    <configuration><buildImage>false</buildImage></configuration></execution>
</executions>
XML
perl -0pi -e 'BEGIN { local $/; open(F, "<", shift @ARGV) or die; $x = <F>; } s|<executions>.*</executions>|$x|s' \
  "$work/twostep.xml" "$samples/twostep/pom.xml"
check "mvn -o package runs the image goal" package twostep
printf 'signature' >>"$samples/twostep/target/image/Hello.exe"
cp "$samples/twostep/target/image/Hello.exe" "$work/signed.exe"
check "no MSI before the msi goal" test ! -e "$samples/twostep/target/Hello.msi"
check "mvn -o quorvia:msi@installer builds the MSI" bash -c "cd '$samples/twostep' && mvn -o -B quorvia:msi@installer -Dquorvia.packer='$bundle/quorvia-pack' >'$work/msi.log' 2>&1 || { cat '$work/msi.log'; exit 1; }"
check "the MSI holds the image's exe as it is" bash -c "mkdir '$work/extracted' && cd '$work/extracted' && msiextract '$samples/twostep/target/Hello.msi' >/dev/null 2>&1 && cmp \"\$(find . -name Hello.exe)\" '$work/signed.exe'"

cp -r "$samples/maven" "$samples/unknown"
sed -i 's|<mainClass>|<fileVersoin>2.0</fileVersoin>\n&|' "$samples/unknown/pom.xml"
check "an unknown setting fails the build" bash -c "! (cd '$samples/unknown' && mvn -o -B package) >'$work/unknown.log' 2>&1"
check "the failure names the setting" grep -q "unknown setting fileVersoin; the settings of pack are .*fileVersion" "$work/unknown.log"

# Values starting with @ (the runtime home) or # (the exe's folder) reach the packer as written: the
# plugin passes each as one --option=VALUE argument, which a packer never reads as an argument file.
# #/lib/x.jar does not exist, so --check fails the build unless it is turned off.
cp -r "$samples/maven" "$samples/prefixes"
sed -i 's|<mainClass>|<classPath>@/lib/tools.jar;#/lib/x.jar</classPath><jarPath>@hello.args</jarPath><service>HelloSvc</service>\n<mainClass>|' \
  "$samples/prefixes/pom.xml"
printf '#!/bin/bash\nprintf "%%s\\n" "$@" >>"%s"\nexec "%s" "$@"\n' "$work/packer-args.txt" "$bundle/quorvia-pack" \
  >"$work/logging-pack"
chmod +x "$work/logging-pack"
check "a FAIL of --check fails the build" bash -c "! (cd '$samples/prefixes' && mvn -o -B package) >'$work/fail.log' 2>&1"
check "the failure names the missing jar" grep -q "FAIL  application: class path entry .*x.jar does not exist" "$work/fail.log"
check "mvn -o package with @ and # values and no check" \
  package prefixes -Dquorvia.packer="$work/logging-pack" -Dquorvia.check=false
check "the plugin passes one --option=VALUE argument" grep -qx -- '--class-path=@/lib/tools.jar;#/lib/x.jar' \
  "$work/packer-args.txt"
check "no --check with check=false" bash -c "! grep -qx -- --check '$work/packer-args.txt'"
check "another packer gets the service launcher for a service" grep -qx -- "--launcher=.*/launcher-service.exe" "$work/packer-args.txt"
"$bundle/quorvia-pack" --show "$samples/prefixes/target/Hello.exe" >"$work/prefixes.txt" 2>&1
check "class path with @ and # as written" \
  grep -qx 'CLASS-PATH 4000 lang=1033 size=28 text="@/lib/tools.jar;#/lib/x.jar"' "$work/prefixes.txt"
check "jar path with @ as written" grep -qx 'JAR-PATH 4500 lang=1033 size=12 text="@hello.args"' "$work/prefixes.txt"

start_wine
check "the packed exe runs the sample" runs_sample "$exe" "$build/windows/test-runtime"
check "the image's exe runs the sample" runs_sample "$image/Hello.exe" "$build/windows/test-runtime"
finish
