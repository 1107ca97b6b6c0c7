"""Lets this machine start 32-bit x86 Linux programs, as Wine's 32-bit loader is.

Where the kernel runs them itself, or a binfmt_misc entry already hands them to
an emulator, nothing is changed. Otherwise binfmt_misc is mounted if it is not,
and an entry hands i386 ELF programs to QEMU's user-mode emulator. That is
machine-wide kernel state: `restore` removes the entry, and unmounts
binfmt_misc, only where `enable` added them. ZELTRANE_X86_EMULATION=qemu adds
the entry even where the kernel could run the programs itself.
"""

import json
import os
import pathlib
import subprocess

BINFMT = pathlib.Path("/proc/sys/fs/binfmt_misc")
ENTRY = "zeltrane-qemu-i386"
QEMU = "/usr/bin/qemu-i386-static"
WINE32 = "/usr/lib/wine/wine"
# The usual magic and mask of i386 ELF executables; F: the kernel opens the
# emulator now, so it is found whatever the program's root.
REGISTRATION = (
    ":%s:M::"
    "\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00"
    ":"
    "\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff"
    "\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff"
    ":%s:F" % (ENTRY, QEMU)
)


class Unavailable(Exception):
    """32-bit programs cannot be started here."""


def starts_32bit(loader=None):
    """Whether Wine's 32-bit loader starts (natively or through an emulator);
    loader: the command that starts it, if not this machine's own."""
    try:
        result = subprocess.run(loader or [WINE32, "--version"], capture_output=True,
                                timeout=300)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return result.returncode == 0


def enable(state_dir, loader=None):
    """Makes 32-bit programs start; returns how they do. loader: the command
    that starts Wine's 32-bit loader, where it is not this machine's own (in
    a platform root, say)."""
    added = {"mounted": False, "registered": False}
    forced = os.environ.get("ZELTRANE_X86_EMULATION") == "qemu"
    if not forced and starts_32bit(loader):
        return "32-bit programs start on this machine as it is: nothing registered"
    if not (loader or pathlib.Path(WINE32).exists()) or not pathlib.Path(QEMU).exists():
        raise Unavailable("%s or %s is not installed" % (WINE32, QEMU))
    if not (BINFMT / "register").exists():
        mount = subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", str(BINFMT)],
                               capture_output=True, text=True)
        if mount.returncode != 0:
            raise Unavailable("binfmt_misc cannot be mounted: " + mount.stderr.strip())
        added["mounted"] = True
    state = pathlib.Path(state_dir) / "i386.json"
    state.write_text(json.dumps(added))
    if not (BINFMT / ENTRY).exists():
        try:
            (BINFMT / "register").write_text(REGISTRATION)
        except OSError as error:
            restore(state_dir)
            raise Unavailable("cannot register the emulator with binfmt_misc: %s" % error)
        added["registered"] = True
        state.write_text(json.dumps(added))
    if not starts_32bit(loader):
        restore(state_dir)
        raise Unavailable("32-bit programs still do not start through %s" % QEMU)
    return "32-bit programs start through %s (binfmt_misc entry %s added%s)" % (
        QEMU, ENTRY, ", binfmt_misc mounted" if added["mounted"] else "")


def restore(state_dir):
    """Removes what `enable` added; returns what is left of it."""
    state = pathlib.Path(state_dir) / "i386.json"
    if not state.exists():
        return []
    added = json.loads(state.read_text())
    if added["registered"] and (BINFMT / ENTRY).exists():
        (BINFMT / ENTRY).write_text("-1")
    if added["mounted"]:
        subprocess.run(["umount", str(BINFMT)], capture_output=True)
    state.unlink()
    left = []
    if added["registered"] and (BINFMT / ENTRY).exists():
        left.append("binfmt_misc entry " + ENTRY)
    if added["mounted"] and (BINFMT / "register").exists():
        left.append("binfmt_misc mount")
    return left
