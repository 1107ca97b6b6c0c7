"""Lets this machine start Linux programs of another architecture through
QEMU's user-mode emulator: 32-bit x86 ones (Wine's 32-bit loader is one), and
ARM64 ones (everything in an ARM64 platform root).

Where the kernel runs them itself, or a binfmt_misc entry already hands them to
an emulator, nothing is changed. Otherwise binfmt_misc is mounted if it is not,
and an entry of the project's hands the architecture's ELF programs to QEMU.
That is machine-wide kernel state, which runs at the same time share (a stage
and a platform root being made beside it): what the project added, and which
runs use it, are noted in /run/zeltrane-emulation under a lock; `restore`
removes an entry once no run uses it, and unmounts binfmt_misc once no run
uses any, and only where the project added them. A run that died without
`restore` (its state folder gone) no longer counts. ZELTRANE_X86_EMULATION=qemu adds
the i386 entry even where the kernel could run the programs itself: an entry
is consulted before the kernel's own loader, so every 32-bit program then
starts as on a machine whose kernel refuses them.

The emulators are Debian 13's (QEMU 10.0), which scripts/qemu-user fetches
into build/qemu-user/bin: Debian 12's QEMU 7.2 takes about fifty seconds for
each start of a 32-bit Wine process (see that script).
"""

import contextlib
import fcntl
import hashlib
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
# What the project added to the machine, and which runs use it: added.json,
# {"mounted": [mount namespace, ...], "entries": [architecture, ...]}, and
# users/TOKEN, each a run's state file and mount namespace. The entries are
# the kernel's, but a mount is only in its namespace (a root's run has one of
# its own). Under /run, which starts empty with the kernel's state.
SHARED = pathlib.Path("/run/zeltrane-emulation")


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


@contextlib.contextmanager
def _shared():
    """The machine's record, under its lock, while in the block."""
    (SHARED / "users").mkdir(parents=True, exist_ok=True)
    with open(SHARED / "lock", "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            added = json.loads((SHARED / "added.json").read_text())
        except (OSError, ValueError):
            added = {}
        added = {"mounted": added.get("mounted") or [], "entries": added.get("entries") or []}
        yield added
        (SHARED / "added.json").write_text(json.dumps(added))


def _namespace():
    return os.readlink("/proc/self/ns/mnt")


def _user(state):
    """The machine's record of one run's use: named by its state file."""
    return SHARED / "users" / hashlib.sha256(str(state.resolve()).encode()).hexdigest()[:16]


def enable(state_dir, architecture="i386", loader=None):
    """Makes the architecture's programs start; returns how they do. loader:
    see `starts`. The use is noted in state_dir, and on the machine, for
    `restore`."""
    entry, qemu, _, _, _ = ARCHITECTURES[architecture]
    forced = architecture == "i386" and os.environ.get("ZELTRANE_X86_EMULATION") == "qemu"
    if not forced and starts(architecture, loader):
        return "%s programs start on this machine as it is: nothing registered" % architecture
    if not pathlib.Path(qemu).exists():
        raise Unavailable("%s is not there: scripts/qemu-user fetches it" % qemu)
    if architecture == "i386" and loader is None and not pathlib.Path(WINE32).exists():
        raise Unavailable("%s is not installed" % WINE32)
    state = _state(state_dir, architecture)
    done, failure = [], "binfmt_misc shows no entry %s after its registration" % entry
    with _shared() as added:
        state.write_text(json.dumps({"architecture": architecture}))
        _user(state).write_text(json.dumps([str(state.resolve()), _namespace()]))
        if not (BINFMT / "register").exists():
            mount = subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", str(BINFMT)],
                                   capture_output=True, text=True)
            if mount.returncode != 0:
                failure = "binfmt_misc cannot be mounted: " + mount.stderr.strip()
            else:
                added["mounted"].append(_namespace())
                done.append("binfmt_misc mounted")
        if (BINFMT / "register").exists() and not (BINFMT / entry).exists():
            try:
                (BINFMT / "register").write_text(registration(architecture))
                added["entries"].append(architecture)
                done.insert(0, "binfmt_misc entry %s added" % entry)
            except OSError as error:
                failure = "cannot register the emulator with binfmt_misc: %s" % error
    if not (BINFMT / entry).exists():
        restore(state_dir)
        raise Unavailable(failure)
    if not starts(architecture, loader):
        restore(state_dir)
        raise Unavailable("%s programs still do not start through %s" % (architecture, qemu))
    return "%s programs start through %s (%s)" % (
        architecture, qemu, ", ".join(done) or "binfmt_misc entry %s there already" % entry)


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
    """Ends the uses that `enable` noted in state_dir, and removes what the
    project added that no other run uses: entries, then the mount of this
    mount namespace; returns what could not be removed."""
    left = []
    if not SHARED.exists():
        for state in pathlib.Path(state_dir).glob("emulation-*.json"):
            state.unlink()
        return left
    with _shared() as added:
        for state in pathlib.Path(state_dir).glob("emulation-*.json"):
            _user(state).unlink(missing_ok=True)
            state.unlink()
        using, namespaces = set(), set()
        for user in (SHARED / "users").iterdir():
            state, namespace = json.loads(user.read_text())
            if pathlib.Path(state).exists():
                using.add(json.loads(pathlib.Path(state).read_text())["architecture"])
                namespaces.add(namespace)
            else:
                user.unlink()
        for architecture in [a for a in added["entries"] if a not in using]:
            entry = BINFMT / ARCHITECTURES[architecture][0]
            if entry.exists():
                entry.write_text("-1")
            if entry.exists():
                left.append("binfmt_misc entry " + entry.name)
            else:
                added["entries"].remove(architecture)
        here = _namespace()
        if here in added["mounted"] and here not in namespaces:
            subprocess.run(["umount", str(BINFMT)], capture_output=True)
            if (BINFMT / "register").exists():
                left.append("binfmt_misc mount")
            else:
                added["mounted"].remove(here)
    return left
