#!/usr/bin/env python3
"""quorvia-pack --try against a real HotSpot: packs small applications into the real launcher and
runs each on the build machine's java, judging its output and exit status.

Usage: try_run_test.py QUORVIA_PACK LAUNCHER_EXE JAVA_HOME SAMPLE_SOURCE
"""
import glob
import os
import subprocess
import sys
import tempfile

pack, launcher, java_home, sample = sys.argv[1:5]

# Each application: its Java sources, how it is packed, the arguments of the try, and what it must do.
SHOUT = 'package lib; public class Shout { public static String it(String s) { return s.toUpperCase(); } }'
THREE = {"Three.java": 'public class Three { public static void main(String[] a) { System.exit(3); } }'}

APPS = [
    dict(name="sample", sources={"com/quorvia/sample/Hello.java": open(sample).read()},
         pack=["--main-class", "com.quorvia.sample.Hello", "--classes", "{app.jar}"],
         args=["Alice", "Bob"], status=0, stdout=["Hello from Java, Alice, Bob!"]),
    # Two jars beside the exe by '#' in both separator styles; the exe's folder in a VM option; heap
    # percentages; the embedded jar's file is private to this user.
    dict(name="several_jars",
         sources={"Main.java": """
            import java.nio.file.*; import java.nio.file.attribute.PosixFilePermissions;
            public class Main { public static void main(String[] a) throws Exception {
              System.out.println(lib.Shout.it(a[0]) + " " + lib.Quiet.it(a[1]));
              System.out.println("home=" + System.getProperty("app.home"));
              String own = System.getProperty("java.class.path").split(":")[0];
              System.out.println("jar=" + PosixFilePermissions.toString(Files.getPosixFilePermissions(Paths.get(own))));
            } }""",
                  "lib/Shout.java": SHOUT,
                  "lib/Quiet.java": 'package lib; public class Quiet { public static String it(String s) { return s.toLowerCase(); } }'},
         jars={"app.jar": ["Main.class"], "lib/a.jar": ["lib/Shout.class"], "lib/b.jar": ["lib/Quiet.class"]},
         pack=["--main-class", "Main", "--classes", "{app.jar}", "--class-path", "#/lib/a.jar;#\\lib\\b.jar",
               "--vm-options", "-Dapp.home=#", "--init-heap-percent", "1", "--max-heap-percent", "2"],
         args=["Loud", "SOFT", "--verbose"], status=0,
         stdout=["LOUD soft", "home={dir}/", "jar=rw-------"], stderr=["VM option: -Xms", "VM option: -Xmx"]),
    dict(name="throws", sources={"Boom.java": 'public class Boom { public static void main(String[] a) { throw new IllegalStateException("boom"); } }'},
         pack=["--main-class", "Boom", "--classes", "{app.jar}"], args=[], status=1,
         stderr=["java.lang.IllegalStateException: boom", "\tat Boom.main("]),
    dict(name="exit3", sources=THREE,
         pack=["--main-class", "Three", "--classes", "{app.jar}"], args=[], status=3),
    # Without --java-home: JAVA_HOME, else the java on PATH.
    dict(name="java_home_variable", java="JAVA_HOME", sources=THREE, pack=["--main-class", "Three", "--classes", "{app.jar}"],
         args=["--verbose"], status=3, stderr=["quorvia-pack: java: {java}/bin/java"]),
    dict(name="java_on_path", java="PATH", sources=THREE, pack=["--main-class", "Three", "--classes", "{app.jar}"],
         args=["--verbose"], status=3, stderr=["quorvia-pack: java: {java}/bin/java"]),
]


def build(app, work):
    src, classes, folder = (os.path.join(work, d) for d in ("src", "classes", "App"))
    for relative, text in app["sources"].items():
        os.makedirs(os.path.dirname(os.path.join(src, relative)), exist_ok=True)
        with open(os.path.join(src, relative), "w") as f:
            f.write(text)
    javac = os.path.join(java_home, "bin", "javac")
    subprocess.run([javac, "-d", classes] + [os.path.join(src, r) for r in app["sources"]], check=True)
    jars = app.get("jars", {"app.jar": ["."]})
    for jar, entries in jars.items():
        target = os.path.join(work, jar) if jar == "app.jar" else os.path.join(folder, jar)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        subprocess.run([os.path.join(java_home, "bin", "jar"), "cf", target] +
                       [x for e in entries for x in ("-C", classes, e)], check=True)
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, "App.exe")
    options = [o.replace("{app.jar}", os.path.join(work, "app.jar")) for o in app["pack"]]
    subprocess.run([pack, "--launcher", launcher, "--out", exe] + options, check=True, stdout=subprocess.DEVNULL)
    return folder, exe


def run(app):
    failures = []
    with tempfile.TemporaryDirectory() as work:
        folder, exe = build(app, work)
        tmp = os.path.join(work, "tmp")
        os.mkdir(tmp)
        env = dict(os.environ, TMPDIR=tmp)
        env.pop("JAVA_HOME", None)
        given = ["--java-home", java_home]
        if app.get("java") == "JAVA_HOME":
            env["JAVA_HOME"], given = java_home, []
        elif app.get("java") == "PATH":
            env["PATH"], given = os.path.join(java_home, "bin") + os.pathsep + env.get("PATH", ""), []
        verbose = ["--verbose"] if "--verbose" in app["args"] else []
        args = [a for a in app["args"] if a != "--verbose"]
        done = subprocess.run([pack, "--try", exe] + given + verbose + ["--"] + args,
                              capture_output=True, text=True, timeout=120, env=env)
        if done.returncode != app["status"]:
            failures.append("status %d, wanted %d" % (done.returncode, app["status"]))
        for line in app.get("stdout", []):
            if line.replace("{dir}", os.path.realpath(folder)) not in done.stdout.splitlines():
                failures.append("stdout lacks %r" % line)
        for text in app.get("stderr", []):
            if text.replace("{java}", java_home) not in done.stderr:
                failures.append("stderr lacks %r" % text)
        if os.listdir(tmp):
            failures.append("left behind: %r" % os.listdir(tmp))
        if failures:
            failures.append("stdout: %s\nstderr: %s" % (done.stdout, done.stderr))
    return failures


failed = 0
for app in APPS:
    problems = run(app)
    print(("FAILED: " if problems else "ok: ") + app["name"])
    for problem in problems:
        print("  " + problem)
    failed += bool(problems)
sys.exit(1 if failed else 0)
