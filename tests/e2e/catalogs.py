"""The catalogs that release/catalog.py makes, as the platform's own catalog
and trust code reads them (wintrust and crypt32, through catalog-probe.exe):
the signed packages of the catalog-signing fixture (sample_catalog.py)."""

import shutil

from cases import Case, null_pointer, suite
from prefix import windows_path
import sample

# WinVerifyTrust's answer TRUST_E_NOSIGNATURE; where the signer's root is not
# trusted, Windows answers CERT_E_UNTRUSTEDROOT, and Wine 8 and 10 answer
# success with CERT_TRUST_IS_UNTRUSTED_ROOT (0x20) in the chain that they
# built: catalog-probe.cpp reads that chain.
NO_SIGNATURE = "untrusted 0x800B0100"
UNTRUSTED_ROOTS = ("untrusted 0x800B0109", "untrusted chain 0x00000020")
FILES = (sample.SAMPLE_INF.name, "amd64/" + sample.SAMPLE_DRIVER)


class Catalog(Case):
    """Each catalog lists exactly the package's files, each tagged with the
    hash that the platform computes for it; a member verifies through the
    signed catalog once its root is trusted, and nothing else does."""

    def setUp(self):
        super().setUp()
        self.packages = suite.sandbox.build / "catalog-check"
        self.generation = suite.sandbox.wine_generation()

    def probe(self, *arguments):
        return suite.sandbox.wine([suite.sandbox.build / "catalog-probe.exe"] + [
            windows_path(a) if not isinstance(a, str) else a for a in arguments]).strip()

    def staged_with(self, inf):
        """Whether the INF is staged with the catalog beside it: the same
        INF staged with the unsigned sample catalog is another package, which
        the setupapi stand-in stages under a name of its own."""
        catalog = (inf.parent / sample.SAMPLE_CATALOG).read_bytes()
        folder = suite.sandbox.staged_catalogs()
        return any(data == inf.read_bytes() and (folder / (name[:-4] + ".cat")).is_file()
                   and (folder / (name[:-4] + ".cat")).read_bytes() == catalog
                   for name, data in suite.sandbox.inf_store().items())

    def kinds(self):
        """(package, probe's hash option, files the platform hashes as
        Windows does) of this Wine."""
        kinds = [("sha1", (), FILES)]
        if self.generation == 8:
            # Wine 8 hashes a PE image whole, where Windows (and Wine 10)
            # takes its Authenticode digest; and it has no SHA-256 catalog
            # hashes (CryptCATAdminCalcHashFromFileHandle2).
            return [("sha1", (), FILES[:1])]
        return kinds + [("sha256", ("sha256",), FILES)]

    def test_the_members_are_the_package_files_by_their_hash(self):
        for name, option, files in self.kinds():
            with self.subTest(name):
                package = self.packages / name
                tags = self.probe("members", package / sample.SAMPLE_CATALOG).split()
                hashes = [self.probe("hash", package / f, *option) for f in FILES]
                self.assertEqual(len(tags), len(FILES), tags)
                for file, digest in zip(FILES, hashes):
                    if file in files:
                        self.assertIn(digest, tags, file)

    def test_only_what_the_signed_catalog_lists_is_trusted_and_only_through_its_root(self):
        root = self.packages / "root.cer"
        name, option, files = self.kinds()[-1]
        catalog = self.packages / name / sample.SAMPLE_CATALOG
        changed = suite.sandbox.state / "changed-catalog-package"
        shutil.rmtree(changed, ignore_errors=True)
        shutil.copytree(self.packages / name, changed)
        inf = changed / sample.SAMPLE_INF.name
        inf.write_bytes(inf.read_bytes().replace(b"1.1.0.0", b"1.1.0.1"))
        unlisted = changed / "amd64" / "unlisted.sys"
        shutil.copyfile(suite.sandbox.build / "catalog-probe.exe", unlisted)
        self.assertIn(self.probe("verify", catalog, self.packages / name / files[0], *option),
                      UNTRUSTED_ROOTS, "before its root is trusted")
        self.assertEqual(self.probe("trust", root), "")
        try:
            for file in files:
                with self.subTest(file):
                    self.assertEqual(self.probe("verify", catalog, self.packages / name / file,
                                                *option), "trusted")
            for what, file in [("a byte changed in the INF", inf),
                               ("a file that the catalog does not list", unlisted)]:
                with self.subTest(what):
                    self.assertEqual(self.probe("verify", catalog, file, *option), "not a member")
            with self.subTest("the SHA-1 catalog unsigned"):
                unsigned = self.packages / "unsigned"
                self.assertEqual(self.probe("verify", unsigned / sample.SAMPLE_CATALOG,
                                            unsigned / FILES[0]), NO_SIGNATURE)
        finally:
            self.probe("untrust", root)

    def test_where_no_one_can_answer_only_a_trusted_publishers_package_is_staged(self):
        """Run where no one can answer, the platform's verdict on the signed
        package (SetupVerifyInfFileW, which the setupapi stand-in gives from
        Wine's own trust code) comes before anything is staged: with its root
        trusted and its publisher not yet, 0xE0000242 and nothing staged;
        with the publisher in TrustedPublisher, installed, the update with a
        place for its restart answer; interactive, the calls as ever."""
        package = suite.sandbox.state / "signed-package"
        shutil.rmtree(package, ignore_errors=True)
        shutil.copytree(self.packages / "sha1", package)
        inf = package / sample.SAMPLE_INF.name
        command = suite.sandbox.program_command('"%s"' % windows_path(inf),
                                                '"%s"' % sample.SAMPLE_HARDWARE_ID)
        root, publisher = self.packages / "root.cer", self.packages / "signer.cer"
        self.assertEqual(self.probe("trust", root), "")
        try:
            with self.subTest("trust not established"):
                store = suite.sandbox.package_store()
                run = suite.sandbox.run(command, unseen=True)
                self.assertEqual((run.exit_code, run.program_calls()), (0xE0000242, []))
                self.assertEqual(suite.sandbox.package_store(), store, "nothing staged")
            for what, unseen, reboot in [("interactive: as ever", False, self.assertEqual),
                                         ("a trusted publisher", True, self.assertNotEqual)]:
                with self.subTest(what):
                    if unseen:
                        self.assertEqual(self.probe("publisher", publisher), "")
                    run = suite.sandbox.run(command, unseen=unseen)
                    self.assertEqual(run.exit_code, 0)
                    self.assertSilent(run)
                    [update] = [a for f, a in run.program_calls()
                                if f == "UpdateDriverForPlugAndPlayDevicesW"]
                    reboot(update["reboot"], null_pointer())
                    self.assertTrue(self.staged_with(inf), "staged with its signed catalog")
            with self.subTest("a restart needed: 3010, and no dialog"):
                run = suite.sandbox.run(command, unseen=True, plays={"restart"})
                self.assertEqual((run.exit_code, run.boxes), (3010, []))
        finally:
            self.probe("unpublisher", publisher)
            self.probe("untrust", root)
