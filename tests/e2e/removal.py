"""The removal program, ZeltraneRemove.exe, the x64 build in its sandbox: a
package taken back off its devices and out of the stores, another package
of the same INF name untouched, and what changes nothing. Wine's newdev
has no DiUninstallDriverW, so the removal takes the route of Windows before
version 1703 there: DIF_REMOVE on each device, then SetupUninstallOEMInfW."""

from cases import (Case, ERROR_BAD_ARGUMENTS, ERROR_EXPECTED_SECTION_NAME, ERROR_FILE_NOT_FOUND,
                   IDOK, NO_DEVICE, suite)
from prefix import windows_path
import sample

ERROR_PATH_NOT_FOUND = 3
ERROR_INF_IN_USE_BY_DEVICES = 0xE000023D
REMOVAL_USAGE_TEXT = (
    "ZeltraneRemove.exe <full INF path> [<full path of the new INF>]\n"
    "\n"
    "\t<full INF path>\n"
    "\t\tThe fully qualified path and name of the INF file that was installed\n"
    "\t<full path of the new INF>\n"
    "\t\tWith it, only the older package goes, and only where no device uses it\n"
)
# What each generation's SetupUninstallOEMInfW deletes of a package that the
# removal takes back ("inf", "pnf", "repository"), by how the package is
# published: under its INF's own name, or as oemN.inf where that name was
# taken. Wine 8 deletes nothing without SUOI_FORCEDELETE, which the removal
# passes only for a copy it staged itself (then Wine 8 deletes the INF alone).
# Wine 10 deletes all three, but finds a package published as oemN.inf
# nowhere: it looks for its store folder under that name, and the removal
# ends with ERROR_FILE_NOT_FOUND.
DELETED = {8: {"own name": (), "oemN": ()},
           10: {"own name": ("inf", "pnf", "repository"), "oemN": ()}}
REMOVAL_EXIT_CODES = {8: {"own name": 0, "oemN": 0},
                      10: {"own name": 0, "oemN": ERROR_FILE_NOT_FOUND}}


def identity(n):
    """A device, driver service and driver file of the removal cases' own."""
    return ("PCI\\VEN_7A5C&DEV_0C31&SUBSYS_0000A%03X" % n, "ztremove%d" % n, "zt-remove%d.sys" % n)


class RemovalCase(Case):
    """What the removal cases of every suite share."""

    def run_removal(self, *arguments, program=None, as_64bit_windows=False):
        program = program or suite.sandbox.build / "ZeltraneRemove.exe"
        command = suite.sandbox.program_command(*arguments, program=program)
        return suite.sandbox.run(command, as_64bit_windows=as_64bit_windows)

    def install(self, inf, *hardware_ids, program=None):
        """The package installed on a device of each ID, by Zeltrane.exe;
        returns the name the platform published it under."""
        for hardware_id in hardware_ids:
            run = self.run_program('"%s"' % windows_path(inf), '"%s"' % hardware_id,
                                   program=program)
            self.assertEqual(run.exit_code, 0, hardware_id)
        [device] = suite.sandbox.driver(hardware_ids[0], "InfPath")
        return device["driver.InfPath"]

    def assertNoDriver(self, *hardware_ids):
        """DIF_REMOVE takes the device itself away; no device with the ID
        has a driver."""
        for hardware_id in hardware_ids:
            drivers = [d["device.driver"] for d in suite.sandbox.driver(hardware_id)]
            self.assertEqual([d for d in drivers if d != "(none)"], [], hardware_id)

    def assertPackageGone(self, before, published, kind, exit_code, folders=None):
        """The package's INF, PNF and store folder (folders: those of the
        package, where another package's share its INF's name) deleted where
        the Wine generation deletes them, the rest of the stores as before."""
        generation = suite.sandbox.wine_generation()
        self.assertIn(generation, DELETED, "Wine %d is new here" % generation)
        self.assertEqual(exit_code, REMOVAL_EXIT_CODES[generation][kind],
                         "the exit code under Wine %d" % generation)
        stem = published[:-len(".inf")]
        traces = {"inf": [published], "pnf": [stem + ".pnf"],
                  "repository": folders or [f for f in before["repository"]
                                            if f.startswith(published + "_")]}
        expected = {"inf": dict(before["inf"]), "pnf": list(before["pnf"]),
                    "repository": list(before["repository"])}
        for part in DELETED[generation][kind]:
            self.assertTrue(traces[part], "Wine %d had a %s of the package" % (generation, part))
            for trace in traces[part]:
                if part == "inf":
                    del expected["inf"][trace]
                else:
                    expected[part].remove(trace)
        deleted = DELETED[generation][kind] or "nothing"
        self.assertEqual(suite.sandbox.package_store(), expected,
                         "Wine %d deletes %s" % (generation, deleted))


class Removal(RemovalCase):
    def test_product_line_package_leaves_its_devices_and_the_stores(self):
        first, second = identity(1)[0], identity(2)[0]
        inf = sample.write_sample_package(suite.sandbox.state / "pkg-remove" / "zt-remove.inf",
                                          suite.sandbox.drivers, "; removed again\n", identity(1),
                                          line=(second,))
        suite.sandbox.add_device(first, second)
        published = self.install(inf, first, second)
        self.assertEqual(published, "zt-remove.inf", "published under its own name")
        before = suite.sandbox.package_store()
        run = self.run_removal('"%s"' % windows_path(inf))
        self.assertSilent(run)
        self.assertNoDriver(first, second)
        self.assertPackageGone(before, published, "own name", run.exit_code)
        # Run twice, it finds nothing more to do.
        after = suite.sandbox.package_store()
        self.assertEqual(self.run_removal('"%s"' % windows_path(inf)).exit_code, 0)
        self.assertEqual(suite.sandbox.package_store(), after)

    def test_another_package_of_the_same_inf_name_is_untouched(self):
        other = self.package("pkg-same-other", "zt-same.inf", "; another package\n", NO_DEVICE)
        staged = self.run_program('"%s"' % windows_path(other), '"%s"' % NO_DEVICE[0])
        self.assertEqual(suite.sandbox.inf_store().get("zt-same.inf"), other.read_bytes(),
                         "the other package staged first, under its INF's name (%s)"
                         % staged.exit_code)
        ours = self.package("pkg-same", "zt-same.inf", "; ours\n", identity(3))
        suite.sandbox.add_device(identity(3)[0])
        published = self.install(ours, identity(3)[0])
        self.assertNotEqual(published, "zt-same.inf")
        before = suite.sandbox.package_store()
        run = self.run_removal('"%s"' % windows_path(ours))
        self.assertNoDriver(identity(3)[0])
        self.assertPackageGone(before, published, "oemN", run.exit_code)
        self.assertEqual(suite.sandbox.inf_store().get("zt-same.inf"), other.read_bytes())

    def test_package_not_staged_changes_nothing(self):
        inf = self.package("pkg-unstaged", "zt-unstaged.inf", "; never staged\n", identity(4))
        before = suite.sandbox.package_store()
        run = self.run_removal('"%s"' % windows_path(inf))
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)
        after = suite.sandbox.package_store()
        # The removal's lookup staged it and took it back at once, never
        # forced: Wine 8 deletes nothing without the force flag, and keeps
        # that copy's INF and PNF.
        if suite.sandbox.wine_generation() == 8:
            self.assertIn("zt-unstaged.pnf", after["pnf"], "Wine 8 keeps the PNF")
            after["pnf"].remove("zt-unstaged.pnf")
            self.assertIn("zt-unstaged.inf", after["inf"], "Wine 8 keeps the INF")
            del after["inf"]["zt-unstaged.inf"]
        self.assertEqual(after, before)

    def test_what_is_no_package_changes_nothing(self):
        folder = suite.sandbox.state / "pkg-not-packages"
        folder.mkdir(exist_ok=True)
        (folder / "notes.inf").write_bytes(b"\x00\x01 this is not a driver package\n")
        before = suite.sandbox.package_store()
        for path, exit_code in [(folder / "missing.inf", ERROR_FILE_NOT_FOUND),
                                (folder / "missing" / "zt.inf", ERROR_PATH_NOT_FOUND),
                                (folder / "notes.inf", ERROR_EXPECTED_SECTION_NAME)]:
            with self.subTest(path=path.name):
                run = self.run_removal('"%s"' % windows_path(path))
                self.assertEqual(run.exit_code, exit_code)
                self.assertSilent(run)
                self.assertEqual(suite.sandbox.package_store(), before)

    def test_a_superseded_package_goes_only_where_nothing_uses_it(self):
        # Version 1 staged under its INF's own name and installed, then
        # version 2, the same INF name with other contents, on the device.
        own = identity(7)
        suite.sandbox.add_device(own[0])
        old = self.package("pkg-v1", "zt-up.inf", "; version 1\n", own)
        self.assertEqual(self.install(old, own[0]), "zt-up.inf")
        # Version 1's store folder: version 2's has the same INF name.
        folders = [f for f in suite.sandbox.package_store()["repository"]
                   if f.startswith("zt-up.inf_")]
        new = self.package("pkg-v2", "zt-up.inf", "; version 2\n", own)
        current = self.install(new, own[0])
        self.assertNotEqual(current, "zt-up.inf")
        before = suite.sandbox.package_store()
        for what, arguments, exit_code in [
            ("in use", (new, old), ERROR_INF_IN_USE_BY_DEVICES),
            ("the same package", (new, new), 0),
            ("a published INF that is gone", ("C:\\windows\\inf\\oem999.inf", new), 0),
        ]:
            with self.subTest(what):
                run = self.run_removal(*('"%s"' % (a if isinstance(a, str) else windows_path(a))
                                         for a in arguments))
                self.assertEqual(run.exit_code, exit_code)
                self.assertSilent(run)
                self.assertEqual(suite.sandbox.package_store(), before, "nothing changed")
        run = self.run_removal('"%s"' % windows_path(old), '"%s"' % windows_path(new))
        self.assertSilent(run)
        self.assertPackageGone(before, "zt-up.inf", "own name", run.exit_code, folders)
        [device] = suite.sandbox.driver(own[0], "InfPath")
        self.assertEqual(device["driver.InfPath"], current, "the device kept version 2")

    def test_other_argument_counts_show_its_usage(self):
        for arguments in [[], ['"C:\\My Drivers\\zt.inf"', '"C:\\New\\zt.inf"',
                               sample.SAMPLE_HARDWARE_ID]]:
            with self.subTest(arguments=arguments):
                run = self.run_removal(*arguments)
                self.assertEqual([(b["caption"], b["text"], b["buttons"]) for b in run.boxes],
                                 [("Program Usage", REMOVAL_USAGE_TEXT, IDOK)])
                self.assertEqual(run.exit_code, ERROR_BAD_ARGUMENTS)
