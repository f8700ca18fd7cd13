"""Sets up the test suite's private Wine prefixes, or ends a wineserver.

    wine_prefix.py start      initialise the prefix once, start its wineserver
    wine_prefix.py stop       end only this prefix's wineserver
    wine_prefix.py template   make the template the installer suites clone
"""
import os
import shutil
import sys

import wine


def make_template(template):
    """A fresh prefix, its server ended so that its registry is on disk, and
    without Wine's links from the user's folders (Desktop, Documents...) to
    the host's home: what a test installs there stays in the prefix."""
    if os.path.exists(os.path.join(template, ".initialised")):
        return 0
    building = template + ".new"
    shutil.rmtree(building, ignore_errors=True)
    env = {"WINEPREFIX": building}
    status = wine.run_plain(["wineboot", "-i"], env=env)
    wine.run_plain(["wineserver", "-k"], env=env)
    if status != 0:
        print(f"wineboot -i failed with {status}")
        return 1
    users = os.path.join(building, "drive_c", "users")
    for user in os.listdir(users):
        for name in os.listdir(os.path.join(users, user)):
            path = os.path.join(users, user, name)
            if os.path.islink(path):
                os.remove(path)
                os.mkdir(path)
    with open(os.path.join(building, ".initialised"), "w",
              encoding="ascii") as done:
        done.write("wineboot -i\n")
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
