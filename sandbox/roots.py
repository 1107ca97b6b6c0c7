"""Platform roots: Debian systems of another release (or machine) that a stage
runs the platform in, made by this project from the Debian archive that apt
already uses on this machine.

usage: roots.py make NAME
           makes the root once; later calls, from any clone, find it made in
           the machine's cache (cache.py).
       roots.py run NAME [--inside] [--throwaway] -- COMMAND...
           runs COMMAND on this machine with the root's mounts in place: /proc,
           /dev, a fresh /tmp and the project tree at its own path. The mounts
           live in a mount namespace of this run only, so they are never seen
           elsewhere and end with the run, however it ends; processes left in
           the root are ended first. --inside: COMMAND runs inside the root,
           in the project tree. --throwaway: in a copy of the root made for
           this run and deleted after it, so that nothing the run installs
           stays for the next.
       roots.py enter NAME [-C DIR] [--root PATH] -- COMMAND...
           runs COMMAND inside the root, from a command that `run` started.
       roots.py size NAME
A root holds only what its stages need: ROOTS below. It is kept by recipe:
the release, architectures and packages, the archive, and the command and
tool that make it; a root of another recipe is made beside it. Programs of a
root's architectures that this machine does not start itself go through QEMU
(see emulation.py), for the making and for each run: what that adds to the
machine is undone at the end.
"""

import contextlib
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import time

import cache
import emulation

TREE = pathlib.Path(__file__).resolve().parent.parent

# name: (Debian release, architectures, packages). Recommends stay out.
ROOTS = {
    # The platform's next generation: Wine 10, with its 32-bit side, on a
    # private X display; Python runs the end-to-end suites, and osslsigncode
    # verifies the signature of what a setup installs.
    "debian13-amd64": ("trixie", ["amd64", "i386"],
                       ["wine", "wine64", "wine32:i386", "xvfb", "python3", "osslsigncode"]),
    # The next toolchain generation for the Windows presets: clang and LLD 19,
    # mingw-w64 12 (headers, CRT; GCC only for its libgcc), and what the
    # image tests read images with.
    "debian13-build": ("trixie", ["amd64"],
                       ["cmake", "ninja-build", "clang", "lld", "llvm", "binutils",
                        "mingw-w64-i686-dev", "mingw-w64-x86-64-dev",
                        "gcc-mingw-w64-i686-win32", "gcc-mingw-w64-x86-64-win32",
                        "binutils-mingw-w64-i686", "binutils-mingw-w64-x86-64"]),
    # Windows on ARM: Debian 12's Wine 8 for ARM64 (it has no 32-bit side),
    # every program of it run through QEMU here. Only unpacked (UNPACKED):
    # with env, sh and the system's users, the few things of a configured
    # system that its stage uses.
    "debian12-arm64": ("bookworm", ["arm64"],
                       ["wine", "wine64", "xvfb", "python3", "coreutils", "dash", "base-passwd"]),
    # A machine that has never seen the project: Debian 12's minimal base and
    # git (scripts/fresh-machine).
    "debian12-fresh": ("bookworm", ["amd64"], ["git"]),
}

# This machine's own architecture, as Debian names it.
NATIVE = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                        text=True).stdout.strip()

# The roots whose packages are unpacked, not configured: configuring a
# foreign architecture's packages runs each maintainer script through QEMU
# (seven to eight minutes for the ARM64 root on a fresh machine, against
# under half a minute to unpack it), and what its stage runs needs none of
# what they make but a system's users, which come from base-passwd's own
# lists. Its
# programs find their libraries in the multiarch folders, which the loader
# searches without a cache; the sandbox starts Wine by its own path, with no
# alternatives link.
UNPACKED = {"debian12-arm64"}
UNPACK = ["--variant=extract"]

# How mmdebstrap makes a root, but for the architectures, packages, release,
# folder and archive. It empties apt's package cache and lists at the end. It
# runs the root's programs, so the root's architectures must start: emulated()
# makes sure they do, which is why mmdebstrap's own check is skipped. That
# check wants an entry named qemu-ARCH, or else /usr/bin/qemu-ARCH-static to
# copy into the root, which no package that install-deps brings has.
MMDEBSTRAP = ["mmdebstrap", "--variant=minbase", "--mode=root", "--quiet", "--skip=check/qemu",
              "--aptopt=APT::Install-Recommends \"false\""]

# What a command inside a root keeps of the caller's environment.
# ZELTRANE_EMULATED: the architectures that the run's programs start through
# QEMU, by Debian's names; a stage that would outlast CI's time there can tell.
PASSED_ON = ("CI", "TERM", "ZELTRANE_EMULATED")


class Failed(Exception):
    """The root cannot be made or used; the message says why."""


def recipe(name):
    if name not in ROOTS:
        raise Failed("no root named %s (known: %s)" % (name, ", ".join(ROOTS)))
    suite, architectures, packages = ROOTS[name]
    tool = subprocess.run(["mmdebstrap", "--version"], capture_output=True, text=True).stdout
    command = MMDEBSTRAP + (UNPACK if name in UNPACKED else [])
    return {"suite": suite, "architectures": architectures, "packages": packages,
            "archive": cache.archive(), "command": command, "tool": tool.strip()}


def root_of(name):
    """Where the root is: where the run that entered it put it, or the cache's."""
    return pathlib.Path(os.environ.get(variable(name)) or cache.content(name, recipe(name)))


def variable(name):
    """The environment variable in which a run names the root it uses."""
    return "ZELTRANE_ROOT_" + name.upper().replace("-", "_")


def maker(name):
    """What makes the root into a folder, for the cache."""
    def make(partial):
        wanted = recipe(name)
        started = time.monotonic()
        print("roots: making %s: Debian %s for %s with %s" % (
            name, wanted["suite"], ",".join(wanted["architectures"]),
            " ".join(wanted["packages"])), flush=True)
        with contextlib.nullcontext() if name in UNPACKED else emulated(name, None):
            result = subprocess.run(
                [*wanted["command"], "--architectures=" + ",".join(wanted["architectures"]),
                 "--include=" + ",".join(wanted["packages"]),
                 wanted["suite"], str(partial), wanted["archive"]],
                stdin=subprocess.DEVNULL)
        if result.returncode != 0:
            raise Failed("mmdebstrap failed (%d) for %s" % (result.returncode, name))
        if name in UNPACKED:
            settle(partial)
        print("roots: %s made in %d s, %s" % (name, time.monotonic() - started, size(partial)),
              flush=True)
    return make


def settle(root):
    """What an unpacked root needs of a configured system: the folders that a
    run mounts on or enters, and the system's users and groups as base-passwd
    sets them up."""
    for folder in ("proc", "dev", "tmp", "root"):
        (root / folder).mkdir(exist_ok=True)
    (root / "tmp").chmod(0o1777)
    for table in ("passwd", "group"):
        shutil.copyfile(root / "usr/share/base-passwd" / (table + ".master"),
                        root / "etc" / table)


def made(name):
    """The root while in the block, made first unless it is; held for the block."""
    if os.geteuid() != 0:
        raise Failed("making or using a root takes root")
    return cache.entry(name, recipe(name), maker(name))


def size(root):
    used = subprocess.run(["du", "-sh", "--one-file-system", str(root)],
                          capture_output=True, text=True).stdout.split()
    return used[0] if used else "unknown size"


def mount(*arguments):
    subprocess.run(["mount", *arguments], check=True)


def mount_for_run(root):
    """The mounts a run needs; inside this process's own mount namespace. The
    root is made a mount point of its own first, as a system's / is: a run
    inside it that makes a namespace of its own (a stage in a fresh root
    running a root of its own) can then make its mounts private."""
    mount("--bind", str(root), str(root))
    mount("-t", "proc", "proc", str(root / "proc"))
    mount("--bind", "/dev", str(root / "dev"))
    mount("-t", "tmpfs", "-o", "mode=1777", "tmpfs", str(root / "tmp"))
    (root / str(TREE).lstrip("/")).mkdir(parents=True, exist_ok=True)
    mount("--bind", str(TREE), str(root / str(TREE).lstrip("/")))


def processes_in(root):
    """Processes whose root folder is this root."""
    found = []
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if os.readlink(entry / "root") == str(root):
                found.append(int(entry.name))
        except OSError:
            pass
    return found


def end_processes(root):
    """Ends what a run left in the root; returns how many there were."""
    left = processes_in(root)
    for pid in left:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    for _ in range(50):
        if not processes_in(root):
            break
        time.sleep(0.1)
    return len(left)


@contextlib.contextmanager
def emulated(name, root):
    """Makes the programs of the root's foreign architectures start while in
    the block; root: the root to try them in, if it is made."""
    states = TREE / "build" / "emulation"
    # Those of runs that were killed: their uses of the machine end with them.
    for left in states.glob("*-*"):
        if not pathlib.Path("/proc", left.name.rsplit("-", 1)[1]).exists():
            emulation.restore(left)
            left.rmdir()
    state = states / ("%s-%d" % (name, os.getpid()))
    state.mkdir(parents=True, exist_ok=True)
    try:
        through_qemu = []
        for architecture in ROOTS[name][1]:
            if architecture == NATIVE:
                continue
            loader = emulation.ARCHITECTURES[emulation.DEBIAN[architecture]][4]
            command = (["chroot", str(root), loader, "--version"] if root else
                       [loader, "--version"] if pathlib.Path(loader).exists() else None)
            try:
                print("roots:", emulation.enable(state, emulation.DEBIAN[architecture], command),
                      flush=True)
                if emulation.through_emulator(state, emulation.DEBIAN[architecture]):
                    through_qemu.append(architecture)
                os.environ["ZELTRANE_EMULATED"] = " ".join(through_qemu)
            except emulation.Unavailable as reason:
                if architecture == ROOTS[name][1][0]:
                    raise Failed("%s programs cannot start here: %s" % (architecture, reason))
                # A second architecture: the stages that need it say so themselves.
                print("roots: %s programs cannot start in %s: %s" % (architecture, name, reason),
                      flush=True)
        yield
    finally:
        left = emulation.restore(state)
        state.rmdir()
        if left:
            print("roots: could not undo:", ", ".join(left), flush=True)


def run_inside_namespace(name, root, command):
    """The body of `run`, in a mount namespace of its own."""
    try:
        mount_for_run(root)
        with emulated(name, root):
            try:
                return subprocess.run(command).returncode
            finally:
                ended = end_processes(root)
                if ended:
                    print("roots: ended %d processes left in %s" % (ended, name), flush=True)
    finally:
        for point in reversed(cache.mounts_under(root)):
            subprocess.run(["umount", "--lazy", point])


def throwaway_copy(root):
    """A copy of the root for one run, beside it, named by the run's process:
    runs at the same time each have their own. Copies left by runs that
    ended without removing theirs go first."""
    for left in root.parent.glob("throwaway-*"):
        if not pathlib.Path("/proc", left.name.split("-", 1)[1]).exists():
            cache.remove(left)
    copy = root.parent / ("throwaway-%d" % os.getpid())
    cache.remove(copy)  # a copy of an ended run whose process number this run has now
    subprocess.run(["cp", "-a", "--reflink=auto", str(root), str(copy)], check=True)
    return copy


def run(name, inside, throwaway, command):
    with made(name) as root:
        if throwaway:
            root = throwaway_copy(root)
        os.environ[variable(name)] = str(root)
        if inside:
            command = [sys.executable, __file__, "enter", name, "--root", str(root), "--",
                       *command]
        try:
            return subprocess.run(
                ["unshare", "--mount", "--propagation", "private", "--",
                 sys.executable, __file__, "_namespace", name, "--root", str(root), "--",
                 *command]).returncode
        finally:
            if throwaway:
                cache.remove(root)


def enter(name, root, directory, command):
    if not (root / "proc" / "self").exists():
        raise Failed("%s is not mounted: start this from `roots.py run %s`" % (name, name))
    environment = ["PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/root", "LANG=C.UTF-8"]
    environment += ["%s=%s" % (k, os.environ[k]) for k in PASSED_ON if k in os.environ]
    os.execvp("chroot", ["chroot", str(root), "/usr/bin/env", "-i", "-C", directory or str(TREE),
                         *environment, *command])


def split(arguments):
    """The options before "--", and the command after it."""
    if "--" not in arguments:
        raise Failed("usage: see roots.py's help")
    at = arguments.index("--")
    return arguments[:at], arguments[at + 1:]


def value(options, option):
    """The value that follows an option, or None."""
    return options[options.index(option) + 1] if option in options[:-1] else None


def main(arguments):
    verb, name, rest = arguments[0], arguments[1], arguments[2:]
    if verb == "make":
        with made(name) as root:
            print(root)
        return 0
    if verb == "size":
        print(size(root_of(name)))
        return 0
    options, command = split(rest)
    root = pathlib.Path(value(options, "--root") or root_of(name))
    if verb == "run":
        return run(name, "--inside" in options, "--throwaway" in options, command)
    if verb == "_namespace":
        return run_inside_namespace(name, root, command)
    if verb == "enter":
        return enter(name, root, value(options, "-C"), command)
    raise Failed("no verb %s" % verb)


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except (Failed, cache.Failed, IndexError) as error:
        print("roots:", error or __doc__, file=sys.stderr)
        sys.exit(2)
