"""The creation program, ZeltraneCreate.exe, the x64 build in its sandbox: the
device of a virtual adapter made where no device has the ID, never twice,
taken away again when its installation fails, and gone with its package."""

import concurrent.futures

from cases import DEVICE_STATES, ERROR_BAD_ARGUMENTS, ERROR_NO_SUCH_DEVINST, IDOK, suite
from prefix import windows_path
from removal import RemovalCase

CREATION_USAGE_TEXT = (
    "ZeltraneCreate.exe <full INF path> <device ID string>\n"
    "\n"
    "\t<full INF path>\n"
    "\t\tThe fully qualified path and name of the INF file to install\n"
    "\t<device ID string>\n"
    "\t\tThe hardware ID of the device to create where no device has it\n"
)
# What ZeltraneCreate.exe ends with where the INF names no class that the
# machine has: setupapi's ERROR_INVALID_CLASS.
ERROR_INVALID_CLASS = 0xE0000206
# What the sample driver has recorded before any run of a service of its own.
NEVER_STARTED = {"parameters.DriverEntry": "(none)", "hw.AddDevice": "(none)",
                 "hw.StartDevice": "(none)"}


def identity(n):
    """A virtual adapter's hardware ID, driver service and file of the
    creation cases' own."""
    return ("ROOT\\ZT_VIRTUAL%d" % n, "ztvirtual%d" % n, "zt-virtual%d.sys" % n)


class CreationCase(RemovalCase):
    """What the creation cases of every suite share."""

    def run_creation(self, *arguments, program=None, as_64bit_windows=False, unseen=False):
        program = program or suite.sandbox.build / "ZeltraneCreate.exe"
        command = suite.sandbox.program_command(*arguments, program=program)
        return suite.sandbox.run(command, as_64bit_windows=as_64bit_windows, unseen=unseen)

    def assertOneDeviceRuns(self, identity_):
        """One device has the ID, the driver installed from the package and
        started on it."""
        [device] = suite.sandbox.driver(identity_[0], "SampleDriverMark")
        self.assertEqual(device["driver.SampleDriverMark"], "installed from zt-sample.inf")
        self.assertSampleDriverRuns(NEVER_STARTED, self.sample_driver_records(identity_),
                                    identity_)


class Creation(CreationCase):
    def test_where_no_one_can_answer_a_package_that_would_ask_gets_no_device(self):
        # Its INF changed, the sample's catalog does not list it: the
        # platform's verdict, ERROR_FILE_HASH_NOT_IN_CATALOG, before any device.
        own = identity(9)
        inf = self.package("pkg-virtual9", "zt-virtual9.inf", "; unseen\n", own)
        store = suite.sandbox.package_store()
        run = self.run_creation('"%s"' % windows_path(inf), '"%s"' % own[0], unseen=True)
        self.assertEqual((run.exit_code, run.program_calls()), (0xE000024B, []))
        self.assertEqual(suite.sandbox.driver(own[0]), [], "no device made")
        self.assertEqual(suite.sandbox.package_store(), store, "nothing staged")

    def test_ends_with_what_its_device_reports(self):
        own = identity(8)
        inf = '"%s"' % windows_path(self.package("pkg-virtual8", "zt-virtual8.inf", "", own))
        self.assertEqual(self.run_creation(inf, '"%s"' % own[0]).exit_code, 0)
        try:
            for name in ("restart needed", "signature not verified (code 52)"):
                with self.subTest(state=name):
                    status, problem, exit_code = DEVICE_STATES[name]
                    suite.sandbox.play_device_state(own[0], status, problem)
                    self.assertEqual(self.run_creation(inf, '"%s"' % own[0]).exit_code, exit_code)
                    self.assertEqual(len(suite.sandbox.driver(own[0])), 1, "the device stays")
        finally:
            suite.sandbox.play_device_state(own[0])

    def test_makes_the_device_once_and_the_removal_takes_it(self):
        own = identity(1)
        inf = self.package("pkg-virtual1", "zt-virtual1.inf", "; virtual 1\n", own)
        self.assertEqual(suite.sandbox.driver(own[0]), [], "no device yet")
        run = self.run_creation('"%s"' % windows_path(inf), '"%s"' % own[0])
        self.assertEqual(run.exit_code, 0)
        self.assertSilent(run)
        self.assertOneDeviceRuns(own)
        with self.subTest("run again: still one device"):
            self.assertEqual(self.run_creation('"%s"' % windows_path(inf),
                                               '"%s"' % own[0]).exit_code, 0)
            self.assertEqual(len(suite.sandbox.driver(own[0])), 1)
        with self.subTest("the removal takes the device, its node too, with the package"):
            before = suite.sandbox.package_store()
            run = self.run_removal('"%s"' % windows_path(inf))
            self.assertEqual(suite.sandbox.driver(own[0]), [], "no device left")
            self.assertPackageGone(before, "zt-virtual1.inf", "own name", run.exit_code)

    def test_two_at_once_make_one_device(self):
        own = identity(10)
        inf = self.package("pkg-virtual10", "zt-virtual10.inf", "; virtual 10\n", own)
        arguments = ('"%s"' % windows_path(inf), '"%s"' % own[0])
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            runs = list(pool.map(lambda _: self.run_creation(*arguments), range(2)))
        self.assertEqual([run.exit_code for run in runs], [0, 0])
        self.assertOneDeviceRuns(own)

    def test_a_device_that_has_the_id_already_is_the_one(self):
        own = identity(2)
        suite.sandbox.add_device(own[0])
        inf = self.package("pkg-virtual2", "zt-virtual2.inf", "; virtual 2\n", own)
        run = self.run_creation('"%s"' % windows_path(inf), '"%s"' % own[0])
        self.assertEqual(run.exit_code, 0)
        self.assertOneDeviceRuns(own)

    def test_a_failed_installation_leaves_no_device(self):
        # A file of the package missing: the catalog that its INF names,
        # which the platform stages with the INF. (Wine asks for a missing
        # driver file in a dialog, and waits.)
        own = identity(3)
        inf = self.package("pkg-virtual3", "zt-virtual3.inf", "; virtual 3\n", own)
        catalog = b"CatalogFile = zt-sample.cat\n"
        text = inf.read_bytes()
        self.assertIn(catalog, text, "the sample INF's [Version] has changed")
        inf.write_bytes(text.replace(catalog, b"CatalogFile = zt-virtual3.cat\n"))
        run = self.run_creation('"%s"' % windows_path(inf), '"%s"' % own[0])
        self.assertNotIn(run.exit_code, (0, ERROR_NO_SUCH_DEVINST), "the installation's failure")
        self.assertSilent(run)
        self.assertEqual(suite.sandbox.driver(own[0]), [], "the device made is gone again")

    def test_an_inf_that_names_only_its_class(self):
        """[Version] with a Class and no ClassGuid: made in the one class of
        that name, System; a name that no class has makes nothing (1.8.0
        made a node of the null class, under Wine 8 and 10 alike, and ended
        with 0). Wine's own installation then records a class of its
        making for the device, which is not asserted."""
        guid = b"ClassGuid   = {4d36e97d-e325-11ce-bfc1-08002be10318}\n"
        for n, name, exit_code in [(6, b"ZtNoSuchClass", ERROR_INVALID_CLASS), (7, b"System", 0)]:
            with self.subTest(name=name):
                own = identity(n)
                inf = self.package("pkg-virtual%d" % n, "zt-virtual%d.inf" % n,
                                   "; virtual %d\n" % n, own)
                text = inf.read_bytes()
                self.assertIn(guid, text, "the sample INF's [Version] has changed")
                inf.write_bytes(text.replace(guid, b"").replace(b"Class       = System",
                                                                b"Class       = " + name))
                run = self.run_creation('"%s"' % windows_path(inf), '"%s"' % own[0])
                self.assertEqual(run.exit_code, exit_code)
                self.assertSilent(run)
                if exit_code:
                    self.assertEqual(suite.sandbox.driver(own[0]), [], "no device made")
                else:
                    self.assertOneDeviceRuns(own)

    def test_other_argument_counts_show_its_usage(self):
        for arguments in [[], ['"C:\\My Drivers\\zt.inf"']]:
            with self.subTest(arguments=arguments):
                run = self.run_creation(*arguments)
                self.assertEqual([(b["caption"], b["text"], b["buttons"]) for b in run.boxes],
                                 [("Program Usage", CREATION_USAGE_TEXT, IDOK)])
                self.assertEqual(run.exit_code, ERROR_BAD_ARGUMENTS)
