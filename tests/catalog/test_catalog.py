"""The catalog tool: what it reads of an INF, its digests of PE images, and
its check of a package against the catalog that it made."""

import datetime
import hashlib
import pathlib
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "release"))
import catalog  # noqa: E402
import inf_files  # noqa: E402

TODAY = datetime.date(2026, 12, 10)
# A package of two architectures, two models and two install sections, its
# files in a disk's folder and subfolders. {CHANGE} marks where a case edits.
INF = """[Version]
Signature = "$Windows NT$"
DriverVer = 12/01/2026,1.0.0.0
CatalogFile.NTx86 = a86.cat
CatalogFile.NTamd64 = a64.cat
[SourceDisksNames]
1 = %Disk%,,,\\files
[SourceDisksFiles.x86]
a.sys = 1, x86
[SourceDisksFiles.amd64]
a.sys = 1, amd64
[SourceDisksFiles]
b.dll = 1, common ; shared by both
[Manufacturer]
%Vendor% = Models, NTx86, NTamd64.10.0
[Models.NTx86]
%Desc% = One, PCI\\VEN_1&DEV_1
[Models.NTamd64.10.0]
%Desc% = One, PCI\\VEN_1&DEV_1
%Desc% = Two, PCI\\VEN_1&DEV_2, PCI\\VEN_1
[One]
CopyFiles = One.Files
[One.Files]
a.sys
[Two.NTamd64]
CopyFiles = @b.dll, \\
    One.Files
[Strings]
Disk = "disk"
Vendor = "vendor"
Desc = "device"
"""
FILES = ["files/x86/a.sys", "files/amd64/a.sys", "files/common/b.dll"]


def write_package(folder, inf=INF, missing=()):
    folder = pathlib.Path(folder)
    (folder / "p.inf").write_text(inf)
    for number, path in enumerate(FILES):
        if path not in missing:
            (folder / path).parent.mkdir(parents=True, exist_ok=True)
            (folder / path).write_bytes(b"file %d" % number)
    return folder / "p.inf"


def pe_image(size=1024):
    """A PE32 image's headers and body, with no certificate table."""
    data = bytearray(size)
    data[:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x80)
    data[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", data, 0x98, 0x10B)
    struct.pack_into("<I", data, 0x98 + 92, 16)
    data[0x300:0x310] = b"code and data..."
    return data


class InfReading(unittest.TestCase):
    # (case, edit of INF: (old, new), architectures, catalogs or the error's words)
    CASES = [
        ("decorations pick each architecture's models, files and catalog", None,
         ["x86", "x64"],
         {"a86.cat": (["p.inf", "files/x86/a.sys", "files/common/b.dll"], ["pci\\ven_1&dev_1"]),
          "a64.cat": (["p.inf", "files/amd64/a.sys", "files/common/b.dll"],
                      ["pci\\ven_1&dev_1", "pci\\ven_1&dev_2", "pci\\ven_1"])}),
        ("one catalog name for every architecture",
         ("CatalogFile.NTx86 = a86.cat\nCatalogFile.NTamd64 = a64.cat", "CatalogFile = all.cat"),
         ["x86", "x64"],
         {"all.cat": (["p.inf", "files/x86/a.sys", "files/common/b.dll", "files/amd64/a.sys"],
                      ["pci\\ven_1&dev_1", "pci\\ven_1&dev_2", "pci\\ven_1"])}),
        ("a model's description quoted, with a comma and an equals sign in it",
         ('%Desc% = Two, PCI\\VEN_1&DEV_2', '"Two, = rev 2" = Two, PCI\\VEN_1&DEV_2'), ["x64"],
         {"a64.cat": (["p.inf", "files/amd64/a.sys", "files/common/b.dll"],
                      ["pci\\ven_1&dev_1", "pci\\ven_1&dev_2", "pci\\ven_1"])}),
        ("a catalog name with a folder in it", ("a86.cat", "..\\a86.cat"), ["x86"],
         "p.inf:4: the catalog's name ..\\a86.cat is not a plain .cat file name"),
        ("a source file outside the package", ("b.dll = 1, common", "b.dll = 1, ..\\.."), ["x86"],
         "p.inf:13: files/../../b.dll lies outside the package"),
        ("an architecture without a catalog name", None, ["arm64"],
         "names no catalog for arm64: add CatalogFile.NTarm64"),
        ("an architecture without models",
         ("CatalogFile.NTamd64 = a64.cat", "CatalogFile.NTamd64 = a64.cat\nCatalogFile = x.cat"),
         ["arm64"], "p.inf:16: the models of Models name no ntarm64 decoration"),
        ("a DriverVer in the future", ("12/01/2026", "12/11/2026"), ["x86"],
         "p.inf:3: DriverVer's date 12/11/2026 is in the future"),
        ("a copied file that [SourceDisksFiles] lacks", ("@b.dll", "@c.dll"), ["x64"],
         "p.inf:26: c.dll is copied but not in [SourceDisksFiles] for x64"),
        ("a CopyFiles section that is missing", ("    One.Files", "    Gone.Files"), ["x64"],
         "p.inf:26: CopyFiles names no section [Gone.Files]"),
    ]

    def test_cases(self):
        for name, edit, architectures, expected in self.CASES:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                inf = write_package(folder, INF.replace(*edit) if edit else INF)
                if isinstance(expected, str):
                    with self.assertRaises(inf_files.InfError) as raised:
                        inf_files.package_files(inf, architectures, TODAY)
                    self.assertIn(expected, str(raised.exception))
                    continue
                found = inf_files.package_files(inf, architectures, TODAY)
                self.assertEqual({name: (entry["files"], entry["hardware_ids"])
                                  for name, entry in found.items()}, expected)

    def test_a_referenced_file_that_the_package_lacks_names_its_line(self):
        with tempfile.TemporaryDirectory() as folder:
            inf = write_package(folder, missing=["files/common/b.dll"])
            with self.assertRaises(inf_files.InfError) as raised:
                inf_files.package_files(inf, ["x86"], TODAY)
            self.assertIn("p.inf:13: files/common/b.dll is not in the package",
                          str(raised.exception))


class Digests(unittest.TestCase):
    def test_a_pe_image_signed_afterwards_keeps_its_digest(self):
        # Signing pads the image to 8 bytes, sets the checksum and appends
        # the certificate table.
        for size in (1024, 1020):
            with self.subTest(size=size):
                image = pe_image(size)
                signed = bytearray(image) + b"\0" * (-size % 8) + b"certificate table\0"
                struct.pack_into("<I", signed, 0x98 + 64, 0x1234)
                struct.pack_into("<II", signed, 0x98 + 96 + 32, size + (-size % 8), 18)
                changed = bytearray(image)
                changed[0x300] ^= 1
                digest = catalog.digest_of(bytes(image), hashlib.sha256)
                self.assertEqual(digest[0], "pe")
                self.assertEqual(catalog.digest_of(bytes(signed), hashlib.sha256), digest)
                self.assertNotEqual(catalog.digest_of(bytes(changed), hashlib.sha256), digest)
        self.assertEqual(catalog.digest_of(b"plain text", hashlib.sha256),
                         ("flat", hashlib.sha256(b"plain text").digest()))


class MakeAndCheck(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.inf = write_package(self.folder.name, INF.replace(
            "CatalogFile.NTx86 = a86.cat\nCatalogFile.NTamd64 = a64.cat", "CatalogFile = p.cat"))

    def tearDown(self):
        self.folder.cleanup()

    def test_check_names_each_fault(self):
        root = pathlib.Path(self.folder.name)
        # (change after the catalog was made, check's targets, the faults' first words)
        for name, change, targets, faults in [
            ("a driver changed, a target that reads only SHA-1",
             lambda: (root / "files/x86/a.sys").write_bytes(b"another driver"),
             ["7_X86", "10_X64"], ["files/x86/a.sys: changed", "p.cat: SHA-256 members"]),
            ("a file added to the package and its INF",
             lambda: self.inf.write_text(self.inf.read_text().replace(
                 "b.dll = 1, common", "b.dll = 1, common\nc.dll = 1, common")),
             None, ["p.inf: changed", "files/common/c.dll: not in p.cat"]),
            ("a file taken out of the package and its INF",
             lambda: self.inf.write_text(self.inf.read_text().replace(
                 "b.dll = 1, common", "").replace("@b.dll, ", "")),
             None, ["p.inf: changed", "p.cat lists b.dll"]),
        ]:
            with self.subTest(name):
                write_package(root, self.inf.read_text().replace("c.dll = 1, common\n", ""))
                catalog.make(self.inf, ["10_X86", "10_X64"], root)
                change()
                (root / "files/common/c.dll").write_bytes(b"new")
                found, _ = catalog.check(self.inf, targets, None)
                self.assertEqual([fault[:len(words)] for fault, words in zip(found, faults)],
                                 faults, found)
                self.assertEqual(len(found), len(faults), found)
                self.assertIn("0xE000024B", found[0])


if __name__ == "__main__":
    unittest.main()
