"""A throwaway Windows platform: a Wine prefix on a private X display.

Used by the end-to-end tests and the demo. Windows programs run with the
64-bit loader; the sandbox helper (sandbox/helper.cpp) starts Zeltrane.exe with
a raw command line, reads and dismisses its message boxes, creates simulated
devices and reads their driver. Wine's own output goes to files, never to
pipes: its background services inherit it and would hold a pipe open.
"""

import os
import pathlib
import re
import select
import shutil
import signal
import subprocess
import time

WINE64 = "/usr/lib/wine/wine64"
FAILED_START = b"failed to map the shared user data"
WINESERVER = "/usr/lib/wine/wineserver"

# The example device and driver package of the project: the INF, and the
# driver that each Windows build makes, in the folder the INF names for it.
SAMPLE_HARDWARE_ID = "PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000"
SAMPLE_INF = pathlib.Path(__file__).resolve().parent.parent / "examples" / "zt-sample.inf"
SAMPLE_DRIVER = "zt-sample.sys"
SAMPLE_SERVICE = "ztsample"
SAMPLE_DISPLAY_NAME = "Zeltrane sample driver"
SAMPLE = (SAMPLE_HARDWARE_ID, SAMPLE_SERVICE, SAMPLE_DRIVER)
# The same package for a device of its own, with a driver service and file of
# its own: a case that must see this install start the driver uses it, since
# the platform does not restart a driver that another case already started.
SAMPLE_OWN_DEVICE = ("PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000001", "ztsample1", "zt-sample1.sys")

# Every program loads the sandbox's newdev stand-in (sandbox/newdev.cpp; see
# add_stand_ins), which gives the platform's documented answers where Wine
# gives others. Wine never refuses device installation to 32-bit programs,
# as 64-bit Windows does: in a run that plays 64-bit Windows, with this in
# its environment, the 32-bit stand-in refuses them with ERROR_IN_WOW64.
STAND_IN = "newdev=n,b"
AS_64BIT_WINDOWS = ("ZELTRANE_SANDBOX_WINDOWS", "64")
# The calls that the stand-in answers itself, which Wine does not trace: it
# records each in C:\windows\temp, one line of its arguments.
STAND_IN_RECORDS = {"refused": "wow64-newdev.txt", "no_device": "newdev-no-device.txt"}


def write_sample_package(inf_path, drivers, note="", identity=SAMPLE, line=()):
    """Writes the sample package with its INF at inf_path, with a note added
    to tell it from others in the INF store; drivers: {architecture: build
    output} ("x86", "amd64", "arm64"); identity: (hardware ID, service,
    driver file); line: further hardware IDs that the INF's models install
    the same way, as a product line's package does."""
    inf_path = pathlib.Path(inf_path)
    inf_path.parent.mkdir(parents=True, exist_ok=True)
    inf = SAMPLE_INF.read_bytes() + note.encode()
    if "amd64" not in drivers and "arm64" in drivers:
        # Wine 8 reads only the undecorated [SourceDisksFiles], whatever its
        # architecture; under ARM64 Wine it must name the ARM64 driver.
        wine_section = b"[SourceDisksFiles]\nzt-sample.sys = 1, "
        if wine_section + b"amd64" not in inf:
            raise RuntimeError("the sample INF's undecorated [SourceDisksFiles] has changed")
        inf = inf.replace(wine_section + b"amd64", wine_section + b"arm64")
    # A service's display name is unique too.
    names = [(SAMPLE_DISPLAY_NAME, "%s (%s)" % (SAMPLE_DISPLAY_NAME, identity[1]))]
    for sample, own in list(zip(SAMPLE, identity)) + (names if identity != SAMPLE else []):
        inf = inf.replace(sample.encode(), own.encode())
    model = b"%DeviceDesc% = SampleInstall, " + identity[0].encode() + b"\n"
    if line and model not in inf:
        raise RuntimeError("the sample INF's model lines have changed")
    inf = inf.replace(model, model + b"".join(b"%DeviceDesc% = SampleInstall, " + other.encode()
                                              + b"\n" for other in line))
    inf_path.write_bytes(inf)
    for architecture, driver in drivers.items():
        (inf_path.parent / architecture).mkdir(exist_ok=True)
        shutil.copyfile(driver, inf_path.parent / architecture / identity[2])
    return inf_path


def windows_path(path):
    """The Windows form of a host path, through Wine's Z: drive."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def dbgstr(text):
    """A string as Wine's traces print it (wine_dbgstr_w)."""
    escapes = {"\n": "\\n", "\r": "\\r", "\t": "\\t", '"': '\\"', "\\": "\\\\"}
    units = text.encode("utf-16-le")
    out = []
    for i in range(0, len(units), 2):
        unit = int.from_bytes(units[i:i + 2], "little")
        char = chr(unit)
        if char in escapes:
            out.append(escapes[char])
        elif unit < 0x20 or unit >= 0x7F:
            out.append("\\%04x" % unit)
        else:
            out.append(char)
    return 'L"' + "".join(out) + '"'


def _unescape(value):
    out, i = [], 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            out.append({"n": "\n", "t": "\t"}.get(value[i + 1], value[i + 1]))
            i += 2
        else:
            out.append(value[i])
            i += 1
    return "".join(out)


class TraceFormatError(Exception):
    """A trace line of an install call in a form the sandbox does not know."""


# The install calls, and how each Wine generation traces their arguments: one
# pattern per form, with {S} a string, {P} a pointer, {N} a number (decimal,
# or hex with 0x). A trace line of these functions that fits no form, and is
# none of their notes, stops the run: a call must never pass unseen.
INSTALL_CALLS = {
    "SetupCopyOEMInfW": [
        # Wine 8
        "(?P<source>{S}), (?P<location>{S}), (?P<media_type>{N}), (?P<style>{N}), "
        "(?P<dest>{P}), (?P<buffer_size>{N}), (?P<required_size>{P}), (?P<filepart>{P})",
        # Wine 10
        "source (?P<source>{S}), location (?P<location>{S}), media_type (?P<media_type>{N}), "
        "style (?P<style>{N}), dest (?P<dest>{P}), buffer_size (?P<buffer_size>{N}), "
        r"required_size (?P<required_size>{P}), filepart (?P<filepart>{P})\.",
    ],
    "UpdateDriverForPlugAndPlayDevicesW": [
        # Wine 8 and Wine 10
        "parent (?P<parent>{P}), hardware_id (?P<hardware_id>{S}), inf_path (?P<inf_path>{S}), "
        r"flags (?P<flags>{N}), reboot (?P<reboot>{P})\.",
    ],
}
# What the calls trace besides their arguments.
INSTALL_CALL_NOTES = {
    "SetupCopyOEMInfW": [r"Found existing INF {S}\."],
    "UpdateDriverForPlugAndPlayDevicesW": [],
}
_TOKENS = {"S": r'(?:L"(?:[^"\\]|\\.)*"|\(null\))', "P": "[0-9A-F]{8}(?:[0-9A-F]{8})?",
           "N": "(?:0x[0-9a-f]+|[0-9]+)"}


def _compile(form):
    """The pattern of a form, and the kind of each of its arguments."""
    kinds = dict(re.findall(r"\(\?P<(\w+)>\{(\w)\}\)", form))
    return re.compile(form.format(**_TOKENS) + "$"), kinds


_CALL_FORMS = {f: [_compile(form) for form in forms] for f, forms in INSTALL_CALLS.items()}
_NOTE_FORMS = {f: [_compile(form)[0] for form in forms] for f, forms in INSTALL_CALL_NOTES.items()}
_TRACE_LINE = re.compile(r"(?:^|:)trace:\w+:(%s) (.*)$" % "|".join(INSTALL_CALLS))


def undbgstr(text):
    """The string that Wine's traces print as text (wine_dbgstr_w), or None."""
    if text == "(null)":
        return None
    out, body, i = [], text[2:-1], 0
    while i < len(body):
        if body[i] != "\\":
            out.append(body[i])
            i += 1
        elif body[i + 1] in "nrt\"\\":
            out.append({"n": "\n", "r": "\r", "t": "\t"}.get(body[i + 1], body[i + 1]))
            i += 2
        else:
            out.append(chr(int(body[i + 1:i + 5], 16)))
            i += 5
    return "".join(out)


def _argument(kind, text):
    if kind == "S":
        return undbgstr(text)
    # A pointer stays as printed: its digits tell a 32-bit caller from a 64-bit one.
    return text if kind == "P" else int(text, 0)


def install_calls(trace):
    """(function, {argument: value}) of every install call in a trace, in
    order: strings as text (None for null), numbers as numbers, pointers as
    Wine prints them. Raises TraceFormatError for a line it cannot read."""
    calls = []
    for line in trace.splitlines():
        found = _TRACE_LINE.search(line)
        if not found:
            continue
        function, rest = found.groups()
        parsed = [(p.match(rest), kinds) for p, kinds in _CALL_FORMS[function]]
        parsed = [(match, kinds) for match, kinds in parsed if match]
        if parsed:
            match, kinds = parsed[0]
            calls.append((function, {name: _argument(kinds[name], value)
                                     for name, value in match.groupdict().items()}))
        elif not any(p.match(rest) for p in _NOTE_FORMS[function]):
            raise TraceFormatError("a trace line of %s in a form this sandbox does not know: %s"
                                   % (function, line))
    return calls


class Run:
    """What one start of a program showed and did."""

    def __init__(self, report, trace, stdout, stderr, answered=None):
        """answered: the calls that the newdev stand-in answered itself, by
        STAND_IN_RECORDS' names: lines of their arguments."""
        answered = answered or {}
        self.refused = answered.get("refused", [])
        self.no_device = answered.get("no_device", [])
        self.boxes = []
        self.fields = {}
        for line in report.splitlines():
            key, _, value = line.partition("=")
            value = _unescape(value)
            if key.startswith("box."):
                if key == "box.caption":
                    self.boxes.append({})
                self.boxes[-1][key[4:]] = value
            else:
                self.fields[key] = value
        self.exit_code = int(self.fields["exit"]) if self.fields.get("exit", "").isdigit() else None
        self.desktop = int(self.fields.get("desktop", "0x0"), 16)
        self.stdout = stdout
        self.stderr = stderr
        self.calls = install_calls(trace)

    def program_calls(self):
        """The calls the program made itself: the update call makes copy calls
        of its own, so copies after the first update are the platform's."""
        calls = []
        for function, arguments in self.calls:
            if function == "SetupCopyOEMInfW" and any(f != function for f, _ in calls):
                continue
            calls.append((function, arguments))
        return calls


class Overrun(Exception):
    """A start, or a case, ran past its limit; the message says which."""


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


class Sandbox:
    def __init__(self, state_dir, build_dir):
        self.state = pathlib.Path(state_dir).resolve()
        self.build = pathlib.Path(build_dir).resolve()
        self.prefix = self.state / "prefix"
        self.helper = self.build / "sandbox_helper.exe"
        self.program = self.build / "Zeltrane.exe"
        # The sample drivers for packages; the 64-bit prefix loads the amd64 one.
        self.drivers = {"amd64": self.build / "sample" / SAMPLE_DRIVER}
        self._runs = 0
        # Where the time goes: (what ran, seconds) of each start of the case
        # under way, and when the case must end (time.monotonic()), if it must.
        self.starts = []
        self.deadline = None

    def env(self, debug="-all", as_64bit_windows=False):
        env = dict(os.environ)
        env.pop(AS_64BIT_WINDOWS[0], None)
        if as_64bit_windows:
            env[AS_64BIT_WINDOWS[0]] = AS_64BIT_WINDOWS[1]
        env.update(
            WINEPREFIX=str(self.prefix),
            WINEARCH="win64",
            WINEDLLOVERRIDES="mscoree,mshtml=;" + STAND_IN,
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
             as_64bit_windows=False, label=None):
        """Runs a Windows program; returns its standard output as text. Its
        standard error goes to the named file, or is added to wine.log.
        as_64bit_windows: it and the programs it starts see the prefix as
        64-bit Windows, which refuses device installation to 32-bit ones. The start
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
                                   env=self.env(debug, as_64bit_windows), cwd=cwd,
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

    def add_device(self, *hardware_ids):
        """A simulated device for each hardware ID, in one start."""
        report = self.wine([self.helper, "add-device", *hardware_ids])
        if report.count("device=") != len(hardware_ids):
            raise RuntimeError("cannot create the devices: " + report)

    def driver(self, hardware_id, *values):
        """The driver of each device with the hardware ID: a list of dicts."""
        devices = []
        for line in self.wine([self.helper, "driver", hardware_id, *values]).splitlines():
            key, _, value = line.partition("=")
            if key == "device":
                devices.append({})
            if key != "devices":
                devices[-1][key] = _unescape(value)
        return devices

    def _fields(self, *arguments):
        """The helper's key=value lines for a command: a dict."""
        fields = {}
        for line in self.wine([self.helper, *arguments]).splitlines():
            key, _, value = line.partition("=")
            fields[key] = _unescape(value)
        return fields

    def service(self, name, *values):
        """The service's state, configuration and Parameters values: a dict."""
        return self._fields("service", name, *values)

    def product(self, name):
        """What the platform records of an installed program: its Windows
        Installer state (msi.state) when name is a product code, and its
        entry among the installed programs (uninstall.*): a dict."""
        return self._fields("product", name)

    def add_stand_ins(self, stand_ins):
        """Puts the newdev stand-ins in place of Wine's newdev.dll, keeping
        Wine's own beside each as wine-newdev.dll, for the stand-in to call;
        stand_ins: {system folder ("system32", "syswow64"): the stand-in of
        that folder's architecture (build/<preset>/stand-in/newdev.dll)}."""
        for folder, stand_in in stand_ins.items():
            system = self.prefix / "drive_c" / "windows" / folder
            if not (system / "wine-newdev.dll").exists():
                shutil.copyfile(system / "newdev.dll", system / "wine-newdev.dll")
            shutil.copyfile(stand_in, system / "newdev.dll")

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

    def run(self, command_line, cwd=None, as_64bit_windows=False):
        """Starts a program with this exact command line, traced."""
        n = self._next()
        files = {name: self.state / ("run-%s.%s" % (n, name))
                 for name in ("cmd", "out", "err", "trace")}
        files["cmd"].write_text(command_line, encoding="utf-8")
        records = {name: self.prefix / "drive_c" / "windows" / "temp" / record
                   for name, record in STAND_IN_RECORDS.items()}
        for record in records.values():
            record.unlink(missing_ok=True)
        report = self.wine(
            [self.helper, "run"] + [windows_path(files[k]) for k in ("cmd", "out", "err")],
            debug="trace+setupapi",
            timeout=630,
            cwd=cwd,
            stderr_name=files["trace"].name,
            as_64bit_windows=as_64bit_windows,
            label=_command_label(command_line),
        )
        answered = {name: record.read_text(encoding="utf-8").splitlines()
                    for name, record in records.items() if record.exists()}
        return Run(report, files["trace"].read_text(encoding="utf-8", errors="replace"),
                   files["out"].read_bytes(), files["err"].read_bytes(), answered)

    def program_command(self, *arguments, program=None):
        """A command line that starts the program (quoted) with raw arguments."""
        return " ".join(['"%s"' % windows_path(program or self.program)] + list(arguments))

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
