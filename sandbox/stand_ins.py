"""The answers of Windows that Wine does not give, played in the prefix by
the newdev stand-in (sandbox/newdev.cpp) and the setupapi stand-in
(sandbox/setupapi.cpp). Wine's own DLLs do the rest: each stand-in calls a
copy of Wine's, kept beside it as wine-newdev.dll or wine-setupapi.dll.
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
- Windows sets the update's restart indicator where the installation needs
  a restart, where Wine's never does: played in a run that plays "restart"
  (PLAYS).
- Windows keeps a staged package's catalog beside its published INF, as
  CatRoot\\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\\oemNN.cat, and stages the
  same INF with another catalog under a name of its own, where Wine keeps
  the catalog under its own name and names the first copy of the INF's
  bytes: the setupapi stand-in stages as Windows does.
The devices' state after an installation (a restart needed, a problem code),
which Wine never reports, is played through Wine's own device properties
instead (Devices.play_device_state in devices.py).
A call that the stand-in answers itself leaves no trace of Wine's: it adds a
line of its arguments to its record in C:\\windows\\temp (RECORDS)."""

import pathlib
import shutil

# Every program loads the stand-ins in place of Wine's DLLs of those names.
STAND_INS = ("newdev", "setupapi")
OVERRIDE = ",".join(STAND_INS) + "=n,b"
AS_64BIT_WINDOWS = ("ZELTRANE_SANDBOX_WINDOWS", "64")
# What a run may play, by name: "pending", a device installation under way,
# which Wine never has (the setupapi stand-in's CMP_WaitNoPendingInstallEvents
# answers WAIT_TIMEOUT); "restart", a restart that the update needs, which
# Wine's never reports (the newdev stand-in sets the caller's indicator).
PLAYS = {"pending": ("ZELTRANE_SANDBOX_PENDING", "1"),
         "restart": ("ZELTRANE_SANDBOX_RESTART", "1")}
RECORDS = {"refused": "wow64-newdev.txt", "no_device": "newdev-no-device.txt",
           "staged": "setupapi-staged.txt", "verified": "setupapi-verified.txt",
           "pending": "setupapi-pending.txt"}


def install(prefix, dlls):
    """Puts the stand-ins in place of Wine's DLLs, keeping Wine's own beside
    each as wine-<name>.dll, for the stand-in to call; dlls: {system folder
    ("system32", "syswow64"): the newdev stand-in of that folder's
    architecture (build/<preset>/stand-in/newdev.dll), beside which the
    others are}."""
    for folder, newdev in dlls.items():
        system = prefix / "drive_c" / "windows" / folder
        for name in STAND_INS:
            if not (system / ("wine-%s.dll" % name)).exists():
                shutil.copyfile(system / ("%s.dll" % name), system / ("wine-%s.dll" % name))
            shutil.copyfile(pathlib.Path(newdev).parent / ("%s.dll" % name),
                            system / ("%s.dll" % name))


def environment(env, as_64bit_windows, plays=()):
    """A program's environment, playing 64-bit Windows or not, and what else
    it plays (PLAYS' names)."""
    played = [(AS_64BIT_WINDOWS, as_64bit_windows)]
    played += [(variable, name in plays) for name, variable in PLAYS.items()]
    for (name, value), playing in played:
        env.pop(name, None)
        if playing:
            env[name] = value
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
