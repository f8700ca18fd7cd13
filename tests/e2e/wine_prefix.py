"""Sets up the test suite's private Wine prefix, or ends its wineserver.

    wine_prefix.py start   initialise the prefix once, start its wineserver
    wine_prefix.py stop    end only this prefix's wineserver
"""
import os
import sys

import wine


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
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else ""))
