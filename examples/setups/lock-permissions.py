"""Gives an MSI built from driver-setup.wxs the permissions of its
installation folder, which wixl cannot write: run it on the MSI after wixl
and before signing (scripts/setups does).

usage: lock-permissions.py MSI

For INSTALLDIR, every folder under it and every file, a row of the
MsiLockPermissionsEx table with an explicit security descriptor: owner
Administrators, SYSTEM and Administrators full control, Users read and
execute, and nothing inherited (P), so that a folder that a user made
beforehand, or a folder under a drive's root where users may write, is
locked all the same. The driver folder (DriverDir), every folder under it
and every file in them give Users nothing at all: a user who could open a
package file could hold it open with no sharing and make the installation's
copy of the package fail; no user needs the package, which the platform's
store keeps. Each folder gets a CreateFolder row for the lock to name, and
the sequence the CreateFolders and RemoveFolders actions where it lacks
them. Windows Installer 5.0 (Windows 7) and later apply the rows when
they install the folders and files; Windows Installer 4.5 (Windows Vista)
ignores the table. It needs msitools' msiinfo and msibuild.
"""

import subprocess
import sys

# Owner Administrators, group SYSTEM; a protected DACL: SYSTEM and
# Administrators full control, Users read and execute (0x1200a9: read,
# execute, synchronize), inherited by what a folder holds (OICI).
FOLDER = "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
FILE = "O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)"
# The driver folder's: the same without Users.
DRIVER_FOLDER = "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
DRIVER_FILE = "O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)"
# Windows Installer's own numbers for the two actions.
ACTIONS = {"RemoveFolders": 3600, "CreateFolders": 3700}
CREATE = ("CREATE TABLE `MsiLockPermissionsEx` (`MsiLockPermissionsEx` CHAR(72) NOT NULL, "
          "`LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, "
          "`SDDLText` LONGCHAR NOT NULL, `Condition` CHAR(255) PRIMARY KEY `MsiLockPermissionsEx`)")


def table(msi, name):
    """The table's rows as lists of fields; none where the MSI lacks it."""
    exported = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True)
    if exported.returncode != 0:
        return []
    return [line.rstrip("\r").split("\t") for line in exported.stdout.splitlines()[3:]
            if line.strip()]


def lock(key, item, kind, sddl):
    return ("INSERT INTO `MsiLockPermissionsEx` (`MsiLockPermissionsEx`, `LockObject`, `Table`, "
            "`SDDLText`) VALUES ('%s', '%s', '%s', '%s')" % (key, item, kind, sddl))


def main(msi):
    parents = {row[0]: row[1] for row in table(msi, "Directory")}

    def under(top, folder):
        while folder:
            if folder == top:
                return True
            folder = parents.get(folder)
        return False

    folders = sorted(folder for folder in parents if under("INSTALLDIR", folder))
    components = {}
    folder_of = {}
    for component, _, folder, *_ in table(msi, "Component"):
        components.setdefault(folder, component)
        folder_of[component] = folder
    created = {row[0] for row in table(msi, "CreateFolder")}
    if table(msi, "MsiLockPermissionsEx"):
        sys.exit("lock-permissions: %s has its rows already" % msi)
    queries = [CREATE]
    for folder in folders:
        if folder not in created:
            # Any component installs the folder; one of its own where it has one.
            component = components.get(folder, components["INSTALLDIR"])
            queries.append("INSERT INTO `CreateFolder` (`Directory_`, `Component_`) "
                           "VALUES ('%s', '%s')" % (folder, component))
        queries.append(lock("Folder." + folder, folder, "CreateFolder",
                            DRIVER_FOLDER if under("DriverDir", folder) else FOLDER))
    for row in table(msi, "File"):
        queries.append(lock("File." + row[0], row[0], "File",
                            DRIVER_FILE if under("DriverDir", folder_of[row[1]]) else FILE))
    sequence = {row[0] for row in table(msi, "InstallExecuteSequence")}
    for action, number in ACTIONS.items():
        if action not in sequence:
            queries.append("INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) "
                           "VALUES ('%s', %d)" % (action, number))
    command = ["msibuild", msi]
    for query in queries:
        command += ["-q", query]
    subprocess.run(command, check=True)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: lock-permissions.py MSI")
    main(sys.argv[1])
