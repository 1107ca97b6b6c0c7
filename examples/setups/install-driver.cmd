@echo off
rem Installs a driver package with Zeltrane, from the folder this file is in:
rem copy it beside the Zeltrane release (Zeltrane.exe, x64\, arm64\) and the
rem driver package, change no line, and run it as an administrator:
rem
rem   install-driver.cmd PACKAGE-FOLDER INF-NAME "HARDWARE-ID"
rem   install-driver.cmd driver zt-sample.inf "PCI\VEN_7A5C&DEV_0C31&SUBSYS_00000000"
rem
rem PACKAGE-FOLDER is the driver package's folder, relative to this file's
rem folder or absolute; INF-NAME its INF file. Quote the hardware ID: cmd
rem reads an unquoted & as the start of another command.
rem
rem Ends with Zeltrane's exit code, whole: 0 only when the driver was
rem installed (see Zeltrane's README for the others), 160 when the arguments
rem are not three. It copies nothing and installs no uninstaller; the driver
rem package stays in the platform's driver store, which "pnputil
rem /delete-driver oemNN.inf /uninstall" empties (pnputil /enum-drivers names
rem the oemNN.inf).

rem No delayed expansion: a ! in a folder's name stays a !.
setlocal EnableExtensions DisableDelayedExpansion
if "%~3"=="" goto usage
if not "%~4"=="" goto usage

rem The INF's full path: Zeltrane wants it, and a relative path would be
rem taken from whatever the current folder is.
pushd "%~dp0"
for %%F in ("%~1\%~2") do set "inf=%%~fF"
popd
set "hardware_id=%~3"

rem start /wait: a windowed program is waited for, and its exit code
rem becomes ERRORLEVEL, whoever runs this file.
start "" /wait "%~dp0Zeltrane.exe" "%inf%" "%hardware_id%"
rem exit /b hands the code on to whoever started the batch file: a script
rem (ERRORLEVEL), a deployment tool or a setup (the process's exit code).
exit /b %ERRORLEVEL%

:usage
echo usage: %~nx0 PACKAGE-FOLDER INF-NAME "HARDWARE-ID" 1>&2
exit /b 160
