"""The runs of the setups that the templates of examples/setups make, as on
64-bit Windows: the prefix refuses device installation to 32-bit programs, so
each setup's 32-bit Zeltrane.exe hands over to x64\\Zeltrane.exe. A setup
built by scripts/setups is a folder: driver-setup.exe (NSIS),
driver-setup.msi, and batch\\install-driver.cmd. The MSI's log and the batch
file's output record each run of Zeltrane: records() reads them as
(hardware ID, exit code)."""

import re

from prefix import windows_path


def start(sandbox, command_line, **options):
    """A command line, started as on 64-bit Windows; options: Prefix.run's
    (unseen, plays)."""
    return sandbox.run(command_line, as_64bit_windows=True, **options)


def nsis(sandbox, setup):
    """The NSIS setup of the folder, silent."""
    return start(sandbox, '"%s" /S' % windows_path(setup / "driver-setup.exe"))


def nsis_uninstall(sandbox, folder):
    """The NSIS setup's uninstaller in the installation folder (C:\\...),
    silent, run in place (_?=), so that its exit code is the uninstall's:
    started plainly, it copies itself away, starts the copy and ends at
    once."""
    return start(sandbox, '"%s\\uninstall.exe" /S _?=%s' % (folder, folder))


def msi(sandbox, setup, action="/i", log=None, properties="", **options):
    """msiexec with the folder's MSI, silent; with a verbose log into the
    file log, and public properties (" NAME=VALUE ...") on its command line;
    options: start's."""
    line = 'msiexec %s "%s" /qn' % (action, windows_path(setup / "driver-setup.msi"))
    if log:
        log.unlink(missing_ok=True)
        line += ' /l*v "%s"' % windows_path(log)
    return start(sandbox, line + properties, **options)


def batch(sandbox, setup, arguments, setting=None, script="install-driver.cmd",
          variable="ZELTRANE_NO_DEVICE"):
    """The folder's batch file (install-driver.cmd, or the script) with the
    arguments, as they are; with its variable set to the setting in its
    environment, if given. cmd /d /s /c, as the guide says: no AutoRun
    command first, and the line after /c, less its outer
    quotes, as it is."""
    line = '"%s" %s' % (windows_path(setup / "batch" / script), " ".join(arguments))
    if setting:
        line = 'set "%s=%s" & %s' % (variable, setting, line)
    return start(sandbox, 'cmd /d /s /c "%s"' % line)


def msi_text(log):
    """The MSI's log as text, whichever encoding msiexec wrote it in."""
    raw = log.read_bytes() if log.exists() else b""
    return raw.decode("utf-16") if raw.startswith(b"\xff\xfe") else raw.decode("latin-1")


def msi_records(log):
    """Each run of Zeltrane that the MSI's custom action logged."""
    text = msi_text(log)
    return [(hardware_id, int(code, 16)) for hardware_id, code in re.findall(
        r'Zeltrane: hardware ID "(.*?)": Zeltrane\.exe ended with (0x[0-9A-F]{8})', text)]


def batch_records(run):
    """Each run of Zeltrane that the batch file said, its code unsigned."""
    text = run.stdout.decode("utf-8", "replace")
    return [(hardware_id, int(code) & 0xFFFFFFFF) for hardware_id, code in
            re.findall(r'^"(.*)": Zeltrane\.exe ended with (-?\d+)\r?$', text, re.M)]
