"""The answers of Windows that Wine does not give, played in the prefix by
the newdev stand-in (sandbox/newdev.cpp). Wine's own newdev.dll does the
rest: the stand-in calls a copy of it, kept beside it as wine-newdev.dll.
- 64-bit Windows refuses device installation to 32-bit programs with
  ERROR_IN_WOW64, where Wine installs. Played only in a run that plays 64-bit
  Windows: with AS_64BIT_WINDOWS in its environment, the 32-bit stand-in
  refuses.
- DiUninstallDriverW, the removal of Windows 10 version 1703 and later,
  which Wine lacks, refuses 32-bit callers on 64-bit Windows likewise: the
  32-bit stand-in has it for that answer alone (the 64-bit one does not, so
  the native removal takes the older route, which Wine implements).
- Where no present device has the hardware ID among its hardware or
  compatible IDs, Windows answers ERROR_NO_SUCH_DEVINST, where Wine returns
  TRUE having installed nothing.
The devices' state after an installation (a restart needed, a problem code),
which Wine never reports, is played through Wine's own device properties
instead (Devices.play_device_state in devices.py).
A call that the stand-in answers itself leaves no trace of Wine's: it adds a
line of its arguments to its record in C:\\windows\\temp (RECORDS)."""

import shutil

# Every program loads the stand-in in place of Wine's newdev.dll.
OVERRIDE = "newdev=n,b"
AS_64BIT_WINDOWS = ("ZELTRANE_SANDBOX_WINDOWS", "64")
RECORDS = {"refused": "wow64-newdev.txt", "no_device": "newdev-no-device.txt"}


def install(prefix, dlls):
    """Puts the stand-ins in place of Wine's newdev.dll, keeping Wine's own
    beside each as wine-newdev.dll, for the stand-in to call; dlls: {system
    folder ("system32", "syswow64"): the stand-in of that folder's
    architecture (build/<preset>/stand-in/newdev.dll)}."""
    for folder, stand_in in dlls.items():
        system = prefix / "drive_c" / "windows" / folder
        if not (system / "wine-newdev.dll").exists():
            shutil.copyfile(system / "newdev.dll", system / "wine-newdev.dll")
        shutil.copyfile(stand_in, system / "newdev.dll")


def environment(env, as_64bit_windows):
    """A program's environment, playing 64-bit Windows or not."""
    env.pop(AS_64BIT_WINDOWS[0], None)
    if as_64bit_windows:
        env[AS_64BIT_WINDOWS[0]] = AS_64BIT_WINDOWS[1]
    return env


def _records(prefix):
    return {name: prefix / "drive_c" / "windows" / "temp" / record
            for name, record in RECORDS.items()}


def clear_records(prefix):
    """Before a run: no record of an earlier one."""
    for record in _records(prefix).values():
        record.unlink(missing_ok=True)


def answered(prefix):
    """After a run: the calls the stand-in answered itself, by RECORDS' names:
    lines of their arguments."""
    return {name: record.read_text(encoding="utf-8").splitlines()
            for name, record in _records(prefix).items() if record.exists()}
