"""The setups that vendors ship, run as on 64-bit Windows: NSIS, MSI and the
batch file, for one ID and for a product line, their failures, upgrades, and
their uninstall under each ZELTRANE_ON_UNINSTALL."""

import os
import re
import shutil
import subprocess
import time
from unittest import mock

from cases import (DEVICE_STATES, ERROR_BAD_ARGUMENTS, ERROR_EXPECTED_SECTION_NAME,
                   ERROR_FILE_NOT_FOUND, ERROR_NO_SUCH_DEVINST, ERROR_SUCCESS_REBOOT_REQUIRED,
                   INSTALLSTATE_DEFAULT, INSTALLSTATE_UNKNOWN, MSI_FAILURE, NO_DEVICE,
                   SETUP_NOT_STARTED, release_files, suite)
from prefix import windows_path
from creation import CreationCase
from removal import DELETED
from setup_builds import (BYSTANDER, BYSTANDER_MSI, CATALOGUED, COMMAND_LINE_FAIL, CREATES,
                          EDITED_BYSTANDER,
                          FOLDER_CASES,
                          HOSTILE, LINE_SITUATIONS,
                          NOTHING_INSTALLED, RELEASE_FILES, RESTART_PRODUCTS, REUSED, SETUPS,
                          SHARED, SHARED_CREATE, SHARED_NSIS, UNATTENDED, UNINSTALLS,
                          UPGRADE_VERSIONS, UPGRADES, line_identities, line_product,
                          line_setup_name, upgrade_inf, windows_folder)
import sample
import setup_runs

# What the NSIS setup ends with where it refuses the installation folder.
FOLDER_REFUSED = 267
# The MSI's record of each product, as its 32-bit custom actions see the registry.
PRODUCT_KEY = "HKLM\\Software\\Zeltrane\\Products\\%s"


def files_in(folder):
    """The files below a folder: {path inside it: bytes}."""
    return {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


class Setups(CreationCase):
    """The templates of examples/setups as vendors ship them, built by the
    project's script (build_setups), started as on 64-bit Windows: the
    prefix refuses device installation to 32-bit programs, so each setup's
    32-bit Zeltrane.exe hands over to x64\\Zeltrane.exe."""

    def run_nsis(self, name):
        return setup_runs.nsis(suite.sandbox, suite.setups / name)

    def run_msi(self, name, action="/i"):
        return setup_runs.msi(suite.sandbox, suite.setups / name, action)

    def run_batch(self, name, *arguments):
        return setup_runs.batch(suite.sandbox, suite.setups / name, arguments)

    def expected_files(self, name):
        """The release layout and the package, as the setups lay them out."""
        files = release_files(RELEASE_FILES)
        files.update({"driver/" + path: data
                      for path, data in files_in(suite.setups / "packages" / name).items()})
        return files

    def installed_files(self, product):
        """The product's installed files but the NSIS setup's uninstaller."""
        files = files_in(suite.sandbox.program_files(product))
        files.pop("uninstall.exe", None)
        return files

    def product_code(self, name):
        return (suite.setups / name / "driver-setup.msi.productcode").read_text().strip()

    def marker(self):
        """The file that the sandbox's marker.exe leaves where it runs."""
        return suite.sandbox.prefix / "drive_c" / "windows" / "temp" / "zeltrane-marker.txt"

    def registry(self, *arguments):
        """reg.exe with the arguments, in the registry's 32-bit view, where
        the MSI's custom actions keep their record: its exit code."""
        return setup_runs.start(suite.sandbox, "reg %s /reg:32" % " ".join(arguments)).exit_code

    def assertSucceeded(self, run):
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)

    def assertStillRunning(self, identity):
        self.assertEqual(suite.sandbox.service(identity[1])["service.state"], "RUNNING")
        self.assertTrue(suite.sandbox.system_file("drivers", identity[2]).is_file())

    def assertNothingInstalled(self, name):
        """No files, no registration, no driver on the failures' device."""
        self.assertFalse(suite.sandbox.program_files(SETUPS[name][2]).exists(), "files rolled back")
        self.assertEqual(suite.sandbox.product(SETUPS[name][2]), {"uninstall": "(none)"})
        hardware_id, service, driver = NOTHING_INSTALLED
        [device] = suite.sandbox.driver(hardware_id, "SampleDriverMark")
        self.assertEqual(device["driver.SampleDriverMark"], "(none)")
        self.assertNotIn("service.state", suite.sandbox.service(service))
        self.assertFalse(suite.sandbox.system_file("drivers", driver).exists())

    def test_nsis(self):
        identity = SETUPS["nsis"][0]
        before = self.sample_driver_records(identity)
        self.assertSucceeded(self.run_nsis("nsis"))
        self.assertTrue(suite.sandbox.program_files(SETUPS["nsis"][2], "uninstall.exe").is_file())
        self.assertEqual(self.installed_files(SETUPS["nsis"][2]), self.expected_files("nsis"))
        entry = suite.sandbox.product(SETUPS["nsis"][2])
        self.assertEqual(entry["uninstall.DisplayName"], SETUPS["nsis"][2])
        self.assertSampleDriverRuns(before, self.sample_driver_records(identity), identity)
        with self.subTest("a second run on the same device"):
            self.assertSucceeded(self.run_nsis("nsis"))
            self.assertStillRunning(identity)
        with self.subTest("another vendor's product of the same name: refused"):
            run = self.run_nsis("nsis-other-vendor")
            self.assertEqual(run.exit_code, FOLDER_REFUSED)
            self.assertSilent(run)
            self.assertEqual(suite.sandbox.product(SETUPS["nsis"][2]), entry, "the entry untouched")
            self.assertEqual(self.installed_files(SETUPS["nsis"][2]), self.expected_files("nsis"))
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
        # /D= any folder but one directly in Program Files, where only
        # administrators can make one: refused before anything is made.
        setup = windows_path(suite.setups / "missing-inf" / "driver-setup.exe")
        for folder in ("C:\\Vendor\\Net",
                       windows_folder(suite.sandbox.program_files("ZT vendor", "net"))):
            with self.subTest(folder=folder):
                run = setup_runs.start(suite.sandbox, '"%s" /S /D=%s' % (setup, folder))
                self.assertEqual(run.exit_code, FOLDER_REFUSED)
                self.assertSilent(run)
                self.assertNothingInstalled("missing-inf")
                self.assertFalse((suite.sandbox.prefix / "drive_c" / "Vendor").exists())
                self.assertFalse(suite.sandbox.program_files("ZT vendor").exists())
        with self.subTest("a folder there already that is not its own: refused"):
            # As another program's setup could have made it, with its rights.
            planted = suite.sandbox.program_files(SETUPS["missing-inf"][2], "planted.txt")
            planted.parent.mkdir()
            planted.write_text("another program's")
            try:
                run = self.run_nsis("missing-inf")
                self.assertEqual(run.exit_code, FOLDER_REFUSED)
                self.assertEqual([p.name for p in planted.parent.iterdir()], [planted.name])
                self.assertEqual(suite.sandbox.product(SETUPS["missing-inf"][2]),
                                 {"uninstall": "(none)"})
            finally:
                shutil.rmtree(planted.parent)

    def test_msi(self):
        identity, _, product = SETUPS["msi"]
        code = self.product_code("msi")
        before = self.sample_driver_records(identity)
        self.assertSucceeded(self.run_msi("msi"))
        self.assertEqual(self.installed_files(product), self.expected_files("msi"))
        registered = suite.sandbox.product(code)
        self.assertEqual([registered["msi.state"], registered["uninstall.DisplayName"]],
                         [INSTALLSTATE_DEFAULT, product])
        self.assertSampleDriverRuns(before, self.sample_driver_records(identity), identity)
        with self.subTest("a second run on the same device"):
            self.assertSucceeded(self.run_msi("msi"))
            self.assertStillRunning(identity)
        with self.subTest("uninstall, keeping the driver, with a restart request made before"):
            # Another process's request (Wine enforces no ACLs; on Windows
            # only administrators can write the key): the removal clears it
            # before it starts, so the uninstall does not end with 3010.
            key = '"%s"' % (PRODUCT_KEY % code)
            self.assertEqual(self.registry("add", key, "/v RestartNeeded /t REG_DWORD /d 1 /f"), 0)
            self.assertSucceeded(setup_runs.msi(suite.sandbox, suite.setups / "msi", "/x",
                                                properties=" ZELTRANE_ON_UNINSTALL=keep"))
            self.assertEqual(self.registry("query", key), 1, "the product's record deleted")
            self.assertFalse(suite.sandbox.program_files(product).exists(), "files removed")
            self.assertEqual(suite.sandbox.product(code), {"msi.state": INSTALLSTATE_UNKNOWN,
                                                           "uninstall": "(none)"})
            self.assertStillRunning(identity)
            [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
            self.assertEqual(device["driver.SampleDriverMark"], "installed from zt-sample.inf")

    def test_msi_hostile_user(self):
        """What a user who can write INSTALLDIR (a folder that the MSI's
        permissions did not lock, as Wine enforces none) can do: the
        installed programs replaced by marker.exe never run, a repair
        (msiexec /fmu) installs nothing, and the installed INF replaced by a
        bystander's staged package's INF cannot turn the removal on that
        package: the recorded one goes, the bystander's stays."""
        identity, inf, product = HOSTILE
        bystander, bystander_inf = BYSTANDER[0], suite.setups / "packages" / "bystander" / \
            BYSTANDER[1]
        # The bystander's package, installed as on 64-bit Windows from the
        # release layout of its batch folder.
        command = suite.sandbox.program_command('"%s"' % windows_path(bystander_inf),
                                                '"%s"' % bystander[0],
                                                program=suite.setups / "hostile-msi" / "batch" /
                                                "Zeltrane.exe")
        self.assertEqual(setup_runs.start(suite.sandbox, command).exit_code, 0)
        self.assertStillRunning(bystander)
        self.assertSucceeded(self.run_msi("hostile-msi"))
        folder = suite.sandbox.program_files(product)
        marker = suite.sandbox.program.parent / "stand-in" / "marker.exe"
        for name in RELEASE_FILES:
            if name.endswith(".exe"):
                (folder / name).write_bytes(marker.read_bytes())
        self.marker().unlink(missing_ok=True)
        records, store = self.sample_driver_records(identity), suite.sandbox.package_store()
        with self.subTest("a repair runs nothing and installs nothing"):
            # msiexec /fmu as its properties say it: Wine 8's msiexec /fmu
            # ends with 1 and repairs nothing.
            log = suite.sandbox.state / "hostile-repair.log"
            repair = setup_runs.msi(suite.sandbox, suite.setups / "hostile-msi", log=log,
                                    properties=" REINSTALL=ALL REINSTALLMODE=mu")
            self.assertEqual(repair.exit_code, 0)
            self.assertEqual(setup_runs.msi_records(log), [], "no run of Zeltrane")
            self.assertFalse(self.marker().exists(), "a replaced program ran")
            self.assertEqual(self.sample_driver_records(identity), records, "driver untouched")
            self.assertEqual(suite.sandbox.package_store(), store)
        with self.subTest("the removal takes the recorded package, not the INF's"):
            (folder / "driver" / inf).write_bytes(bystander_inf.read_bytes())
            run = setup_runs.msi(suite.sandbox, suite.setups / "hostile-msi", "/x")
            self.assertFalse(self.marker().exists(), "a replaced program ran")
            self.assertNoDriver(identity[0])
            self.assertPackageGone(store, inf, "own name", run.exit_code)
            [device] = suite.sandbox.driver(bystander[0], "InfPath")
            self.assertEqual(device["driver.InfPath"], BYSTANDER[1], "the bystander's untouched")
            self.assertStillRunning(bystander)

    def removal_log(self, name):
        """The MSI of the folder removed with its log: the run and the log's text."""
        log = suite.sandbox.state / ("%s-removal.log" % name)
        run = setup_runs.msi(suite.sandbox, suite.setups / name, "/x", log=log)
        return run, setup_runs.msi_text(log)

    def test_shared_package(self):
        """One package that two MSIs install, each a product of its own: it
        stays on its device and in the stores until the last of them goes,
        and the first removal says who still uses it."""
        identity, inf, _ = SHARED
        for name in ("shared-msi-a", "shared-msi-b"):
            self.assertSucceeded(self.run_msi(name))
        store = suite.sandbox.package_store()
        with self.subTest("the first removed: the package stays"):
            run, log = self.removal_log("shared-msi-a")
            self.assertEqual(run.exit_code, 0)
            self.assertIn('stays installed and staged: it is still used by "%s"' %
                          self.product_code("shared-msi-b"), log)
            self.assertEqual(suite.sandbox.product(self.product_code("shared-msi-a"))["msi.state"],
                             INSTALLSTATE_UNKNOWN)
            self.assertStillRunning(identity)
            self.assertEqual(suite.sandbox.package_store(), store)
        with self.subTest("the last removed: the package goes"):
            run, _ = self.removal_log("shared-msi-b")
            self.assertNoDriver(identity[0])
            self.assertPackageGone(store, inf, "own name", run.exit_code)

    def test_nsis_shares_a_package_with_an_msi(self):
        """One package of an MSI and an NSIS setup: each one's uninstall
        leaves it while the other is installed; the last one takes it."""
        identity, inf, products = SHARED_NSIS
        folder = windows_folder(suite.sandbox.program_files(products["shared-nsis"]))
        self.assertSucceeded(self.run_msi("shared-nsis-msi"))
        self.assertSucceeded(self.run_nsis("shared-nsis"))
        store = suite.sandbox.package_store()
        with self.subTest("the NSIS setup uninstalled: the MSI's package stays"):
            self.assertEqual(setup_runs.nsis_uninstall(suite.sandbox, folder).exit_code, 0)
            self.assertEqual(suite.sandbox.product(products["shared-nsis"]),
                             {"uninstall": "(none)"})
            self.assertStillRunning(identity)
            self.assertEqual(suite.sandbox.package_store(), store)
        with self.subTest("the MSI removed: the NSIS setup's package stays"):
            self.assertSucceeded(self.run_nsis("shared-nsis"))
            run, log = self.removal_log("shared-nsis-msi")
            self.assertEqual(run.exit_code, 0)
            self.assertIn('it is still used by "NSIS {', log)
            self.assertStillRunning(identity)
            self.assertEqual(suite.sandbox.package_store(), store)
        with self.subTest("the NSIS setup, the last, uninstalled: the package goes"):
            run = setup_runs.nsis_uninstall(suite.sandbox, folder)
            self.assertNoDriver(identity[0])
            self.assertPackageGone(store, inf, "own name", run.exit_code)

    def test_shared_virtual_adapter(self):
        """Two products that make the same virtual adapter: the first makes
        its device, the second installs on it, and the device stays until
        the last of them goes."""
        identity, inf, products = SHARED_CREATE
        self.assertEqual(suite.sandbox.driver(identity[0]), [], "no device yet")
        for name in products:
            self.assertSucceeded(self.run_msi(name))
        self.assertOneDeviceRuns(identity)
        store = suite.sandbox.package_store()
        with self.subTest("the first removed: the device stays"):
            run, log = self.removal_log("shared-create-a")
            self.assertEqual(run.exit_code, 0)
            self.assertIn('it is still used by "%s"' % self.product_code("shared-create-b"), log)
            self.assertEqual(len(suite.sandbox.driver(identity[0])), 1)
            self.assertStillRunning(identity)
            self.assertEqual(suite.sandbox.package_store(), store)
        with self.subTest("the last removed: no device, no package"):
            run, _ = self.removal_log("shared-create-b")
            self.assertEqual(suite.sandbox.driver(identity[0]), [], "no device left")
            self.assertPackageGone(store, inf, "own name", run.exit_code)

    def test_msi_removal_leaves_a_reused_name(self):
        """The recorded published name now another package's of the same INF
        name (its INF written over the published one, as the platform
        publishes a later package under a name that one left): the removal
        leaves it, and says so."""
        identity, inf, product = REUSED
        self.assertSucceeded(self.run_msi("reused-msi"))
        with self.subTest("the same INF staged again under the name, with another catalog"):
            catalog = suite.sandbox.staged_catalogs() / (inf[:-4] + ".cat")
            ours = catalog.read_bytes()
            catalog.write_bytes(sample.sample_catalog(suite.sandbox.drivers).read_bytes())
            store = suite.sandbox.package_store()
            run, log = self.removal_log("reused-msi")
            self.assertEqual(run.exit_code, 0)
            self.assertIn("is no longer the package that this product installed: nothing "
                          "removed", log)
            self.assertEqual(suite.sandbox.package_store(), store, "the other package untouched")
            catalog.write_bytes(ours)
            self.assertSucceeded(self.run_msi("reused-msi"))
        published = suite.sandbox.prefix / "drive_c" / "windows" / "inf" / inf
        other = published.read_bytes() + b"; another package of the same INF name\r\n"
        published.write_bytes(other)
        run, log = self.removal_log("reused-msi")
        self.assertEqual(run.exit_code, 0)
        self.assertIn("is no longer the package that this product installed: nothing removed", log)
        self.assertEqual(published.read_bytes(), other, "the other package untouched")
        self.assertStillRunning(identity)

    def test_msi_knows_its_package_by_its_catalog(self):
        """The MSI's INF staged first with another catalog, as another
        signing of it: the platform stages the MSI's under a name of its own,
        which the record names, and the other stays as it was."""
        identity, inf, _ = CATALOGUED
        other = suite.sandbox.state / "other-signing"
        shutil.rmtree(other, ignore_errors=True)
        shutil.copytree(suite.setups / "packages" / "catalogued-msi", other)
        another = sample.sample_catalog(suite.sandbox.drivers).read_bytes()
        (other / sample.SAMPLE_CATALOG).write_bytes(another)
        self.run_program('"%s"' % windows_path(other / inf), '"%s"' % NO_DEVICE[0])
        run, log = self.run_msi_logged("catalogued-msi")
        self.assertSucceeded(run)
        [name] = re.findall(r'the package is staged as "([^"]+)", recorded', log)
        self.assertNotEqual(name, inf, "a name of its own")
        ours = (suite.setups / "packages" / "catalogued-msi" / sample.SAMPLE_CATALOG).read_bytes()
        catalogs = suite.sandbox.staged_catalogs()
        self.assertEqual((catalogs / (name[:-4] + ".cat")).read_bytes(), ours)
        self.assertEqual((catalogs / (inf[:-4] + ".cat")).read_bytes(), another)
        self.assertStillRunning(identity)

    def test_msi_unattended(self):
        """Run where no one can answer, as a deployment tool runs it: the MSI
        whose package Windows would ask about (its catalog unsigned), and the
        MSI during another installation, each end with 1603, nothing staged
        or registered, the log saying why and what to do."""
        identity, inf, product = UNATTENDED
        log = suite.sandbox.state / "unattended-msi.log"
        for what, plays, said in [
                ("no valid signature", (), "ended with 0x800B0100, the driver was not installed"),
                ("an installation under way", {"pending"},
                 "ended with 0x00000652, the driver was not installed: another installation was "
                 "still under way after a minute; run the setup again once it has ended")]:
            with self.subTest(what):
                store = suite.sandbox.package_store()
                run = setup_runs.msi(suite.sandbox, suite.setups / "unattended-msi", log=log,
                                     unseen=True, plays=plays)
                self.assertEqual(run.exit_code, MSI_FAILURE)
                self.assertIn('hardware ID "%s": Zeltrane.exe %s' % (identity[0], said),
                              setup_runs.msi_text(log))
                self.assertEqual(suite.sandbox.package_store(), store, "nothing staged")
                self.assertEqual(suite.sandbox.product(product), {"uninstall": "(none)"})

    def run_in_vendor_folder(self, name):
        """The MSI installed into C:\\Vendor\\Net, as an administrator may
        pick: the run, and its log's text."""
        log = suite.sandbox.state / ("%s.log" % name)
        run = setup_runs.msi(suite.sandbox, suite.setups / name, log=log,
                             properties=" INSTALLDIR=C:\\Vendor\\Net")
        return run, setup_runs.msi_text(log)

    def test_msi_custom_folder(self):
        """A folder outside Program Files, where a user made the driver
        folder first and planted an INF of the same size with a later date,
        and a higher-version x64\\Zeltrane.exe (marker.exe): the MSI installs
        the vendor's package from its checked copy, or fails naming the
        planted file (as the Wine generation keeps or replaces it); the
        planted program never runs."""
        identity, inf, _ = FOLDER_CASES["custom-msi"]
        vendor = (suite.setups / "packages" / "custom-msi" / inf).read_bytes()
        planted = vendor.replace(b"installed from", b"INSTALLED FROM")
        folder = suite.sandbox.prefix / "drive_c" / "Vendor" / "Net"
        self.addCleanup(shutil.rmtree, folder.parent, ignore_errors=True)
        self.addCleanup(setup_runs.msi, suite.sandbox, suite.setups / "custom-msi", "/x")
        (folder / "driver").mkdir(parents=True)
        (folder / "x64").mkdir()
        (folder / "driver" / inf).write_bytes(planted)
        os.utime(folder / "driver" / inf, (time.time() + 86400,) * 2)
        marker = suite.sandbox.program.parent / "stand-in" / "marker.exe"
        (folder / "x64" / "Zeltrane.exe").write_bytes(marker.read_bytes())
        self.marker().unlink(missing_ok=True)
        run, log = self.run_in_vendor_folder("custom-msi")
        self.assertFalse(self.marker().exists(), "the planted program ran")
        self.assertNotIn(planted, suite.sandbox.inf_store().values(), "the planted INF staged")
        if run.exit_code == 0:
            self.assertIn("the driver package's files are the MSI's own, checked in", log)
            [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
            self.assertEqual(device["driver.SampleDriverMark"], "installed from zt-sample.inf")
            self.assertIn(vendor, suite.sandbox.inf_store().values())
        else:
            self.assertEqual(run.exit_code, MSI_FAILURE)
            self.assertIn('\\driver\\%s" is not the file that this MSI installed' % inf, log)
            [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
            self.assertEqual(device["driver.SampleDriverMark"], "(none)")

    def test_msi_package_changed_before_its_installation(self):
        """The INF changed between InstallFiles and InstallDriver, in a
        folder outside Program Files: 1603, rolled back, the file named in
        the log, nothing staged or installed."""
        identity, inf, product = FOLDER_CASES["tampered-msi"]
        store = suite.sandbox.inf_store()
        run, log = self.run_in_vendor_folder("tampered-msi")
        self.assertEqual(run.exit_code, MSI_FAILURE)
        self.assertIn('C:\\Vendor\\Net\\driver\\%s" is not the file that this MSI installed' % inf,
                      log)
        self.assertEqual(suite.sandbox.inf_store(), store, "nothing staged")
        [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
        self.assertEqual(device["driver.SampleDriverMark"], "(none)")
        self.assertFalse((suite.sandbox.prefix / "drive_c" / "Vendor" / "Net" / "driver" /
                          inf).exists(), "rolled back")
        self.assertEqual(suite.sandbox.product(self.product_code("tampered-msi"))["msi.state"],
                         INSTALLSTATE_UNKNOWN)

    def test_msi_failure(self):
        run = self.run_msi("missing-inf")
        self.assertEqual(run.exit_code, MSI_FAILURE, "msiexec's code")
        self.assertSilent(run)
        self.assertEqual(suite.sandbox.product(self.product_code("missing-inf"))["msi.state"],
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
        # A setting that any process of the user may have set, made to run a
        # command: compared as text, it is only a setting that is neither.
        self.marker().unlink(missing_ok=True)
        hostile = 'x" & echo ran>%s & "' % windows_path(self.marker())
        with mock.patch.dict(os.environ, {"ZELTRANE_NO_DEVICE": hostile}):
            run = self.run_batch("missing-inf", "driver", "zt-sample.inf", hardware_id)
        self.assertEqual(run.exit_code, ERROR_BAD_ARGUMENTS)
        self.assertFalse(self.marker().exists(), "the setting's text ran as a command")
        self.assertNothingInstalled("missing-inf")
        # ERRORLEVEL in the environment would stand in for each exit code.
        with mock.patch.dict(os.environ, {"ERRORLEVEL": hostile}):
            run = self.run_batch("missing-inf", "driver", "missing.inf", hardware_id)
        self.assertEqual(run.exit_code, ERROR_FILE_NOT_FOUND)
        self.assertFalse(self.marker().exists(), "ERRORLEVEL's text ran as a command")
        self.assertNothingInstalled("missing-inf")
        # An INF name that matches no file leaves the INF's variable unset: a
        # value from the environment, naming another package, is never run.
        other = windows_path(suite.setups / "packages" / "nsis" / "zt-sample.inf")
        with mock.patch.dict(os.environ, {"inf": other}):
            run = self.run_batch("missing-inf", "driver", "none*.inf", hardware_id)
        self.assertNotIn(other, [a.get("source", a.get("inf_path")) for _, a in run.calls])
        self.assertNotEqual(run.exit_code, 0)
        self.assertNothingInstalled("missing-inf")

    def run_line(self, kind, situation, setting):
        """The kind's setup for the situation's line, with the setting (None:
        the setup's default): the run and the lines of its record, each
        (hardware ID, exit code) of a run of Zeltrane, for the MSI from its
        log and for the batch file from its output; the NSIS setup records
        only what it installed for."""
        if kind == "batch":
            package = suite.setups / "packages" / ("line-batch-%s" % situation)
            inf = "missing.inf" if situation == "missing-inf" else "zt-sample.inf"
            ids = ['"%s"' % identity[0] for identity in line_identities(kind, situation)]
            run = setup_runs.batch(suite.sandbox, suite.setups / "batch",
                                   ['"%s"' % windows_path(package), inf] + ids, setting)
            return run, setup_runs.batch_records(run)
        name = line_setup_name(kind, situation, setting)
        if kind == "nsis":
            return self.run_nsis(name), None
        log = suite.sandbox.state / ("%s.log" % name)
        # The MSI's property, set by the deployment's command line.
        extra = " ZELTRANE_NO_DEVICE=fail" if setting == COMMAND_LINE_FAIL else ""
        run = setup_runs.msi(suite.sandbox, suite.setups / name, log=log, properties=extra)
        return run, setup_runs.msi_records(log)

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
        code = (suite.setups / name / "driver-setup.msi.productcode").read_text().strip()
        entry = suite.sandbox.product(code if kind == "msi" else product)
        self.assertEqual(suite.sandbox.program_files(product).exists(), installed is not None)
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
        inf = suite.setups / "packages" / ("line-%s-%s" % (kind, situation)) / "zt-sample.inf"
        self.assertEqual(run.boxes, [])
        codes = [(identity[0], 0 if identity in present else ERROR_NO_SUCH_DEVINST)
                 for identity in identities]
        if situation == "missing-inf":
            # Whatever the setting: the first ID's failure ends the setup;
            # the MSI runs nothing for an INF that its package lacks.
            self.assertLineFailed(kind, run, ERROR_FILE_NOT_FOUND)
            codes = [(identities[0][0], ERROR_FILE_NOT_FOUND)]
            if kind == "msi":
                codes = []
                self.assertIn('the INF "missing.inf" is not one of the driver package\'s files',
                              setup_runs.msi_text(suite.sandbox.state / ("%s.log" % name)))
            self.assertLineRegistered(kind, name, None)
            for identity in present:
                [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
                self.assertEqual(device["driver.SampleDriverMark"], "(none)")
            self.assertNotIn("service.state", suite.sandbox.service(identities[0][1]))
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
            self.assertIn(inf.read_bytes(), suite.sandbox.inf_store().values(),
                          "staged in the store")
        for identity in identities:
            if identity not in present:
                self.assertEqual(suite.sandbox.driver(identity[0]), [], "no device has it")
        if not present:
            self.assertNotIn("service.state", suite.sandbox.service(identities[0][1]), "no service")
            self.assertFalse(suite.sandbox.system_file("drivers", identities[0][2]).exists())
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
        identity, product, _ = UPGRADES[kind]
        self.assertEqual(self.installed_files(product),
                         self.expected_files("upgrade-%s-v%d" % (kind, version)),
                         "version %d's files" % version)
        [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
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

    def upgrade_packages(self, kind, version):
        """The published names of the kind's version's package in the INF store."""
        note = ("; upgrade %s %d\n" % (kind, version)).encode()
        return sorted(name for name, data in suite.sandbox.package_store()["inf"].items()
                      if data.endswith(note))

    def install_version_1(self, kind):
        """Version 1 installed, published under its INF's own name: that name."""
        run = self.run_nsis if kind == "nsis" else self.run_msi
        self.assertSucceeded(run("upgrade-%s-v1" % kind))
        self.assertEqual(self.upgrade_packages(kind, 1), [upgrade_inf(kind)])
        return upgrade_inf(kind)

    def assertSuperseded(self, kind, published, deleted):
        """Version 1's package, published as `published`, after version 2:
        its INF and PNF gone where `deleted` and the generation deletes such
        packages (Wine 10; Wine 8 deletes nothing without the force flag),
        there otherwise; version 2's package staged. Its driver store folder
        is left out: Wine 10 keeps it here, where it deletes it in the
        removal cases."""
        gone = deleted and "inf" in DELETED[suite.sandbox.wine_generation()]["own name"]
        now = suite.sandbox.package_store()
        self.assertEqual([published in now["inf"], published[:-4] + ".pnf" in now["pnf"]],
                         [not gone, not gone],
                         "version 1's package deleted" if gone else "version 1's package stays")
        self.assertEqual(len(self.upgrade_packages(kind, 1)), 0 if gone else 1)
        self.assertEqual(len(self.upgrade_packages(kind, 2)), 1, "version 2's package staged")

    def run_msi_logged(self, name, properties=""):
        """The MSI installed with its log: the run and the log's text."""
        log = suite.sandbox.state / ("%s.log" % name)
        run = setup_runs.msi(suite.sandbox, suite.setups / name, log=log, properties=properties)
        return run, setup_runs.msi_text(log)

    def test_msi_upgrade(self):
        identity, product, _ = UPGRADES["msi"]
        first, second = (self.product_code("upgrade-msi-v%d" % v) for v in (1, 2))
        before = self.sample_driver_records(identity)
        published = self.install_version_1("msi")
        self.assertEqual(suite.sandbox.product(first)["msi.state"], INSTALLSTATE_DEFAULT)
        self.assertUpgradeInstalled("msi", 1, before)
        # Another product's package of the same INF name, staged after
        # version 1, so under another published name.
        other = self.package("upgrade-other", upgrade_inf("msi"), "; another product\n",
                             NO_DEVICE)
        self.run_program('"%s"' % windows_path(other), '"%s"' % NO_DEVICE[0])
        others = {name: data for name, data in suite.sandbox.package_store()["inf"].items()
                  if data.endswith(b"; another product\n")}
        self.assertEqual(len(others), 1, "the other product's package staged")
        with self.subTest("what a command line sets decides nothing: 1603, version 1 stays"):
            self.assertSucceeded(self.run_msi("bystander-msi"))
            bystander = self.product_code("bystander-msi")
            for properties, named in [
                    (" ZELTRANE_SUPERSEDED=kep", 'ZELTRANE_SUPERSEDED is "kep"'),
                    (' ZELTRANE_NO_DEVICE="succeed|x"', 'ZELTRANE_NO_DEVICE is "succeed|x"'),
                    (" ZELTRANE_OLDER_FOUND=" + bystander,
                     'ZELTRANE_OLDER_FOUND names "%s"' % bystander)]:
                store = suite.sandbox.package_store()
                run, log = self.run_msi_logged("upgrade-msi-v2", properties)
                self.assertEqual(run.exit_code, MSI_FAILURE, properties)
                self.assertIn(named, log)
                self.assertIn("the installation fails before anything changes", log)
                self.assertNotIn("Zeltrane: hardware ID", log, "no run of Zeltrane")
                self.assertEqual(suite.sandbox.package_store(), store, "nothing staged or deleted")
                for code in (first, bystander):
                    self.assertEqual(suite.sandbox.product(code)["msi.state"],
                                     INSTALLSTATE_DEFAULT, "still installed")
                    self.assertEqual(self.registry("query", PRODUCT_KEY % code), 0, "recorded")
                self.assertUpgradeInstalled("msi", 1)
                self.assertStillRunning(BYSTANDER_MSI[0])
        with self.subTest("version 2 replaces version 1"):
            run, log = self.run_msi_logged("upgrade-msi-v2")
            self.assertSucceeded(run)
            self.assertEqual(suite.sandbox.product(first), {"msi.state": INSTALLSTATE_UNKNOWN,
                                                            "uninstall": "(none)"},
                             "version 1 gone")
            registered = suite.sandbox.product(second)
            self.assertEqual([registered["msi.state"], registered["uninstall.DisplayName"]],
                             [INSTALLSTATE_DEFAULT, product])
            self.assertUpgradeInstalled("msi", 2)
        with self.subTest("version 1's package deleted, unused (ZELTRANE_SUPERSEDED=remove)"):
            self.assertSuperseded("msi", published, deleted=True)
            self.assertIn('\\%s": ZeltraneRemove.exe ended with 0x00000000, it is out of the '
                          'driver store' % published, log)
            self.assertEqual(self.registry("query", PRODUCT_KEY % first), 1, "its record gone")
            self.assertEqual({name: suite.sandbox.package_store()["inf"].get(name)
                              for name in others}, others, "the other product's untouched")
        with self.subTest("a third run changes nothing"):
            store = suite.sandbox.package_store()
            self.assertSucceeded(self.run_msi("upgrade-msi-v2"))
            self.assertEqual(suite.sandbox.package_store(), store)
            self.assertUpgradeInstalled("msi", 2)
        with self.subTest("version 1 over version 2: refused"):
            run = self.run_msi("upgrade-msi-v1")
            self.assertEqual(run.exit_code, MSI_FAILURE, "the launch condition's failure")
            self.assertSilent(run)
            self.assertEqual(suite.sandbox.product(first)["msi.state"], INSTALLSTATE_UNKNOWN)
            self.assertEqual(suite.sandbox.product(second)["msi.state"], INSTALLSTATE_DEFAULT)
            [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
            self.assertEqual(device["driver.SampleDriverMark"], UPGRADE_VERSIONS[2][2])
            self.assertStillRunning(identity)

    def test_msi_upgrade_that_fails_keeps_the_older_version(self):
        """Version 2's installation fails, its package file held open with no
        sharing, as any user who may read it could: version 1 stays installed
        and registered, its driver on the device. (Wine 8 and 10 roll back no
        registration after that failure, so nothing is run after it here.)"""
        identity, product, _ = UPGRADES["msi-held"]
        first = self.product_code("upgrade-msi-held-v1")
        held = suite.sandbox.program_files(product, "driver", self.install_version_1("msi-held"))
        with suite.sandbox.hold(held):
            run = self.run_msi("upgrade-msi-held-v2")
        self.assertEqual(run.exit_code, MSI_FAILURE)
        self.assertEqual(suite.sandbox.product(first)["msi.state"], INSTALLSTATE_DEFAULT)
        self.assertEqual(self.registry("query", PRODUCT_KEY % first), 0, "recorded")
        [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
        self.assertEqual(device["driver.SampleDriverMark"], UPGRADE_VERSIONS[1][2])

    def test_msi_upgrade_leaves_a_package_in_use(self):
        """Version 1 also for a second device, which version 2 does not list."""
        _, _, (other,) = UPGRADES["msi-in-use"]
        published = self.install_version_1("msi-in-use")
        run, log = self.run_msi_logged("upgrade-msi-in-use-v2")
        self.assertSucceeded(run)
        self.assertUpgradeInstalled("msi-in-use", 2)
        [device] = suite.sandbox.driver(other, "SampleDriverMark")
        self.assertEqual(device["driver.SampleDriverMark"], UPGRADE_VERSIONS[1][2])
        self.assertSuperseded("msi-in-use", published, deleted=False)
        self.assertIn('\\%s": ZeltraneRemove.exe ended with 0xE000023D, a device is still '
                      'installed from it: it stays staged' % published, log)
        key = PRODUCT_KEY % self.product_code("upgrade-msi-in-use-v2")
        self.assertEqual(self.registry("query", key, "/v SupersededInf"), 0,
                         "recorded for the removal")
        self.assertEqual(self.registry("query", PRODUCT_KEY % self.product_code(
            "upgrade-msi-in-use-v1")), 1, "version 1's record gone")
        # Version 2 removed while the other device still uses version 1's
        # package: it stays, and the record that names it stays with only
        # the product line, for the line's next installation, which reads it.
        run = setup_runs.msi(suite.sandbox, suite.setups / "upgrade-msi-in-use-v2", "/x",
                             properties=" ZELTRANE_ON_UNINSTALL=remove")
        self.assertSucceeded(run)
        self.assertSuperseded("msi-in-use", published, deleted=False)
        self.assertEqual([self.registry("query", key, "/v", value) for value in
                          ("SupersededInf", "LeftBy", "PublishedInf")], [0, 0, 1])
        run, log = self.run_msi_logged("upgrade-msi-in-use-v2")
        self.assertSucceeded(run)
        self.assertIn('the versions that this one replaces staged "%s"' % published, log)
        self.assertSuperseded("msi-in-use", published, deleted=False)
        self.assertEqual([self.registry("query", key, "/v", value) for value in
                          ("SupersededInf", "LeftBy", "PublishedInf")], [0, 1, 0])

    def test_msi_upgrade_keeps_the_older_package_when_told(self):
        published = self.install_version_1("msi-keep")
        run, log = self.run_msi_logged("upgrade-msi-keep-v2", " ZELTRANE_SUPERSEDED=keep")
        self.assertSucceeded(run)
        self.assertUpgradeInstalled("msi-keep", 2)
        self.assertSuperseded("msi-keep", published, deleted=False)
        self.assertIn("ZELTRANE_SUPERSEDED=keep: the older versions' packages stay staged", log)

    def test_msi_upgrade_leaves_what_an_edited_record_names(self):
        """Version 1's record edited to name another package of its INF's
        name, staged on no device: version 2 leaves that package, and says
        that the record no longer names version 1's own."""
        self.install_version_1("msi-edited")
        other = self.package("edited-record", upgrade_inf("msi-edited"),
                             "; an edited record's\n", NO_DEVICE)
        self.run_program('"%s"' % windows_path(other), '"%s"' % NO_DEVICE[0])
        [name] = [name for name, data in suite.sandbox.package_store()["inf"].items()
                  if data.endswith(b"; an edited record's\n")]
        key = PRODUCT_KEY % self.product_code("upgrade-msi-edited-v1")
        self.assertEqual(self.registry("add", '"%s"' % key, "/v PublishedInf", "/d", name, "/f"), 0)
        store = suite.sandbox.package_store()
        run, log = self.run_msi_logged("upgrade-msi-edited-v2")
        self.assertSucceeded(run)
        self.assertIn('recorded package "%s" is no longer the package that it installed' % name,
                      log)
        self.assertEqual(suite.sandbox.package_store()["inf"].get(name), store["inf"][name],
                         "the other package untouched")
        self.assertUpgradeInstalled("msi-edited", 2)

    def test_nsis_upgrade(self):
        identity, product, _ = UPGRADES["nsis"]
        before = self.sample_driver_records(identity)
        published = self.install_version_1("nsis")
        self.assertEqual(suite.sandbox.product(product)["uninstall.DisplayVersion"], "1.0.0")
        self.assertUpgradeInstalled("nsis", 1, before)
        folder = suite.sandbox.program_files(product)
        with self.subTest("a package file held open: version 1 stays installed and registered"):
            entry = suite.sandbox.product(product)
            with suite.sandbox.hold(folder / "driver" / upgrade_inf("nsis")):
                self.assertNotEqual(self.run_nsis("upgrade-nsis-v2").exit_code, 0, "it fails")
            self.assertEqual(suite.sandbox.product(product), entry)
            self.assertEqual(self.installed_files(product), self.expected_files("upgrade-nsis-v1"))
        with self.subTest("version 2 fails: version 1 stays installed and registered"):
            entry = suite.sandbox.product(product)
            status, problem, code = DEVICE_STATES["cannot start (code 10)"]
            suite.sandbox.play_device_state(identity[0], status, problem)
            try:
                self.assertEqual(self.run_nsis("upgrade-nsis-v2").exit_code, code)
            finally:
                suite.sandbox.play_device_state(identity[0])
            self.assertEqual(suite.sandbox.product(product), entry)
            self.assertEqual(self.installed_files(product), self.expected_files("upgrade-nsis-v1"))
            self.assertTrue((folder / "uninstall.exe").is_file())
        with self.subTest("version 2 replaces version 1"):
            self.assertSucceeded(self.run_nsis("upgrade-nsis-v2"))
            entry = suite.sandbox.product(product)
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
        with self.subTest("version 1's package deleted, unused (ZELTRANE_SUPERSEDED=remove)"):
            self.assertSuperseded("nsis", published, deleted=True)
            self.assertFalse((folder / "superseded").exists(), "its kept files gone")
        with self.subTest("a third run changes nothing"):
            store = suite.sandbox.package_store()
            self.assertSucceeded(self.run_nsis("upgrade-nsis-v2"))
            self.assertEqual(suite.sandbox.package_store(), store)
            self.assertFalse((folder / "superseded").exists())
            self.assertUpgradeInstalled("nsis", 2)
        with self.subTest("an entry edited to name another product's package: left alone"):
            # Another product's package, staged on no device, which the
            # removal of an older version's package would delete.
            _, bystander_inf, bystander = EDITED_BYSTANDER
            self.assertSucceeded(self.run_nsis("edited-bystander"))
            store = suite.sandbox.package_store()
            self.assertIn(bystander_inf, store["inf"])
            key = '"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s"' % product
            edited = "..\\..\\..\\%s\\driver\\%s" % (bystander, bystander_inf)
            self.assertEqual(self.registry("add", key, "/v DriverInf", '/d "%s"' % edited, "/f"), 0)
            self.assertSucceeded(self.run_nsis("upgrade-nsis-v2"))
            self.assertEqual(suite.sandbox.package_store(), store, "the other product's untouched")
            self.assertUpgradeInstalled("nsis", 2)
        with self.subTest("the uninstaller is signed"):
            verified = subprocess.run(
                ["osslsigncode", "verify", "-CAfile",
                 str(suite.release_zip.parent.parent / "root.pem"),
                 "-in", str(folder / "uninstall.exe")], capture_output=True, text=True)
            self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        with self.subTest("the uninstaller (keep) removes the files and the registration"):
            # It copies itself away and starts the copy, which does the work.
            uninstall = '"%s\\uninstall.exe" /S' % windows_folder(folder)
            self.assertEqual(setup_runs.start(suite.sandbox, uninstall).exit_code, 0)
            deadline = time.monotonic() + 30
            while folder.exists() and time.monotonic() < deadline:
                time.sleep(0.5)
            self.assertFalse(folder.exists(), "files removed")
            self.assertEqual(suite.sandbox.product(product), {"uninstall": "(none)"})
            self.assertStillRunning(identity)
            [device] = suite.sandbox.driver(identity[0], "SampleDriverMark")
            self.assertEqual(device["driver.SampleDriverMark"], UPGRADE_VERSIONS[2][2])

    def run_uninstall_case(self, kind, setting, uninstall):
        """The kind's setup of UNINSTALLS installed, or uninstalled with the
        ZELTRANE_ON_UNINSTALL setting: keep, None (the default, remove), or
        "restart", the default with the restart builds (RESTART_PRODUCTS)."""
        identity, inf, product = UNINSTALLS[kind]
        restart = setting == "restart"
        if kind == "batch":
            arguments = ['"%s"' % windows_path(suite.setups / "packages" / "uninstall-batch"), inf]
            if not uninstall:
                return self.run_batch("batch", *arguments, '"%s"' % identity[0])
            return setup_runs.batch(suite.sandbox, suite.setups / ("restart-nsis" if restart else
                                                                   "batch"),
                                    arguments, None if restart else setting,
                                    "uninstall-driver.cmd", "ZELTRANE_ON_UNINSTALL")
        if kind == "msi":
            # As the guide's uninstall command, the property on its command
            # line as a deployment sets it.
            extra = " /norestart" + (" ZELTRANE_ON_UNINSTALL=keep" if setting == "keep" else "")
            return setup_runs.msi(suite.sandbox, suite.setups / ("restart-msi" if restart else
                                                                 "uninstall-msi-remove"),
                                  "/x" if uninstall else "/i",
                                  properties=extra if uninstall else "")
        if uninstall:
            product = RESTART_PRODUCTS[kind] if restart else product
            return setup_runs.nsis_uninstall(
                suite.sandbox, windows_folder(suite.sandbox.program_files(product)))
        return self.run_nsis("restart-nsis" if restart else
                             "uninstall-nsis-%s" % (setting or "remove"))

    def check_uninstall(self, kind):
        """Installed, then uninstalled keeping the driver; installed again,
        then uninstalled with the default: the package leaves its device
        and the stores; then, with the restart builds, the removal's 3010
        reaches the caller. Each time the setup's files and registration go."""
        identity, inf, product = UNINSTALLS[kind]
        for setting in ("keep", None, "restart"):
            with self.subTest(setting=setting or "remove, the default"):
                self.assertEqual(self.run_uninstall_case(kind, setting, False).exit_code, 0)
                if kind == "nsis" and setting is None:
                    # Installed again before the restart that deletes the
                    # uninstaller left by the uninstall in place above: after
                    # that restart, as Wine's wineboot plays it, this one's.
                    suite.sandbox.restart()
                    self.assertTrue(suite.sandbox.program_files(product, "uninstall.exe").is_file())
                if setting != "restart":
                    [device] = suite.sandbox.driver(identity[0], "InfPath")
                    self.assertEqual(device["driver.InfPath"], inf, "published under its own name")
                before = suite.sandbox.package_store()
                planted = None
                if kind == "nsis" and setting is None:
                    # Another hand's file in the driver folder: the uninstall
                    # deletes what the setup installed, by name, and no more.
                    planted = suite.sandbox.program_files(product, "driver", "planted.txt")
                    planted.write_bytes(b"not the setup's\r\n")
                run = self.run_uninstall_case(kind, setting, True)
                if planted:
                    self.assertEqual(planted.read_bytes(), b"not the setup's\r\n")
                    planted.unlink()
                self.assertEqual(run.boxes, [])
                name = RESTART_PRODUCTS.get(kind) if setting == "restart" else product
                if name:
                    # Run in place, the NSIS uninstaller leaves itself to the
                    # next restart (installed_files leaves it out).
                    folder = suite.sandbox.program_files(name)
                    self.assertEqual(self.installed_files(name) if folder.exists() else {}, {},
                                     "the setup's files removed")
                    if kind == "msi":
                        name = self.product_code("restart-msi" if setting == "restart" else
                                                 "uninstall-msi-remove")
                    entry = suite.sandbox.product(name)
                    self.assertEqual(entry.get("uninstall"), "(none)", "its registration gone")
                if setting == "keep":
                    self.assertEqual(run.exit_code, 0)
                    self.assertStillRunning(identity)
                    self.assertEqual(suite.sandbox.package_store(), before, "the package staged")
                elif setting == "restart":
                    self.assertEqual(run.exit_code, ERROR_SUCCESS_REBOOT_REQUIRED,
                                     "the removal's 3010, whole")
                    self.assertEqual(suite.sandbox.package_store(), before)
                else:
                    self.assertNoDriver(identity[0])
                    self.assertPackageGone(before, inf, "own name", run.exit_code)
                if kind == "batch":
                    said = {"keep": "ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and "
                                    "its package staged.",
                            None: "ZeltraneRemove.exe ended with 0",
                            "restart": "ZeltraneRemove.exe ended with 3010"}[setting]
                    self.assertEqual(run.stdout, (said + "\r\n").encode())

    def check_device_state(self, kind):
        """The uninstall cases' setup of the kind on a device that cannot run
        the driver: the setup's failure, nothing registered; on one that a
        restart finishes: 3010, whole, installed (for the MSI with
        /norestart, its restart asked through its own record); then
        uninstalled, with no request left over."""
        identity, inf, product = UNINSTALLS[kind]
        code = self.product_code("uninstall-msi-remove") if kind == "msi" else product
        # Its device, which the uninstall case's removal takes away.
        if not suite.sandbox.driver(identity[0]):
            suite.sandbox.add_device(identity[0])
        try:
            status, problem, exit_code = DEVICE_STATES["cannot start (code 10)"]
            suite.sandbox.play_device_state(identity[0], status, problem)
            log = suite.sandbox.state / "state-msi.log"
            run = (setup_runs.msi(suite.sandbox, suite.setups / "uninstall-msi-remove", log=log)
                   if kind == "msi" else self.run_uninstall_case(kind, None, False))
            self.assertEqual(run.exit_code, MSI_FAILURE if kind == "msi" else exit_code)
            if kind == "msi":
                self.assertIn('Zeltrane: hardware ID "%s": Zeltrane.exe ended with 0x2000000A, a '
                              "device cannot run the driver: problem code 10 (the device cannot "
                              "start)" % identity[0], setup_runs.msi_text(log))
            if code:
                self.assertEqual(suite.sandbox.product(code).get("uninstall"), "(none)")
            status, problem, _ = DEVICE_STATES["restart needed"]
            suite.sandbox.play_device_state(identity[0], status, problem)
            run = (setup_runs.msi(suite.sandbox, suite.setups / "uninstall-msi-remove",
                                  properties=" /norestart")
                   if kind == "msi" else self.run_uninstall_case(kind, None, False))
            self.assertEqual([run.exit_code, run.boxes], [ERROR_SUCCESS_REBOOT_REQUIRED, []])
            [device] = suite.sandbox.driver(identity[0], "InfPath")
            self.assertEqual(device["driver.InfPath"], inf)
            if code:
                self.assertNotEqual(suite.sandbox.product(code).get("uninstall"), "(none)")
            self.assertEqual(self.run_uninstall_case(kind, None, True).exit_code, 0)
        finally:
            suite.sandbox.play_device_state(identity[0])

    def test_nsis_device_state(self):
        self.check_device_state("nsis")

    def test_msi_device_state(self):
        self.check_device_state("msi")

    def test_batch_device_state(self):
        self.check_device_state("batch")

    def test_nsis_uninstall(self):
        self.check_uninstall("nsis")

    def test_msi_uninstall(self):
        self.check_uninstall("msi")

    def test_batch_uninstall(self):
        self.check_uninstall("batch")

    def run_create_case(self, kind, uninstall):
        """The kind's setup of a virtual adapter (CREATES), installed or
        uninstalled with the default, remove."""
        identity, inf, product = CREATES[kind]
        if kind == "batch":
            folder = '"%s"' % windows_path(suite.setups / "packages" / "create-batch")
            if uninstall:
                return setup_runs.batch(suite.sandbox, suite.setups / "batch", [folder, inf],
                                        script="uninstall-driver.cmd")
            return setup_runs.batch(suite.sandbox, suite.setups / "batch",
                                    [folder, inf, '"%s"' % identity[0]], "create")
        if kind == "msi":
            return self.run_msi("create-msi", "/x" if uninstall else "/i")
        if uninstall:
            return setup_runs.nsis_uninstall(
                suite.sandbox, windows_folder(suite.sandbox.program_files(product)))
        return self.run_nsis("create-nsis")

    def check_create(self, kind):
        """No device has the ID: the setup makes one, the driver runs on it;
        installed again, still that one; uninstalled, neither the device nor
        the package stays (as the Wine generation deletes packages)."""
        identity, inf, _ = CREATES[kind]
        self.assertEqual(suite.sandbox.driver(identity[0]), [], "no device yet")
        self.assertEqual(self.run_create_case(kind, False).exit_code, 0)
        self.assertOneDeviceRuns(identity)
        with self.subTest("installed again: still one device"):
            self.assertEqual(self.run_create_case(kind, False).exit_code, 0)
            self.assertEqual(len(suite.sandbox.driver(identity[0])), 1)
        with self.subTest("uninstalled: no device, no package"):
            before = suite.sandbox.package_store()
            run = self.run_create_case(kind, True)
            self.assertEqual(suite.sandbox.driver(identity[0]), [], "no device left")
            self.assertPackageGone(before, inf, "own name", run.exit_code)

    def test_nsis_create(self):
        self.check_create("nsis")

    def test_msi_create(self):
        self.check_create("msi")

    def test_batch_create(self):
        self.check_create("batch")
