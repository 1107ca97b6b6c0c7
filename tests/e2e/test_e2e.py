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
         Usage, Install, Failures, Text for the x64 build; Arm64 for the
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
"""

import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from unittest import mock
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "sandbox"))
import emulation  # noqa: E402
import wine  # noqa: E402

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

sandbox = None
route = "native"
pointer_digits = 16
release_zip = None
setups = None


def release_files(names):
    """The named files of the release package, by their path inside its top
    folder: {path: bytes}."""
    with zipfile.ZipFile(release_zip) as package:
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
    return "0" * (digits or pointer_digits)


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
    with open(sandbox.state / "account.txt", "a", encoding="utf-8") as out:
        out.write(line + "\n")
    print(line)
    return line


class Case(unittest.TestCase):
    def setUp(self):
        self.limit = LIMITS[route]["case"]
        self.began = time.monotonic()
        sandbox.starts = []
        sandbox.deadline = self.began + self.limit

    def tearDown(self):
        sandbox.deadline = None
        seconds = time.monotonic() - self.began
        line = account(self.id().split(".", 1)[1], seconds, sandbox.starts, self.limit)
        if seconds > self.limit:
            self.fail("the case ran past its limit (%s): %s" % (route, line))

    def run_program(self, *arguments, program=None, cwd=None):
        return sandbox.run(sandbox.program_command(*arguments, program=program), cwd=cwd)

    def package(self, folder="pkg", name="zt-sample.inf", note="", identity=wine.SAMPLE):
        """A copy of the sample driver package, with a note added to tell it
        from the others in the INF store; returns the INF's path."""
        return wine.write_sample_package(sandbox.state / folder / name, sandbox.drivers, note,
                                         identity)

    def sample_driver_records(self, identity=wine.SAMPLE):
        """What the sample driver recorded, and its service's state: a dict."""
        hardware_id, service, _ = identity
        [device] = sandbox.driver(hardware_id, "hw:AddDevice", "hw:StartDevice",
                                  "hw:StartDeviceStatus")
        records = sandbox.service(service, "DriverEntry")
        records.update(device)
        return records

    def assertSampleDriverRuns(self, before, after, identity=wine.SAMPLE):
        """The prefix's native sample driver (amd64, whichever image installed
        it, or arm64 under ARM64 Wine) was copied, registered as a kernel
        service that runs, loaded again and started on the device since
        `before`."""
        installed = sandbox.system_file("drivers", identity[2])
        self.assertTrue(installed.is_file(), "driver file in system32\\drivers")
        native = sandbox.drivers["arm64" if "arm64" in sandbox.drivers else "amd64"]
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
        self.assertEqual(len(parent), digits or pointer_digits)
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

    def check_install(self, driver_runs=True):
        """The sample package onto the simulated adapter: installed, exit 0,
        and, unless told otherwise, the sample driver running on it."""
        inf = self.package()
        before = self.sample_driver_records()
        run = self.run_program('"%s"' % wine.windows_path(inf), wine.SAMPLE_HARDWARE_ID)
        self.assertInstallCalls(run, wine.windows_path(inf), wine.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)
        devices = sandbox.driver(wine.SAMPLE_HARDWARE_ID, "SampleDriverMark")
        self.assertEqual(len(devices), 1)
        self.assertEqual(devices[0]["driver.SampleDriverMark"], "installed from zt-sample.inf")
        self.assertIn(inf.read_bytes(), sandbox.inf_store().values(), "INF staged in the store")
        if driver_runs:
            self.assertSampleDriverRuns(before, self.sample_driver_records())

    def assertStagedNotInstalled(self, run, inf, identity=NO_DEVICE):
        """Where no present device has the ID, as Windows answers: the
        program's exit code is ERROR_NO_SUCH_DEVINST, the package is staged
        in the store, and nothing is installed: no device, no driver service,
        no driver file."""
        self.assertEqual(run.exit_code, ERROR_NO_SUCH_DEVINST)
        self.assertSilent(run)
        self.assertIn(inf.read_bytes(), sandbox.inf_store().values(), "staged in the store")
        self.assertEqual(sandbox.driver(identity[0]), [], "no device has the ID")
        self.assertNotIn("service.state", sandbox.service(identity[1]), "no driver service")
        self.assertFalse(sandbox.system_file("drivers", identity[2]).exists(), "no driver file")

    def check_no_device(self, folder, name):
        """A package for a hardware ID that no present device has."""
        inf = self.package(folder, name, "; no device has the ID of %s\n" % name, NO_DEVICE)
        run = self.run_program('"%s"' % wine.windows_path(inf), '"%s"' % NO_DEVICE[0])
        self.assertInstallCalls(run, wine.windows_path(inf), NO_DEVICE[0])
        self.assertTrue(run.no_device, "the stand-in answered for want of a device")
        self.assertStagedNotInstalled(run, inf)

    def check_missing_inf(self):
        """Both calls made with a missing INF; the copy's error is the exit code."""
        missing = wine.windows_path(sandbox.state / "pkg" / "missing.inf")
        run = self.run_program('"%s"' % missing, wine.SAMPLE_HARDWARE_ID)
        self.assertFailsWith(run, missing, wine.SAMPLE_HARDWARE_ID, ERROR_FILE_NOT_FOUND)


class Harness(unittest.TestCase):
    """The sandbox reads the program's calls from Wine's trace in the form of
    each Wine generation, and stops on a form it does not know; it stops a
    start at its limit, and accounts for where each case's time went."""

    NULL64, NULL32 = "0" * 16, "0" * 8
    COPY = {"source": "Z:\\pkg\\zt-sample.inf", "location": None, "media_type": 1, "style": 0,
            "dest": NULL64, "buffer_size": 0, "required_size": NULL64, "filepart": NULL64}
    UPDATE = {"parent": "0000000000010020", "hardware_id": wine.SAMPLE_HARDWARE_ID,
              "inf_path": "Z:\\pkg\\zt-sample.inf", "flags": 1, "reboot": NULL64}

    def test_each_generations_lines_give_the_same_calls(self):
        copy32 = dict(self.COPY, dest=self.NULL32, required_size=self.NULL32,
                      filepart=self.NULL32)
        update = ('0100:trace:setupapi:UpdateDriverForPlugAndPlayDevicesW parent 0000000000010020,'
                  ' hardware_id L"PCI\\\\VEN_7A5C&DEV_0C31&SUBSYS_00000000", inf_path'
                  ' L"Z:\\\\pkg\\\\zt-sample.inf", flags 0x1, reboot 0000000000000000.')
        both = [("SetupCopyOEMInfW", self.COPY),
                ("UpdateDriverForPlugAndPlayDevicesW", self.UPDATE)]
        for generation, lines, calls in [
            ("Wine 8", ['0024:trace:setupapi:SetupCopyOEMInfW L"Z:\\\\pkg\\\\zt-sample.inf",'
                        ' (null), 1, 0, 0000000000000000, 0, 0000000000000000, 0000000000000000',
                        '0024:trace:setupapi:SetupCopyOEMInfW Found existing INF'
                        ' L"C:\\\\windows\\\\inf\\\\oem1.inf".', update], both),
            ("Wine 10", ['0190:trace:setupapi:SetupCopyOEMInfW source'
                         ' L"Z:\\\\pkg\\\\zt-sample.inf", location (null), media_type 1,'
                         ' style 0, dest 0000000000000000, buffer_size 0,'
                         ' required_size 0000000000000000,'
                         ' filepart 0000000000000000.',
                         '0190:fixme:setupapi:UpdateDriverForPlugAndPlayDevicesW Unhandled flags'
                         ' 0x1.', update], both),
            ("Wine 10, 32-bit caller",
             ['021c:trace:setupapi:SetupCopyOEMInfW source L"Z:\\\\pkg\\\\zt-sample.inf", location'
              ' (null), media_type 1, style 0, dest 00000000, buffer_size 0, required_size'
              ' 00000000, filepart 00000000.'], [("SetupCopyOEMInfW", copy32)]),
            ("no call", ['0024:trace:setupapi:SetupDiGetClassDevsW L"PCI", 0000000000000000'], []),
        ]:
            with self.subTest(generation):
                self.assertEqual(wine.install_calls("\n".join(lines)), calls)

    def test_strings_read_back_exactly(self):
        for text in ["", 'ROOT\\\\ZT&X"quoted"&Y\\"Z', "Pilotes réseau Ωmega\\zt-ñet sample.inf",
                     "tab\tand\nline", "(null)"]:
            with self.subTest(text=text):
                line = ("trace:setupapi:UpdateDriverForPlugAndPlayDevicesW parent 00010020,"
                        " hardware_id %s, inf_path (null), flags 0x1, reboot 00000000."
                        % wine.dbgstr(text))
                [(_, arguments)] = wine.install_calls(line)
                self.assertEqual(arguments["hardware_id"], text)
                self.assertIsNone(arguments["inf_path"])

    def test_a_line_in_an_unknown_form_stops_the_run(self):
        for line in [
            '0190:trace:setupapi:SetupCopyOEMInfW src=L"Z:\\\\pkg\\\\zt-sample.inf" type=1',
            "0190:trace:setupapi:SetupCopyOEMInfW source L\"Z:\\\\a.inf\", location (null)",
            "0190:trace:newdev:UpdateDriverForPlugAndPlayDevicesW (0x10020, L\"PCI\", 1)",
        ]:
            with self.subTest(line=line):
                with self.assertRaises(wine.TraceFormatError) as failure:
                    wine.Run("exit=0\n", "first line\n" + line + "\n", b"", b"")
                self.assertIn(line, str(failure.exception))

    def test_a_start_past_its_limit_is_stopped_and_named(self):
        for name, timeout, deadline, says in [
            ("its own limit", 1, None, "at its own limit"),
            ("the case's limit", 90, 1, "at the case's limit"),
        ]:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                box = wine.Sandbox(folder, folder)
                (box.state / "display").write_text(":0")
                box.deadline = deadline and time.monotonic() + deadline
                began = time.monotonic()
                with mock.patch.object(wine, "WINE64", "sleep"), \
                        self.assertRaises(wine.Overrun) as overrun:
                    box.wine(["30"], timeout=timeout, label="a slow start")
                self.assertLess(time.monotonic() - began, 10, "stopped at the limit")
                self.assertIn("the start of a slow start was stopped " + says,
                              str(overrun.exception))

    def test_the_account_adds_up_each_kind_of_start(self):
        starts = [("helper driver", 0.25), ("Zeltrane.exe", 2.0), ("helper driver", 0.5)]
        with tempfile.TemporaryDirectory() as folder, \
                mock.patch.object(sys.modules[__name__], "sandbox", wine.Sandbox(folder, folder)):
            line = account("X86.test_usage", 3.0, starts, 60)
            self.assertEqual((sandbox.state / "account.txt").read_text(), line + "\n")
        self.assertEqual(line, "X86.test_usage: 3.0 s (limit 60 s), 3 starts: "
                               "Zeltrane.exe 2.0 s, helper driver x2 0.8 s")


class Usage(Case):
    def test_other_argument_counts_show_usage(self):
        inf = wine.windows_path(self.package())
        for arguments in [
            [],
            ['"%s"' % inf],
            ['"%s"' % inf, '"%s"' % wine.SAMPLE_HARDWARE_ID, "extra"],
            ["C:\\My Drivers\\zt-sample.inf", wine.SAMPLE_HARDWARE_ID],
        ]:
            with self.subTest(arguments=arguments):
                self.assertUsage(self.run_program(*arguments))

    def test_renamed_copy_still_names_zeltrane(self):
        renamed = sandbox.state / "setup-helper.exe"
        shutil.copyfile(sandbox.program, renamed)
        self.assertUsage(self.run_program(program=renamed))


class Install(Case):
    def test_installs_the_driver_on_the_device(self):
        self.check_install()


class Failures(Case):
    def test_missing_inf(self):
        self.check_missing_inf()

    def test_file_that_is_not_an_inf(self):
        notes = sandbox.state / "pkg" / "notes.inf"
        notes.parent.mkdir(exist_ok=True)
        notes.write_bytes(b"\x00\x01 this is not a driver package\n")
        run = self.run_program('"%s"' % wine.windows_path(notes), wine.SAMPLE_HARDWARE_ID)
        self.assertFailsWith(run, wine.windows_path(notes), wine.SAMPLE_HARDWARE_ID,
                             ERROR_EXPECTED_SECTION_NAME)

    def test_no_present_device_has_the_id(self):
        self.check_no_device("pkg-no-device", "zt-no-device.inf")

    def test_two_empty_arguments(self):
        self.assertFailsWith(self.run_program('""', '""'), "", "", ERROR_FILE_NOT_FOUND)


class Text(Case):
    def test_quoted_path_with_blanks_and_letters_beyond_ascii_installs(self):
        inf = self.package("Pilotes réseau Ωmega", "zt-ñet sample.inf", "; copy of the sample\n")
        run = self.run_program('"%s"' % wine.windows_path(inf), wine.SAMPLE_HARDWARE_ID)
        self.assertInstallCalls(run, wine.windows_path(inf), wine.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, 0)
        self.assertIn(inf.read_bytes(), sandbox.inf_store().values())
        [device] = sandbox.driver(wine.SAMPLE_HARDWARE_ID, "InfPath")
        self.assertEqual(device["driver.InfPath"], "zt-ñet sample.inf")

    def test_hardware_id_reaches_the_update_exactly(self):
        inf = wine.windows_path(self.package())
        for raw, hardware_id in [
            ("PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000&REV_01",
             "PCI\\VEN_7A5C&DEV_0C31&SUBSYS_00000000&REV_01"),
            ('"ROOT\\\\ZT&X\\"quoted\\"&Y\\\\\\"Z"', 'ROOT\\\\ZT&X"quoted"&Y\\"Z'),
            ('PCI\\VEN_1\\\\"&DEV 2"', "PCI\\VEN_1\\&DEV 2"),
        ]:
            with self.subTest(raw=raw):
                run = self.run_program('"%s"' % inf, raw)
                self.assertInstallCalls(run, inf, hardware_id)

    # What each Wine generation makes of a relative INF path, which the
    # program passes on as given: Wine 8's copy fails with 2, Wine 10 resolves
    # the path against the current folder and installs.
    RELATIVE_PATH_EXIT_CODES = {8: ERROR_FILE_NOT_FOUND, 10: 0}

    def test_relative_path_reaches_both_calls_as_given(self):
        self.package()
        run = self.run_program("pkg\\zt-sample.inf", wine.SAMPLE_HARDWARE_ID, cwd=sandbox.state)
        self.assertInstallCalls(run, "pkg\\zt-sample.inf", wine.SAMPLE_HARDWARE_ID)
        generation = sandbox.wine_generation()
        self.assertIn(generation, self.RELATIVE_PATH_EXIT_CODES, "Wine %d is new here" % generation)
        self.assertEqual(run.exit_code, self.RELATIVE_PATH_EXIT_CODES[generation],
                         "the exit code under Wine %d" % generation)


class X86(Case):
    """The 32-bit product image: one case of each kind, each start is slow.
    Without the override the prefix acts as 32-bit Windows; the hand-over
    cases run the signed release layout as on 64-bit Windows."""

    def test_usage(self):
        self.assertUsage(self.run_program())

    def test_install(self):
        # 64-bit Windows refuses this install outright. Here, in a 64-bit
        # prefix that does not, which driver file runs afterwards is the
        # platform's own business, so this case asserts the installation; the
        # hand-over case, on a device of its own, asserts the driver running.
        self.check_install(driver_runs=False)

    def test_missing_inf(self):
        self.check_missing_inf()

    def release_layout(self, folder, with_x64=True):
        """The release package's three images, unpacked into the folder: an
        x64 machine must start x64\\Zeltrane.exe, never the ARM64 build."""
        layout = sandbox.state / folder
        shutil.rmtree(layout, ignore_errors=True)
        images = ["Zeltrane.exe", "arm64/Zeltrane.exe"] + (["x64/Zeltrane.exe"] if with_x64 else [])
        for inner, image in release_files(images).items():
            (layout / inner).parent.mkdir(parents=True, exist_ok=True)
            (layout / inner).write_bytes(image)
        self.assertEqual(sorted(str(p.relative_to(layout)) for p in layout.rglob("*.exe")),
                         sorted(images))
        return layout

    def run_as_on_64bit_windows(self, layout, inf_path, hardware_id):
        """Starts the layout's 32-bit image; returns the run and what the
        stand-in recorded of the update calls it refused."""
        command = sandbox.program_command('"%s"' % inf_path, '"%s"' % hardware_id,
                                          program=layout / "Zeltrane.exe")
        run = sandbox.run(command, as_64bit_windows=True)
        return run, run.refused

    def assertHandedOver(self, run, refused, inf_path, hardware_id):
        """The 32-bit image's copy and its update, refused; then the x64
        build's copy and update, with the very same arguments."""
        self.assertEqual(refused, [update_line(run, inf_path, hardware_id)])
        calls = run.program_calls()
        self.assertEqual([f for f, _ in calls], ["SetupCopyOEMInfW", "SetupCopyOEMInfW",
                                                 "UpdateDriverForPlugAndPlayDevicesW"])
        self.assertCopyCall(calls[0], inf_path, digits=8)
        self.assertCopyCall(calls[1], inf_path, digits=16)
        self.assertUpdateCall(calls[2], run, inf_path, hardware_id, digits=16)
        self.assertSilent(run)

    def check_handover_install(self, layout_folder, package_folder, name, driver_runs=False,
                               identity=wine.SAMPLE):
        layout = self.release_layout(layout_folder)
        inf = self.package(package_folder, name, "; installed through the hand-over\n", identity)
        hardware_id = identity[0]
        before = self.sample_driver_records(identity)
        run, refused = self.run_as_on_64bit_windows(layout, wine.windows_path(inf), hardware_id)
        self.assertHandedOver(run, refused, wine.windows_path(inf), hardware_id)
        self.assertEqual(run.exit_code, 0)
        [device] = sandbox.driver(hardware_id, "InfPath", "SampleDriverMark")
        self.assertEqual(device["driver.SampleDriverMark"], "installed from zt-sample.inf")
        self.assertEqual(sandbox.inf_store().get(device["driver.InfPath"]), inf.read_bytes(),
                         "the driver is installed from this package, staged in the store")
        if driver_runs:
            self.assertSampleDriverRuns(before, self.sample_driver_records(identity), identity)

    def test_handover_install(self):
        # A device, driver service and driver file that no other case has
        # touched: the records prove that this run started the amd64 driver.
        self.check_handover_install("release", "pkg-handover", "zt-handover.inf", driver_runs=True,
                                    identity=wine.SAMPLE_OWN_DEVICE)

    def test_handover_missing_inf(self):
        layout = self.release_layout("release")
        (sandbox.state / "pkg").mkdir(exist_ok=True)
        missing = wine.windows_path(sandbox.state / "pkg" / "missing.inf")
        run, refused = self.run_as_on_64bit_windows(layout, missing, wine.SAMPLE_HARDWARE_ID)
        self.assertHandedOver(run, refused, missing, wine.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, ERROR_FILE_NOT_FOUND, "the x64 build's exit code")

    def test_handover_without_x64(self):
        layout = self.release_layout("no-x64", with_x64=False)
        inf = self.package("pkg-no-x64", "zt-no-x64.inf", "; never installed\n")
        before = sandbox.driver(wine.SAMPLE_HARDWARE_ID, "InfPath")
        run, refused = self.run_as_on_64bit_windows(layout, wine.windows_path(inf),
                                                    wine.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, ERROR_IN_WOW64)
        self.assertEqual(len(refused), 1, "the refused update")
        self.assertEqual([f for f, _ in run.program_calls()], ["SetupCopyOEMInfW"],
                         "no x64 build ran")
        self.assertSilent(run)
        self.assertEqual(sandbox.driver(wine.SAMPLE_HARDWARE_ID, "InfPath"), before,
                         "the device's driver is unchanged")

    def test_no_device(self):
        # As 32-bit Windows: the 32-bit stand-in answers for want of a device.
        self.check_no_device("pkg-no-device-x86", "zt-no-device-x86.inf")

    def test_handover_no_device(self):
        # The x64 build's answer, handed on whole.
        layout = self.release_layout("release")
        inf = self.package("pkg-no-device-handover", "zt-no-device-handover.inf",
                           "; no device, hand-over\n", NO_DEVICE)
        inf_path = wine.windows_path(inf)
        run, refused = self.run_as_on_64bit_windows(layout, inf_path, NO_DEVICE[0])
        self.assertEqual(refused, [update_line(run, inf_path, NO_DEVICE[0])])
        calls = run.program_calls()
        self.assertEqual([f for f, _ in calls], ["SetupCopyOEMInfW", "SetupCopyOEMInfW"])
        self.assertCopyCall(calls[0], inf_path, digits=8)
        self.assertCopyCall(calls[1], inf_path, digits=16)
        self.assertEqual(run.no_device, [update_line(run, inf_path, NO_DEVICE[0])],
                         "the x64 build's update, answered for want of a device")
        self.assertStagedNotInstalled(run, inf)

    def test_handover_folder_beyond_ascii(self):
        self.check_handover_install("Zeltrane réseau Ωmega 1.1", "Pilotes ñ", "zt-ñ handover.inf")


def setup_identity(n):
    """A device, driver service and driver file of the setups' own."""
    return ("PCI\\VEN_7A5C&DEV_0C31&SUBSYS_%08X" % n, "ztsample%d" % n, "zt-sample%d.sys" % n)


# The setups that `build_setups` makes from the templates: name: (identity of
# the package, the INF name the setup is built with, product name). Each
# setup that installs has a device of its own: only a driver that no other
# case started shows that this setup started it. The failures share one
# device, on which nothing may ever be installed.
NOTHING_INSTALLED = setup_identity(5)
SETUPS = {
    "nsis": (setup_identity(2), "zt-sample.inf", "ZT setup NSIS"),
    "msi": (setup_identity(3), "zt-sample.inf", "ZT setup MSI"),
    "batch": (setup_identity(4), "zt-sample.inf", "ZT setup batch"),
    "missing-inf": (NOTHING_INSTALLED, "missing.inf", "ZT setup missing INF"),
    "not-an-inf": (NOTHING_INSTALLED, "notes.inf", "ZT setup not an INF"),
    # Built around a release whose Zeltrane.exe is no program at all.
    "no-program": (NOTHING_INSTALLED, "zt-sample.inf", "ZT setup no program"),
}
RELEASE_FILES = ["Zeltrane.exe", "x64/Zeltrane.exe", "arm64/Zeltrane.exe", "LICENSE"]

# A product line's package: three hardware IDs of the sample driver in one
# INF, all installed by its one service. Each situation of each kind of
# setup has a line of its own, so that only this setup's run can have
# installed on its devices; the situation says which of its three IDs have a
# present device.
LINE_SITUATIONS = {"second": (1,), "two": (0, 2), "none": (), "missing-inf": (0, 1)}
LINE_KINDS = ("nsis", "msi", "batch")
NO_DEVICE_SETTINGS = ("succeed", "fail")


def line_identities(kind, situation):
    """The line's three (hardware ID, service, driver file): one service and
    driver file, three IDs."""
    base = 0x100 * (1 + LINE_KINDS.index(kind)) + 0x10 * (1 + list(LINE_SITUATIONS).index(
        situation))
    first = setup_identity(base + 1)
    return [(setup_identity(base + n)[0],) + first[1:] for n in (1, 2, 3)]


def line_setups():
    """The product-line setups that `build_setups` makes with scripts/setups,
    NSIS and MSI alike: name: (kind, situation, setting). The batch file
    takes the IDs and its setting when it runs."""
    setups = {}
    for kind in ("nsis", "msi"):
        for situation in LINE_SITUATIONS:
            settings = NO_DEVICE_SETTINGS if situation in ("none", "missing-inf") else ("succeed",)
            for setting in settings:
                setups["line-%s-%s-%s" % (kind, situation, setting)] = (kind, situation, setting)
    return setups


# Two versions of one product, for each of the NSIS setup and the MSI:
# kind: (identity, product name); the builds upgrade-KIND-v1 (1.0.0, the
# sample package) and upgrade-KIND-v2 (2.0.0, the package with a higher
# DriverVer and a mark of its own), signed with the release check's
# throwaway certificate.
UPGRADES = {"msi": (setup_identity(6), "ZT upgrade MSI"),
            "nsis": (setup_identity(7), "ZT upgrade NSIS")}
UPGRADE_VERSIONS = {1: ("1.0.0", "1.1.0.0", "installed from zt-sample.inf"),
                    2: ("2.0.0", "2.0.0.0", "installed from zt-sample.inf, version 2")}


def upgrade_package(path, drivers, kind, version):
    """The upgrade's package of that version: its INF's DriverVer and mark."""
    _, driver_version, mark = UPGRADE_VERSIONS[version]
    inf = wine.write_sample_package(path, drivers, "; upgrade %s %d\n" % (kind, version),
                                    UPGRADES[kind][0])
    text = inf.read_bytes()
    for sample, own in [(b",1.1.0.0", b"," + driver_version.encode()),
                        (b'"installed from zt-sample.inf"', b'"%s"' % mark.encode())]:
        if sample not in text:
            raise RuntimeError("the sample INF's DriverVer or mark has changed")
        text = text.replace(sample, own)
    inf.write_bytes(text)
    return inf.parent


def windows_folder(path):
    """A prefix folder as a program there names it: C:\\..."""
    drive_c = sandbox.prefix / "drive_c"
    return "C:\\" + str(path.relative_to(drive_c)).replace("/", "\\")


def line_product(name):
    return "ZT " + name


# The MSI built with the default, run with ZELTRANE_NO_DEVICE=fail on
# msiexec's command line.
COMMAND_LINE_FAIL = "fail on msiexec's command line"


def line_setup_name(kind, situation, setting):
    """The name of the setup that line_setups builds for a run with the
    setting (None: the default)."""
    built = "fail" if setting == "fail" else "succeed"
    return "line-%s-%s-%s" % (kind, situation, built)


def setting_environment(setting):
    """scripts/setups' environment: ZELTRANE_NO_DEVICE as given, or unset
    (None), so that the templates' default is what a setup gets."""
    environment = {k: v for k, v in os.environ.items() if k != "ZELTRANE_NO_DEVICE"}
    if setting:
        environment["ZELTRANE_NO_DEVICE"] = setting
    return environment


def build_setups(build_dir, x86_driver, release):
    """Builds every setup of SETUPS with scripts/setups into
    build_dir/e2e-setups/NAME, each around a sample package of its identity."""
    out = pathlib.Path(build_dir).resolve() / "e2e-setups"
    shutil.rmtree(out, ignore_errors=True)
    drivers = {"amd64": pathlib.Path(build_dir).resolve() / "sample" / wine.SAMPLE_DRIVER,
               "x86": x86_driver}
    broken = out / "no-program-release.zip"
    out.mkdir(parents=True)
    with zipfile.ZipFile(release) as good, zipfile.ZipFile(broken, "w") as bad:
        for entry in good.namelist():
            text = entry.endswith("/Zeltrane.exe") and entry.count("/") == 1
            bad.writestr(entry, b"not a program\r\n" if text else good.read(entry))
    for name, (identity, inf, product) in SETUPS.items():
        package = wine.write_sample_package(out / "packages" / name / "zt-sample.inf", drivers,
                                            "; setup %s\n" % name, identity).parent
        if inf == "notes.inf":
            (package / inf).write_bytes(b"\x00\x01 this is not a driver package\n")
        subprocess.run([pathlib.Path(__file__).resolve().parents[2] / "scripts" / "setups",
                        broken if name == "no-program" else release, package, inf, identity[0],
                        out / name, product],
                       env=setting_environment(None), check=True)
    for kind in LINE_KINDS:
        for situation in LINE_SITUATIONS:
            identities = line_identities(kind, situation)
            wine.write_sample_package(
                out / "packages" / ("line-%s-%s" % (kind, situation)) / "zt-sample.inf", drivers,
                "; line %s %s\n" % (kind, situation), identities[0],
                [identity[0] for identity in identities[1:]])
    # The release check's certificate, which signed the release.
    signing = release.parent.parent
    signed = dict(setting_environment(None), ZELTRANE_SIGN_PKCS12=str(signing / "signer.p12"),
                  ZELTRANE_SIGN_PASSWORD_FILE=str(signing / "password"))
    for kind, (_, product) in UPGRADES.items():
        for version, (product_version, _, _) in UPGRADE_VERSIONS.items():
            name = "upgrade-%s-v%d" % (kind, version)
            package = upgrade_package(out / "packages" / name / "zt-sample.inf", drivers, kind,
                                      version)
            subprocess.run([pathlib.Path(__file__).resolve().parents[2] / "scripts" / "setups",
                            release, package, "zt-sample.inf", UPGRADES[kind][0][0], out / name,
                            product, product_version], env=signed, check=True)
    for name, (kind, situation, setting) in line_setups().items():
        inf = "missing.inf" if situation == "missing-inf" else "zt-sample.inf"
        ids = ";".join(identity[0] for identity in line_identities(kind, situation))
        subprocess.run([pathlib.Path(__file__).resolve().parents[2] / "scripts" / "setups",
                        release, out / "packages" / ("line-%s-%s" % (kind, situation)), inf, ids,
                        out / name, line_product(name)],
                       env=setting_environment(None if setting == "succeed" else setting),
                       check=True)


class Setups(Case):
    """The templates of examples/setups as vendors ship them, built by the
    project's script (build_setups), started as on 64-bit Windows: the
    prefix refuses device installation to 32-bit programs, so each setup's
    32-bit Zeltrane.exe hands over to x64\\Zeltrane.exe."""

    def start(self, command_line):
        return sandbox.run(command_line, as_64bit_windows=True)

    def run_nsis(self, name):
        return self.start('"%s" /S' % wine.windows_path(setups / name / "driver-setup.exe"))

    def run_msi(self, name, action="/i"):
        msi = wine.windows_path(setups / name / "driver-setup.msi")
        return self.start('msiexec %s "%s" /qn' % (action, msi))

    def run_batch(self, name, *arguments):
        """cmd /s /c: the line after /c, less its outer quotes, as it is."""
        batch = wine.windows_path(setups / name / "batch" / "install-driver.cmd")
        return self.start('cmd /s /c ""%s" %s"' % (batch, " ".join(arguments)))

    def expected_files(self, name):
        """The release layout and the package, as the setups lay them out."""
        files = release_files(RELEASE_FILES)
        folder = setups / "packages" / name
        files.update({"driver/" + str(p.relative_to(folder)): p.read_bytes()
                      for p in folder.rglob("*") if p.is_file()})
        return files

    def installed_files(self, name):
        folder = sandbox.program_files(SETUPS[name][2])
        return {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob("*")
                if p.is_file()}

    def product_code(self, name):
        return (setups / name / "driver-setup.msi.productcode").read_text().strip()

    def assertSucceeded(self, run):
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)

    def assertStillRunning(self, identity):
        self.assertEqual(sandbox.service(identity[1])["service.state"], "RUNNING")
        self.assertTrue(sandbox.system_file("drivers", identity[2]).is_file())

    def assertNothingInstalled(self, name):
        """No files, no registration, no driver on the failures' device."""
        self.assertFalse(sandbox.program_files(SETUPS[name][2]).exists(), "files rolled back")
        self.assertEqual(sandbox.product(SETUPS[name][2]), {"uninstall": "(none)"})
        hardware_id, service, driver = NOTHING_INSTALLED
        [device] = sandbox.driver(hardware_id, "SampleDriverMark")
        self.assertEqual(device["driver.SampleDriverMark"], "(none)")
        self.assertNotIn("service.state", sandbox.service(service))
        self.assertFalse(sandbox.system_file("drivers", driver).exists())

    def test_nsis(self):
        identity = SETUPS["nsis"][0]
        before = self.sample_driver_records(identity)
        self.assertSucceeded(self.run_nsis("nsis"))
        installed = self.installed_files("nsis")
        self.assertIn("uninstall.exe", installed)
        del installed["uninstall.exe"]
        self.assertEqual(installed, self.expected_files("nsis"))
        entry = sandbox.product(SETUPS["nsis"][2])
        self.assertEqual(entry["uninstall.DisplayName"], SETUPS["nsis"][2])
        self.assertSampleDriverRuns(before, self.sample_driver_records(identity), identity)
        with self.subTest("a second run on the same device"):
            self.assertSucceeded(self.run_nsis("nsis"))
            self.assertStillRunning(identity)

    def test_nsis_failures(self):
        # ExecWait sets the error flag when it cannot start the program, and
        # its variable may then hold 0: "no-program" is that trap.
        for name, exit_code in [("missing-inf", ERROR_FILE_NOT_FOUND),
                                ("not-an-inf", ERROR_EXPECTED_SECTION_NAME),
                                ("no-program", SETUP_NOT_STARTED)]:
            with self.subTest(name):
                run = self.run_nsis(name)
                self.assertEqual(run.exit_code, exit_code, "the setup's exit code, whole")
                self.assertSilent(run)
                self.assertNothingInstalled(name)

    def test_msi(self):
        identity, _, product = SETUPS["msi"]
        code = self.product_code("msi")
        before = self.sample_driver_records(identity)
        self.assertSucceeded(self.run_msi("msi"))
        self.assertEqual(self.installed_files("msi"), self.expected_files("msi"))
        registered = sandbox.product(code)
        self.assertEqual([registered["msi.state"], registered["uninstall.DisplayName"]],
                         [INSTALLSTATE_DEFAULT, product])
        self.assertSampleDriverRuns(before, self.sample_driver_records(identity), identity)
        with self.subTest("a second run on the same device"):
            self.assertSucceeded(self.run_msi("msi"))
            self.assertStillRunning(identity)
        with self.subTest("uninstall"):
            self.assertSucceeded(self.run_msi("msi", "/x"))
            self.assertFalse(sandbox.program_files(product).exists(), "files removed")
            self.assertEqual(sandbox.product(code), {"msi.state": INSTALLSTATE_UNKNOWN,
                                                     "uninstall": "(none)"})
            self.assertStillRunning(identity)
            [device] = sandbox.driver(identity[0], "SampleDriverMark")
            self.assertEqual(device["driver.SampleDriverMark"], "installed from zt-sample.inf")

    def test_msi_failure(self):
        run = self.run_msi("missing-inf")
        self.assertEqual(run.exit_code, MSI_FAILURE, "msiexec's code")
        self.assertSilent(run)
        self.assertEqual(sandbox.product(self.product_code("missing-inf"))["msi.state"],
                         INSTALLSTATE_UNKNOWN, "not registered")
        self.assertNothingInstalled("missing-inf")

    def test_batch(self):
        identity = SETUPS["batch"][0]
        arguments = ["driver", "zt-sample.inf", '"%s"' % identity[0]]
        before = self.sample_driver_records(identity)
        # The batch file says what each run of Zeltrane ended with; nothing else.
        said = ('"%s": Zeltrane.exe ended with 0\r\n' % identity[0]).encode()
        run = self.run_batch("batch", *arguments)
        self.assertEqual([run.exit_code, run.boxes, run.stdout, run.stderr], [0, [], said, b""])
        self.assertSampleDriverRuns(before, self.sample_driver_records(identity), identity)
        with self.subTest("a second run on the same device"):
            run = self.run_batch("batch", *arguments)
            self.assertEqual([run.exit_code, run.stdout], [0, said])
            self.assertStillRunning(identity)

    def test_batch_failures(self):
        hardware_id = '"%s"' % NOTHING_INSTALLED[0]
        for name, arguments, exit_code in [
            ("missing-inf", ["driver", "missing.inf", hardware_id], ERROR_FILE_NOT_FOUND),
            ("not-an-inf", ["driver", "notes.inf", hardware_id], ERROR_EXPECTED_SECTION_NAME),
            ("missing-inf", ["driver", "zt-sample.inf"], ERROR_BAD_ARGUMENTS),
        ]:
            with self.subTest(arguments=arguments):
                run = self.run_batch(name, *arguments)
                self.assertEqual(run.exit_code, exit_code, "the batch file's exit code, whole")
                self.assertEqual(run.boxes, [])
                self.assertNothingInstalled(name)

    def run_line(self, kind, situation, setting):
        """The kind's setup for the situation's line, with the setting (None:
        the setup's default): the run and the lines of its record, each
        (hardware ID, exit code) of a run of Zeltrane, for the MSI from its
        log and for the batch file from its output; the NSIS setup records
        only what it installed for."""
        if kind == "batch":
            package = setups / "packages" / ("line-batch-%s" % situation)
            inf = "missing.inf" if situation == "missing-inf" else "zt-sample.inf"
            ids = " ".join('"%s"' % identity[0] for identity in line_identities(kind, situation))
            batch = wine.windows_path(setups / "batch" / "batch" / "install-driver.cmd")
            line = '"%s" "%s" %s %s' % (batch, wine.windows_path(package), inf, ids)
            if setting:
                line = 'set "ZELTRANE_NO_DEVICE=%s" & %s' % (setting, line)
            run = self.start('cmd /s /c "%s"' % line)
            text = run.stdout.decode("utf-8", "replace")
            return run, [(hardware_id, int(code) & 0xFFFFFFFF) for hardware_id, code in
                         re.findall(r'^"(.*)": Zeltrane\.exe ended with (-?\d+)\r?$', text, re.M)]
        name = line_setup_name(kind, situation, setting)
        if kind == "nsis":
            return self.run_nsis(name), None
        log = sandbox.state / ("%s.log" % name)
        log.unlink(missing_ok=True)
        msi = wine.windows_path(setups / name / "driver-setup.msi")
        # The MSI's property, set by the deployment's command line.
        extra = " ZELTRANE_NO_DEVICE=fail" if setting == COMMAND_LINE_FAIL else ""
        run = self.start('msiexec /i "%s" /qn /l*v "%s"%s' % (msi, wine.windows_path(log), extra))
        raw = log.read_bytes() if log.exists() else b""
        text = raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("latin-1")
        return run, [(hardware_id, int(code, 16)) for hardware_id, code in re.findall(
            r'Zeltrane: hardware ID "(.*?)": Zeltrane\.exe ended with (0x[0-9A-F]{8})', text)]

    def assertLineFailed(self, kind, run, exit_code):
        """The setup's failure: its code, whole (msiexec's own for the MSI)."""
        self.assertEqual(run.exit_code, MSI_FAILURE if kind == "msi" else exit_code,
                         "the setup's exit code, whole")

    def assertLineRegistered(self, kind, name, installed):
        """The setup's files and registration are there, or (installed None)
        are not: rolled back."""
        if kind == "batch":
            return
        product = line_product(name)
        code = (setups / name / "driver-setup.msi.productcode").read_text().strip()
        entry = sandbox.product(code if kind == "msi" else product)
        self.assertEqual(sandbox.program_files(product).exists(), installed is not None)
        if installed is None:
            self.assertEqual(entry.get("uninstall"), "(none)", "not registered")
            self.assertEqual(entry.get("msi.state", INSTALLSTATE_UNKNOWN), INSTALLSTATE_UNKNOWN)
        elif kind == "msi":
            self.assertEqual(entry["msi.state"], INSTALLSTATE_DEFAULT)
        else:
            self.assertEqual([entry["uninstall.DisplayName"],
                              entry["uninstall.InstalledHardwareIds"]],
                             [product, ";".join(installed)], "what it installed for")

    def check_line(self, kind, situation, setting):
        """One situation of the product line under one setting."""
        identities = line_identities(kind, situation)
        present = [identities[i] for i in LINE_SITUATIONS[situation]]
        before = {identity[0]: self.sample_driver_records(identity) for identity in present}
        run, records = self.run_line(kind, situation, setting)
        name = line_setup_name(kind, situation, setting)
        inf = setups / "packages" / ("line-%s-%s" % (kind, situation)) / "zt-sample.inf"
        self.assertEqual(run.boxes, [])
        codes = [(identity[0], 0 if identity in present else ERROR_NO_SUCH_DEVINST)
                 for identity in identities]
        if situation == "missing-inf":
            # Whatever the setting: the first ID's failure ends the setup.
            self.assertLineFailed(kind, run, ERROR_FILE_NOT_FOUND)
            codes = [(identities[0][0], ERROR_FILE_NOT_FOUND)]
            self.assertLineRegistered(kind, name, None)
            for identity in present:
                [device] = sandbox.driver(identity[0], "SampleDriverMark")
                self.assertEqual(device["driver.SampleDriverMark"], "(none)")
            self.assertNotIn("service.state", sandbox.service(identities[0][1]))
        elif not present and setting in ("fail", COMMAND_LINE_FAIL):
            self.assertLineFailed(kind, run, ERROR_NO_SUCH_DEVINST)
            self.assertLineRegistered(kind, name, None)
        else:
            self.assertEqual(run.exit_code, 0)
            self.assertLineRegistered(kind, name, [identity[0] for identity in present])
            for identity in present:
                self.assertSampleDriverRuns(before[identity[0]],
                                            self.sample_driver_records(identity), identity)
        if situation != "missing-inf":
            self.assertIn(inf.read_bytes(), sandbox.inf_store().values(), "staged in the store")
        for identity in identities:
            if identity not in present:
                self.assertEqual(sandbox.driver(identity[0]), [], "no device has it")
        if not present:
            self.assertNotIn("service.state", sandbox.service(identities[0][1]), "no service")
            self.assertFalse(sandbox.system_file("drivers", identities[0][2]).exists())
        if records is not None:
            self.assertEqual(records, codes, "each ID's run, in order, with its exit code")

    def check_product_line(self, kind):
        for situation in LINE_SITUATIONS:
            settings = [None]
            if situation in ("none", "missing-inf"):
                settings.append("fail")
            if situation == "none" and kind == "msi":
                # Before the default's run, which installs the product.
                settings.insert(0, COMMAND_LINE_FAIL)
            for setting in settings:
                with self.subTest(situation=situation, setting=setting or "default"):
                    self.check_line(kind, situation, setting)

    def test_nsis_product_line(self):
        self.check_product_line("nsis")

    def test_msi_product_line(self):
        self.check_product_line("msi")

    def test_batch_product_line(self):
        self.check_product_line("batch")

    def assertUpgradeInstalled(self, kind, version, before=None):
        """The version's files and driver: its package on the device, the
        driver started since `before` (None: running)."""
        identity, product = UPGRADES[kind]
        name = "upgrade-%s-v%d" % (kind, version)
        folder = sandbox.program_files(product)
        installed = {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob("*")
                     if p.is_file()}
        installed.pop("uninstall.exe", None)
        expected = release_files(RELEASE_FILES)
        package = setups / "packages" / name
        expected.update({"driver/" + str(p.relative_to(package)): p.read_bytes()
                         for p in package.rglob("*") if p.is_file()})
        self.assertEqual(installed, expected, "version %d's files" % version)
        [device] = sandbox.driver(identity[0], "SampleDriverMark")
        _, driver_version, mark = UPGRADE_VERSIONS[version]
        self.assertEqual([device["driver.SampleDriverMark"], device["driver.version"]],
                         [mark, "12/07/2026," + driver_version], "version %d's driver" % version)
        if before is None:
            # Wine 8 and 10 leave the running driver loaded when a newer
            # package is installed on its device (Windows restarts the
            # device, or asks for a restart): it must still run.
            self.assertStillRunning(identity)
        else:
            self.assertSampleDriverRuns(before, self.sample_driver_records(identity), identity)

    def test_msi_upgrade(self):
        identity, product = UPGRADES["msi"]
        first, second = (self.product_code("upgrade-msi-v%d" % v) for v in (1, 2))
        before = self.sample_driver_records(identity)
        self.assertSucceeded(self.run_msi("upgrade-msi-v1"))
        self.assertEqual(sandbox.product(first)["msi.state"], INSTALLSTATE_DEFAULT)
        self.assertUpgradeInstalled("msi", 1, before)
        with self.subTest("version 2 replaces version 1"):
            self.assertSucceeded(self.run_msi("upgrade-msi-v2"))
            self.assertEqual(sandbox.product(first), {"msi.state": INSTALLSTATE_UNKNOWN,
                                                      "uninstall": "(none)"}, "version 1 gone")
            registered = sandbox.product(second)
            self.assertEqual([registered["msi.state"], registered["uninstall.DisplayName"]],
                             [INSTALLSTATE_DEFAULT, product])
            self.assertUpgradeInstalled("msi", 2)
        with self.subTest("version 1 over version 2: refused"):
            run = self.run_msi("upgrade-msi-v1")
            self.assertEqual(run.exit_code, MSI_FAILURE, "the launch condition's failure")
            self.assertSilent(run)
            self.assertEqual(sandbox.product(first)["msi.state"], INSTALLSTATE_UNKNOWN)
            self.assertEqual(sandbox.product(second)["msi.state"], INSTALLSTATE_DEFAULT)
            [device] = sandbox.driver(identity[0], "SampleDriverMark")
            self.assertEqual(device["driver.SampleDriverMark"], UPGRADE_VERSIONS[2][2])
            self.assertStillRunning(identity)

    def test_nsis_upgrade(self):
        identity, product = UPGRADES["nsis"]
        before = self.sample_driver_records(identity)
        self.assertSucceeded(self.run_nsis("upgrade-nsis-v1"))
        self.assertEqual(sandbox.product(product)["uninstall.DisplayVersion"], "1.0.0")
        self.assertUpgradeInstalled("nsis", 1, before)
        folder = sandbox.program_files(product)
        with self.subTest("version 2 replaces version 1"):
            self.assertSucceeded(self.run_nsis("upgrade-nsis-v2"))
            entry = sandbox.product(product)
            size = int(entry.pop("uninstall.EstimatedSize"))
            self.assertEqual(entry, {
                "uninstall.DisplayName": product,
                "uninstall.UninstallString": '"%s\\uninstall.exe"' % windows_folder(folder),
                "uninstall.InstalledHardwareIds": identity[0],
                "uninstall.DisplayVersion": "2.0.0", "uninstall.Publisher": "Zeltrane Sample",
                "uninstall.InstallLocation": windows_folder(folder)})
            # In KiB: the folder, the uninstaller included.
            total = sum(p.stat().st_size for p in folder.rglob("*") if p.is_file())
            self.assertLessEqual(abs(size - total / 1024), 1, (size, total))
            self.assertUpgradeInstalled("nsis", 2)
        with self.subTest("the uninstaller is signed"):
            verified = subprocess.run(
                ["osslsigncode", "verify", "-CAfile", str(release_zip.parent.parent / "root.pem"),
                 "-in", str(folder / "uninstall.exe")], capture_output=True, text=True)
            self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        with self.subTest("the uninstaller removes the files and the registration"):
            # It copies itself away and starts the copy, which does the work.
            self.assertEqual(self.start('"%s\\uninstall.exe" /S' % windows_folder(folder))
                             .exit_code, 0)
            deadline = time.monotonic() + 30
            while folder.exists() and time.monotonic() < deadline:
                time.sleep(0.5)
            self.assertFalse(folder.exists(), "files removed")
            self.assertEqual(sandbox.product(product), {"uninstall": "(none)"})
            self.assertStillRunning(identity)
            [device] = sandbox.driver(identity[0], "SampleDriverMark")
            self.assertEqual(device["driver.SampleDriverMark"], UPGRADE_VERSIONS[2][2])


class Arm64(Case):
    """The native ARM64 build under ARM64 Wine, in an ARM64 platform root.
    That Wine has no 32-bit side, and every start goes through QEMU here:
    one case of each kind. The newdev stand-in cannot call that Wine's own
    update, so a package for a device that is not there is not a case here:
    this Wine answers it with TRUE."""

    def test_usage(self):
        self.assertUsage(self.run_program())

    def test_renamed_copy_still_names_zeltrane(self):
        renamed = sandbox.state / "setup-helper.exe"
        shutil.copyfile(sandbox.program, renamed)
        self.assertUsage(self.run_program(program=renamed))

    def test_install_takes_the_arm64_section(self):
        # The package's ARM64 section: the ARM64 driver, running on the device.
        inf = self.package()
        before = self.sample_driver_records()
        run = self.run_program('"%s"' % wine.windows_path(inf), wine.SAMPLE_HARDWARE_ID)
        self.assertInstallCalls(run, wine.windows_path(inf), wine.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)
        [device] = sandbox.driver(wine.SAMPLE_HARDWARE_ID, "InfSection", "InfSectionExt",
                                  "InfPath", "SampleDriverMark")
        # The install section, and the decoration the platform chose for it.
        self.assertEqual([device["driver.InfSection"], device["driver.InfSectionExt"]],
                         ["SampleInstall", ".NTarm64"])
        self.assertEqual(device["driver.SampleDriverMark"], "installed from zt-sample.inf")
        self.assertEqual(sandbox.inf_store().get(device["driver.InfPath"]), inf.read_bytes(),
                         "installed from this package, staged in the store")
        self.assertSampleDriverRuns(before, self.sample_driver_records())

    def test_missing_inf(self):
        self.check_missing_inf()


SKIPPED = 77


def machine_route():
    """"qemu" where the platform's foreign programs start through QEMU here,
    "native" where the kernel starts them itself."""
    emulated = emulation.through_qemu("i386") or emulation.through_qemu("aarch64")
    print("this machine:", emulation.route("aarch64" if os.uname().machine == "aarch64"
                                           else "i386"))
    return "qemu" if emulated else "native"


def main():
    global sandbox, route, pointer_digits, release_zip, setups
    arguments = sys.argv[1:]
    state = None
    if arguments[0] == "--state":
        state, arguments = arguments[1], arguments[2:]
    build_dir, what, x86 = arguments[0], arguments[1], arguments[2:]
    if what == "setups":
        build_setups(build_dir, pathlib.Path(x86[0]).parent / "sample" / wine.SAMPLE_DRIVER,
                     pathlib.Path(x86[2]))
        return 0
    state = state or ("e2e-x86" if x86 else "e2e")
    sandbox = wine.Sandbox(pathlib.Path(build_dir) / state, build_dir)
    unavailable = sandbox.state / "unavailable"
    if what == "start":
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
        route = machine_route()
        limit = LIMITS[route]["boot"]
        began = time.monotonic()
        try:
            sandbox.start(boot_timeout=limit)
            # Not under ARM64 Wine: Debian 12's builds its DLLs as ELF libraries
            # and leaves placeholders in the prefix, so a copy of its newdev.dll
            # under another name, which the stand-in would call, cannot load.
            if os.uname().machine == "x86_64":
                stand_ins = {"system32": sandbox.build / "stand-in" / "newdev.dll"}
                if x86:
                    stand_ins["syswow64"] = pathlib.Path(x86[1])
                sandbox.add_stand_ins(stand_ins)
            sandbox.add_device(wine.SAMPLE_HARDWARE_ID)
            if x86:
                sandbox.add_device(wine.SAMPLE_OWN_DEVICE[0])
                present = sorted({identity[0] for identity, _, _ in SETUPS.values()})
                present += [identity[0] for identity, _ in UPGRADES.values()]
                for kind in LINE_KINDS:
                    for situation, indices in LINE_SITUATIONS.items():
                        identities = line_identities(kind, situation)
                        present += [identities[i][0] for i in indices]
                sandbox.add_device(*present)
        finally:
            account("start", time.monotonic() - began, sandbox.starts, limit)
        print("sandbox ready at", sandbox.state)
        return 0
    if what == "stop":
        left = sandbox.stop() + emulation.restore(sandbox.state)
        print("left behind:", left) if left else print("Wine and Xvfb ended, prefix removed")
        return 1 if left else 0
    if unavailable.exists():
        print("SKIPPED: the 32-bit image cannot run here:", unavailable.read_text())
        return SKIPPED
    route = machine_route()
    if what.startswith("Setups.test_nsis") and route == "qemu" and sandbox.wine_generation() == 10:
        # Wine 10's 32-bit loader is position-independent, and QEMU loads it
        # at 0x400000, the one address where the NSIS setup, an image without
        # relocations, can go: Wine 10 refuses it with 0xC0000018
        # (STATUS_CONFLICTING_ADDRESSES) before it runs.
        reason = ("%s: through QEMU, Wine 10's 32-bit loader holds 0x400000, where the NSIS "
                  "setup must load" % what)
        with open(sandbox.state / "skipped.txt", "a", encoding="utf-8") as out:
            out.write(reason + "\n")
        print("SKIPPED:", reason)
        return SKIPPED
    if x86:
        pointer_digits = 8
        sandbox.program = pathlib.Path(x86[0]).resolve()
        sandbox.drivers["x86"] = sandbox.program.parent / "sample" / wine.SAMPLE_DRIVER
        release_zip = pathlib.Path(x86[2]).resolve()
        setups = pathlib.Path(build_dir).resolve() / "e2e-setups"
    if what.startswith("Arm64"):
        # The ARM64 build's driver, in the packages' arm64 folder.
        sandbox.drivers = {"arm64": sandbox.build / "sample" / wine.SAMPLE_DRIVER}
    result = unittest.main(module=__name__, argv=[sys.argv[0], what, "-v"], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
