"""The product's 32-bit image, as on 32-bit Windows and, through its hand-over
to the native build, as on 64-bit Windows; and the ARM64 build under ARM64
Wine."""

import shutil

from cases import (DEVICE_STATES, ERROR_FILE_NOT_FOUND, ERROR_IN_WOW64, NO_DEVICE, release_files,
                   suite, update_line)
from prefix import windows_path
from removal import identity
import creation
import sample


class X86(creation.CreationCase):
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
        """The release package's images of both programs, unpacked into the
        folder: an x64 machine must start the x64 builds, never the ARM64 ones."""
        layout = suite.sandbox.state / folder
        shutil.rmtree(layout, ignore_errors=True)
        images = [folder + name for folder in ["", "arm64/"] + (["x64/"] if with_x64 else [])
                  for name in ("Zeltrane.exe", "ZeltraneRemove.exe", "ZeltraneCreate.exe")]
        for inner, image in release_files(images).items():
            (layout / inner).parent.mkdir(parents=True, exist_ok=True)
            (layout / inner).write_bytes(image)
        self.assertEqual(sorted(str(p.relative_to(layout)) for p in layout.rglob("*.exe")),
                         sorted(images))
        return layout

    def run_as_on_64bit_windows(self, folder, inf_path, hardware_id, with_x64=True):
        """Starts the 32-bit image of a release layout unpacked into the
        folder; with the x64 build there, the run must have handed over."""
        layout = self.release_layout(folder, with_x64)
        command = suite.sandbox.program_command('"%s"' % inf_path, '"%s"' % hardware_id,
                                                program=layout / "Zeltrane.exe")
        run = suite.sandbox.run(command, as_64bit_windows=True)
        if with_x64:
            self.assertHandedOver(run, inf_path, hardware_id)
        return run

    def assertHandedOver(self, run, inf_path, hardware_id):
        """The 32-bit image's copy and its update, refused; then the x64
        build's copy and update, with the very same arguments: traced by
        Wine, or where no present device has the ID answered by the
        stand-in."""
        self.assertEqual(run.refused, [update_line(run, inf_path, hardware_id)])
        calls = run.program_calls()
        updates = [] if run.no_device else ["UpdateDriverForPlugAndPlayDevicesW"]
        self.assertEqual([f for f, _ in calls], ["SetupCopyOEMInfW", "SetupCopyOEMInfW"] + updates)
        self.assertCopyCall(calls[0], inf_path, digits=8)
        self.assertCopyCall(calls[1], inf_path, digits=16)
        if run.no_device:
            self.assertEqual(run.no_device, [update_line(run, inf_path, hardware_id)],
                             "the x64 build's update, answered for want of a device")
        else:
            self.assertUpdateCall(calls[2], run, inf_path, hardware_id, digits=16)
        self.assertSilent(run)

    def check_handover_install(self, layout_folder, package_folder, name, driver_runs=False,
                               identity=sample.SAMPLE):
        inf = self.package(package_folder, name, "; installed through the hand-over\n", identity)
        hardware_id = identity[0]
        before = self.sample_driver_records(identity)
        run = self.run_as_on_64bit_windows(layout_folder, windows_path(inf), hardware_id)
        self.assertEqual(run.exit_code, 0)
        [device] = suite.sandbox.driver(hardware_id, "InfPath", "SampleDriverMark")
        self.assertEqual(device["driver.SampleDriverMark"], "installed from zt-sample.inf")
        self.assertEqual(suite.sandbox.inf_store().get(device["driver.InfPath"]), inf.read_bytes(),
                         "the driver is installed from this package, staged in the store")
        if driver_runs:
            self.assertSampleDriverRuns(before, self.sample_driver_records(identity), identity)

    def test_handover_install(self):
        # A device, driver service and driver file that no other case has
        # touched: the records prove that this run started the amd64 driver.
        self.check_handover_install("release", "pkg-handover", "zt-handover.inf", driver_runs=True,
                                    identity=sample.SAMPLE_OWN_DEVICE)

    def test_handover_unattended(self):
        """Where no one can answer, the 32-bit image asks the platform's
        verdict itself, before it stages or hands over anything: its INF
        changed, the sample's catalog does not list it."""
        inf = self.package("pkg-handover-unseen", "zt-handover-unseen.inf", "; unseen\n")
        layout = self.release_layout("release-unseen")
        command = suite.sandbox.program_command('"%s"' % windows_path(inf),
                                                '"%s"' % sample.SAMPLE_HARDWARE_ID,
                                                program=layout / "Zeltrane.exe")
        store = suite.sandbox.package_store()
        run = suite.sandbox.run(command, as_64bit_windows=True, unseen=True)
        self.assertEqual((run.exit_code, run.refused, run.program_calls()), (0xE000024B, [], []))
        self.assertEqual(suite.sandbox.package_store(), store, "nothing staged")

    def test_handover_device_state(self):
        inf = windows_path(self.package("pkg-state", "zt-state.inf", "; the devices' state\n"))
        try:
            for name in ("restart needed", "cannot start (code 10)"):
                with self.subTest(state=name):
                    status, problem, exit_code = DEVICE_STATES[name]
                    suite.sandbox.play_device_state(sample.SAMPLE_HARDWARE_ID, status, problem)
                    run = self.run_as_on_64bit_windows("release", inf, sample.SAMPLE_HARDWARE_ID)
                    self.assertEqual(run.exit_code, exit_code, "the x64 build's exit code")
        finally:
            suite.sandbox.play_device_state(sample.SAMPLE_HARDWARE_ID)

    def test_handover_missing_inf(self):
        (suite.sandbox.state / "pkg").mkdir(exist_ok=True)
        missing = windows_path(suite.sandbox.state / "pkg" / "missing.inf")
        run = self.run_as_on_64bit_windows("release", missing, sample.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, ERROR_FILE_NOT_FOUND, "the x64 build's exit code")

    def test_handover_without_x64(self):
        inf = self.package("pkg-no-x64", "zt-no-x64.inf", "; never installed\n")
        before = suite.sandbox.driver(sample.SAMPLE_HARDWARE_ID, "InfPath")
        run = self.run_as_on_64bit_windows("no-x64", windows_path(inf), sample.SAMPLE_HARDWARE_ID,
                                           with_x64=False)
        self.assertEqual(run.exit_code, ERROR_IN_WOW64)
        self.assertEqual(len(run.refused), 1, "the refused update")
        self.assertEqual([f for f, _ in run.program_calls()], ["SetupCopyOEMInfW"],
                         "no x64 build ran")
        self.assertSilent(run)
        self.assertEqual(suite.sandbox.driver(sample.SAMPLE_HARDWARE_ID, "InfPath"), before,
                         "the device's driver is unchanged")

    def test_no_device(self):
        # As 32-bit Windows: the 32-bit stand-in answers for want of a device.
        self.check_no_device("pkg-no-device-x86", "zt-no-device-x86.inf")

    def test_handover_no_device(self):
        # The x64 build's answer, handed on whole.
        inf = self.package("pkg-no-device-handover", "zt-no-device-handover.inf",
                           "; no device, hand-over\n", NO_DEVICE)
        run = self.run_as_on_64bit_windows("release", windows_path(inf), NO_DEVICE[0])
        self.assertTrue(run.no_device, "the stand-in answered for want of a device")
        self.assertStagedNotInstalled(run, inf)

    def test_handover_remove(self):
        # Installed by the x64 build itself; removed by the 32-bit image as
        # on 64-bit Windows, whose DiUninstallDriverW refuses it.
        hardware_id = identity(5)[0]
        inf = self.package("pkg-handover-remove", "zt-handover-remove.inf", "; removed again\n",
                           identity(5))
        suite.sandbox.add_device(hardware_id)
        layout = self.release_layout("release")
        published = self.install(inf, hardware_id, program=layout / "x64" / "Zeltrane.exe")
        before = suite.sandbox.package_store()
        run = self.run_removal('"%s"' % windows_path(inf), program=layout / "ZeltraneRemove.exe",
                               as_64bit_windows=True)
        [refused] = run.refused
        self.assertRegex(refused, r"(?i)^parent=0x0 hardware_id=\(null\) "
                         r"inf_path=C:\\windows\\inf\\%s flags=0x0 reboot=0x[1-9A-F]"
                         % published.replace(".", r"\."))
        self.assertSilent(run)
        self.assertNoDriver(hardware_id)
        self.assertPackageGone(before, published, "own name", run.exit_code)

    def test_handover_create(self):
        # The 32-bit ZeltraneCreate.exe as on 64-bit Windows: the update
        # refused, the x64 build installs on the one device, whichever of
        # the two made it (Wine's setupapi does not refuse 32-bit callers the
        # device's registration, as Windows does).
        own = creation.identity(4)
        inf = self.package("pkg-handover-create", "zt-virtual4.inf", "; virtual 4\n", own)
        layout = self.release_layout("release")
        run = self.run_creation('"%s"' % windows_path(inf), '"%s"' % own[0],
                                program=layout / "ZeltraneCreate.exe", as_64bit_windows=True)
        self.assertEqual(len(run.refused), 1, "handed over after the refusal")
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)
        self.assertOneDeviceRuns(own)

    def test_handover_folder_beyond_ascii(self):
        self.check_handover_install("Zeltrane réseau Ωmega 1.1", "Pilotes ñ", "zt-ñ handover.inf")


class Arm64(creation.CreationCase):
    """The native ARM64 build under ARM64 Wine, in an ARM64 platform root.
    That Wine has no 32-bit side, and every start goes through QEMU here:
    one case of each kind. The newdev stand-in cannot call that Wine's own
    update, so a package for a device that is not there is not a case here:
    this Wine answers it with TRUE."""

    def test_usage(self):
        self.assertUsage(self.run_program())

    def test_renamed_copy_still_names_zeltrane(self):
        self.check_renamed_copy()

    def test_install_takes_the_arm64_section(self):
        # The package's ARM64 section: the ARM64 driver, running on the device.
        inf, before = self.install_sample()
        [device] = suite.sandbox.driver(sample.SAMPLE_HARDWARE_ID, "InfSection", "InfSectionExt",
                                        "InfPath", "SampleDriverMark")
        # The install section, and the decoration the platform chose for it.
        self.assertEqual([device["driver.InfSection"], device["driver.InfSectionExt"]],
                         ["SampleInstall", ".NTarm64"])
        self.assertEqual(device["driver.SampleDriverMark"], "installed from zt-sample.inf")
        self.assertEqual(suite.sandbox.inf_store().get(device["driver.InfPath"]), inf.read_bytes(),
                         "installed from this package, staged in the store")
        self.assertSampleDriverRuns(before, self.sample_driver_records())

    def test_missing_inf(self):
        self.check_missing_inf()

    def test_create(self):
        # The ARM64 ZeltraneCreate.exe: the device made, the ARM64 driver
        # running on it, and gone again with the package.
        own = creation.identity(5)
        inf = self.package("pkg-create", "zt-virtual5.inf", "; virtual 5\n", own)
        run = self.run_creation('"%s"' % windows_path(inf), '"%s"' % own[0])
        self.assertEqual(run.exit_code, 0)
        self.assertOneDeviceRuns(own)
        self.run_removal('"%s"' % windows_path(inf))
        self.assertEqual(suite.sandbox.driver(own[0]), [], "no device left")

    def test_remove(self):
        # As far as this Wine goes (Debian 12's, Wine 8): the route of
        # Windows before version 1703, on a device and package of its own.
        hardware_id = identity(6)[0]
        inf = self.package("pkg-remove", "zt-remove.inf", "; removed again\n", identity(6))
        suite.sandbox.add_device(hardware_id)
        published = self.install(inf, hardware_id)
        before = suite.sandbox.package_store()
        run = self.run_removal('"%s"' % windows_path(inf))
        self.assertSilent(run)
        self.assertNoDriver(hardware_id)
        self.assertPackageGone(before, published, "own name", run.exit_code)
