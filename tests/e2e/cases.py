"""The shared base of the end-to-end cases: what the program shows and
returns, the limits of each case, the suite's sandbox and inputs (`suite`,
set by test_e2e.py before the cases run), the account of each case's time,
and Case, whose assertions and checks the groups of cases share."""

import pathlib
import shutil
import sys
import time
import types
import unittest
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "sandbox"))
from prefix import windows_path  # noqa: E402
import sample  # noqa: E402

USAGE_TEXT = (
    "Zeltrane.exe <full INF path> <device ID string>\n"
    "\n"
    "\t<full INF path>\n"
    "\t\tThe fully qualified path and name of the INF file to install\n"
    "\t<device ID string>\n"
    '\t\tThe device ID string (eg "PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000")\n'
)
IDOK = "1"
ERROR_FILE_NOT_FOUND = 2
ERROR_EXPECTED_SECTION_NAME = 0xE0000000
ERROR_BAD_ARGUMENTS = 160
ERROR_IN_WOW64 = 0xE0000235
ERROR_NO_SUCH_DEVINST = 0xE000020B
# What a program ends with where a restart must finish its work.
ERROR_SUCCESS_REBOOT_REQUIRED = 3010
# The devices' states that the cases play (Devices.play_device_state):
# (DevNodeStatus, ProblemCode, what the programs end with), named by what
# Windows reports. DN_STARTED 0x8, DN_NEED_RESTART 0x100, DN_HAS_PROBLEM 0x400.
DEVICE_STATES = {
    "restart needed": (0x108, 0, ERROR_SUCCESS_REBOOT_REQUIRED),
    "driver still in memory (code 38)": (0x400, 38, ERROR_SUCCESS_REBOOT_REQUIRED),
    "cannot start (code 10)": (0x400, 10, 0x2000000A),
    "signature not verified (code 52)": (0x400, 52, 0x20000034),
    "disabled (code 22)": (0x400, 22, 0),
}
# What NSIS setups of the template end with when Zeltrane.exe cannot start.
SETUP_NOT_STARTED = 1603
# What msiexec ends with when the custom action fails the installation:
# ERROR_INSTALL_FAILURE, which the custom action DLL returns, as on Windows.
# (1.3.0's action, which ran Zeltrane.exe itself, got 1627 from Wine 8 and 10.)
MSI_FAILURE = 1603
INSTALLSTATE_DEFAULT, INSTALLSTATE_UNKNOWN = "5", "-1"

# How long a suite's boot and each case may take, by how this machine starts
# the programs that are not its own (32-bit x86 ones beside x86-64 Wine; all
# of them under ARM64 Wine). Measured: a boot takes about 20 s natively and
# 25 s through Debian 13's QEMU (ARM64 Wine's too), a case at most 10 s;
# Debian 12's QEMU took some 50 s for each 32-bit start. The limits leave
# room for a machine several times slower, and stop an emulator gone slow.
LIMITS = {"native": {"boot": 120, "case": 60}, "qemu": {"boot": 240, "case": 120}}

# The suite's sandbox, how this machine starts the platform's foreign
# programs ("native" or "qemu"), the digits of the program's pointers, and for
# the 32-bit suite the release package and the setups built around it.
suite = types.SimpleNamespace(sandbox=None, route="native", pointer_digits=16, release_zip=None,
                              setups=None)


def release_files(names):
    """The named files of the release package, by their path inside its top
    folder: {path: bytes}."""
    with zipfile.ZipFile(suite.release_zip) as package:
        return {entry.split("/", 1)[1]: package.read(entry) for entry in package.namelist()
                if entry.split("/", 1)[1] in names}


# A hardware ID that no device of any sandbox has, with a driver service and
# file of its own, so that anything installed for it would show.
NO_DEVICE = ("PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000009", "ztsample9", "zt-sample9.sys")


def update_line(run, inf_path, hardware_id):
    """A call to the update, as the newdev stand-in records the calls that
    it answers itself (Run.refused, Run.no_device)."""
    return ("parent=0x%X hardware_id=%s inf_path=%s flags=0x1 reboot=0x0"
            % (run.desktop, hardware_id, inf_path))


def null_pointer(digits=None):
    return "0" * (digits or suite.pointer_digits)


def account(name, seconds, starts, limit):
    """One line of where a case's time went: in all, and by what it started."""
    totals = {}
    for label, taken in starts:
        count, sum_ = totals.get(label, (0, 0.0))
        totals[label] = (count + 1, sum_ + taken)
    parts = ["%s%s %.1f s" % (label, " x%d" % count if count > 1 else "", taken)
             for label, (count, taken) in sorted(totals.items(), key=lambda t: -t[1][1])]
    line = "%s: %.1f s (limit %d s), %d start%s: %s" % (
        name, seconds, limit, len(starts), "" if len(starts) == 1 else "s",
        ", ".join(parts) or "none")
    with open(suite.sandbox.state / "account.txt", "a", encoding="utf-8") as out:
        out.write(line + "\n")
    print(line)
    return line


class Case(unittest.TestCase):
    def setUp(self):
        self.limit = LIMITS[suite.route]["case"]
        self.began = time.monotonic()
        suite.sandbox.starts = []
        suite.sandbox.deadline = self.began + self.limit

    def tearDown(self):
        suite.sandbox.deadline = None
        seconds = time.monotonic() - self.began
        line = account(self.id().split(".", 1)[1], seconds, suite.sandbox.starts, self.limit)
        if seconds > self.limit:
            self.fail("the case ran past its limit (%s): %s" % (suite.route, line))

    def run_program(self, *arguments, program=None, cwd=None):
        command = suite.sandbox.program_command(*arguments, program=program)
        return suite.sandbox.run(command, cwd=cwd)

    def package(self, folder="pkg", name="zt-sample.inf", note="", identity=sample.SAMPLE):
        """A copy of the sample driver package, with a note added to tell it
        from the others in the INF store; returns the INF's path."""
        return sample.write_sample_package(suite.sandbox.state / folder / name,
                                           suite.sandbox.drivers, note, identity)

    def sample_driver_records(self, identity=sample.SAMPLE):
        """What the sample driver recorded, and its service's state: a dict."""
        hardware_id, service, _ = identity
        [device] = suite.sandbox.driver(hardware_id, "hw:AddDevice", "hw:StartDevice",
                                        "hw:StartDeviceStatus")
        records = suite.sandbox.service(service, "DriverEntry")
        records.update(device)
        return records

    def assertSampleDriverRuns(self, before, after, identity=sample.SAMPLE):
        """The prefix's native sample driver (amd64, whichever image installed
        it, or arm64 under ARM64 Wine) was copied, registered as a kernel
        service that runs, loaded again and started on the device since
        `before`."""
        installed = suite.sandbox.system_file("drivers", identity[2])
        self.assertTrue(installed.is_file(), "driver file in system32\\drivers")
        native = suite.sandbox.drivers["arm64" if "arm64" in suite.sandbox.drivers else "amd64"]
        self.assertEqual(installed.read_bytes(), native.read_bytes())
        self.assertEqual(after["service.state"], "RUNNING")
        self.assertEqual([after["service.type"], after["service.start"],
                          after["service.error_control"]], ["1", "3", "1"])
        self.assertTrue(after["service.binary"].lower().endswith("\\drivers\\" + identity[2]),
                        after["service.binary"])

        def count(records, name):
            return 0 if records[name] == "(none)" else int(records[name])

        # A later session of the platform starts the driver again, so a
        # record proves this run only by having grown since before it.
        for name in ("parameters.DriverEntry", "hw.AddDevice", "hw.StartDevice"):
            self.assertGreater(count(after, name), count(before, name), name)
        self.assertEqual(after["hw.StartDeviceStatus"], "0", "START_DEVICE succeeded")

    def assertInstallCalls(self, run, inf_path, hardware_id):
        """One copy, then one forced update, with exactly the fixed arguments:
        Wine's update traces it, but where no present device has the ID the
        newdev stand-in answers for it and records it."""
        calls = run.program_calls()
        if run.no_device:
            self.assertEqual([f for f, _ in calls], ["SetupCopyOEMInfW"])
            self.assertEqual(run.no_device, [update_line(run, inf_path, hardware_id)])
        else:
            self.assertEqual([f for f, _ in calls],
                             ["SetupCopyOEMInfW", "UpdateDriverForPlugAndPlayDevicesW"])
            self.assertUpdateCall(calls[1], run, inf_path, hardware_id)
        self.assertCopyCall(calls[0], inf_path)

    def assertCopyCall(self, call, inf_path, digits=None):
        """SPOST_PATH, no style flag, no place for the copy's name."""
        null = null_pointer(digits)
        self.assertEqual(call[1], {"source": inf_path, "location": None, "media_type": 1,
                                   "style": 0, "dest": null, "buffer_size": 0,
                                   "required_size": null, "filepart": null})

    def assertUpdateCall(self, call, run, inf_path, hardware_id, digits=None):
        arguments = dict(call[1])
        parent = arguments.pop("parent")
        self.assertEqual(int(parent, 16), run.desktop, "parent is the desktop window")
        self.assertEqual(len(parent), digits or suite.pointer_digits)
        self.assertEqual(arguments, {"hardware_id": hardware_id, "inf_path": inf_path,
                                     "flags": 1, "reboot": null_pointer(digits)},
                         "INSTALLFLAG_FORCE and no other flag, no restart indicator")

    def assertSilent(self, run):
        self.assertEqual(run.boxes, [])
        self.assertEqual(run.stdout, b"")
        self.assertEqual(run.stderr, b"")

    def assertUsage(self, run):
        self.assertEqual(len(run.boxes), 1, run.fields)
        box = run.boxes[0]
        self.assertEqual(box["caption"], "Program Usage")
        self.assertEqual(box["text"], USAGE_TEXT)
        self.assertEqual(box["buttons"], IDOK)
        self.assertEqual(box["icons"], "0")
        self.assertEqual(int(box["owner"], 16), 0)
        self.assertEqual(run.exit_code, ERROR_BAD_ARGUMENTS)
        self.assertEqual(run.calls, [], "no install call")

    def assertFailsWith(self, run, inf_path, hardware_id, exit_code):
        self.assertInstallCalls(run, inf_path, hardware_id)
        self.assertSilent(run)
        self.assertEqual(run.exit_code, exit_code)

    def install_sample(self):
        """The sample package onto the simulated adapter, with the fixed
        calls, silent, exit 0; returns the INF and the driver's records from
        before the run."""
        inf = self.package()
        before = self.sample_driver_records()
        run = self.run_program('"%s"' % windows_path(inf), sample.SAMPLE_HARDWARE_ID)
        self.assertInstallCalls(run, windows_path(inf), sample.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)
        return inf, before

    def check_install(self, driver_runs=True):
        """The sample package installed, and, unless told otherwise, the
        sample driver running on the adapter."""
        inf, before = self.install_sample()
        devices = suite.sandbox.driver(sample.SAMPLE_HARDWARE_ID, "SampleDriverMark")
        self.assertEqual(len(devices), 1)
        self.assertEqual(devices[0]["driver.SampleDriverMark"], "installed from zt-sample.inf")
        self.assertIn(inf.read_bytes(), suite.sandbox.inf_store().values(),
                      "INF staged in the store")
        if driver_runs:
            self.assertSampleDriverRuns(before, self.sample_driver_records())

    def check_renamed_copy(self):
        """A copy of the program under another name still shows Zeltrane's
        usage."""
        renamed = suite.sandbox.state / "setup-helper.exe"
        shutil.copyfile(suite.sandbox.program, renamed)
        self.assertUsage(self.run_program(program=renamed))

    def assertStagedNotInstalled(self, run, inf, identity=NO_DEVICE):
        """Where no present device has the ID, as Windows answers: the
        program's exit code is ERROR_NO_SUCH_DEVINST, the package is staged
        in the store, and nothing is installed: no device, no driver service,
        no driver file."""
        self.assertEqual(run.exit_code, ERROR_NO_SUCH_DEVINST)
        self.assertSilent(run)
        self.assertIn(inf.read_bytes(), suite.sandbox.inf_store().values(), "staged in the store")
        self.assertEqual(suite.sandbox.driver(identity[0]), [], "no device has the ID")
        self.assertNotIn("service.state", suite.sandbox.service(identity[1]), "no driver service")
        self.assertFalse(suite.sandbox.system_file("drivers", identity[2]).exists(),
                         "no driver file")

    def check_no_device(self, folder, name):
        """A package for a hardware ID that no present device has."""
        inf = self.package(folder, name, "; no device has the ID of %s\n" % name, NO_DEVICE)
        run = self.run_program('"%s"' % windows_path(inf), '"%s"' % NO_DEVICE[0])
        self.assertInstallCalls(run, windows_path(inf), NO_DEVICE[0])
        self.assertTrue(run.no_device, "the stand-in answered for want of a device")
        self.assertStagedNotInstalled(run, inf)

    def check_missing_inf(self):
        """Both calls made with a missing INF; the copy's error is the exit code."""
        missing = windows_path(suite.sandbox.state / "pkg" / "missing.inf")
        run = self.run_program('"%s"' % missing, sample.SAMPLE_HARDWARE_ID)
        self.assertFailsWith(run, missing, sample.SAMPLE_HARDWARE_ID, ERROR_FILE_NOT_FOUND)
