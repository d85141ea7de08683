"""Fixtures of the Wine end-to-end tests; the API is described in harness.py."""

import hashlib
import re
import shutil
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402


@pytest.hookimpl(tryfirst=True, hookwrapper=True)
def pytest_runtest_makereport(item, call):
    # Remember each phase's outcome so fixtures can keep the prefix of a failed test.
    outcome = yield
    report = outcome.get_result()
    setattr(item, f"e2e_rep_{report.when}", report)


def _failed(request) -> bool:
    rep = getattr(request.node, "e2e_rep_call", None)
    return rep is None or rep.failed


def _wine_fixture(request, x11: bool):
    wine, xvfb, timings = harness.new_wine(request.node.name, x11=x11)
    request.node.user_properties.append(("e2e_prefix_copy_s", round(timings["copy_s"], 3)))
    if timings["template_s"]:
        request.node.user_properties.append(("e2e_template_s", round(timings["template_s"], 2)))
    try:
        yield wine
    finally:
        wine.close()
        if xvfb:
            xvfb.stop()
        if _failed(request):
            sys.stderr.write(f"\n[e2e] kept prefix and captures of {request.node.nodeid}: {wine.prefix.parent}\n")
        else:
            shutil.rmtree(wine.prefix.parent, ignore_errors=True)


@pytest.fixture
def wine(request):
    """A fresh win10 prefix with the null graphics driver and its own wineserver."""
    yield from _wine_fixture(request, x11=False)


@pytest.fixture
def wine_x11(request):
    """A fresh win10 prefix drawing to a private Xvfb display (see Wine.screenshot)."""
    yield from _wine_fixture(request, x11=True)


@pytest.fixture
def unique_name(request):
    """An exe base name unique to this test (letters, digits, '-'), at most 40 characters."""
    slug = re.sub(r"[^A-Za-z0-9]+", "-", request.node.name).strip("-")[:30]
    digest = hashlib.sha1(request.node.nodeid.encode()).hexdigest()[:8]
    return f"{slug}-{digest}"


def pytest_sessionstart(session):
    if not hasattr(session.config, "workerinput"):
        harness.clean_stale_test_dirs()


def pytest_terminal_summary(terminalreporter):
    # A plain closing line that CI reads whatever the pytest version prints above it.
    stats = terminalreporter.stats
    passed = len([r for r in stats.get("passed", []) if r.when == "call"])
    failed = len({r.nodeid for r in stats.get("failed", []) + stats.get("error", [])})
    skipped = len(stats.get("skipped", []))
    terminalreporter.write_line(f"e2e: {passed} passed, {failed} failed, {skipped} skipped")
