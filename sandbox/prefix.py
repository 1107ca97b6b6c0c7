"""The prefix and its runs: Xvfb on a private display, a Wine prefix booted in
the sandbox's folder and kept in one session of the platform for its whole
life, each start of a Windows program held to its limits and noted, and the
traced runs of the program under test. Windows programs run with the 64-bit
loader. Wine's own output goes to files, never to pipes: its background
services inherit it and would hold a pipe open.
"""

import contextlib
import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import time

import sample
import stand_ins
import traces

WINE64 = "/usr/lib/wine/wine64"
FAILED_START = b"failed to map the shared user data"
WINESERVER = "/usr/lib/wine/wineserver"


class Overrun(Exception):
    """A start, or a case, ran past its limit; the message says which."""


def windows_path(path):
    """The Windows form of a host path, through Wine's Z: drive."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def _label(args):
    """What a start runs, for the account: the program's name, or the
    helper's verb."""
    name = pathlib.PureWindowsPath(str(args[0])).name
    return "helper " + args[1] if name == "sandbox_helper.exe" else name


def _command_label(command_line):
    """The name of the program that a command line starts."""
    if command_line.startswith('"'):
        return pathlib.PureWindowsPath(command_line[1:].split('"', 1)[0]).name
    return pathlib.PureWindowsPath(command_line.split(" ", 1)[0]).name


class Prefix:
    def __init__(self, state_dir, build_dir):
        self.state = pathlib.Path(state_dir).resolve()
        self.build = pathlib.Path(build_dir).resolve()
        self.prefix = self.state / "prefix"
        self.helper = self.build / "sandbox_helper.exe"
        self.program = self.build / "Zeltrane.exe"
        # The sample drivers for packages; the 64-bit prefix loads the amd64 one.
        self.drivers = {"amd64": self.build / "sample" / sample.SAMPLE_DRIVER}
        self._runs = 0
        # Where the time goes: (what ran, seconds) of each start of the case
        # under way, and when the case must end (time.monotonic()), if it must.
        self.starts = []
        self.deadline = None

    def env(self, debug="-all", as_64bit_windows=False, plays=()):
        env = stand_ins.environment(dict(os.environ), as_64bit_windows, plays)
        env.update(
            WINEPREFIX=str(self.prefix),
            WINEARCH="win64",
            WINEDLLOVERRIDES="mscoree,mshtml=;" + stand_ins.OVERRIDE,
            WINEDEBUG=debug,
            DISPLAY=(self.state / "display").read_text().strip(),
        )
        return env

    def wine_generation(self):
        """The major version of the Wine that runs the programs: 8, 10, ..."""
        version = subprocess.run([WINE64, "--version"], capture_output=True, text=True).stdout
        return int(re.match(r"wine-(\d+)", version).group(1))

    def _log(self, name, mode="ab"):
        return open(self.state / name, mode)

    def clear(self):
        """Empties the sandbox's folder."""
        shutil.rmtree(self.state, ignore_errors=True)
        self.state.mkdir(parents=True)

    def start(self, boot_timeout=120):
        """Starts Xvfb and boots a new prefix in the sandbox's folder."""
        self._start_display()
        self._boot(boot_timeout)

    def _start_display(self):
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,),
            stdin=subprocess.DEVNULL,
            stdout=self._log("xvfb.log"),
            stderr=subprocess.STDOUT,
            start_new_session=True,
        )
        os.close(write_end)
        # Xvfb writes the number and the line feed separately, and exits if
        # the pipe is closed before it has written both.
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([read_end], [], [], 1)
            chunk = os.read(read_end, 64) if ready else b""
            if ready and not chunk:
                break
            number += chunk
        os.close(read_end)
        number = number.decode().strip()
        if not number:
            xvfb.kill()
            raise RuntimeError("Xvfb did not start: see %s" % (self.state / "xvfb.log"))
        (self.state / "xvfb.pid").write_text(str(xvfb.pid))
        (self.state / "display").write_text(":" + number)

    def _boot(self, boot_timeout):
        # The boot ends when the programs it started have ended too.
        began = time.monotonic()
        self.wine(["wineboot", "--init"], timeout=boot_timeout)
        try:
            subprocess.run([WINESERVER, "-w"], env=self.env(),
                           timeout=max(boot_timeout - (time.monotonic() - began), 1),
                           stdout=self._log("wine.log"), stderr=subprocess.STDOUT)
        except subprocess.TimeoutExpired:
            raise Overrun("the boot's programs had not ended at its limit of %d s" % boot_timeout)
        self.starts[-1] = ("boot", time.monotonic() - began)
        # One session of the platform for the sandbox's life: a wineserver
        # ends a few seconds after its last program, and the drivers it hosts
        # with it; the next start would begin a new session that starts them
        # again, in its own time, while a case reads their state.
        subprocess.run([WINESERVER, "-p"], env=self.env(), timeout=30,
                       stdout=self._log("wine.log"), stderr=subprocess.STDOUT)

    def wine(self, args, debug="-all", timeout=90, cwd=None, stderr_name=None,
             as_64bit_windows=False, label=None, plays=()):
        """Runs a Windows program; returns its standard output as text. Its
        standard error goes to the named file, or is added to wine.log.
        as_64bit_windows: it and the programs it starts see the prefix as
        64-bit Windows, which refuses device installation to 32-bit ones;
        plays: what else they see (stand_ins.PLAYS' names). The start
        is noted in `starts` under label (by default, what it runs); it may
        take timeout seconds, and no longer than the case's deadline."""
        out = self.state / ("out-%s.txt" % self._next())
        errors = self.state / (stderr_name or "wine.log")
        label = label or _label(args)
        began = time.monotonic()
        for _ in range(3):
            start = errors.stat().st_size if stderr_name is None and errors.exists() else 0
            limit = timeout
            if self.deadline is not None:
                limit = min(limit, max(self.deadline - time.monotonic(), 1))
            with open(out, "wb") as stdout, open(errors, "wb" if stderr_name else "ab") as stderr:
                try:
                    subprocess.run([WINE64] + [str(a) for a in args],
                                   env=self.env(debug, as_64bit_windows, plays), cwd=cwd,
                                   stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                   timeout=limit)
                except subprocess.TimeoutExpired:
                    whose = "its own" if limit == timeout else "the case's"
                    raise Overrun("the start of %s was stopped at %s limit, after %.0f s" % (
                        label, whose, time.monotonic() - began))
            with open(errors, "rb") as stderr:
                stderr.seek(start)
                # Now and then the address of the shared user data is taken
                # before Wine maps it, and the program never starts: start it
                # again.
                if FAILED_START not in stderr.read():
                    break
        self.starts.append((label, time.monotonic() - began))
        return out.read_text(encoding="utf-8", errors="replace")

    def _next(self):
        """A name for files of one start, unique across the processes that
        share the sandbox."""
        self._runs += 1
        return "%d-%d" % (os.getpid(), self._runs)

    def run(self, command_line, cwd=None, as_64bit_windows=False, unseen=False, plays=()):
        """Starts a program with this exact command line, traced; unseen: on
        a desktop of a window station that is not visible, where no one can
        answer a window; plays: what else the run plays (stand_ins.PLAYS)."""
        n = self._next()
        files = {name: self.state / ("run-%s.%s" % (n, name))
                 for name in ("cmd", "out", "err", "trace")}
        files["cmd"].write_text(command_line, encoding="utf-8")
        stand_ins.clear_records(self.prefix)
        report = self.wine(
            [self.helper, "run-unseen" if unseen else "run"]
            + [windows_path(files[k]) for k in ("cmd", "out", "err")],
            debug="trace+setupapi",
            timeout=630,
            cwd=cwd,
            stderr_name=files["trace"].name,
            as_64bit_windows=as_64bit_windows,
            label=_command_label(command_line),
            plays=plays,
        )
        return traces.Run(report, files["trace"].read_text(encoding="utf-8", errors="replace"),
                          files["out"].read_bytes(), files["err"].read_bytes(),
                          stand_ins.answered(self.prefix))

    @contextlib.contextmanager
    def hold(self, path):
        """A file of the prefix (a host path) held open with no sharing by a
        process of its own, as a user who may read it could, while the
        block runs."""
        out = self.state / ("hold-%s.txt" % self._next())
        with open(out, "wb") as stdout, open(self.state / "wine.log", "ab") as stderr:
            holder = subprocess.Popen([WINE64, self.helper, "hold", windows_path(path)],
                                      env=self.env(), stdin=subprocess.DEVNULL,
                                      stdout=stdout, stderr=stderr)
        try:
            limit = time.monotonic() + 60
            while b"held=" not in out.read_bytes():
                if holder.poll() is not None or time.monotonic() > limit:
                    raise RuntimeError("cannot hold %s: %s" % (path, out.read_text()))
                time.sleep(0.2)
            yield
        finally:
            self.wine([self.helper, "release"])
            holder.wait(timeout=60)

    def restart(self):
        """What a restart of Windows does to files, as Wine's wineboot plays
        it: the deletions and moves left to it."""
        self.wine(["wineboot", "-r"])

    def program_command(self, *arguments, program=None):
        """A command line that starts the program (quoted) with raw arguments."""
        return " ".join(['"%s"' % windows_path(program or self.program)] + list(arguments))

    def system_file(self, *parts):
        """The host path of a file under C:\\windows\\system32."""
        return self.prefix.joinpath("drive_c", "windows", "system32", *parts)

    def program_files(self, *parts):
        """The host path of a folder under C:\\Program Files (x86), where
        32-bit setups install."""
        return self.prefix.joinpath("drive_c", "Program Files (x86)", *parts)

    def inf_store(self):
        """The INF files in the platform's INF store, by name."""
        return {p.name: p.read_bytes() for p in (self.prefix / "drive_c/windows/inf").glob("*.inf")}

    def staged_catalogs(self):
        """The folder where the platform keeps staged packages' catalogs,
        oemNN.cat beside oemNN.inf (Wine names it in lower case)."""
        [folder] = [f for f in self.system_file("catroot").iterdir()
                    if f.name.upper() == "{F750E6C3-38EE-11D1-85E5-00C04FC295EE}"]
        return folder

    def package_store(self):
        """Every trace of staged packages: the INF store's INF files by name
        (their bytes), its PNF files' names, and the driver store's folders
        (Wine 10 keeps one per package; Wine 8 has none)."""
        inf = self.prefix / "drive_c/windows/inf"
        repository = self.system_file("driverstore", "filerepository")
        return {"inf": self.inf_store(),
                "pnf": sorted(p.name for p in inf.glob("*.pnf")),
                "repository": sorted(p.name for p in repository.glob("*"))}

    def stop(self):
        """Ends Wine and Xvfb and removes the prefix; returns what was left."""
        if self.prefix.exists() and (self.state / "display").exists():
            subprocess.run([WINESERVER, "-k"], env=self.env(), timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        pid_file = self.state / "xvfb.pid"
        if pid_file.exists():
            pid = int(pid_file.read_text())
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            for _ in range(50):
                if not pid_exists(pid):
                    break
                time.sleep(0.1)
        shutil.rmtree(self.prefix, ignore_errors=True)
        left = []
        for _ in range(50):
            left = processes_using(str(self.prefix))
            if pid_file.exists() and pid_exists(int(pid_file.read_text())):
                left.append("Xvfb")
            if not left:
                break
            time.sleep(0.1)
        return left


def pid_exists(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def processes_using(prefix):
    """Processes whose environment names this Wine prefix."""
    found = []
    marker = ("WINEPREFIX=" + prefix).encode() + b"\0"
    for entry in pathlib.Path("/proc").iterdir():
        if not entry.name.isdigit() or int(entry.name) == os.getpid():
            continue
        try:
            if marker in (entry / "environ").read_bytes() + b"\0":
                found.append((entry / "comm").read_text().strip())
        except OSError:
            pass
    return found
