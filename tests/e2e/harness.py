"""The sandbox's own checks: it reads the program's calls from Wine's trace in
the form of each Wine generation, stops a start at its limit, and accounts
for where each case's time went."""

import tempfile
import time
import unittest
from unittest import mock

from cases import account, suite
import prefix
import sample
import traces
import wine


class Harness(unittest.TestCase):
    """The sandbox reads the program's calls from Wine's trace in the form of
    each Wine generation, and stops on a form it does not know; it stops a
    start at its limit, and accounts for where each case's time went."""

    NULL64, NULL32 = "0" * 16, "0" * 8
    COPY = {"source": "Z:\\pkg\\zt-sample.inf", "location": None, "media_type": 1, "style": 0,
            "dest": NULL64, "buffer_size": 0, "required_size": NULL64, "filepart": NULL64}
    UPDATE = {"parent": "0000000000010020", "hardware_id": sample.SAMPLE_HARDWARE_ID,
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
                self.assertEqual(traces.install_calls("\n".join(lines)), calls)

    def test_strings_read_back_exactly(self):
        for text in ["", 'ROOT\\\\ZT&X"quoted"&Y\\"Z', "Pilotes réseau Ωmega\\zt-ñet sample.inf",
                     "tab\tand\nline", "(null)"]:
            with self.subTest(text=text):
                line = ("trace:setupapi:UpdateDriverForPlugAndPlayDevicesW parent 00010020,"
                        " hardware_id %s, inf_path (null), flags 0x1, reboot 00000000."
                        % traces.dbgstr(text))
                [(_, arguments)] = traces.install_calls(line)
                self.assertEqual(arguments["hardware_id"], text)
                self.assertIsNone(arguments["inf_path"])

    def test_a_line_in_an_unknown_form_stops_the_run(self):
        for line in [
            '0190:trace:setupapi:SetupCopyOEMInfW src=L"Z:\\\\pkg\\\\zt-sample.inf" type=1',
            "0190:trace:setupapi:SetupCopyOEMInfW source L\"Z:\\\\a.inf\", location (null)",
            "0190:trace:newdev:UpdateDriverForPlugAndPlayDevicesW (0x10020, L\"PCI\", 1)",
        ]:
            with self.subTest(line=line):
                with self.assertRaises(traces.TraceFormatError) as failure:
                    traces.Run("exit=0\n", "first line\n" + line + "\n", b"", b"")
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
                with mock.patch.object(prefix, "WINE64", "sleep"), \
                        self.assertRaises(prefix.Overrun) as overrun:
                    box.wine(["30"], timeout=timeout, label="a slow start")
                self.assertLess(time.monotonic() - began, 10, "stopped at the limit")
                self.assertIn("the start of a slow start was stopped " + says,
                              str(overrun.exception))

    def test_the_account_adds_up_each_kind_of_start(self):
        starts = [("helper driver", 0.25), ("Zeltrane.exe", 2.0), ("helper driver", 0.5)]
        with tempfile.TemporaryDirectory() as folder, \
                mock.patch.object(suite, "sandbox", wine.Sandbox(folder, folder)):
            line = account("X86.test_usage", 3.0, starts, 60)
            self.assertEqual((suite.sandbox.state / "account.txt").read_text(), line + "\n")
        self.assertEqual(line, "X86.test_usage: 3.0 s (limit 60 s), 3 starts: "
                               "Zeltrane.exe 2.0 s, helper driver x2 0.8 s")
