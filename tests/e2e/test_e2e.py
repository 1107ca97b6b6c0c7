"""End-to-end behaviour of Zeltrane.exe under Wine.

usage: test_e2e.py [--state NAME] BUILD_DIR start | stop | GROUP [X86-IMAGE X86-NEWDEV
                   RELEASE-ZIP]
  start  boots the sandbox shared by the groups (Xvfb, a prefix, a simulated
         adapter); stop ends it and fails if anything was left behind. On
         x86-64, start makes 32-bit programs start where they can (see
         sandbox/emulation.py), so that the prefix has its 32-bit side, and
         puts BUILD_DIR/stand-in/newdev.dll, the newdev stand-in, into its
         system32 (see sandbox/newdev.cpp); stop undoes the first.
  GROUP  runs one group of cases against BUILD_DIR/Zeltrane.exe: Harness,
         Usage, Install, Failures, Text, Removal (and ZeltraneRemove.exe),
         Creation (and ZeltraneCreate.exe), Catalog (the catalogs that
         release/catalog.py makes, through the platform's wintrust) for
         the x64 build; Arm64 for the
         ARM64 build under ARM64 Wine.
With X86-IMAGE, the 32-bit image in a sandbox of its own; the group X86 holds
its cases. There, start also puts X86-NEWDEV, the 32-bit build of the
stand-in, into the prefix's syswow64: a run that plays 64-bit Windows sees
device installation refused to 32-bit callers; the hand-over cases run the
release layout unpacked from RELEASE-ZIP that way. Exit code 77: the 32-bit
image cannot run here. The group Setups runs the setups of examples/setups
there the same way, as built by `setups`, on the host: BUILD_DIR setups
X86-IMAGE X86-NEWDEV RELEASE-ZIP builds them around RELEASE-ZIP into
BUILD_DIR/e2e-setups. --state: the sandbox's folder in BUILD_DIR (default
e2e, or e2e-x86), so that runs on two platforms keep apart. Each boot and
case is held to a limit that follows from how this machine starts 32-bit
programs (LIMITS), and its time is written to the sandbox's account.txt.
The cases are in modules by behaviour: program.py (usage, install, failures,
text), removal.py (the removal program), handover.py (the 32-bit image and
its hand-over, the ARM64 build), catalogs.py (the catalogs),
setup_cases.py (the setups, built by setup_builds.py), harness.py (the
sandbox's own checks); cases.py holds what they share.
"""


import os
import pathlib
import sys
import time
import types
import unittest

from cases import LIMITS, account, suite
from catalogs import Catalog
from creation import Creation
from handover import Arm64, X86
from harness import Harness
from program import DeviceState, Failures, Install, Text, Usage
from removal import Removal
from setup_builds import build_setups, setup_devices
from setup_cases import Setups
import emulation
import sample
import stand_ins
import wine

SKIPPED = 77
GROUPS = {group.__name__: group
          for group in (Harness, Usage, Install, DeviceState, Failures, Text, Removal, Creation,
                        X86, Arm64, Setups, Catalog)}


def machine_route():
    """"qemu" where the platform's foreign programs start through QEMU here,
    "native" where the kernel starts them itself."""
    emulated = emulation.through_qemu("i386") or emulation.through_qemu("aarch64")
    print("this machine:", emulation.route("aarch64" if os.uname().machine == "aarch64"
                                           else "i386"))
    return "qemu" if emulated else "native"


def start(x86, unavailable):
    """Boots the suite's sandbox with its stand-ins and devices."""
    sandbox = suite.sandbox
    sandbox.clear()
    if os.uname().machine == "x86_64":
        # Before the boot: a prefix booted while 32-bit programs cannot
        # start lacks the 32-bit half of the platform. The x64 suite's
        # prefix has it too where it can, as 64-bit Windows does.
        try:
            print(emulation.enable(sandbox.state))
        except emulation.Unavailable as reason:
            if x86:
                unavailable.write_text(str(reason))
                print("SKIPPED: the 32-bit image cannot run here:", reason)
                return SKIPPED
            print("the prefix has no 32-bit side:", reason)
    suite.route = machine_route()
    limit = LIMITS[suite.route]["boot"]
    began = time.monotonic()
    try:
        sandbox.start(boot_timeout=limit)
        # Not under ARM64 Wine: Debian 12's builds its DLLs as ELF libraries
        # and leaves placeholders in the prefix, so a copy of its newdev.dll
        # under another name, which the stand-in would call, cannot load.
        if os.uname().machine == "x86_64":
            dlls = {"system32": sandbox.build / "stand-in" / "newdev.dll"}
            if x86:
                dlls["syswow64"] = pathlib.Path(x86[1])
            stand_ins.install(sandbox.prefix, dlls)
        sandbox.add_device(sample.SAMPLE_HARDWARE_ID)
        if x86:
            sandbox.add_device(sample.SAMPLE_OWN_DEVICE[0], *setup_devices())
    finally:
        account("start", time.monotonic() - began, sandbox.starts, limit)
    print("sandbox ready at", sandbox.state)
    return 0


def skipped_here(what):
    """Why the case cannot run on this machine, or None."""
    if what.startswith("Setups.test_nsis") and suite.route == "qemu" and \
            suite.sandbox.wine_generation() == 10:
        # Wine 10's 32-bit loader is position-independent, and QEMU loads it
        # at 0x400000, the one address where the NSIS setup, an image without
        # relocations, can go: Wine 10 refuses it with 0xC0000018
        # (STATUS_CONFLICTING_ADDRESSES) before it runs.
        return ("%s: through QEMU, Wine 10's 32-bit loader holds 0x400000, where the NSIS "
                "setup must load" % what)
    return None


def run_group(what, build_dir, x86):
    """Runs a group, or one case, of the suite's sandbox."""
    suite.route = machine_route()
    reason = skipped_here(what)
    if reason:
        with open(suite.sandbox.state / "skipped.txt", "a", encoding="utf-8") as out:
            out.write(reason + "\n")
        print("SKIPPED:", reason)
        return SKIPPED
    sandbox = suite.sandbox
    if x86:
        suite.pointer_digits = 8
        sandbox.program = pathlib.Path(x86[0]).resolve()
        sandbox.drivers["x86"] = sandbox.program.parent / "sample" / sample.SAMPLE_DRIVER
        suite.release_zip = pathlib.Path(x86[2]).resolve()
        suite.setups = pathlib.Path(build_dir).resolve() / "e2e-setups"
    if what.startswith("Arm64"):
        # The ARM64 build's driver, in the packages' arm64 folder.
        sandbox.drivers = {"arm64": sandbox.build / "sample" / sample.SAMPLE_DRIVER}
    tests = unittest.defaultTestLoader.loadTestsFromName(what, types.SimpleNamespace(**GROUPS))
    result = unittest.TextTestRunner(verbosity=2).run(tests)
    return 0 if result.wasSuccessful() else 1


def main():
    arguments = sys.argv[1:]
    state = None
    if arguments[0] == "--state":
        state, arguments = arguments[1], arguments[2:]
    build_dir, what, x86 = arguments[0], arguments[1], arguments[2:]
    if what == "setups":
        build_setups(build_dir, pathlib.Path(x86[0]).parent, pathlib.Path(x86[2]))
        return 0
    state = state or ("e2e-x86" if x86 else "e2e")
    suite.sandbox = wine.Sandbox(pathlib.Path(build_dir) / state, build_dir)
    unavailable = suite.sandbox.state / "unavailable"
    if what == "start":
        return start(x86, unavailable)
    if what == "stop":
        left = suite.sandbox.stop() + emulation.restore(suite.sandbox.state)
        print("left behind:", left) if left else print("Wine and Xvfb ended, prefix removed")
        return 1 if left else 0
    if unavailable.exists():
        print("SKIPPED: the 32-bit image cannot run here:", unavailable.read_text())
        return SKIPPED
    return run_group(what, build_dir, x86)


if __name__ == "__main__":
    sys.exit(main())
