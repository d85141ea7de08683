#!/usr/bin/env python3
"""Runs one scenario of hotspot_driver in its own process and judges what it printed.

Usage: check_hotspot.py --driver D --libjvm L --classes C --locales DIR SCENARIO
Exit status 0 when every check of the scenario holds; otherwise the failed checks are listed.
Exit status 77 (a skip) when the runtime named by --libjvm is not installed.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

TIMEOUT_SECONDS = 90
SKIP_STATUS = 77

# The VM takes its platform encoding ("sun.jnu.encoding") from the locale; a VM option cannot set it.
UTF8_LOCALE = "C.UTF-8"
LATIN1_LOCALE = "en_US.ISO-8859-1"  # made by the build with localedef into the --locales folder

CAFE_UTF8_CODES = "63 61 66 e9"


class Outcome:
    def __init__(self, scenario, returncode, stdout, stderr):
        self.scenario = scenario
        self.returncode = returncode
        # One character per byte, so that bytes above 127 are compared exactly.
        self.out = stdout.decode("latin-1")
        self.err = stderr.decode("latin-1")
        self.lines = self.out.splitlines()
        self.failures = []

    def check(self, condition, text):
        if not condition:
            self.failures.append(text)

    def has_line(self, line):
        self.check(line in self.lines, "missing line: %r" % line)

    def lacks_line_starting(self, prefix):
        found = [line for line in self.lines if line.startswith(prefix)]
        self.check(not found, "unexpected line(s): %r" % found)

    def lines_starting(self, prefix):
        return [line for line in self.lines if line.startswith(prefix)]

    def in_order(self, *wanted):
        """Each wanted line appears, and after the one before it."""
        position = -1
        for line in wanted:
            try:
                position = self.lines.index(line, position + 1)
            except ValueError:
                self.failures.append("line %r missing or out of order (wanted order %r)" % (line, wanted))
                return

    def status(self, code):
        self.check(self.returncode == code, "exit status %r, wanted %r" % (self.returncode, code))

    def stderr_has(self, text):
        self.check(text in self.err, "standard error lacks %r" % text)


def common(o):
    """What holds in every scenario: no JNI misuse reported by -Xcheck:jni, no step outside the
    hand-over reached, nothing written to the debugger output, no VM before creation."""
    both = o.out + o.err
    for marker in ("WARNING in native method", "FATAL ERROR in native method", "UNREACHABLE", "DEBUGLOG",
                   "A fatal error has been detected"):
        o.check(marker not in both, "output contains %r" % marker)
    o.has_line("PRE-CREATE created-vm=none")
    # The option array is released whatever the outcome of creation.
    o.check(any(line.startswith("CREATE ") and line.endswith(" list-after count=0 capacity=0 options=null")
                for line in o.lines), "option list not released by CreateVm")


def created(o):
    o.has_line("CREATE ok list-after count=0 capacity=0 options=null")
    o.has_line("POST-CREATE created-vm=same")


def run_line(o, status, listener=0, forwards=0, splash=1, fatal=0):
    o.has_line("RUN status=%d listener-starts=%d forwards=%d splash-closes=%d fatal=%d"
               % (status, listener, forwards, splash, fatal))


def check_options(o, classes):
    created(o)
    given = ["-Xcheck:jni", "-Dq.a=1", "-Dq.dup=first", "-Dq.b=2", "-Dq.dup=second", "-Xmx64m", "-Dq.c=3",
             "-Dq.d=4", "-Dq.e=5"]
    o.has_line("OPTIONS count=12 capacity=16")
    expected_records = ["OPTION %d %s extra=none" % (i, text) for i, text in enumerate(given)]
    expected_records += ["OPTION 9 -Djava.class.path=%s extra=none" % classes,
                         "OPTION 10 abort extra=abort-hook", "OPTION 11 exit extra=exit-hook"]
    o.check(o.lines_starting("OPTION ") == expected_records,
            "records handed to the VM: %r" % o.lines_starting("OPTION "))
    # HotSpot lists what it received in order, the class path option aside (it became a property).
    received = [line[len("VMARG "):] for line in o.lines_starting("VMARG ")]
    o.check(received == given + ["abort", "exit"], "options as the VM received them: %r" % received)
    o.has_line("PROP q.dup=second")
    o.has_line("PROP java.class.path=%s" % classes)
    run_line(o, 0)
    o.status(0)


def check_exit_hook(o, classes):
    created(o)
    # System.exit ends the process from inside main: the driver never reports a status of its own.
    o.in_order("MAIN exiting 37", "ATEXIT appExitCode=37")
    o.lacks_line_starting("RUN ")
    o.status(37)


def check_unknown_option(o, classes):
    o.has_line("CREATE failed list-after count=0 capacity=0 options=null")
    o.has_line("POST-FAILURE created-vm=none")
    o.check("Unrecognized option: -Xquorvia-unknown" in o.out + o.err, "no HotSpot message for the option")
    o.lacks_line_starting("MAIN ")
    o.lacks_line_starting("RUN ")
    o.status(1)


def check_args_class_found(o, classes):
    created(o)
    o.in_order("MAIN hs.app.Args count=1 thread=main", "ARG 0 [78]",
               "RUN status=0 listener-starts=0 forwards=0 splash-closes=1 fatal=0")
    o.status(0)


def check_default_package(o, classes):
    created(o)
    o.in_order("MAIN DefaultHello count=2", "RUN status=0 listener-starts=0 forwards=0 splash-closes=1 fatal=0")
    o.status(0)


def check_class_missing(o, classes):
    created(o)
    o.stderr_has('Exception in thread "main" java.lang.NoClassDefFoundError: hs/app/Missing')
    o.lacks_line_starting("MAIN ")
    # Described, not shown in a box; main not reached, so the splash was never closed.
    run_line(o, 1, splash=0)
    o.status(1)


def check_main_missing(o, classes, class_slashed):
    created(o)
    o.stderr_has('Exception in thread "main" java.lang.NoSuchMethodError: ')
    o.stderr_has("L%s;.main([Ljava/lang/String;)V" % class_slashed)
    o.check("UNEXPECTED" not in o.out, "a method other than static main(String[]) was called")
    run_line(o, 1, splash=0)
    o.status(1)


def check_args(o, charset, platform, expected):
    created(o)
    o.in_order("Main-Class is 'hs.app.Args'", "App's (5)", "    argv[ 0] = 'plain'", "    argv[ 1] = ''",
               "    argv[ 2] = 'caf\xc3\xa9'", "    argv[ 3] = '\xe2\x82\xac\xf0\x9f\x98\x80'",
               "    argv[ 4] = '\xff'", "CHARSET " + charset, "JNU " + platform,
               "MAIN hs.app.Args count=5 thread=main")
    want = ["ARG %d [%s]" % (i, codes) for i, codes in enumerate(expected)]
    o.check(o.lines_starting("ARG ") == want, "arguments as main saw them: %r" % o.lines_starting("ARG "))
    run_line(o, 0)
    o.status(0)


def check_args_utf8(o, classes):
    # The default charset (ISO-8859-1 here) plays no part; invalid UTF-8 (a lone 0xff) becomes U+FFFD.
    check_args(o, "ISO-8859-1", "UTF-8", ["70 6c 61 69 6e", "", CAFE_UTF8_CODES, "20ac 1f600", "fffd"])


def check_args_latin1(o, classes):
    check_args(o, "UTF-8", "ISO-8859-1", ["70 6c 61 69 6e", "", "63 61 66 c3 a9", "e2 82 ac f0 9f 98 80", "ff"])


def check_args_platform_latin1(o, classes):
    # No -Dfile.encoding: since Java 18 the default charset is UTF-8 whatever the platform's is.
    created(o)
    o.in_order("JNU ISO-8859-1", "MAIN hs.app.Args count=2 thread=main", "ARG 0 [%s]" % CAFE_UTF8_CODES, "ARG 1 [e9]")
    run_line(o, 0)
    o.status(0)


def check_args_none(o, classes):
    created(o)
    o.has_line("MAIN hs.app.Args count=0 thread=main")
    o.lacks_line_starting("ARG ")
    run_line(o, 0)
    o.status(0)


def check_main_throws(o, classes):
    created(o)
    o.has_line("MAIN throwing")
    o.stderr_has('Exception in thread "main" java.lang.IllegalStateException: boom from main')
    o.stderr_has("at hs.app.Throws.main(Throws.java:")
    run_line(o, 1)
    o.status(1)


def check_non_daemon_thread(o, classes):
    created(o)
    # The worker sees that the thread which ran main is no Java thread any more (it detached) and
    # that DestroyJavaVM attached itself afresh; the driver's status comes only after the worker.
    o.in_order("MAIN returning", "WORKER main-alive=false destroy-thread=true", "WORKER done",
               "RUN status=0 listener-starts=0 forwards=0 splash-closes=1 fatal=0")
    o.status(0)


def check_forward_during_main(o, classes):
    created(o)
    o.in_order("EDGE StartInstanceListener hs.app.Single", "MAIN Single count=1",
               "LISTENER before-delivery env=detached", "Callback!!!",
               "INIT count=3 main-running=true on-main-thread=false daemon=false",
               "INIT ARG 0 [66 77 64 2d 6f 6e 65]", "INIT ARG 1 []", "INIT ARG 2 [%s]" % CAFE_UTF8_CODES,
               "LISTENER after-delivery env=detached")
    o.in_order("INIT ARG 2 [%s]" % CAFE_UTF8_CODES, "MAIN delivered=true",
               "RUN status=0 listener-starts=1 forwards=0 splash-closes=1 fatal=0")
    o.status(0)


def check_forward_init_throws(o, classes):
    created(o)
    inits = o.lines_starting("INIT count=1 thread=")
    o.check(len(inits) == 2, "initSingleApplication calls: %r" % inits)
    # HotSpot hands the exception left pending at DetachCurrentThread to the uncaught handler.
    o.check(o.err.count("java.lang.IllegalStateException: boom from initSingleApplication") == 2,
            "the uncaught exception is not printed once per delivery")
    o.check(o.lines_starting("LISTENER after-delivery") == ["LISTENER after-delivery env=detached"] * 2,
            "listener not detached after each delivery: %r" % o.lines_starting("LISTENER after-delivery"))
    o.in_order("MAIN delivered-twice=true", "RUN status=0 listener-starts=1 forwards=0 splash-closes=1 fatal=0")
    o.status(0)


def check_second_instance(o, classes):
    created(o)
    o.in_order("EDGE ForwardToRunningInstance hs.app.Single count=3",
               "RUN status=1 listener-starts=0 forwards=1 splash-closes=0 fatal=0",
               "FORWARDED 0 [to-forward]", "FORWARDED 1 []", "FORWARDED 2 [caf\xc3\xa9]")
    o.lacks_line_starting("MAIN ")
    o.status(1)


def check_service_stop_method(o, classes):
    created(o)
    # The stop method runs on the launcher's attached thread; the VM then ends by itself, hooks run.
    o.in_order("MAIN serving", "STOP thread=Service stop args=0", "WORKER done", "HOOK ran",
               "RUN status=0 listener-starts=0 forwards=0 splash-closes=1 fatal=0")
    o.has_line("STOPPER returned attached=true")
    o.lacks_line_starting("VMEXITING")
    o.status(0)


def check_service_stop_exit(o, classes):
    created(o)
    # No stop method: System.exit(0) runs the hooks, then the exit hook tells the service side.
    o.in_order("MAIN serving", "HOOK ran", "VMEXITING 0", "ATEXIT appExitCode=0")
    o.lacks_line_starting("STOP thread=")
    o.lacks_line_starting("RUN ")
    o.status(0)


def archive_options(o):
    return [line[len("ARCHIVE-OPTION "):] for line in o.lines_starting("ARCHIVE-OPTION ")]


def args_line(o):
    """HotSpot's class+load line of the main class: where it came from."""
    found = [line for line in o.lines if " hs.app.Args source: " in line]
    return found[0] if found else ""


def run_startup_cache(args, env, work):
    """Three starts of a marked application: the first writes the archive, the second maps it, and a
    third after its header was zeroed (a write cut short) still starts and writes a new one."""
    jar = os.path.join(work, "app.jar")
    with zipfile.ZipFile(jar, "w") as archive:
        for folder, _, names in os.walk(args.classes):
            for name in names:
                path = os.path.join(folder, name)
                archive.write(path, os.path.relpath(path, args.classes))

    def start(label):
        done = subprocess.run([args.driver, args.libjvm, jar, work, "startup_cache"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=env, cwd=work, timeout=TIMEOUT_SECONDS)
        o = Outcome("startup_cache " + label, done.returncode, done.stdout, done.stderr)
        o.has_line("MAIN hs.app.Args count=1 thread=main")
        o.has_line("RUN status=0")
        o.status(0)
        return o

    # The application's own folder in the cache, named after the exe.
    app_folder = os.path.join(work, "cache", "App")

    def cache_files():
        return sorted(os.listdir(app_folder)) if os.path.isdir(app_folder) else []

    outcomes = []
    first = start("first")
    outcomes.append(first)
    written = archive_options(first)
    first.check(len(written) == 1 and ("-XX:ArchiveClassesAtExit=" in written[0] or
                                       "-XX:AOTCacheOutput=" in written[0]), "first start options: %r" % written)
    first.check("shared objects file (top)" not in args_line(first), "mapped before any archive: " + args_line(first))
    archive = ""
    for name in cache_files():
        if name.endswith(".jsa") or name.endswith(".aot"):
            archive = os.path.join(app_folder, name)
    first.check(archive or any(name.endswith(".tmp") for name in cache_files()),
                "no archive written: %r" % cache_files())

    second = start("second")
    outcomes.append(second)
    used = archive_options(second)
    second.check(len(used) == 1 and ("-XX:SharedArchiveFile=" in used[0] or "-XX:AOTCache=" in used[0]),
                 "second start options: %r" % used)
    archive = used[0].split("=", 1)[1] if used else ""
    second.check("source: shared objects file" in args_line(second), "main class not from the archive: %r"
                 % args_line(second))
    second.check([name for name in cache_files() if name.endswith(".tmp") or name.endswith(".config")] == [],
                 "leftovers beside the archive: %r" % cache_files())

    if os.path.exists(archive):
        with open(archive, "r+b") as torn:
            torn.write(b"\0" * 16)
    third = start("zeroed header")
    outcomes.append(third)
    again = archive_options(third)
    if written and written[0].startswith("-XX:AOTCacheOutput="):
        rewritten = again == written
    else:
        rewritten = len(again) == 1 and again[0].startswith("-XX:ArchiveClassesAtExit=")
    third.check(rewritten, "zeroed archive not removed and written again: %r" % again)
    third.check("source: shared objects file" not in args_line(third), "a zeroed archive was mapped")

    failed = False
    for o in outcomes:
        for marker in ("A fatal error has been detected", "UNREACHABLE", "CREATE failed"):
            o.check(marker not in o.out + o.err, "output contains %r" % marker)
        if o.failures:
            failed = True
            print("--- %s stdout\n%s--- stderr\n%s---" % (o.scenario, o.out[-6000:], o.err[-3000:]))
            for failure in o.failures:
                print("FAIL %s: %s" % (o.scenario, failure))
    if failed:
        return 1
    print("PASS startup_cache (%s)" % ", ".join(archive_options(o)[0] for o in outcomes))
    return 0


def runtime_without_base_archive(libjvm, work):
    """A copy of libjvm's runtime without its base class-data archives (lib/server/classes*.jsa), as a
    jlink image made without --generate-cds-archive is. Every other file is a link to the original,
    but libjvm.so is a real copy: HotSpot looks for its home and the base archive beside the library's
    resolved path."""
    libjvm = os.path.realpath(libjvm)
    home = os.path.dirname(os.path.dirname(os.path.dirname(libjvm)))
    copy = os.path.join(work, "runtime-without-base-archive")
    for folder, subfolders, names in os.walk(home):
        target = os.path.join(copy, os.path.relpath(folder, home))
        os.makedirs(target)
        for name in subfolders + names:
            source = os.path.join(folder, name)
            if name.startswith("classes") and name.endswith(".jsa"):
                continue
            if source == libjvm:
                shutil.copy2(source, os.path.join(target, name))
            elif os.path.islink(source) or not os.path.isdir(source):
                os.symlink(source, os.path.join(target, name))
        subfolders[:] = [name for name in subfolders if not os.path.islink(os.path.join(folder, name))]
    copied = os.path.join(copy, os.path.relpath(libjvm, home))
    assert not any(name.endswith(".jsa") for name in os.listdir(os.path.dirname(copied)))
    return copied


def run_startup_cache_without_base_archive(args, env, work):
    """Java 13 to 18 refuse to start with -XX:ArchiveClassesAtExit when the runtime has no base archive,
    so the launcher's options must leave a dynamic archive out there; the AOT cache of 25 needs none."""
    jar = os.path.join(work, "app.jar")
    with zipfile.ZipFile(jar, "w") as archive:
        for folder, _, names in os.walk(args.classes):
            for name in names:
                path = os.path.join(folder, name)
                archive.write(path, os.path.relpath(path, args.classes))
    libjvm = runtime_without_base_archive(args.libjvm, work)
    done = subprocess.run([args.driver, libjvm, jar, work, "startup_cache"], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env, cwd=work, timeout=TIMEOUT_SECONDS)
    o = Outcome("startup_cache_without_base_archive", done.returncode, done.stdout, done.stderr)
    for marker in ("A fatal error has been detected", "UNREACHABLE", "CREATE failed", "DynamicDumpSharedSpaces"):
        o.check(marker not in o.out + o.err, "output contains %r" % marker)
    options = archive_options(o)
    with open(os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(libjvm))), "release")) as release:
        version = int(re.search(r'^JAVA_VERSION="(\d+)', release.read(), re.M).group(1))
    if version <= 18:
        o.check(options == [], "archive options without a base archive: %r" % options)
    else:
        o.check(len(options) == 1 and options[0].startswith("-XX:AOTCacheOutput="), "options: %r" % options)
    o.has_line("MAIN hs.app.Args count=1 thread=main")
    o.has_line("RUN status=0")
    o.status(0)
    if o.failures:
        print("--- stdout\n%s--- stderr\n%s---" % (o.out[-6000:], o.err[-3000:]))
        for failure in o.failures:
            print("FAIL %s: %s" % (o.scenario, failure))
        return 1
    print("PASS startup_cache_without_base_archive (Java %d, options %r)" % (version, options))
    return 0


# Scenarios that run in the ISO-8859-1 locale; every other one runs in C.UTF-8.
LATIN1_SCENARIOS = {"args_latin1", "args_platform_latin1", "forward_during_main"}

CHECKS = {
    "options": check_options,
    "exit_hook": check_exit_hook,
    "unknown_option": check_unknown_option,
    "class_dotted": check_args_class_found,
    "class_slashed": check_args_class_found,
    "class_default_package": check_default_package,
    "class_missing": check_class_missing,
    "main_missing": lambda o, c: check_main_missing(o, c, "hs/app/NoMain"),
    "main_not_static": lambda o, c: check_main_missing(o, c, "hs/app/InstanceMain"),
    "args_utf8": check_args_utf8,
    "args_latin1": check_args_latin1,
    "args_platform_latin1": check_args_platform_latin1,
    "args_none": check_args_none,
    "main_throws": check_main_throws,
    "non_daemon_thread": check_non_daemon_thread,
    "forward_during_main": check_forward_during_main,
    "forward_init_throws": check_forward_init_throws,
    "second_instance": check_second_instance,
    "service_stop_method": check_service_stop_method,
    "service_stop_exit": check_service_stop_exit,
}
# Scenarios of several driver runs, each judged by its own function.
SEQUENCES = {"startup_cache": run_startup_cache,
             "startup_cache_without_base_archive": run_startup_cache_without_base_archive}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--driver", required=True)
    parser.add_argument("--libjvm", required=True)
    parser.add_argument("--classes", required=True)
    parser.add_argument("--locales", help="folder holding the %s locale" % LATIN1_LOCALE)
    parser.add_argument("--list", action="store_true", help="print the scenario names and stop")
    parser.add_argument("scenario", nargs="?")
    args = parser.parse_args()
    if args.list:
        print("\n".join(list(CHECKS) + list(SEQUENCES)))
        return 0
    if args.scenario not in CHECKS and args.scenario not in SEQUENCES:
        parser.error("unknown scenario %r" % args.scenario)

    if not os.path.exists(args.libjvm):
        print("SKIP %s: no runtime at %s (install it to run this check)" % (args.scenario, args.libjvm))
        return SKIP_STATUS

    with tempfile.TemporaryDirectory(prefix="hotspot-") as work:
        env = dict(os.environ)
        # Options from the environment would reach the VM beside the launcher's own.
        for name in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "LANG", "LANGUAGE"):
            env.pop(name, None)
        if args.scenario in LATIN1_SCENARIOS:
            if not args.locales or not os.path.isdir(os.path.join(args.locales, LATIN1_LOCALE)):
                print("FAIL %s: locale %s missing under %r" % (args.scenario, LATIN1_LOCALE, args.locales))
                return 1
            env["LOCPATH"] = args.locales
            env["LC_ALL"] = LATIN1_LOCALE
        else:
            env["LC_ALL"] = UTF8_LOCALE
        if args.scenario in SEQUENCES:
            return SEQUENCES[args.scenario](args, env, work)
        try:
            done = subprocess.run([args.driver, args.libjvm, args.classes, work, args.scenario],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, cwd=work,
                                  timeout=TIMEOUT_SECONDS)
        except subprocess.TimeoutExpired as expired:
            sys.stdout.write((expired.stdout or b"").decode("utf-8", "replace"))
            sys.stdout.write((expired.stderr or b"").decode("utf-8", "replace"))
            print("FAIL %s: no end after %d s (a thread still attached keeps DestroyJavaVM waiting?)"
                  % (args.scenario, TIMEOUT_SECONDS))
            return 1

    outcome = Outcome(args.scenario, done.returncode, done.stdout, done.stderr)
    common(outcome)
    CHECKS[args.scenario](outcome, args.classes)
    if outcome.failures:
        print("--- stdout\n" + outcome.out + "--- stderr\n" + outcome.err + "---")
        for failure in outcome.failures:
            print("FAIL %s: %s" % (args.scenario, failure))
        return 1
    print("PASS %s" % args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
