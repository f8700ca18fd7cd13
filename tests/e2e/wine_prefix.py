"""Sets up the test suite's private Wine prefixes, or ends a wineserver.

    wine_prefix.py start      initialise the prefix once, start its wineserver
    wine_prefix.py stop       end only this prefix's wineserver
    wine_prefix.py template   make the template the installer suites clone
"""
import os
import shutil
import sys

import wine

# Marlett draws the title bars' buttons; Wine has it (Debian's fonts-wine),
# but this Wine looks for its fonts beside its data folder, not in it, so
# the template has it in C:\windows\Fonts, where every Wine looks. Wine's
# Tahoma stays out: it lacks Hebrew, and this Wine's font linking does not
# fall back from it, where the font Wine takes without it (DejaVu Sans,
# wider than Tahoma) draws Latin, Greek, Cyrillic, Hebrew and Arabic.
MARLETT = "/usr/share/wine/fonts/marlett.ttf"
# The fonts the installer's Chinese, Japanese and Korean pages ask for, as
# their NSIS language files name them: MS PGothic drawn with IPAPGothic,
# which has its widths (fonts-ipafont-gothic), the others with Debian's CJK
# font (fonts-wqy-microhei).
CJK_FONTS = {"\uff2d\uff33 \uff30\u30b4\u30b7\u30c3\u30af": "IPAPGothic",
             "\uad74\ub9bc": "WenQuanYi Micro Hei",  # Gulim
             "\u5b8b\u4f53": "WenQuanYi Micro Hei",  # SimSun
             "\u65b0\u7d30\u660e\u9ad4": "WenQuanYi Micro Hei"}  # PMingLiU
# What a template is made of; one made otherwise is made again.
RECIPE = "wineboot -i, Marlett, CJK substitutes 2\n"


def make_template(template):
    """A fresh prefix, its server ended so that its registry is on disk, and
    without Wine's links from the user's folders (Desktop, Documents...) to
    the host's home: what a test installs there stays in the prefix."""
    marker = os.path.join(template, ".initialised")
    if os.path.exists(marker):
        with open(marker, encoding="ascii") as made:
            if made.read() == RECIPE:
                return 0
    building = template + ".new"
    shutil.rmtree(building, ignore_errors=True)
    env = {"WINEPREFIX": building}
    status = wine.run_plain(["wineboot", "-i"], env=env)
    if status == 0:
        # As a .reg file, which keeps the names' script as it is.
        substitutes = os.path.join(building, "drive_c", "substitutes.reg")
        with open(substitutes, "w", encoding="utf-16") as reg:
            reg.write("Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\"
                      "Windows NT\\CurrentVersion\\FontSubstitutes]\r\n" +
                      "".join(f'"{face}"="{font}"\r\n'
                              for face, font in CJK_FONTS.items()))
        status = wine.run_plain(["regedit", "/S", "C:\\substitutes.reg"],
                                env=env)
        os.remove(substitutes)
    wine.run_plain(["wineserver", "-k"], env=env)
    if status != 0:
        print(f"wineboot -i failed with {status}")
        return 1
    if not os.path.exists(MARLETT):
        print(f"{MARLETT} is missing: install fonts-wine")
        return 1
    shutil.copy(MARLETT, os.path.join(building, "drive_c", "windows", "Fonts"))
    users = os.path.join(building, "drive_c", "users")
    for user in os.listdir(users):
        for name in os.listdir(os.path.join(users, user)):
            path = os.path.join(users, user, name)
            if os.path.islink(path):
                os.remove(path)
                os.mkdir(path)
    with open(os.path.join(building, ".initialised"), "w",
              encoding="ascii") as done:
        done.write(RECIPE)
    shutil.rmtree(template, ignore_errors=True)
    os.rename(building, template)
    print(f"Wine prefix template ready: {template}")
    return 0


def main(action):
    prefix = os.environ["WINEPREFIX"]
    if action == "start":
        marker = os.path.join(prefix, ".initialised")
        if not os.path.exists(marker):
            os.makedirs(prefix, exist_ok=True)
            status = wine.run_plain(["wineboot", "-i"])
            if status != 0:
                print(f"wineboot -i failed with {status}")
                return 1
            with open(marker, "w", encoding="ascii") as done:
                done.write("wineboot -i\n")
        # Keep the server up between the runs of a test session, and let it
        # go by itself a while after the last one.
        wine.run_plain(["wineserver", "-p60"])
        print(f"Wine prefix ready: {prefix}")
        return 0
    if action == "stop":
        wine.run_plain(["wineserver", "-k"])
        print(f"wineserver of {prefix} ended")
        return 0
    if action == "template":
        return make_template(os.path.join(os.environ["BUILD_DIR"],
                                          "wineprefix-template"))
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else ""))
