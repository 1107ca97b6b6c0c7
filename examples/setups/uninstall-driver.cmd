@echo off
rem Takes back what install-driver.cmd installed, from the folder this file is
rem in: copy it beside install-driver.cmd, the Zeltrane release
rem (ZeltraneRemove.exe, x64\, arm64\) and the driver package, change no line,
rem and run it as an administrator with the same package and INF:
rem
rem   uninstall-driver.cmd PACKAGE-FOLDER INF-NAME
rem   uninstall-driver.cmd driver zt-sample.inf
rem
rem It runs ZeltraneRemove once, which takes the package off every device
rem installed from it and out of the platform's driver store, writes its exit
rem code to its output, and ends with a code, whole:
rem   0     removed, or the package was not staged at all; or
rem         ZELTRANE_ON_UNINSTALL is keep: nothing was run.
rem   3010  removed; the platform needs a restart to finish.
rem   any   ZeltraneRemove's code (see its README): the driver was not removed.
rem   160   the arguments are not two, or ZELTRANE_ON_UNINSTALL is neither
rem         remove (the default) nor keep.
rem ZELTRANE_ON_UNINSTALL is read from the environment this file runs in:
rem   set ZELTRANE_ON_UNINSTALL=keep
rem It deletes no file: the folder is yours to remove afterwards.
rem It reads no record of which products use the package: it takes the
rem package whoever else installed it (an NSIS setup or an MSI of it keeps
rem its record, and its own uninstall then finds the package gone).

rem It runs the ZeltraneRemove.exe beside it, and the package, as an administrator:
rem keep this folder where only administrators can write (a share or a
rem folder that other users may change would let them run code as you).

rem No delayed expansion: a ! in a folder's name stays a !.
setlocal EnableExtensions DisableDelayedExpansion
rem A variable named ERRORLEVEL (any process of the user may set one, and an
rem elevated cmd inherits it) would stand in for the exit codes below:
rem without it, %ERRORLEVEL% is the last program's code.
set "ERRORLEVEL="
if "%~2"=="" goto usage
if not "%~3"=="" goto usage
rem The setting, read with delayed expansion (!...!), which expands it after
rem cmd has parsed the line: its text never becomes part of a command, so
rem that a value holding " or & (any process of the user may set one) runs
rem nothing. Only one of the fixed words leaves the block.
setlocal EnableDelayedExpansion
set "on_uninstall=remove"
if defined ZELTRANE_ON_UNINSTALL (
    set "on_uninstall="
    if "!ZELTRANE_ON_UNINSTALL!"=="remove" set "on_uninstall=remove"
    if "!ZELTRANE_ON_UNINSTALL!"=="keep" set "on_uninstall=keep"
)
endlocal & set "on_uninstall=%on_uninstall%"
if not defined on_uninstall goto usage
if "%on_uninstall%"=="keep" (
    echo ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package staged.
    exit /b 0
)

rem The INF's full path, as install-driver.cmd gave it to Zeltrane.
pushd "%~dp0"
rem A name that matches no file (a * or ? in it) sets nothing: the variable
rem is cleared first, and then holds the name as given, which the program
rem does not find, rather than a value from the environment.
set "inf="
for %%F in ("%~1\%~2") do set "inf=%%~fF"
if not defined inf set "inf=%~1\%~2"
popd
rem start /wait: the windowed program is waited for, and its exit code
rem becomes ERRORLEVEL; exit /b hands it on whole.
start "" /wait "%~dp0ZeltraneRemove.exe" "%inf%"
set "code=%ERRORLEVEL%"
echo ZeltraneRemove.exe ended with %code%
exit /b %code%

:usage
echo usage: %~nx0 PACKAGE-FOLDER INF-NAME 1>&2
echo ZELTRANE_ON_UNINSTALL: remove ^(the default^) or keep 1>&2
exit /b 160
