"""The sample package's catalogs that the e2e stages and the demo use, made on
this machine with release/catalog.py, before anything enters a platform root
(whose Python lacks Debian's python3-asn1crypto). Run by Debian's Python.

usage: sample_catalog.py package FOLDER ARCH=DRIVER...
           the sample package in FOLDER: the unchanged sample INF, the
           drivers (ARCH: x86, amd64 or arm64) and its catalog, for the
           Windows versions of those architectures that the programs run on
           (Vista and later): its members SHA-1
       sample_catalog.py catalog INF
           the catalog of a package that sample.write_sample_package wrote,
           for the architectures of its drivers, in place of the unchanged
           sample's: for the setups, which refuse a package that its
           catalog does not list
       sample_catalog.py signed FOLDER AMD64-DRIVER
           signed packages of the INF and the amd64 driver for the catalog
           cases, each checked: FOLDER/sha1 (Windows 7 and 10, SHA-1
           members), FOLDER/unsigned (that catalog unsigned), FOLDER/sha256
           (Windows 10, SHA-256 members; its driver signed after its catalog
           was made); FOLDER/root.cer, the throwaway root that signed them
           (its key is deleted). A second making must give the same bytes,
           osslsigncode must verify each signed catalog and the driver
           through it, and catalog.py check must pass. FOLDER/signer.cer:
           the publisher's certificate.
"""

import os
import pathlib
import shutil
import subprocess
import sys

import sample

TREE = pathlib.Path(__file__).resolve().parent.parent
CATALOG = [sys.executable, str(TREE / "release" / "catalog.py")]
TARGETS = {"x86": "Vista_X86,7_X86,10_X86", "amd64": "Vista_X64,7_X64,10_X64",
           "arm64": "10_ARM64"}


def run(command, **options):
    result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            **options)
    if result.returncode != 0:
        raise RuntimeError("%s failed:\n%s%s" % (" ".join(command), result.stdout, result.stderr))
    return result.stdout


def lay_out(folder, drivers):
    """The unchanged sample INF and the drivers ({arch: file}) in folder."""
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(sample.SAMPLE_INF, folder / sample.SAMPLE_INF.name)
    for architecture, driver in drivers.items():
        (folder / architecture).mkdir(exist_ok=True)
        shutil.copyfile(driver, folder / architecture / sample.SAMPLE_DRIVER)
    return folder / sample.SAMPLE_INF.name


def make(inf, targets, env=None):
    run(CATALOG + ["make", str(inf), "--os", targets], env=env)
    return inf.parent / sample.SAMPLE_CATALOG


def targets(architectures):
    return ",".join(TARGETS[architecture] for architecture in sorted(architectures))


def package_command(folder, pairs):
    drivers = dict(pair.split("=", 1) for pair in pairs)
    folder = pathlib.Path(folder)
    shutil.rmtree(folder, ignore_errors=True)
    make(lay_out(folder, drivers), targets(drivers))
    print("sample package: %s" % folder)


def certificates(folder):
    """A throwaway root and a code-signing certificate that it issued, as the
    release's signing settings name them; the root's key is deleted."""
    def issue(*arguments):
        run(["openssl"] + list(arguments), cwd=folder)
    issue("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "root.key", "-subj",
          "/CN=Zeltrane catalog test root", "-days", "2", "-out", "root.pem")
    issue("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-subj",
          "/CN=Zeltrane catalog test publisher", "-out", "signer.csr")
    (folder / "signer.ext").write_text("keyUsage=critical,digitalSignature\n"
                                       "extendedKeyUsage=codeSigning\n")
    issue("x509", "-req", "-in", "signer.csr", "-CA", "root.pem", "-CAkey", "root.key",
          "-CAcreateserial", "-days", "2", "-extfile", "signer.ext", "-out", "signer.pem")
    (folder / "password").write_text(os.urandom(18).hex())
    issue("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile",
          "root.pem", "-passout", "file:password", "-out", "signer.p12")
    issue("x509", "-in", "root.pem", "-outform", "der", "-out", "root.cer")
    issue("x509", "-in", "signer.pem", "-outform", "der", "-out", "signer.cer")
    for name in ("root.key", "signer.key", "signer.csr", "signer.ext", "root.srl"):
        (folder / name).unlink(missing_ok=True)
    return dict(os.environ, ZELTRANE_SIGN_PKCS12=str(folder / "signer.p12"),
                ZELTRANE_SIGN_PASSWORD_FILE=str(folder / "password"))


def signed_command(folder, driver):
    folder = pathlib.Path(folder)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    env = certificates(folder)
    roots = str(folder / "root.pem")
    for name, targets in (("sha1", "7_X64,10_X64"), ("sha256", "10_X64")):
        inf = lay_out(folder / name, {"amd64": driver})
        catalog = make(inf, targets, env)
        again = make(lay_out(folder / (name + "-again"), {"amd64": driver}), targets, env)
        if catalog.read_bytes() != again.read_bytes():
            raise RuntimeError("two makings of the %s catalog differ" % name)
        shutil.rmtree(again.parent)
        if name == "sha1":
            lay_out(folder / "unsigned", {"amd64": driver})
            shutil.copyfile(catalog, folder / "unsigned" / sample.SAMPLE_CATALOG)
        else:
            # The driver signed after its catalog was made, as a vendor's is.
            image = inf.parent / "amd64" / sample.SAMPLE_DRIVER
            run(["osslsigncode", "sign", "-pkcs12", env["ZELTRANE_SIGN_PKCS12"], "-readpass",
                 env["ZELTRANE_SIGN_PASSWORD_FILE"], "-h", "sha256", "-in", str(driver), "-out",
                 str(image.with_suffix(".signed"))])
            image.with_suffix(".signed").replace(image)
        run(CATALOG + ["sign", str(catalog)], env=env)
        run(["osslsigncode", "verify", "-in", str(catalog), "-CAfile", roots])
        run(["osslsigncode", "verify", "-in", str(inf.parent / "amd64" / sample.SAMPLE_DRIVER),
             "-catalog", str(catalog), "-CAfile", roots])
        run(CATALOG + ["check", str(inf), "--ca-file", roots])
    for name in ("signer.p12", "password"):
        (folder / name).unlink()
    print("signed packages: %s" % folder)


def main():
    if len(sys.argv) >= 4 and sys.argv[1] == "package":
        package_command(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 3 and sys.argv[1] == "catalog":
        inf = pathlib.Path(sys.argv[2])
        make(inf, targets(a for a in TARGETS if (inf.parent / a).is_dir()))
    elif len(sys.argv) == 4 and sys.argv[1] == "signed":
        signed_command(sys.argv[2], sys.argv[3])
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
