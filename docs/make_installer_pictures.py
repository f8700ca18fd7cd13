#!/usr/bin/env python3
"""Makes the pictures of the installer in docs/installing.md from a real
run.

    python3 docs/make_installer_pictures.py

builds the Windows preset and its installer (cpack), runs the installer on a
display of its own (Xvfb, Wine's virtual desktop) in a Wine prefix under
build/windows, and writes what the screen shows into docs/:

    installer-scope.png       the page that asks for all users or the user
    installer-scope-ar.png    the same page in Arabic (/LANG=1025), mirrored
    installer-components.png  the components page
    installer-in-use.png      the message while Tolvarin runs during an
                              upgrade

It drives the pages as the page tests do (tests/e2e/test_installer_pages.py),
with the same harness, and needs what scripts/setup-debian.sh installs.
"""
import glob
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "windows")
PROBES = os.path.join(BUILD, "tests", "probes")
os.environ.update({
    "BUILD_DIR": BUILD, "SOURCE_DIR": ROOT, "RELEASE_DIR": BUILD,
    "LAUNCHER_EXE": os.path.join(BUILD, "Tolvarin.exe"),
    "SAMPLE_DIR": os.path.join(BUILD, "sample"), "PROBE_DIR": PROBES,
    "E2E_TMP": os.path.join(BUILD, "e2e-tmp"),
    "WINEPREFIX": os.path.join(BUILD, "wineprefix")})
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import pictures  # noqa: E402
import wine_prefix  # noqa: E402
from display import Display, Program, Windows, use_virtual_desktop  # noqa: E402
from installer import Prefix, hold  # noqa: E402
from languages import shipped  # noqa: E402


def build():
    subprocess.run([os.path.join(ROOT, "scripts", "setup-debian.sh")],
                   check=True)
    for command in (["cmake", "--preset", "windows"],
                    ["cmake", "--build", "--preset", "windows", "--parallel",
                     str(os.cpu_count() or 2)],
                    ["cpack", "-G", "NSIS", "--config",
                     os.path.join(BUILD, "CPackConfig.cmake")]):
        subprocess.run(command, cwd=BUILD if command[0] == "cpack" else ROOT,
                       stdout=subprocess.DEVNULL, check=True)
    [installer] = glob.glob(os.path.join(BUILD, "package", "Tolvarin-*.exe"))
    return installer


def save(display, window, name):
    path = os.path.join(ROOT, "docs", name)
    with open(path, "wb") as out:
        out.write(pictures.png(display.picture(window["rect"])))
    print(f"wrote {os.path.relpath(path, ROOT)}")


def main():
    installer = build()
    if wine_prefix.make_template(os.path.join(BUILD,
                                              "wineprefix-template")) != 0:
        return 1
    prefix = Prefix("pictures").create()
    display = Display()
    try:
        use_virtual_desktop(prefix)
        windows = Windows(prefix, display, os.path.join(PROBES,
                                                        "uiprobe.exe"))
        # A first installation, through the pages.
        setup = Program(prefix, display, installer)
        save(display, windows.wait_for("Choose users"), "installer-scope.png")
        display.keys("Return")
        save(display, windows.wait_for("Choose Components"),
             "installer-components.png")
        display.keys("Return")
        windows.wait_for("Choose Install Location")
        display.keys("Return")
        windows.wait_for("Installation Complete")
        display.keys("Return")
        assert setup.status() == 0

        # Installing again while Tolvarin runs.
        _, end = hold(prefix, prefix.scopes["all"].folder, prefix.drive_c)
        setup = Program(prefix, display, installer)
        for page in ("Choose users", "Installed version",
                     "Choose Components", "Choose Install Location"):
            windows.wait_for(page)
            display.keys("Return")
        message = windows.wait_for("is in use.")
        dialog = next(w for w in windows.read()
                      if w["handle"] != message["handle"] and
                      w["title"].startswith("Tolvarin Setup"))
        save(display, dialog, "installer-in-use.png")
        display.keys("Escape")
        setup.status()
        end()

        # The scope page in a language of another script, right to left.
        arabic = next(lang for lang in shipped() if lang.tag == "ar-SA")
        setup = Program(prefix, display, installer, f"/LANG={arabic.id}")
        save(display, windows.wait_for(arabic.text("scope_title")),
             "installer-scope-ar.png")
        display.keys("Escape")
        setup.kill()
    finally:
        display.close()
        prefix.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
