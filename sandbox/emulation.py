"""Lets this machine start Linux programs of another architecture through
QEMU's user-mode emulator: 32-bit x86 ones (Wine's 32-bit loader is one), and
ARM64 ones (everything in an ARM64 platform root).

Where the kernel runs them itself, or a binfmt_misc entry already hands them to
an emulator, nothing is changed. Otherwise binfmt_misc is mounted if it is not,
and an entry of the project's hands the architecture's ELF programs to QEMU.
That is machine-wide kernel state: `restore` removes the entry, and unmounts
binfmt_misc, only where `enable` added them. ZELTRANE_X86_EMULATION=qemu adds
the i386 entry even where the kernel could run the programs itself: an entry
is consulted before the kernel's own loader, so every 32-bit program then
starts as on a machine whose kernel refuses them.

The emulators are Debian 13's (QEMU 10.0), which scripts/qemu-user fetches
into build/qemu-user/bin: Debian 12's QEMU 7.2 takes about fifty seconds for
each start of a 32-bit Wine process (see that script).
"""

import json
import os
import pathlib
import subprocess

BINFMT = pathlib.Path("/proc/sys/fs/binfmt_misc")
WINE32 = "/usr/lib/wine/wine"
EMULATORS = pathlib.Path(__file__).resolve().parent.parent / "build" / "qemu-user"

# name: (entry, emulator, magic, mask, the architecture's dynamic loader).
# The magic and mask are those of the architecture's ELF executables, as
# Debian's QEMU packages register them (/usr/lib/binfmt.d/).
ARCHITECTURES = {
    "i386": ("zeltrane-qemu-i386", str(EMULATORS / "bin" / "qemu-i386"),
             "7f454c4601010100000000000000000002000300",
             "fffffffffffefe00fffffffffffffffffeffffff", "/lib/ld-linux.so.2"),
    "aarch64": ("zeltrane-qemu-aarch64", str(EMULATORS / "bin" / "qemu-aarch64"),
                "7f454c460201010000000000000000000200b700",
                "ffffffffffffff00fffffffffffffffffeffffff", "/lib/ld-linux-aarch64.so.1"),
}
# Debian's names of the architectures.
DEBIAN = {"i386": "i386", "arm64": "aarch64"}


class Unavailable(Exception):
    """Programs of the architecture cannot be started here."""


def _escaped(hexdigits):
    return "".join("\\x" + hexdigits[i:i + 2] for i in range(0, len(hexdigits), 2))


def registration(architecture):
    """The line that registers the project's entry. F: the kernel opens the
    emulator now, so it is found whatever the program's root."""
    entry, qemu, magic, mask, _ = ARCHITECTURES[architecture]
    return ":%s:M::%s:%s:%s:F" % (entry, _escaped(magic), _escaped(mask), qemu)


def starts(architecture, loader=None):
    """Whether the architecture's programs start: loader, a command that runs
    one (by default, for i386, Wine's 32-bit loader); without one, whether
    this machine is of that architecture or an enabled binfmt_misc entry
    takes its programs."""
    if loader is None and architecture == "i386":
        loader = [WINE32, "--version"]
    if loader is not None:
        try:
            return subprocess.run(loader, capture_output=True, timeout=300).returncode == 0
        except (OSError, subprocess.TimeoutExpired):
            return False
    return os.uname().machine == architecture or _entry_takes(architecture)


def _entry_takes(architecture):
    """Whether an enabled binfmt_misc entry takes the architecture's programs."""
    magic = ARCHITECTURES[architecture][2]
    for entry in BINFMT.glob("*") if (BINFMT / "register").exists() else []:
        try:
            fields = entry.read_text().split("\n")
        except OSError:
            continue
        if fields[0] == "enabled" and "magic " + magic in fields:
            return True
    return False


def _state(state_dir, architecture):
    return pathlib.Path(state_dir) / ("emulation-%s.json" % architecture)


def enable(state_dir, architecture="i386", loader=None):
    """Makes the architecture's programs start; returns how they do. loader:
    see `starts`. What is added is noted in state_dir for `restore`."""
    entry, qemu, _, _, _ = ARCHITECTURES[architecture]
    added = {"architecture": architecture, "mounted": False, "registered": False}
    forced = architecture == "i386" and os.environ.get("ZELTRANE_X86_EMULATION") == "qemu"
    if not forced and starts(architecture, loader):
        return "%s programs start on this machine as it is: nothing registered" % architecture
    if not pathlib.Path(qemu).exists():
        raise Unavailable("%s is not there: scripts/qemu-user fetches it" % qemu)
    if architecture == "i386" and loader is None and not pathlib.Path(WINE32).exists():
        raise Unavailable("%s is not installed" % WINE32)
    if not (BINFMT / "register").exists():
        mount = subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", str(BINFMT)],
                               capture_output=True, text=True)
        if mount.returncode != 0:
            raise Unavailable("binfmt_misc cannot be mounted: " + mount.stderr.strip())
        added["mounted"] = True
    state = _state(state_dir, architecture)
    state.write_text(json.dumps(added))
    if not (BINFMT / entry).exists():
        try:
            (BINFMT / "register").write_text(registration(architecture))
        except OSError as error:
            restore(state_dir)
            raise Unavailable("cannot register the emulator with binfmt_misc: %s" % error)
        added["registered"] = True
        state.write_text(json.dumps(added))
    if not starts(architecture, loader):
        restore(state_dir)
        raise Unavailable("%s programs still do not start through %s" % (architecture, qemu))
    return "%s programs start through %s (binfmt_misc entry %s added%s)" % (
        architecture, qemu, entry, ", binfmt_misc mounted" if added["mounted"] else "")


def through_emulator(state_dir, architecture):
    """Whether `enable` made the architecture's programs start through QEMU,
    in state_dir."""
    return _state(state_dir, architecture).exists()


def through_qemu(architecture):
    """Whether the architecture's programs start through an emulator here: an
    enabled binfmt_misc entry takes them (before the kernel's own loader
    could), or, inside a platform root, whose /proc has no binfmt_misc, the
    root's run says so (ZELTRANE_EMULATED, by Debian's names)."""
    debian = [d for d, a in DEBIAN.items() if a == architecture]
    if set(debian) & set(os.environ.get("ZELTRANE_EMULATED", "").split()):
        return True
    return _entry_takes(architecture)


def route(architecture):
    """How the architecture's programs start here, in words."""
    if not through_qemu(architecture):
        return "%s programs natively" % architecture
    version = EMULATORS / "version"
    return "%s programs through QEMU %s" % (
        architecture, version.read_text().strip() if version.exists() else "")


def restore(state_dir):
    """Removes what `enable` added in state_dir: the entries, then the mount;
    returns what is left of it."""
    states = sorted(pathlib.Path(state_dir).glob("emulation-*.json"))
    added = [json.loads(state.read_text()) for state in states]
    entries = [ARCHITECTURES[a["architecture"]][0] for a in added if a["registered"]]
    for entry in entries:
        if (BINFMT / entry).exists():
            (BINFMT / entry).write_text("-1")
    mounted = any(a["mounted"] for a in added)
    if mounted:
        subprocess.run(["umount", str(BINFMT)], capture_output=True)
    for state in states:
        state.unlink()
    left = ["binfmt_misc entry " + entry for entry in entries if (BINFMT / entry).exists()]
    if mounted and (BINFMT / "register").exists():
        left.append("binfmt_misc mount")
    return left
