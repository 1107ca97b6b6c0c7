"""The program's own behaviour under Wine, the x64 build in its sandbox: the
usage box, the installation, its failures, and the text it passes on."""

from cases import (Case, DEVICE_STATES, ERROR_BAD_ARGUMENTS, ERROR_EXPECTED_SECTION_NAME,
                   ERROR_FILE_NOT_FOUND, suite)
from prefix import windows_path
import sample


class Usage(Case):
    def test_other_argument_counts_show_usage(self):
        inf = windows_path(self.package())
        for arguments in [
            [],
            ['"%s"' % inf],
            ['"%s"' % inf, '"%s"' % sample.SAMPLE_HARDWARE_ID, "extra"],
            ["C:\\My Drivers\\zt-sample.inf", sample.SAMPLE_HARDWARE_ID],
        ]:
            with self.subTest(arguments=arguments):
                self.assertUsage(self.run_program(*arguments))

    def test_renamed_copy_still_names_zeltrane(self):
        self.check_renamed_copy()

    def test_where_no_one_can_answer_a_wrong_count_ends_at_once_with_no_box(self):
        # A box on a window station that is not visible would wait past the
        # case's limit: no one could dismiss it.
        for name in ("Zeltrane.exe", "ZeltraneRemove.exe", "ZeltraneCreate.exe"):
            with self.subTest(name):
                command = suite.sandbox.program_command(program=suite.sandbox.build / name)
                run = suite.sandbox.run(command, unseen=True)
                self.assertEqual((run.boxes, run.exit_code, run.calls),
                                 ([], ERROR_BAD_ARGUMENTS, []))


class Install(Case):
    def test_installs_the_driver_on_the_device(self):
        self.check_install()

    def test_where_no_one_can_answer_a_package_its_catalog_does_not_list_is_not_staged(self):
        # The note changes the INF, which the sample's catalog then does not
        # list: the platform's verdict, ERROR_FILE_HASH_NOT_IN_CATALOG.
        inf = self.package("pkg-unseen", note="; unseen\n")
        store = suite.sandbox.package_store()
        run = suite.sandbox.run(suite.sandbox.program_command(
            '"%s"' % windows_path(inf), sample.SAMPLE_HARDWARE_ID), unseen=True)
        self.assertEqual((run.exit_code, run.program_calls()), (0xE000024B, []))
        self.assertEqual(suite.sandbox.package_store(), store, "nothing staged")
        self.assertSilent(run)

    def test_where_no_one_can_answer_an_installation_under_way_ends_with_1618(self):
        inf = self.package("pkg-pending", note="; pending\n")
        store = suite.sandbox.package_store()
        run = suite.sandbox.run(suite.sandbox.program_command(
            '"%s"' % windows_path(inf), sample.SAMPLE_HARDWARE_ID), unseen=True, plays={"pending"})
        self.assertEqual((run.exit_code, run.pending, run.program_calls()),
                         (1618, ["timeout=60000"], []))
        self.assertEqual(suite.sandbox.package_store(), store, "nothing staged")
        self.assertSilent(run)


class DeviceState(Case):
    def test_each_state_gives_its_exit_code_and_the_driver_stays_installed(self):
        inf = windows_path(self.package())
        try:
            for name, (status, problem, exit_code) in DEVICE_STATES.items():
                with self.subTest(state=name):
                    suite.sandbox.play_device_state(sample.SAMPLE_HARDWARE_ID, status, problem)
                    run = self.run_program('"%s"' % inf, sample.SAMPLE_HARDWARE_ID)
                    self.assertInstallCalls(run, inf, sample.SAMPLE_HARDWARE_ID)
                    self.assertSilent(run)
                    self.assertEqual(run.exit_code, exit_code)
                    [device] = suite.sandbox.driver(sample.SAMPLE_HARDWARE_ID, "InfPath")
                    self.assertEqual(device["driver.InfPath"], "zt-sample.inf")
        finally:
            suite.sandbox.play_device_state(sample.SAMPLE_HARDWARE_ID)


class Failures(Case):
    def test_missing_inf(self):
        self.check_missing_inf()

    def test_file_that_is_not_an_inf(self):
        notes = suite.sandbox.state / "pkg" / "notes.inf"
        notes.parent.mkdir(exist_ok=True)
        notes.write_bytes(b"\x00\x01 this is not a driver package\n")
        run = self.run_program('"%s"' % windows_path(notes), sample.SAMPLE_HARDWARE_ID)
        self.assertFailsWith(run, windows_path(notes), sample.SAMPLE_HARDWARE_ID,
                             ERROR_EXPECTED_SECTION_NAME)

    def test_no_present_device_has_the_id(self):
        self.check_no_device("pkg-no-device", "zt-no-device.inf")

    def test_two_empty_arguments(self):
        self.assertFailsWith(self.run_program('""', '""'), "", "", ERROR_FILE_NOT_FOUND)


class Text(Case):
    def test_quoted_path_with_blanks_and_letters_beyond_ascii_installs(self):
        inf = self.package("Pilotes réseau Ωmega", "zt-ñet sample.inf", "; copy of the sample\n")
        run = self.run_program('"%s"' % windows_path(inf), sample.SAMPLE_HARDWARE_ID)
        self.assertInstallCalls(run, windows_path(inf), sample.SAMPLE_HARDWARE_ID)
        self.assertEqual(run.exit_code, 0)
        self.assertIn(inf.read_bytes(), suite.sandbox.inf_store().values())
        [device] = suite.sandbox.driver(sample.SAMPLE_HARDWARE_ID, "InfPath")
        self.assertEqual(device["driver.InfPath"], "zt-ñet sample.inf")

    def test_hardware_id_reaches_the_update_exactly(self):
        inf = windows_path(self.package())
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
        run = self.run_program("pkg\\zt-sample.inf", sample.SAMPLE_HARDWARE_ID,
                               cwd=suite.sandbox.state)
        self.assertInstallCalls(run, "pkg\\zt-sample.inf", sample.SAMPLE_HARDWARE_ID)
        generation = suite.sandbox.wine_generation()
        self.assertIn(generation, self.RELATIVE_PATH_EXIT_CODES, "Wine %d is new here" % generation)
        self.assertEqual(run.exit_code, self.RELATIVE_PATH_EXIT_CODES[generation],
                         "the exit code under Wine %d" % generation)
