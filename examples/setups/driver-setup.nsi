; A setup that installs a driver package with Zeltrane: copy it, change no
; line, and build it for your package with makensis 3:
;
;   makensis -DRELEASE_DIR=<release folder> -DPACKAGE_DIR=<driver package folder>
;            -DINF_NAME=<INF file in it> -DHARDWARE_ID=<device hardware ID>
;            [-DPRODUCT_NAME=<name>] [-DOUTFILE=<setup.exe>] driver-setup.nsi
;
; (On Windows, /D works as well as -D.) RELEASE_DIR is the unpacked Zeltrane
; release (Zeltrane.exe, x64\, arm64\, LICENSE); PACKAGE_DIR the driver
; package, copied whole with its subfolders.
;
; The setup copies both into $PROGRAMFILES\<PRODUCT_NAME>, the package into its
; "driver" subfolder, then runs the 32-bit Zeltrane.exe with the INF's full
; path and the hardware ID, and waits for it. Zeltrane's exit code becomes
; the setup's own: 0 only when the driver was installed. Run with /S it shows
; nothing; a script reads the code (start /wait, or a deployment tool).
;   0     the driver was installed; the uninstaller is registered.
;   any   Zeltrane's code (see its README): the driver was not installed, and
;         the setup removed the files it had copied.
;   1603  Zeltrane.exe could not be started at all.
;   1, 2  NSIS's own: cancelled by the user, or a file could not be copied.
;
; Uninstall removes the files and the uninstaller's registration. It leaves
; the driver installed and its package in the platform's driver store, as
; the platform keeps any installed driver; to remove the package as well, find
; its published name (oemNN.inf) with "pnputil /enum-drivers" and run
; "pnputil /delete-driver oemNN.inf /uninstall" as an administrator.

!ifndef RELEASE_DIR | PACKAGE_DIR | INF_NAME | HARDWARE_ID
!error "Define RELEASE_DIR, PACKAGE_DIR, INF_NAME and HARDWARE_ID (see the head of this file)."
!endif
!ifndef PRODUCT_NAME
!define PRODUCT_NAME "Zeltrane sample driver"
!endif
!ifndef OUTFILE
!define OUTFILE "driver-setup.exe"
!endif
; What the setup ends with when it cannot start Zeltrane.exe: Windows
; Installer's "fatal error during installation", a code that Zeltrane itself
; never returns and that deployment tools already take as a failure.
!define NOT_STARTED 1603
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_NAME}"

!include LogicLib.nsh

; Wide text throughout: a folder or package named beyond ASCII reaches
; Zeltrane as it is.
Unicode true
; Installing a driver needs an administrator; the elevation prompt comes
; before anything is copied, not as a failure at the end.
RequestExecutionLevel admin
; The smallest setup: the images and the package compressed as one stream.
SetCompressor /SOLID lzma
Name "${PRODUCT_NAME}"
OutFile "${OUTFILE}"
; A 32-bit setup: Program Files (x86) on 64-bit Windows. The 32-bit
; Zeltrane.exe hands the installation over to x64\ or arm64\ from there.
InstallDir "$PROGRAMFILES\${PRODUCT_NAME}"
; Run with its window: what was copied stays in view, and the folder can be
; chosen; with /S neither page shows.
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; What the setup copies, removed again by the uninstaller and by a failed
; installation; only these files, never the whole (user-chosen) folder.
!macro RemoveFiles
    Delete "$INSTDIR\Zeltrane.exe"
    Delete "$INSTDIR\LICENSE"
    Delete "$INSTDIR\x64\Zeltrane.exe"
    Delete "$INSTDIR\arm64\Zeltrane.exe"
    RMDir /r "$INSTDIR\driver"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR\x64"
    RMDir "$INSTDIR\arm64"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
!macroend

Section "Driver"
    SetOutPath "$INSTDIR"
    File "${RELEASE_DIR}\Zeltrane.exe"
    ; The MIT licence asks that its notice travel with the program.
    File "${RELEASE_DIR}\LICENSE"
    ; The native builds, beside the 32-bit entry: 64-bit Windows refuses
    ; device installation to 32-bit programs, so it starts one of these.
    SetOutPath "$INSTDIR\x64"
    File "${RELEASE_DIR}\x64\Zeltrane.exe"
    SetOutPath "$INSTDIR\arm64"
    File "${RELEASE_DIR}\arm64\Zeltrane.exe"
    SetOutPath "$INSTDIR\driver"
    File /r "${PACKAGE_DIR}\*.*"
    ; Out of the installation folder, which a failure removes: a process's
    ; current folder cannot be removed.
    SetOutPath "$TEMP"

    ; ExecWait sets the error flag when it cannot start the program, and
    ; then leaves $0 undefined: it may well hold 0. The flag is the only
    ; sign, so it is cleared before and read first.
    ClearErrors
    ExecWait '"$INSTDIR\Zeltrane.exe" "$INSTDIR\driver\${INF_NAME}" "${HARDWARE_ID}"' $0
    ${If} ${Errors}
        StrCpy $0 ${NOT_STARTED}
    ${EndIf}
    ${If} $0 <> 0
        !insertmacro RemoveFiles
        RMDir "$INSTDIR"
        ${IfNot} ${Silent}
            IntFmt $1 "0x%08X" $0
            MessageBox MB_OK|MB_ICONSTOP "The driver was not installed (code $1).$\r$\n$\r$\nThe platform's log, $WINDIR\INF\setupapi.dev.log, says why."
        ${EndIf}
        ; Zeltrane's code, whole, as the setup's exit code: for a script or
        ; a deployment tool it is the whole report.
        SetErrorLevel $0
        Quit
    ${EndIf}

    WriteUninstaller "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    !insertmacro RemoveFiles
    RMDir "$INSTDIR"
SectionEnd
