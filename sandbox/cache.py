"""The machine's cache of what the stages make once and use again: the
platform roots (roots.py) and the ARM64 sysroot (scripts/arm64-sysroot). It
lives outside every clone, in /var/cache/zeltrane (ZELTRANE_CACHE names
another folder), so that each clone on this machine finds them made.

An entry is a folder named for what it holds and for its recipe's digest: the
recipe is everything that decides the contents (a root's Debian release,
architectures, packages and archive, the command and the tool that make it;
the sysroot's script and compiler). An entry is used only when its marker,
written last, names that recipe and every file listed at the making is still
there with its size; otherwise it is made again from nothing. One run at a
time makes an entry (an exclusive lock); a run that uses one holds it shared,
so that nobody deletes it under that run. A run killed while it makes one
leaves no marker, and the next run makes it again. Making a new entry of a
name deletes that name's entries of other recipes that no run holds.

usage: cache.py remove            deletes every entry (waiting for the runs
                                  that use them); a later run makes them again
       cache.py list              the entries, each with its state and size
       cache.py sysroot           makes the ARM64 sysroot unless it is made,
                                  and links build/sysroot/aarch64-w64-mingw32 to it
"""

import contextlib
import fcntl
import hashlib
import json
import os
import pathlib
import shutil
import stat
import subprocess
import sys

TREE = pathlib.Path(__file__).resolve().parent.parent
CACHE = pathlib.Path(os.environ.get("ZELTRANE_CACHE", "/var/cache/zeltrane"))
MARKER = "made.json"
MANIFEST = "manifest.txt"


class Failed(Exception):
    """The entry cannot be made or used; the message says why."""


def digest(recipe):
    return hashlib.sha256(json.dumps(recipe, sort_keys=True).encode()).hexdigest()[:16]


def file_digest(path):
    return hashlib.sha256(pathlib.Path(path).read_bytes()).hexdigest()


def folder(name, recipe):
    return CACHE / ("%s-%s" % (name, digest(recipe)))


def content(name, recipe):
    return folder(name, recipe) / "content"


def mounts_under(path):
    """Mount points at or below path, seen from this process."""
    path = str(pathlib.Path(path).resolve())
    found = []
    with open("/proc/self/mountinfo") as mountinfo:
        for line in mountinfo:
            point = line.split()[4].replace("\\040", " ")
            if point == path or point.startswith(path + "/"):
                found.append(point)
    return found


def remove(path):
    """Deletes a folder; never one with anything mounted inside, which would
    be deleted through the mount."""
    if not os.path.lexists(path):
        return
    inside = mounts_under(path)
    if inside:
        raise Failed("will not delete %s: mounted inside it: %s" % (path, ", ".join(inside)))
    if pathlib.Path(path).is_symlink() or not pathlib.Path(path).is_dir():
        pathlib.Path(path).unlink()
    else:
        shutil.rmtree(path)


def _kind(info):
    """How the manifest names a file: its size, -1 for a folder, -2 for a link."""
    return (-2 if stat.S_ISLNK(info.st_mode) else -1 if stat.S_ISDIR(info.st_mode) else
            info.st_size)


def _listing(top):
    """Every file and folder below top: relative path: size (a file), -1 (a
    folder) or -2 (a link)."""
    found = {}
    for directory, folders, files in os.walk(top):
        for name in folders + files:
            path = os.path.join(directory, name)
            found[os.path.relpath(path, top)] = _kind(os.lstat(path))
    return found


def _manifest_holds(place):
    """Whether every file listed at the making is there with its size and kind.
    Files that runs add (caches, compiled modules) do not count."""
    try:
        lines = (place / MANIFEST).read_text().splitlines()
    except OSError:
        return False
    top = place / "content"
    for line in lines:
        size, _, path = line.partition(" ")
        try:
            if _kind(os.lstat(top / path)) != int(size):
                return False
        except OSError:
            return False
    return True


def made(place, recipe):
    """Whether the entry at place is whole and of this recipe."""
    try:
        marker = json.loads((place / MARKER).read_text())
    except (OSError, ValueError):
        return False
    return marker.get("recipe") == recipe and _manifest_holds(place)


def _write_last(path, text):
    """Writes a file whole or not at all, and on the disk before it counts."""
    partial = path.with_suffix(".partial")
    with open(partial, "w") as written:
        written.write(text)
        written.flush()
        os.fsync(written.fileno())
    partial.rename(path)


def _lock(path, mode):
    handle = open(path, "a")
    fcntl.flock(handle, mode)
    return handle


def _prune(name, keep):
    """Deletes the entries of name other than keep that no run holds."""
    for other in CACHE.glob(name + "-*"):
        if other == keep or not other.is_dir() or other.name[len(name) + 1:].count("-"):
            continue
        with open(other.with_suffix(".lock"), "a") as handle:
            try:
                fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                continue
            remove(other)
            print("cache: deleted %s, of another recipe" % other.name, flush=True)


def _make(name, recipe, place, maker):
    (place / MARKER).unlink(missing_ok=True)
    remove(place / "content")
    partial = place / "partial"
    remove(partial)
    partial.mkdir(parents=True)
    maker(partial)
    listing = _listing(partial)
    (place / MANIFEST).write_text("".join("%d %s\n" % (listing[p], p) for p in sorted(listing)))
    partial.rename(place / "content")
    _write_last(place / MARKER, json.dumps({"recipe": recipe}, indent=1, sort_keys=True))
    _prune(name, place)


@contextlib.contextmanager
def entry(name, recipe, maker):
    """The entry's content while in the block, made first with maker(FOLDER)
    unless it is made; held shared for the block."""
    place = folder(name, recipe)
    place.mkdir(parents=True, exist_ok=True)
    # What a run chroots into as root must be what this user made.
    for mine in (CACHE, place):
        owner = os.stat(mine)
        if owner.st_uid != os.geteuid() or owner.st_mode & 0o022:
            raise Failed("%s can be written by another user: not used" % mine)
    with _lock(place.with_suffix(".lock"), fcntl.LOCK_SH) as handle:
        if not made(place, recipe):
            fcntl.flock(handle, fcntl.LOCK_EX)
            if not made(place, recipe):
                if any((place / part).exists() for part in ("content", "partial", MARKER)):
                    print("cache: %s is not whole: made again" % place.name, flush=True)
                _make(name, recipe, place, maker)
            fcntl.flock(handle, fcntl.LOCK_SH)
        yield place / "content"


def remove_all():
    """Deletes every entry, each once no run holds it, and what else the cache
    keeps (clang-tidy's passed sources)."""
    for lock in sorted(CACHE.glob("*.lock")):
        with _lock(lock, fcntl.LOCK_EX):
            remove(lock.with_suffix(""))
            lock.unlink()
        print("cache: deleted %s" % lock.with_suffix("").name)
    for left in sorted(CACHE.glob("*")):
        remove(left)
        print("cache: deleted %s" % left.name)
    return 0


def list_all():
    for lock in sorted(CACHE.glob("*.lock")):
        place = lock.with_suffix("")
        if not place.exists():  # deleted for a newer recipe
            continue
        try:
            recipe = json.loads((place / MARKER).read_text())["recipe"]
            state = "made" if made(place, recipe) else "not whole"
        except (OSError, ValueError, KeyError):
            state = "not made"
        used = subprocess.run(["du", "-sh", "--one-file-system", str(place)],
                              capture_output=True, text=True).stdout.split()
        print("%s: %s, %s" % (place.name, state, used[0] if used else "empty"))
    return 0


def archive():
    """The Debian archive of this machine's own release, as apt uses it."""
    targets = subprocess.run(
        ["apt-get", "indextargets", "--format", "$(REPO_URI) $(RELEASE) $(TARGET_OF)"],
        capture_output=True, text=True, check=True).stdout.split("\n")
    release = subprocess.run(["sh", "-c", ". /etc/os-release && echo $VERSION_CODENAME"],
                             capture_output=True, text=True, check=True).stdout.strip()
    for line in targets:
        uri, _, rest = line.partition(" ")
        if rest == "%s deb" % release:
            return uri
    raise Failed("apt has no archive for %s here" % release)


def sysroot():
    """The ARM64 sysroot: built by scripts/arm64-sysroot from the source
    archive with the installed clang; build/sysroot links to it."""
    script = TREE / "scripts" / "arm64-sysroot"
    clang = subprocess.run(["clang", "--version"], capture_output=True, text=True).stdout
    recipe = {"script": file_digest(script), "archive": archive(),
              "clang": clang.split("\n")[0]}

    def build(partial):
        if subprocess.run([str(script), "--into", str(partial)]).returncode != 0:
            raise Failed("scripts/arm64-sysroot failed")

    with entry("arm64-sysroot", recipe, build) as made_root:
        link = TREE / "build" / "sysroot" / "aarch64-w64-mingw32"
        link.parent.mkdir(parents=True, exist_ok=True)
        remove(link)
        link.symlink_to(made_root / "aarch64-w64-mingw32")
    return 0


if __name__ == "__main__":
    verbs = {"remove": remove_all, "list": list_all, "sysroot": sysroot}
    try:
        sys.exit(verbs[sys.argv[1]]())
    except (Failed, IndexError, KeyError) as error:
        print("cache:", error if isinstance(error, Failed) else __doc__, file=sys.stderr)
        sys.exit(2)
