"""End-to-end behaviour of Zeltrane.exe under Wine.

usage: test_e2e.py BUILD_DIR start | stop | GROUP [X86-IMAGE]
  start  boots the sandbox shared by the groups (Xvfb, a prefix, a simulated
         adapter); stop ends it and fails if anything was left behind.
  GROUP  runs one group of cases (Usage, Install, Failures, Text) against
         BUILD_DIR/Zeltrane.exe.
With X86-IMAGE, the 32-bit image in a sandbox of its own, where start also
makes 32-bit programs start (see sandbox/i386.py) and stop undoes that; the
group X86 holds its cases. Exit code 77: the 32-bit image cannot run here.
"""

import pathlib
import re
import shutil
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "sandbox"))
import i386  # noqa: E402
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

sandbox = None
pointer_digits = 16

UPDATE_TRACE = re.compile(
    r"parent ([0-9A-Fa-f]+), hardware_id (.*), inf_path (.*), flags (0x[0-9a-fA-F]+), "
    r"reboot ([0-9A-Fa-f]+)\.$"
)


def null_pointer():
    return "0" * pointer_digits


class Case(unittest.TestCase):
    def run_program(self, *arguments, program=None, cwd=None):
        return sandbox.run(sandbox.program_command(*arguments, program=program), cwd=cwd)

    def package(self, folder="pkg", name="zt-sample-net.inf", note=""):
        """A copy of the sample driver package, with a note added to tell it
        from the others in the INF store; returns the INF's path."""
        path = sandbox.state / folder / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(wine.SAMPLE_INF.read_bytes() + note.encode())
        return path

    def assertInstallCalls(self, run, inf_path, hardware_id):
        """One copy, then one forced update, with exactly the fixed arguments."""
        calls = run.program_calls()
        self.assertEqual([f for f, _ in calls], ["SetupCopyOEMInfW", "UpdateDriverForPlugAndPlayDevicesW"])
        null = null_pointer()
        expected_copy = "%s, (null), 1, 0, %s, 0, %s, %s" % (wine.dbgstr(inf_path), null, null, null)
        self.assertEqual(calls[0][1], expected_copy)
        update = UPDATE_TRACE.match(calls[1][1])
        self.assertIsNotNone(update, calls[1][1])
        parent, traced_id, traced_inf, flags, reboot = update.groups()
        self.assertEqual(int(parent, 16), run.desktop, "parent is the desktop window")
        self.assertEqual(len(parent), pointer_digits)
        self.assertEqual(traced_id, wine.dbgstr(hardware_id))
        self.assertEqual(traced_inf, wine.dbgstr(inf_path))
        self.assertEqual(int(flags, 16), 1, "INSTALLFLAG_FORCE and no other flag")
        self.assertEqual(reboot, null)

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

    def check_install(self):
        """The sample package onto the simulated adapter: installed, exit 0."""
        inf = self.package()
        run = self.run_program('"%s"' % wine.windows_path(inf), wine.SAMPLE_HARDWARE_ID)
        self.assertInstallCalls(run, wine.windows_path(inf), wine.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)
        devices = sandbox.driver(wine.SAMPLE_HARDWARE_ID, "SampleDriverMark")
        self.assertEqual(len(devices), 1)
        self.assertEqual(devices[0]["driver.SampleDriverMark"], "installed from zt-sample-net.inf")
        self.assertIn(inf.read_bytes(), sandbox.inf_store().values(), "INF staged in the store")

    def check_missing_inf(self):
        """Both calls made with a missing INF; the copy's error is the exit code."""
        missing = wine.windows_path(sandbox.state / "pkg" / "missing.inf")
        run = self.run_program('"%s"' % missing, wine.SAMPLE_HARDWARE_ID)
        self.assertFailsWith(run, missing, wine.SAMPLE_HARDWARE_ID, ERROR_FILE_NOT_FOUND)


class Usage(Case):
    def test_other_argument_counts_show_usage(self):
        inf = wine.windows_path(self.package())
        for arguments in [
            [],
            ['"%s"' % inf],
            ['"%s"' % inf, '"%s"' % wine.SAMPLE_HARDWARE_ID, "extra"],
            ["C:\\My Drivers\\zt-sample-net.inf", wine.SAMPLE_HARDWARE_ID],
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

    def test_relative_path_reaches_both_calls_as_given(self):
        self.package()
        run = self.run_program("pkg\\zt-sample-net.inf", wine.SAMPLE_HARDWARE_ID, cwd=sandbox.state)
        self.assertInstallCalls(run, "pkg\\zt-sample-net.inf", wine.SAMPLE_HARDWARE_ID)


class X86(Case):
    """The 32-bit product image: one case of each kind, each start is slow."""

    def test_usage(self):
        self.assertUsage(self.run_program())

    def test_install(self):
        self.check_install()

    def test_missing_inf(self):
        self.check_missing_inf()


SKIPPED = 77


def main():
    global sandbox, pointer_digits
    build_dir, what, x86_image = sys.argv[1], sys.argv[2], sys.argv[3:]
    sandbox = wine.Sandbox(pathlib.Path(build_dir) / ("e2e-x86" if x86_image else "e2e"), build_dir)
    unavailable = sandbox.state / "unavailable"
    if what == "start":
        sandbox.clear()
        if x86_image:
            # Before the boot: a prefix booted while 32-bit programs cannot
            # start lacks the 32-bit half of the platform.
            try:
                print(i386.enable(sandbox.state))
            except i386.Unavailable as reason:
                unavailable.write_text(str(reason))
                print("SKIPPED: the 32-bit image cannot run here:", reason)
                return SKIPPED
        sandbox.start(boot_timeout=540 if x86_image else 120)
        sandbox.add_device(wine.SAMPLE_HARDWARE_ID)
        print("sandbox ready at", sandbox.state)
        return 0
    if what == "stop":
        left = sandbox.stop() + i386.restore(sandbox.state)
        print("left behind:", left) if left else print("Wine and Xvfb ended, prefix removed")
        return 1 if left else 0
    if unavailable.exists():
        print("SKIPPED: the 32-bit image cannot run here:", unavailable.read_text())
        return SKIPPED
    if x86_image:
        pointer_digits = 8
        sandbox.program = pathlib.Path(x86_image[0]).resolve()
    result = unittest.main(module=__name__, argv=[sys.argv[0], what, "-v"], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
