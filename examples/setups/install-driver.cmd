@echo off
rem Installs a driver package with Zeltrane, from the folder this file is in:
rem copy it beside the Zeltrane release (Zeltrane.exe, x64\, arm64\) and the
rem driver package, change no line, and run it as an administrator:
rem
rem   install-driver.cmd PACKAGE-FOLDER INF-NAME "HARDWARE-ID" ["HARDWARE-ID"...]
rem   install-driver.cmd driver zt-sample.inf "PCI\VEN_7A5C&DEV_0C31&SUBSYS_00000000"
rem
rem PACKAGE-FOLDER is the driver package's folder, relative to this file's
rem folder or absolute; INF-NAME its INF file; then the device's hardware ID,
rem or the IDs of a product line, one argument each. Quote each ID: cmd
rem reads an unquoted & as the start of another command.
rem
rem It runs Zeltrane once for each ID, in the given order, writes each ID and
rem Zeltrane's exit code to its output, and ends with a code, whole:
rem   0     the driver was installed for at least one ID, and no present
rem         device has the others (Zeltrane's 0xE000020B); or no present
rem         device has any of them and ZELTRANE_NO_DEVICE is succeed (the
rem         default): the package is staged in the platform's driver store,
rem         which installs it when such a device appears.
rem   0xE000020B (-536870389 as ERRORLEVEL)  no present device has any of the
rem         IDs, and ZELTRANE_NO_DEVICE is fail.
rem   3010  as 0, but a restart must finish the installation on a device
rem         (Zeltrane's 3010 for an ID, or ZeltraneCreate's): nothing
rem         restarts Windows by itself.
rem   any   the first other code of Zeltrane (see docs/programs.md): the
rem         driver was not installed for that ID, or a device cannot run it
rem         (0x2000000N: problem code N), and the IDs after it were not run.
rem   160   the arguments are fewer than three, or ZELTRANE_NO_DEVICE is
rem         neither succeed, fail nor create.
rem With ZELTRANE_NO_DEVICE=create, where no present device has any of the
rem IDs, ZeltraneCreate.exe makes the device of a virtual adapter with the
rem first ID and installs on it, and its code is the file's; a re-run finds
rem the device it made.
rem ZELTRANE_NO_DEVICE is read from the environment this file runs in:
rem   set ZELTRANE_NO_DEVICE=fail
rem It copies nothing and installs no uninstaller; the driver package stays
rem in the platform's driver store, which "pnputil /delete-driver oemNN.inf
rem /uninstall" empties (pnputil /enum-drivers names the oemNN.inf).
rem It keeps no record of earlier versions either: after an upgrade, the
rem older version's package goes, where no device uses it, with
rem   ZeltraneRemove.exe "OLD-PACKAGE-FOLDER\INF-NAME" "PACKAGE-FOLDER\INF-NAME"
rem (0: done; 0xE000023D: a device still uses it, and it stays).
rem Nor does it record that it uses the package, as the NSIS setup and the
rem MSI do (HKLM\SOFTWARE\Zeltrane\Packages): their uninstall does not know
rem of it, and may take a package that this file installed.

rem It runs the programs beside it, and the package, as an administrator:
rem keep this folder where only administrators can write (a share or a
rem folder that other users may change would let them run code as you).

rem No delayed expansion: a ! in a folder's name stays a !.
setlocal EnableExtensions DisableDelayedExpansion
rem A variable named ERRORLEVEL (any process of the user may set one, and an
rem elevated cmd inherits it) would stand in for the exit codes below:
rem without it, %ERRORLEVEL% is the last program's code.
set "ERRORLEVEL="
if "%~3"=="" goto usage
rem The setting, read with delayed expansion (!...!), which expands it after
rem cmd has parsed the line: its text never becomes part of a command, so
rem that a value holding " or & (any process of the user may set one) runs
rem nothing. Only one of the fixed words leaves the block.
setlocal EnableDelayedExpansion
set "no_device=succeed"
if defined ZELTRANE_NO_DEVICE (
    set "no_device="
    if "!ZELTRANE_NO_DEVICE!"=="succeed" set "no_device=succeed"
    if "!ZELTRANE_NO_DEVICE!"=="fail" set "no_device=fail"
    if "!ZELTRANE_NO_DEVICE!"=="create" set "no_device=create"
)
endlocal & set "no_device=%no_device%"
if not defined no_device goto usage

rem The INF's full path: Zeltrane wants it, and a relative path would be
rem taken from whatever the current folder is.
pushd "%~dp0"
rem A name that matches no file (a * or ? in it) sets nothing: the variable
rem is cleared first, and then holds the name as given, which the program
rem does not find, rather than a value from the environment.
set "inf="
for %%F in ("%~1\%~2") do set "inf=%%~fF"
if not defined inf set "inf=%~1\%~2"
popd
set "installed="
set "restart="
rem The first ID, for ZeltraneCreate.exe: shift takes them off one by one.
set "first=%~3"

:next
rem start /wait: a windowed program is waited for, and its exit code
rem becomes ERRORLEVEL, whoever runs this file. The ID stays quoted, so that
rem its & is text.
start "" /wait "%~dp0Zeltrane.exe" "%inf%" "%~3"
set "code=%ERRORLEVEL%"
echo "%~3": Zeltrane.exe ended with %code%
rem Any code but 0 and 0xE000020B (as ERRORLEVEL shows it: no present device
rem has the ID) ends the file at once. exit /b hands the code on to whoever
rem started the batch file: a script (ERRORLEVEL), a deployment tool or a
rem setup (the process's exit code).
if "%code%"=="0" (
    set "installed=yes"
) else if "%code%"=="3010" (
    set "installed=yes"
    set "restart=yes"
) else if not "%code%"=="-536870389" (
    exit /b %code%
)
shift /3
if not "%~3"=="" goto next

if defined restart (
    echo A restart finishes the installation.
    exit /b 3010
)
if defined installed exit /b 0
if "%no_device%"=="create" goto create
if "%no_device%"=="fail" (
    echo No present device has any of the hardware IDs ^(ZELTRANE_NO_DEVICE=fail^).
    exit /b -536870389
)
echo No present device has any of the hardware IDs: installed on no device. The package is staged, and the platform installs it when such a device appears.
exit /b 0

:create
start "" /wait "%~dp0ZeltraneCreate.exe" "%inf%" "%first%"
set "code=%ERRORLEVEL%"
echo "%first%": ZeltraneCreate.exe ended with %code%
exit /b %code%

:usage
echo usage: %~nx0 PACKAGE-FOLDER INF-NAME "HARDWARE-ID" ["HARDWARE-ID"...] 1>&2
echo ZELTRANE_NO_DEVICE: succeed ^(the default^), fail or create 1>&2
exit /b 160
