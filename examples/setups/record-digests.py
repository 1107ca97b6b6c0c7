"""Records in an MSI built from driver-setup.wxs the SHA-256 digest of each
file of the driver package, which its custom action checks before it
installs anything: run it on the MSI after wixl (or light) and before
signing (scripts/setups does).

usage: record-digests.py MSI PACKAGE-FOLDER

PACKAGE-FOLDER is the folder that the MSI's package was harvested from. The
files that the MSI installs under its driver folder (DriverDir) must be
exactly those, with the same sizes; then the property ZeltranePackage holds
<path>*<SHA-256>*<path>*<SHA-256>..., each path relative to the package's
folder, in the File table's order. InstallDriver's data names the property:
an MSI without it installs nothing, and says so in its log. It needs
msitools' msiinfo and msibuild.
"""

import hashlib
import pathlib
import subprocess
import sys

PROPERTY = "ZeltranePackage"
# InstallDriver's CustomActionData holds the list with the package's
# folder, the INF and the hardware IDs, and is read into 32,768 characters.
ROOM = 30000


def table(msi, name):
    """The table's rows as lists of fields; none where the MSI lacks it."""
    exported = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True)
    if exported.returncode != 0:
        return []
    return [line.rstrip("\r").split("\t") for line in exported.stdout.splitlines()[3:]
            if line.strip()]


def long_name(field):
    """The name that a folder or file has on the target: the long one of
    short|long, the target's of target:source."""
    return field.split(":")[0].split("|")[-1]


def package_files(msi):
    """The MSI's files under DriverDir: {path relative to it: size}, in the
    File table's order."""
    folders = {row[0]: (row[1], long_name(row[2])) for row in table(msi, "Directory")}

    def relative(folder):
        parts = []
        while folder and folder != "DriverDir":
            parent, name = folders[folder]
            if name != ".":
                parts.insert(0, name)
            folder = parent
        return parts if folder == "DriverDir" else None

    components = {row[0]: row[2] for row in table(msi, "Component")}
    files = {}
    for row in sorted(table(msi, "File"), key=lambda row: int(row[7])):
        parts = relative(components[row[1]])
        if parts is not None:
            files["\\".join(parts + [long_name(row[2])])] = int(row[3])
    return files


def main(msi, package):
    files = package_files(msi)
    on_disk = {str(p.relative_to(package)).replace("/", "\\"): p.stat().st_size
               for p in sorted(package.rglob("*")) if p.is_file()}
    if not files or files != dict((path, on_disk.get(path)) for path in files) or \
            set(files) != set(on_disk):
        sys.exit("record-digests: the MSI's files under DriverDir are not those of %s" % package)
    unsafe = [path for path in files if any(c in path for c in "'*|")]
    if unsafe:
        sys.exit("record-digests: a file's name holds ', * or |: %s" % ", ".join(unsafe))
    # Windows names files without case: two such names are one file there,
    # which can match only one of the two digests.
    by_case = {}
    for path in files:
        by_case.setdefault(path.lower(), []).append(path)
    clashes = [" and ".join(paths) for paths in by_case.values() if len(paths) > 1]
    if clashes:
        sys.exit("record-digests: names that differ only in case are one file on Windows: %s"
                 % "; ".join(clashes))
    value = "*".join("%s*%s" % (path, hashlib.sha256(
        (package / path.replace("\\", "/")).read_bytes()).hexdigest()) for path in files)
    if len(value) > ROOM:
        sys.exit("record-digests: the package has too many files for the custom action's data")
    if any(row[0] == PROPERTY for row in table(msi, "Property")):
        sys.exit("record-digests: %s has its %s already" % (msi, PROPERTY))
    subprocess.run(["msibuild", msi, "-q",
                    "INSERT INTO `Property` (`Property`, `Value`) VALUES ('%s', '%s')"
                    % (PROPERTY, value)], check=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit("usage: record-digests.py MSI PACKAGE-FOLDER")
    main(sys.argv[1], pathlib.Path(sys.argv[2]))
