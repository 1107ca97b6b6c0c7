"""Takes a picture of the usage box as Wine draws it.

usage: picture.py BUILD_DIR PNG
"""

import pathlib
import re
import subprocess
import sys
import time

import prefix
import wine


def find_window(sandbox, title):
    """The X window id of the top-level window with this title, or None."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=sandbox.env(), capture_output=True,
                          text=True).stdout
    match = re.search(r"^\s+(0x[0-9a-f]+) \"%s\"" % re.escape(title), tree, re.MULTILINE)
    return match.group(1) if match else None


def main():
    build, png = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]).resolve()
    sandbox = wine.Sandbox(build / "picture", build)
    sandbox.clear()
    sandbox.start()
    try:
        # No window manager runs on Xvfb: have Wine draw the caption and frame itself.
        sandbox.wine(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Decorated",
                      "/d", "N", "/f"])
        with open(sandbox.state / "wine.log", "ab") as log:
            program = subprocess.Popen([prefix.WINE64, str(sandbox.program)], env=sandbox.env(),
                                       stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        for _ in range(300):
            window = find_window(sandbox, "Program Usage")
            if window:
                break
            time.sleep(0.1)
        else:
            print("the usage box did not appear")
            return 1
        time.sleep(1)  # let Wine finish drawing it
        png.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-window", window, str(png)], env=sandbox.env(), check=True)
        program.kill()
        print("wrote", png)
        return 0
    finally:
        sandbox.stop()


if __name__ == "__main__":
    sys.exit(main())
