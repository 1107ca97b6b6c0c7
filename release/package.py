"""Writes the release package from the Windows images of both programs.

usage: package.py --version V --epoch SECONDS --x86 IMAGE --x64 IMAGE --arm64 IMAGE
                  --remove-x86 IMAGE --remove-x64 IMAGE --remove-arm64 IMAGE
                  --create-x86 IMAGE --create-x64 IMAGE --create-arm64 IMAGE
                  --msi-action DLL --msi-action-build BUILD-DIR --out DIR

DIR/Zeltrane-V-windows.zip holds, under one folder of that name, Zeltrane.exe
(the 32-bit image), x64/Zeltrane.exe, arm64/Zeltrane.exe, the removal
program's three images beside them (ZeltraneRemove.exe, x64/ and arm64/),
the creation program's likewise (ZeltraneCreate.exe),
README.md, LICENSE,
CHANGELOG.md, the programs' reference (docs/programs.md), the guide for
setups (docs/setups.md), the page on catalogs (docs/catalogs.md), the page
on the images (docs/images.md), the page on security (docs/security.md),
the setup templates, the catalog tool (catalog.py and its modules, with
sign.py) and the MSI template's custom action (setups/, the DLL as
setups/ZeltraneMsiAction.dll);
DIR/Zeltrane-V-windows.zip.sha256 is its checksum in sha256sum's form. The
same inputs give the same bytes: fixed order, times (SECONDS, the commit's
time) and permissions.

Signing: when ZELTRANE_SIGN_PKCS12 names a PKCS#12 file, all nine images and
the custom action DLL are Authenticode-signed with SHA-256 by osslsigncode
before they are zipped. The DLL carries the programs that it runs: so the
images are signed first, written into BUILD-DIR/signed-images (the 32-bit
build's tree) and the DLL built again there around them
(ZeltraneMsiActionSigned), then signed; unsigned, the package's DLL is
the built one, which carries the images as built. Its password is read by osslsigncode from the file
that ZELTRANE_SIGN_PASSWORD_FILE names, never from a command line or an
environment value. ZELTRANE_SIGN_TIMESTAMP adds an RFC 3161 time stamp from
that URL. A failed signing writes no package.
"""

import argparse
import hashlib
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from sign import Failure, sign, signing_settings

SOURCE = pathlib.Path(__file__).resolve().parent.parent
DOCUMENTS = ["README.md", "LICENSE", "CHANGELOG.md", "docs/programs.md", "docs/setups.md",
             "docs/catalogs.md", "docs/images.md", "docs/security.md"]
# The setup templates, beside the images that they ship: (name in the package, source).
TEMPLATES = [("setups/" + name, "examples/setups/" + name)
             for name in ("driver-setup.nsi", "driver-setup.wxs", "install-driver.cmd",
                          "uninstall-driver.cmd", "lock-permissions.py", "record-digests.py")]
# The catalog tool and the signing that it shares with the release, beside them.
TEMPLATES += [("setups/" + name, "release/" + name)
              for name in ("catalog.py", "catalog_check.py", "catalog_der.py", "inf_files.py",
                           "sign.py")]


def write_zip(path, top, files, epoch):
    """files: (name in the package, source path), in the order given."""
    date_time = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(path, "w") as package:
        for name, source in files:
            entry = zipfile.ZipInfo("%s/%s" % (top, name), date_time=date_time)
            entry.create_system = 3  # permissions in Unix form, whatever builds it
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            package.writestr(entry, source.read_bytes(), compresslevel=9)


def carrying_signed(build, images):
    """The custom action DLL built in BUILD around the signed images, given
    as (path in the release, signed file): its path."""
    folder = build / "signed-images"
    shutil.rmtree(folder, ignore_errors=True)
    for inner, image in images:
        (folder / inner).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(image, folder / inner)
    result = subprocess.run(["cmake", "--build", str(build), "--target", "ZeltraneMsiActionSigned"],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True)
    dll = folder / "setups" / "ZeltraneMsiAction.dll"
    if result.returncode != 0 or not dll.is_file():
        raise Failure("building the custom action around the signed images failed:\n%s%s" % (
            result.stdout, result.stderr))
    return dll


def main():
    parser = argparse.ArgumentParser(description="Writes the Zeltrane release package.")
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", required=True, type=int)
    parser.add_argument("--x86", required=True, type=pathlib.Path)
    parser.add_argument("--x64", required=True, type=pathlib.Path)
    parser.add_argument("--arm64", required=True, type=pathlib.Path)
    for arch in ("x86", "x64", "arm64"):
        parser.add_argument("--remove-" + arch, required=True, type=pathlib.Path)
        parser.add_argument("--create-" + arch, required=True, type=pathlib.Path)
    parser.add_argument("--msi-action", required=True, type=pathlib.Path)
    parser.add_argument("--msi-action-build", required=True, type=pathlib.Path)
    parser.add_argument("--out", required=True, type=pathlib.Path)
    args = parser.parse_args()

    name = "Zeltrane-%s-windows" % args.version
    package = args.out / (name + ".zip")
    checksum = args.out / (name + ".zip.sha256")
    args.out.mkdir(parents=True, exist_ok=True)
    # Whatever an earlier run left under these names goes first, so that a
    # failed run never leaves a package that looks like this one.
    package.unlink(missing_ok=True)
    checksum.unlink(missing_ok=True)

    with tempfile.TemporaryDirectory(dir=args.out) as staging:
        staging = pathlib.Path(staging)
        images = [("Zeltrane.exe", args.x86), ("x64/Zeltrane.exe", args.x64),
                  ("arm64/Zeltrane.exe", args.arm64), ("ZeltraneRemove.exe", args.remove_x86),
                  ("x64/ZeltraneRemove.exe", args.remove_x64),
                  ("arm64/ZeltraneRemove.exe", args.remove_arm64),
                  ("ZeltraneCreate.exe", args.create_x86),
                  ("x64/ZeltraneCreate.exe", args.create_x64),
                  ("arm64/ZeltraneCreate.exe", args.create_arm64),
                  ("setups/ZeltraneMsiAction.dll", args.msi_action)]
        staged = []
        for inner, image in images:
            target = staging / inner
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(image, target)
            staged.append((inner, target))
        settings = signing_settings()
        if settings:
            for inner, target in staged[:-1]:
                sign(target, settings)
            shutil.copyfile(carrying_signed(args.msi_action_build, staged[:-1]), staged[-1][1])
            sign(staged[-1][1], settings)
            stamp = ", time-stamped by " + settings["timestamp"] if settings["timestamp"] else ""
            print("signed: all nine images and the MSI's custom action, which carries them "
                  "signed, SHA-256, with %s%s" % (settings["pkcs12"], stamp))
        else:
            print("unsigned: ZELTRANE_SIGN_PKCS12 is not set, the images are not signed")
        files = staged + [(document, SOURCE / document) for document in DOCUMENTS]
        files += [(name, SOURCE / source) for name, source in TEMPLATES]
        partial = staging / (name + ".zip")
        write_zip(partial, name, files, args.epoch)
        digest = hashlib.sha256(partial.read_bytes()).hexdigest()
        partial.replace(package)
    checksum.write_text("%s  %s\n" % (digest, package.name))
    print("wrote %s and %s" % (package, checksum.name))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print("release: %s" % failure, file=sys.stderr)
        sys.exit(1)
