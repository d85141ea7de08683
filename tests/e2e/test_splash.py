"""The launcher's own splash window (pixels on a private Xvfb screen) and the hand-over of the image
to the runtime's splash library (the test runtime's splashscreen.dll records every call).

The launcher splash exists only in the SyncFolder mode, from before the mirror until the VM library
is loaded. The tests keep it up long enough to look at by giving the sync source a few thousand
small files to mirror, find it by its title with xwininfo, and take their screenshots while the
mirror is still running (checked by counting the mirrored files)."""

import re
import shutil
import subprocess
import time
from pathlib import Path

import pytest

import harness
from harness import make_app, require
from runtime_trace import traced_env

DATA = Path(__file__).resolve().parent / "data" / "splash"
SCREEN_W, SCREEN_H = 1280, 1024  # the harness's Xvfb screen; without a window manager the work area is all of it
FILLER_FILES = 3000  # about four seconds of mirroring under Wine
MAIN_CLASS = "com.example.App"
GEOMETRY = re.compile(r"(\d+)x(\d+)\+(-?\d+)\+(-?\d+)")


def data(name):
    return require(DATA / name, f"splash test image {name}")


def image_size(path):
    out = subprocess.run(["identify", "-format", "%w %h\n", str(path)], check=True, capture_output=True, text=True)
    width, height = out.stdout.split()[:2]
    return int(width), int(height)


def pixel(image, x, y):
    out = subprocess.run(["convert", str(image), "-format", f"%[fx:int(255*p{{{x},{y}}}.r+0.5)] "
                          f"%[fx:int(255*p{{{x},{y}}}.g+0.5)] %[fx:int(255*p{{{x},{y}}}.b+0.5)]", "info:"],
                         check=True, capture_output=True, text=True)
    return tuple(int(v) for v in out.stdout.split())


def close_to(actual, expected, tolerance=3):
    return all(abs(a - e) <= tolerance for a, e in zip(actual, expected))


def differing_pixels(expected, actual, fuzz="2%"):
    # compare prints the count of pixels that differ by more than the fuzz; exit 2 means it failed to run.
    run = subprocess.run(["compare", "-metric", "AE", "-fuzz", fuzz, str(expected), str(actual), "null:"],
                         capture_output=True, text=True)
    assert run.returncode in (0, 1), run.stderr
    return int(float(run.stderr.split()[0]))


def crop(image, x, y, width, height, out):
    subprocess.run(["convert", str(image), "-crop", f"{width}x{height}+{x}+{y}", "+repage", str(out)], check=True)
    return out


def set_root_background(wine, colour, tmp_path):
    # ImageMagick's display sets the root window's background picture and exits (its status is 1 then).
    picture = tmp_path / "backdrop.png"
    subprocess.run(["convert", "-size", "16x16", f"xc:{colour}", str(picture)], check=True)
    subprocess.run(["display", "-display", wine.display, "-window", "root", str(picture)], capture_output=True,
                   timeout=60)


def splash_windows(wine):
    """(id, width, height, x, y) of every X window titled "Splash Screen"."""
    # xwininfo fails when a window goes while it walks the tree: a failed walk is taken once more.
    for _ in range(2):
        walk = subprocess.run(["xwininfo", "-root", "-tree", "-display", wine.display], capture_output=True,
                              text=True, timeout=60)
        if walk.returncode == 0:
            break
    out = walk.stdout
    found = []
    for line in out.splitlines():
        if '"Splash Screen"' in line:
            width, height, x, y = (int(v) for v in GEOMETRY.search(line).groups())
            found.append((line.split()[0], width, height, x, y))
    return found


def sync_app(wine, tmp_path, name, filler=FILLER_FILES, **options):
    """A SyncFolder app: the source holds the application jar in libs, the runtime in jre, and filler files."""
    source = tmp_path / "source"
    (source / "libs").mkdir(parents=True)
    shutil.copyfile(require(harness.test_app("app.jar")), source / "libs" / "app.jar")
    shutil.copytree(require(harness.test_runtime_dir(), "test-runtime folder"), source / "jre")
    if filler:
        (source / "filler").mkdir()
        for index in range(filler):
            (source / "filler" / f"f{index:05d}.txt").write_bytes(b"%05d" % index)
    exe = make_app(tmp_path / "app", name=name, runtime=False, main_class=MAIN_CLASS,
                   sync_path=wine.to_windows(source), **options)
    return exe, source


def mirrored_filler(wine, name):
    return len(list(wine.drive_c.glob(f"ProgramData/.quorvia/cache/{name}/sync/filler/*")))


def watch_for_splash(wine, running, name, on_seen=None, poll=0.05):
    """Polls until the launcher ends. Returns (every distinct (width, height, x, y) of a splash window
    seen, what on_seen returned). on_seen runs once, as soon as a splash window is first seen, with the
    windows then listed."""
    seen, result, called = [], None, False
    while not running.poll():
        windows = splash_windows(wine)
        for window in windows:
            if window[1:] not in seen:
                seen.append(window[1:])
        if windows and not called:
            called = True
            if on_seen is not None:
                result = on_seen(windows)
        time.sleep(poll)
    return seen, result


def screenshot_when_drawn(wine, path, left, top, backdrop=(0, 0, 0), timeout=3.0):
    """A screenshot once the window's top-left pixel differs from the backdrop: Wine maps the window
    before its first picture arrives. The last screenshot is returned either way."""
    deadline = time.monotonic() + timeout
    while True:
        shot = wine.screenshot(path)
        if not close_to(pixel(shot, left, top), backdrop) or time.monotonic() > deadline:
            return shot
        time.sleep(0.05)


def splash_calls(trace):
    return [(record["call"], record["args"], record["cwd"]) for record in trace.events("splash")]


def sync_runtime_bin(name):
    return f"C:\\ProgramData\\.quorvia\\cache\\{name}\\sync\\jre\\bin"


# ---------------------------------------------------------------------------------------------
# The launcher's own splash window


def test_resource_png_is_centred_with_its_alpha_and_no_taskbar_button(wine_x11, tmp_path, unique_name):
    wine = wine_x11
    image = data("splash.png")
    width, height = image_size(image)
    exe, _ = sync_app(wine, tmp_path, unique_name, splash=image)
    env, trace = traced_env(wine, tmp_path)
    # Centred in the work area: x = (1280 - 161) / 2 = 559 and y = (1024 - 101) / 2 = 461, truncated.
    left, top = (SCREEN_W - width) // 2, (SCREEN_H - height) // 2
    assert (left, top) == (559, 461)
    shots = {}

    def look(windows):
        shots["on_black"] = screenshot_when_drawn(wine, tmp_path / "on_black.png", left, top)
        set_root_background(wine, "rgb(40,160,90)", tmp_path)
        shots["on_green"] = wine.screenshot(tmp_path / "on_green.png")
        # Listed again: Wine replaces the X window by one with an alpha channel once the picture is set.
        now = splash_windows(wine)
        shots["xprop"] = subprocess.run(["xprop", "-display", wine.display, "-id", now[0][0]],
                                        capture_output=True, text=True).stdout if now else ""
        shots["mirrored_after"] = mirrored_filler(wine, unique_name)

    running = wine.start(exe, env=env, cwd=tmp_path)
    windows, _ = watch_for_splash(wine, running, unique_name, look)
    result = running.wait(120)
    assert result.status == 0, result
    # One window at a time, of the image's size, at the centred place.
    assert windows == [(width, height, left, top)]
    # Both screenshots were taken while the sync folder was still being mirrored.
    assert shots["mirrored_after"] < FILLER_FILES, shots

    on_black, on_green = shots["on_black"], shots["on_green"]
    # The picture itself: opaque red over opaque blue at the image's top-left, at the centred place.
    assert close_to(pixel(on_black, left, top), (200, 30, 40))
    assert close_to(pixel(on_black, left + 59, top + 50), (20, 60, 220))
    assert close_to(pixel(on_black, left - 1, top), (0, 0, 0))
    assert close_to(pixel(on_black, left, top - 1), (0, 0, 0))
    # Fully transparent pixels (columns 60-99) show what is behind, whatever that is.
    assert close_to(pixel(on_green, left + 80, top + 20), (40, 160, 90))
    assert close_to(pixel(on_green, left + 80, top + 90), (40, 160, 90))
    assert close_to(pixel(on_green, left, top), (200, 30, 40))
    # Half-transparent white (alpha 127) blends: over the black screen it is half grey, neither white nor
    # missing. (Without a compositing manager the X server shows the premultiplied colour as it is, so it
    # blends with black even over the green backdrop.)
    assert close_to(pixel(on_black, left + 130, top + 50), (127, 127, 127))
    # The whole window against the expected picture, taken from a screenshot and checked by eye.
    actual = crop(on_black, left, top, width, height, tmp_path / "crop.png")
    assert differing_pixels(data("expected_on_black.png"), actual) == 0

    # An owned popup: Wine marks it to be left out of the taskbar, owned by the hidden window.
    assert "_NET_WM_STATE_SKIP_TASKBAR" in shots["xprop"], shots["xprop"]
    assert "WM_TRANSIENT_FOR" in shots["xprop"], shots["xprop"]

    # Gone by the time the VM is created; the runtime's library then received the same bytes.
    assert trace.one("create")["splash_window"] is False
    png = image.read_bytes()
    calls = splash_calls(trace)
    assert [call[0] for call in calls] == ["SplashInit", "SplashLoadMemory"]
    assert calls[1][1][:2] == ["data", len(png)]
    assert calls[1][1][2].lower() == png[:16].hex()
    assert all(call[2] == sync_runtime_bin(unique_name) for call in calls)
    names = trace.names()
    assert names.index("splash") < names.index("create")


def test_splash_file_beside_the_exe_wins_over_the_resource(wine_x11, tmp_path, unique_name):
    wine = wine_x11
    exe, _ = sync_app(wine, tmp_path, unique_name, splash=data("splash.png"))
    shutil.copyfile(data("logo.png"), exe.parent / "logo.png")
    env, trace = traced_env(wine, tmp_path)
    width, height = image_size(data("logo.png"))
    left, top = (SCREEN_W - width) // 2, (SCREEN_H - height) // 2

    def look(windows):
        shot = screenshot_when_drawn(wine, tmp_path / "shot.png", left, top)
        return shot, mirrored_filler(wine, unique_name)

    running = wine.start(exe, ["-splash:logo.png"], env=env, cwd=tmp_path)
    windows, (shot, mirrored) = watch_for_splash(wine, running, unique_name, look)
    result = running.wait(120)
    assert result.status == 0, result
    assert windows == [(width, height, left, top)]
    assert mirrored < FILLER_FILES
    # The file's green frame with its white centre, not the resource's red and blue.
    assert close_to(pixel(shot, left, top), (30, 200, 120))
    assert close_to(pixel(shot, left + 20, top + 15), (255, 255, 255))
    assert differing_pixels(data("logo.png"), crop(shot, left, top, width, height, tmp_path / "crop.png")) == 0

    path = wine.to_windows(exe.parent / "logo.png")
    assert [(call, args) for call, args, _ in splash_calls(trace)][-3:] == [
        ("SplashInit", []), ("SplashLoadFile", [path]), ("SplashSetFileJarName", [path, None])]
    assert trace.one("create")["splash_window"] is False


@pytest.mark.parametrize("form", ["relative", "absolute"])
def test_splash_paths_with_a_directory(wine_x11, tmp_path, unique_name, form):
    wine = wine_x11
    exe, _ = sync_app(wine, tmp_path, unique_name)
    (tmp_path / "img").mkdir()
    shutil.copyfile(data("logo.png"), tmp_path / "img" / "logo.png")
    # Relative to the launcher's current directory (tmp_path), not to the exe's folder.
    value = "img\\logo.png" if form == "relative" else wine.to_windows(tmp_path / "img" / "logo.png")
    env, trace = traced_env(wine, tmp_path)
    running = wine.start(exe, ["-splash:" + value], env=env, cwd=tmp_path)
    windows, _ = watch_for_splash(wine, running, unique_name)
    assert running.wait(120).status == 0
    width, height = image_size(data("logo.png"))
    assert windows == [(width, height, (SCREEN_W - width) // 2, (SCREEN_H - height) // 2)]
    # The runtime's library gets the value unchanged, with its bin folder current.
    load = [(args, cwd) for call, args, cwd in splash_calls(trace) if call == "SplashLoadFile"]
    assert load == [([value], sync_runtime_bin(unique_name))]


def test_multi_frame_gif_shows_nothing_and_the_app_starts(wine_x11, tmp_path, unique_name):
    wine = wine_x11
    exe, _ = sync_app(wine, tmp_path, unique_name)
    for name in ("anim.gif", "single.gif"):
        shutil.copyfile(data(name), exe.parent / name)
    env, trace = traced_env(wine, tmp_path)

    running = wine.start(exe, ["-splash:anim.gif"], env=env, cwd=tmp_path)
    windows, _ = watch_for_splash(wine, running, unique_name)
    result = running.wait(120)
    assert result.status == 0, result
    assert windows == []
    assert result.boxes == []
    assert len(trace.events("main")) == 1

    # The same picture as a single frame does show: it is the frame count that keeps the GIF off.
    # The splash lives while the mirror is refreshed, and an unchanged mirror is checked in a blink:
    # the filler goes, so that this start copies it again for as long as the first one did.
    # Once in many loaded CI runs no splash window was listed through a whole 8 s mirror: a start
    # that showed none is made once more, and a GIF that never shows still fails.
    for _ in range(2):
        shutil.rmtree(wine.drive_c / "ProgramData" / ".quorvia" / "cache" / unique_name / "sync" / "filler")
        running = wine.start(exe, ["-splash:single.gif"], env=env, cwd=tmp_path)
        windows, _ = watch_for_splash(wine, running, unique_name)
        assert running.wait(120).status == 0
        if windows:
            break
    assert [window[:2] for window in windows] == [(40, 30)]


@pytest.mark.parametrize("image", ["corrupt.png", "empty"])
def test_resource_without_a_picture_shows_nothing_and_the_app_starts(wine_x11, tmp_path, unique_name, image):
    wine = wine_x11
    # Stored as they are, since packing with --splash refuses an image that does not decode.
    if image == "empty":
        empty = tmp_path / "empty.png"
        empty.write_bytes(b"")
        exe, _ = sync_app(wine, tmp_path, unique_name, raw_text=[("VM-SPLASH", 20000, empty)])
    else:
        exe, _ = sync_app(wine, tmp_path, unique_name, raw_text=[("VM-SPLASH", 20000, data(image))])
    env, trace = traced_env(wine, tmp_path)
    running = wine.start(exe, env=env, cwd=tmp_path)
    windows, _ = watch_for_splash(wine, running, unique_name)
    result = running.wait(120)
    assert result.status == 0, result
    assert windows == []
    assert result.boxes == []
    assert len(trace.events("main")) == 1
    calls = [call for call, _, _ in splash_calls(trace)]
    # Bad bytes still go to the runtime's library, which judges them itself; no bytes, no call.
    assert calls == ([] if image == "empty" else ["SplashInit", "SplashLoadMemory"])


def test_no_launcher_splash_outside_the_sync_mode(wine_x11, tmp_path, unique_name):
    wine = wine_x11
    exe = make_app(tmp_path, name=unique_name, main_class=MAIN_CLASS, classes=require(harness.test_app("app.jar")),
                   splash=data("splash.png"))
    # main keeps running for a while so that a window would have time to be seen.
    env, trace = traced_env(wine, tmp_path, {"QUORVIA_TEST_MAIN": "sleep:1500"})
    running = wine.start(exe, env=env, cwd=tmp_path)
    windows, _ = watch_for_splash(wine, running, unique_name)
    assert running.wait(120).status == 0
    assert windows == []
    assert trace.one("create")["splash_window"] is False
    assert [call for call, _, _ in splash_calls(trace)] == ["SplashInit", "SplashLoadMemory"]


# ---------------------------------------------------------------------------------------------
# The runtime's splash library (no screen needed)


def embedded_app(tmp_path, name, **options):
    return make_app(tmp_path, name=name, main_class=MAIN_CLASS, classes=require(harness.test_app("app.jar")),
                    **options)


def test_scaled_variant_is_loaded_and_the_plain_name_is_kept(wine, tmp_path, unique_name):
    exe = embedded_app(tmp_path, unique_name, splash=data("splash.png"))
    shutil.copyfile(data("logo.png"), tmp_path / "logo.png")
    shutil.copyfile(data("logo@2x.png"), tmp_path / "logo@2x.png")
    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, ["-splash:logo.png"], env=env, cwd=tmp_path)
    assert result.status == 0, result
    plain = wine.to_windows(tmp_path / "logo.png")
    scaled = wine.to_windows(tmp_path / "logo@2x.png")
    bin_folder = wine.to_windows(tmp_path / "jre" / "bin")
    calls = splash_calls(trace)
    size = len(plain) + len("@2x") + 1
    assert [(call, args) for call, args, _ in calls] == [
        ("SplashGetScaledImgNameMaxPstfixLen", [plain, size]),
        ("SplashGetScaledImageName", [None, plain, size, scaled, 1]),
        ("SplashInit", []),
        ("SplashSetScaleFactor", [2.0]),
        ("SplashLoadFile", [scaled]),
        ("SplashSetFileJarName", [plain, None]),
    ]
    assert all(cwd == bin_folder for _, _, cwd in calls)
    # The library was loaded with its bin folder current, and the launcher's own folder came back.
    assert trace.one("create")["cwd"] == wine.to_windows(tmp_path)


def test_without_a_scaled_variant_the_file_itself_is_loaded(wine, tmp_path, unique_name):
    exe = embedded_app(tmp_path, unique_name)
    shutil.copyfile(data("logo.png"), tmp_path / "logo.png")
    env, trace = traced_env(wine, tmp_path)
    assert wine.run(exe, ["-splash:logo.png"], env=env, cwd=tmp_path).status == 0
    plain = wine.to_windows(tmp_path / "logo.png")
    assert [(call, args[0] if args else None) for call, args, _ in splash_calls(trace)] == [
        ("SplashGetScaledImgNameMaxPstfixLen", plain), ("SplashGetScaledImageName", None), ("SplashInit", None),
        ("SplashLoadFile", plain), ("SplashSetFileJarName", plain)]
    assert splash_calls(trace)[1][1][4] == 0


def test_runtime_without_splash_library_goes_on_quietly(wine, tmp_path, unique_name):
    exe = embedded_app(tmp_path, unique_name, splash=data("splash.png"))
    (tmp_path / "jre" / "bin" / "splashscreen.dll").unlink()
    env, trace = traced_env(wine, tmp_path)
    result = wine.run(exe, env=env, cwd=tmp_path)
    assert result.status == 0, result
    assert result.boxes == []
    assert trace.events("splash") == []
    assert "splash" not in result.stderr_text.lower()
    # The current directory was switched to the runtime's bin folder and back.
    assert trace.one("create")["cwd"] == wine.to_windows(tmp_path)
    assert len(trace.events("main")) == 1


def test_resource_bytes_reach_the_runtime_library(wine, tmp_path, unique_name):
    image = data("splash.png")
    exe = embedded_app(tmp_path, unique_name, splash=image)
    env, trace = traced_env(wine, tmp_path)
    assert wine.run(exe, env=env, cwd=tmp_path).status == 0
    png = image.read_bytes()
    calls = splash_calls(trace)
    assert [call for call, _, _ in calls] == ["SplashInit", "SplashLoadMemory"]
    assert calls[1][1][1] == len(png)
    assert calls[1][1][2].lower() == png[:16].hex()
    assert calls[1][2] == wine.to_windows(tmp_path / "jre" / "bin")
