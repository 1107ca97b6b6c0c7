; A setup that installs a driver package with Zeltrane: copy it, change no
; line, and build it for your package with makensis 3:
;
;   makensis -DRELEASE_DIR=<release folder> -DPACKAGE_DIR=<driver package folder>
;            -DINF_NAME=<INF file in it> -DHARDWARE_ID=<hardware ID>[;<hardware ID>...]
;            -DPRODUCT_NAME=<name> -DUPGRADE_CODE=<GUID>
;            [-DZELTRANE_NO_DEVICE=succeed|fail|create] [-DZELTRANE_ON_UNINSTALL=remove|keep]
;            [-DZELTRANE_SUPERSEDED=remove|keep]
;            [-DPRODUCT_VERSION=<version>] [-DPUBLISHER=<name>]
;            [-DOUTFILE=<setup.exe>] [-DSIGN_COMMAND=<command>] driver-setup.nsi
;
; (On Windows, /D works as well as -D.) RELEASE_DIR is the unpacked Zeltrane
; release (Zeltrane.exe, ZeltraneRemove.exe, x64\, arm64\, LICENSE); PACKAGE_DIR the driver
; package, copied whole with its subfolders. HARDWARE_ID is the device's
; hardware ID, or the IDs of a product line separated by ";".
; PRODUCT_NAME and UPGRADE_CODE are your product's own, and none other's:
; the name is its folder and its entry among the installed programs, the
; upgrade code a GUID that you make once for the product and keep for all
; its versions (the MSI's UpgradeCode, if you ship both). A setup takes an
; installed entry of its name for its older version only where that entry
; recorded the same upgrade code; there is no default, so that two vendors'
; setups built unchanged never replace each other.
;
; The setup copies both into $PROGRAMFILES\<PRODUCT_NAME>, the package into its
; "driver" subfolder, then runs the 32-bit Zeltrane.exe with the INF's full
; path once for each hardware ID, in the given order, and waits for each run.
; Run with /S it shows nothing; a script reads the exit code (start /wait, or
; a deployment tool):
;   0     the driver was installed for at least one ID, and no present device
;         has the others (Zeltrane's 0xE000020B); or, with
;         ZELTRANE_NO_DEVICE=succeed (the default), no present device has any
;         of them: the package is staged in the platform's driver store, which
;         installs it when such a device appears. The uninstaller is
;         registered, and its entry's InstalledHardwareIds names the IDs
;         installed for, separated by ";" (empty: installed on no device).
;   0xE000020B  no present device has any of the IDs, with
;         ZELTRANE_NO_DEVICE=fail; the setup removed its files.
;   With ZELTRANE_NO_DEVICE=create, where no present device has any of the
;   IDs, ZeltraneCreate.exe makes the device of a virtual adapter with the
;   first ID and installs on it: 0, or its code, the files removed.
;   3010  as 0, but a restart must finish the installation on a device
;         (Zeltrane's 3010 for an ID, or ZeltraneCreate's): the reboot flag
;         is set; the setup never restarts Windows itself.
;   any   the first other code of Zeltrane (see docs/programs.md): the
;         driver was not installed for that ID, or a device cannot run it
;         (0x2000000N: problem code N); the setup stopped there and removed
;         the files it had copied.
;   1603  Zeltrane.exe could not be started at all.
;   267   the installation folder is refused (ERROR_DIRECTORY): nothing was
;         installed. The setup installs only into a folder of its own
;         directly in $PROGRAMFILES, where only administrators can make
;         folders, so that nothing that it runs as an administrator, then or
;         at the uninstall, can have been placed or changed by another user.
;         /D= another folder, and the directory page offers no other. A
;         folder that is there already is refused too, unless it is the one
;         that this product's installed version registered, or that its
;         uninstaller, run in place, left to the next restart. Before it
;         writes there, and before its uninstaller runs anything, the setup
;         sets the folder's owner (Administrators) and permissions: SYSTEM
;         and Administrators full control, Users read and execute, and in
;         the driver folder nothing, nothing inherited.
;   1, 2  NSIS's own: cancelled by the user, or a file could not be copied.
; The details window lists each ID with Zeltrane's exit code.
;
; Upgrades: a setup of the same PRODUCT_NAME installs into the folder that
; the installed one registered, replaces its files (the driver package's
; files that it recorded, by name) and its one registration, with
; DisplayVersion, Publisher, InstallLocation and EstimatedSize. The files of
; the package are recorded under the registration, by name, so that a
; failed installation, an upgrade and the uninstall delete exactly those,
; and nothing that another hand put beside them.
; An upgrade first moves the installed version's package files, by their
; recorded names, into "superseded\<n>" in the setup's folder, which only
; administrators can write, recorded under the registration's
; "Superseded\<n>". Where the new installation fails, they go back, and the
; installed version stays registered, with its entry and uninstaller (the
; programs are the new version's). With ZELTRANE_SUPERSEDED=remove (the
; default), after the new installation, ZeltraneRemove.exe OLD NEW deletes
; each such package from the driver store where it is not the new one and
; no device, present or not, is installed from it, and its files go. One that a device still
; uses stays, with its files, for the next version or the uninstall, which
; try again; where the installation ends with 3010, all stay until then.
; A deletion that fails never fails the setup: the details window says
; what stayed and why. With keep, the older package stays staged, for the
; platform's driver rollback, and its files go as before.
;
; Signing: with SIGN_COMMAND, makensis runs that command with the file's
; path as its last argument on the uninstaller before it is stored in the
; setup, and on the setup when it is written; a command that fails stops
; the build.
;
; Uninstall: with ZELTRANE_ON_UNINSTALL=remove (the default), the uninstaller
; first runs the installed ZeltraneRemove.exe, which takes the driver package
; off every device installed from it and out of the platform's driver store;
; then it removes the files and its registration. With keep, the driver
; stays installed and its package staged. Its exit code:
;   0     removed (or kept).
;   3010  removed; the platform needs a restart to finish.
;   any   ZeltraneRemove's code (see docs/programs.md): the driver was not
;         removed, and the files and the registration stay.
;   1603  ZeltraneRemove.exe could not be started; nothing was removed.
; A package that another product still uses (an MSI or a setup of this
; template that recorded it under HKLM\SOFTWARE\Zeltrane\Packages) stays:
; the uninstall takes only this setup's record of it, ends with 0 and says
; who still uses it in its details window. The same holds for the package of
; an older version after an upgrade.
; The programs it starts run in the system folder, never in a folder that
; other users may write.
; Safe with NSIS 3.09 and later, and with a 3.08 that has the fix of
; CVE-2023-37378 (Debian's 3.08-3+deb12u1): earlier ones let other users
; change the copy of the uninstaller that runs from the temporary folder.
; uninstall.exe copies itself to the temporary folder, starts the copy and
; ends at once with 0, as every NSIS uninstaller does; a script or a
; deployment tool that waits for the code runs it in place:
;   "<folder>\uninstall.exe" /S _?=<folder>
; It then leaves uninstall.exe and the folder behind, deleted at the next
; restart; a reinstallation before then takes the folder again, and has
; its own uninstall.exe put back after that restart's deletion.

!ifndef RELEASE_DIR | PACKAGE_DIR | INF_NAME | HARDWARE_ID
!error "Define RELEASE_DIR, PACKAGE_DIR, INF_NAME and HARDWARE_ID (see the head of this file)."
!endif
!ifndef PRODUCT_NAME | UPGRADE_CODE
!error "Define PRODUCT_NAME and UPGRADE_CODE, your product's own: make the upgrade code once, a new GUID ([guid]::NewGuid() in PowerShell, uuidgen on Linux), and keep it for all the product's versions."
!endif
!ifndef OUTFILE
!define OUTFILE "driver-setup.exe"
!endif
!ifndef PRODUCT_VERSION
!define PRODUCT_VERSION "1.0.0"
!endif
!ifndef PUBLISHER
!define PUBLISHER "Zeltrane Sample"
!endif
!ifndef ZELTRANE_NO_DEVICE
!define ZELTRANE_NO_DEVICE succeed
!endif
!ifndef ZELTRANE_ON_UNINSTALL
!define ZELTRANE_ON_UNINSTALL remove
!endif
!ifndef ZELTRANE_SUPERSEDED
!define ZELTRANE_SUPERSEDED remove
!endif
!ifdef SIGN_COMMAND
; "= 0": the command's exit code must be 0, or makensis fails.
!uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!finalize '${SIGN_COMMAND} "%1"' = 0
!endif
!if "${ZELTRANE_NO_DEVICE}" != "succeed"
!if "${ZELTRANE_NO_DEVICE}" != "fail"
!if "${ZELTRANE_NO_DEVICE}" != "create"
!error "ZELTRANE_NO_DEVICE must be succeed, fail or create."
!endif
!endif
!endif
!if "${ZELTRANE_ON_UNINSTALL}" != "remove"
!if "${ZELTRANE_ON_UNINSTALL}" != "keep"
!error "ZELTRANE_ON_UNINSTALL must be remove or keep."
!endif
!endif
!if "${ZELTRANE_SUPERSEDED}" != "remove"
!if "${ZELTRANE_SUPERSEDED}" != "keep"
!error "ZELTRANE_SUPERSEDED must be remove or keep."
!endif
!endif
!if "${HARDWARE_ID}" == ""
!error "HARDWARE_ID names no hardware ID."
!endif
; What Zeltrane ends with where no present device has the ID: the
; platform's ERROR_NO_SUCH_DEVINST, the package staged in its store.
!define NO_SUCH_DEVICE 0xE000020B
; What the setup ends with when it cannot start Zeltrane.exe: Windows
; Installer's "fatal error during installation", a code that Zeltrane itself
; never returns and that deployment tools already take as a failure.
!define NOT_STARTED 1603
; What Zeltrane ends with where a restart must finish the installation, and
; ZeltraneRemove where the platform needs a restart to finish the removal.
!define RESTART_NEEDED 3010
; What ZeltraneRemove.exe OLD NEW ends with where a device is installed
; from the older package: ERROR_INF_IN_USE_BY_DEVICES.
!define IN_USE 0xE000023D
; What the setup ends with where the installation folder is refused, or is
; another product's: ERROR_DIRECTORY, which Zeltrane itself never returns.
!define FOLDER_REFUSED 267
; The setup's folder and its driver folder, as the MSI gives them: owner
; Administrators, SYSTEM and Administrators full control, Users read and
; execute (0x1200a9: read, execute, synchronize) in the folder and nothing
; in the driver folder, so that no user can hold a package file open and
; stop an installation; nothing inherited, so that a folder that an older
; setup made, or that was given "Users: Modify", is locked all the same.
!define FOLDER_SDDL "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
!define DRIVER_SDDL "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_NAME}"

!include LogicLib.nsh
!include FileFunc.nsh

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
; Where an installed version registered its folder, the newer one goes there.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; Run with its window: what was copied stays in view, and the folder can be
; chosen; with /S neither page shows.
ShowInstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The package's files and folders, each by its path under "driver", as the
; values 0, 1, ... of these keys under the registration: what the setup
; installed, and what it deletes.
!define DRIVER_FILES "${UNINSTALL_KEY}\DriverFiles"
!define DRIVER_FOLDERS "${UNINSTALL_KEY}\DriverFolders"
; The older versions' packages that an upgrade kept, each in
; superseded\<n>: its INF's name as the value Inf of the key <n> under
; this one, its files and folders as the values of <n>\Files and
; <n>\Folders.
!define SUPERSEDED "${UNINSTALL_KEY}\Superseded"

;---- Which products use a staged package (the MSI's custom action keeps the
; same record): under HKLM\SOFTWARE\Zeltrane\Packages, a key for each
; package, named by the SHA-256 of its INF's bytes, with a key under it for
; each product that uses it; this setup's is OWNER. An uninstall or an
; upgrade takes a package only where no other product uses it. An MSI of
; 1.7.0 to 1.10.0 recorded only the name under which the platform published
; its package: it counts where that published INF has the same bytes.
!define PACKAGES "SOFTWARE\Zeltrane\Packages"
!define PRODUCTS "SOFTWARE\Zeltrane\Products"
; The folders that an uninstaller run in place (_?=) left to the next
; restart, each a value named by the folder, holding the upgrade code of the
; product whose folder it was: its reinstallation before that restart takes
; the folder again.
!define LEFT_FOLDERS "SOFTWARE\Zeltrane\Folders"
!define OWNER "NSIS ${UPGRADE_CODE} ${PRODUCT_NAME}"

!macro PackageFunctions UN
; The record of the package whose INF is at the path on the stack, on the
; stack: ${PACKAGES}\<the SHA-256 of the INF's bytes>, or "" where the INF
; cannot be read (the platform's CryptoAPI, through the System plug-in).
Function ${UN}InfRecord
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    StrCpy $R7 ""
    ; GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING.
    System::Call 'kernel32::CreateFileW(w R0, i 0x80000000, i 1, p 0, i 3, i 0, p 0) p .R1'
    ${If} $R1 != -1
        System::Call 'kernel32::GetFileSize(p R1, p 0) i .R2'
        System::Alloc $R2
        Pop $R3
        System::Call 'kernel32::ReadFile(p R1, p R3, i R2, *i .R4, p 0) i .R5'
        System::Call 'kernel32::CloseHandle(p R1)'
        ${If} $R5 <> 0
        ${AndIf} $R4 = $R2
            ; PROV_RSA_AES; CRYPT_VERIFYCONTEXT | CRYPT_SILENT; CALG_SHA_256.
            System::Call 'advapi32::CryptAcquireContextW(*p .R1, p 0, p 0, i 24, i 0xF0000040) i .R5'
            ${If} $R5 <> 0
                System::Call 'advapi32::CryptCreateHash(p R1, i 0x800C, p 0, i 0, *p .R6) i .R5'
                ${If} $R5 <> 0
                    System::Call 'advapi32::CryptHashData(p R6, p R3, i R2, i 0) i .R5'
                    System::Free $R3
                    System::Alloc 32
                    Pop $R3
                    ; HP_HASHVAL: the 32 bytes of the digest.
                    ${If} $R5 <> 0
                        System::Call 'advapi32::CryptGetHashParam(p R6, i 2, p R3, *i 32, i 0) i .R5'
                    ${EndIf}
                    ${If} $R5 <> 0
                        StrCpy $R7 "${PACKAGES}\"
                        StrCpy $R4 0
                        ${Do}
                            IntOp $R2 $R3 + $R4
                            System::Call '*$R2(&i1 .R5)'
                            IntOp $R5 $R5 & 0xFF
                            IntFmt $R5 "%02x" $R5
                            StrCpy $R7 "$R7$R5"
                            IntOp $R4 $R4 + 1
                        ${LoopUntil} $R4 = 32
                    ${EndIf}
                    System::Call 'advapi32::CryptDestroyHash(p R6)'
                ${EndIf}
                System::Call 'advapi32::CryptReleaseContext(p R1, i 0)'
            ${EndIf}
        ${EndIf}
        System::Free $R3
    ${EndIf}
    StrCpy $R0 $R7
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Exch $R0
FunctionEnd

; Whether the name on the stack is a plain INF file name, as a published
; INF's or a package's INF name is recorded: a name that ends in .inf, with
; no folder, drive, stream or ".." in it. On the stack: 1 or 0.
Function ${UN}IsPlainInfName
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    StrCpy $R1 0
    StrCpy $R3 $R0 "" -4
    ${If} $R3 == ".inf"
    ${AndIf} $R0 != ".inf"
        StrCpy $R1 1
        StrCpy $R2 0
        ${Do}
            StrCpy $R3 $R0 1 $R2
            ${IfThen} $R3 == "" ${|} ${Break} ${|}
            ${If} $R3 == "\"
            ${OrIf} $R3 == "/"
            ${OrIf} $R3 == ":"
                StrCpy $R1 0
            ${EndIf}
            StrCpy $R3 $R0 2 $R2
            ${IfThen} $R3 == ".." ${|} StrCpy $R1 0 ${|}
            IntOp $R2 $R2 + 1
        ${Loop}
    ${EndIf}
    StrCpy $R0 $R1
    Pop $R3
    Pop $R2
    Pop $R1
    Exch $R0
FunctionEnd

; Whether the path on the stack is one that the setup records of its
; package: relative, under the package's folder, with no drive, stream,
; "." or ".." in it. On the stack: 1 or 0.
Function ${UN}IsPackagePath
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    StrCpy $R1 1
    StrCpy $R0 "\$R0\"
    ${If} $R0 == "\\"
        StrCpy $R1 0
    ${EndIf}
    StrCpy $R2 0
    ${Do}
        StrCpy $R3 $R0 1 $R2
        ${IfThen} $R3 == "" ${|} ${Break} ${|}
        ${If} $R3 == ":"
        ${OrIf} $R3 == "/"
            StrCpy $R1 0
        ${EndIf}
        StrCpy $R3 $R0 2 $R2
        ${IfThen} $R3 == "\\" ${|} StrCpy $R1 0 ${|}
        StrCpy $R3 $R0 3 $R2
        ${IfThen} $R3 == "\.\" ${|} StrCpy $R1 0 ${|}
        StrCpy $R3 $R0 4 $R2
        ${IfThen} $R3 == "\..\" ${|} StrCpy $R1 0 ${|}
        IntOp $R2 $R2 + 1
    ${Loop}
    StrCpy $R0 $R1
    Pop $R3
    Pop $R2
    Pop $R1
    Exch $R0
FunctionEnd

; Who but this setup uses the package whose record is on the stack: the
; record's other owners and the MSIs of 1.7.0 to 1.10.0 whose published INF
; has its bytes, quoted and separated by blanks, on the stack ("" where
; none, or where the record is "").
Function ${UN}OtherUsers
    Exch $R0
    Push $R1
    Push $R2
    Push $R3
    Push $R4
    StrCpy $R1 ""
    ${If} $R0 != ""
        StrCpy $R2 0
        ${Do}
            ClearErrors
            EnumRegKey $R3 HKLM "$R0" $R2
            ${If} ${Errors}
            ${OrIf} $R3 == ""
                ${Break}
            ${EndIf}
            ${If} $R3 != "${OWNER}"
                StrCpy $R1 '$R1 "$R3"'
            ${EndIf}
            IntOp $R2 $R2 + 1
        ${Loop}
        StrCpy $R2 0
        ${Do}
            ClearErrors
            EnumRegKey $R3 HKLM "${PRODUCTS}" $R2
            ${If} ${Errors}
            ${OrIf} $R3 == ""
                ${Break}
            ${EndIf}
            ClearErrors
            ReadRegStr $R4 HKLM "${PRODUCTS}\$R3" "Package"
            ${If} ${Errors}
                ReadRegStr $R4 HKLM "${PRODUCTS}\$R3" "PublishedInf"
                Push $R4
                Call ${UN}IsPlainInfName
                Pop $R4
                ${If} $R4 = 1
                    ReadRegStr $R4 HKLM "${PRODUCTS}\$R3" "PublishedInf"
                    Push "$WINDIR\INF\$R4"
                    Call ${UN}InfRecord
                    Pop $R4
                    ${If} $R4 == $R0
                        StrCpy $R1 '$R1 "$R3"'
                    ${EndIf}
                ${EndIf}
            ${EndIf}
            IntOp $R2 $R2 + 1
        ${Loop}
    ${EndIf}
    StrCpy $R0 $R1
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Exch $R0
FunctionEnd

; Gives the folder whose path is on the stack, under the descriptor on top
; of it, that descriptor's owner, group and DACL, protected: nothing is
; inherited from its parent or kept from whoever made it, and what it holds
; that inherits gets the DACL's inheritable entries. On the stack: 0, or the
; platform's error.
Function ${UN}LockFolder
    Exch $R0
    Exch
    Exch $R1
    Push $R2
    Push $R3
    Push $R4
    Push $R5
    Push $R6
    Push $R7
    ; SDDL_REVISION_1.
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w R0, i 1, *p .R2, p 0) i .R3 ?e'
    Pop $R4
    ${If} $R3 <> 0
        ; The owner, the group and the DACL; each call's "defaulted" or
        ; "present" answer in $R7 (the DACL's "defaulted" in $R4), which
        ; nothing reads.
        System::Call 'advapi32::GetSecurityDescriptorOwner(p R2, *p .R3, *i .R7) i'
        System::Call 'advapi32::GetSecurityDescriptorGroup(p R2, *p .R5, *i .R7) i'
        System::Call 'advapi32::GetSecurityDescriptorDacl(p R2, *i .R7, *p .R6, *i .R4) i'
        ; SE_FILE_OBJECT; OWNER, GROUP and DACL_SECURITY_INFORMATION with
        ; PROTECTED_DACL_SECURITY_INFORMATION.
        System::Call 'advapi32::SetNamedSecurityInfoW(w R1, i 1, i 0x80000007, p R3, p R5, p R6, p 0) i .R4'
        System::Call 'kernel32::LocalFree(p R2)'
    ${EndIf}
    StrCpy $R0 $R4
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Pop $R1
    Exch $R0
FunctionEnd
!macroend
!insertmacro PackageFunctions ""
!insertmacro PackageFunctions "un."

; Calls the function of that name, the uninstaller's copy in the uninstaller.
!macro CallHelper NAME
!ifdef __UNINSTALL__
    Call un.${NAME}
!else
    Call ${NAME}
!endif
!macroend

; Deletes a package's recorded files by name, under FOLDER, then its
; recorded folders where they are empty, the deepest first; never a whole
; folder, and no recorded name that leads out of FOLDER.
!macro RemovePackageFiles FILES FOLDERS FOLDER
    StrCpy $1 0
    ${Do}
        ClearErrors
        ReadRegStr $2 HKLM "${FILES}" $1
        ${IfThen} ${Errors} ${|} ${Break} ${|}
        Push $2
        !insertmacro CallHelper IsPackagePath
        Pop $3
        ${IfThen} $3 = 1 ${|} Delete "${FOLDER}\$2" ${|}
        IntOp $1 $1 + 1
    ${Loop}
    StrCpy $1 0
    ${Do}
        ClearErrors
        ReadRegStr $2 HKLM "${FOLDERS}" $1
        ${IfThen} ${Errors} ${|} ${Break} ${|}
        IntOp $1 $1 + 1
    ${Loop}
    ${DoWhile} $1 > 0
        IntOp $1 $1 - 1
        ReadRegStr $2 HKLM "${FOLDERS}" $1
        Push $2
        !insertmacro CallHelper IsPackagePath
        Pop $3
        ${IfThen} $3 = 1 ${|} RMDir "${FOLDER}\$2" ${|}
    ${Loop}
    RMDir "${FOLDER}"
!macroend

!macro RemoveDriverFiles
    !insertmacro RemovePackageFiles "${DRIVER_FILES}" "${DRIVER_FOLDERS}" "$INSTDIR\driver"
!macroend

; Deletes the files of the kept package whose key under SUPERSEDED is $6,
; and its record.
!macro RemoveKeptPackage
    !insertmacro RemovePackageFiles "${SUPERSEDED}\$6\Files" "${SUPERSEDED}\$6\Folders" \
        "$INSTDIR\superseded\$6"
    DeleteRegKey HKLM "${SUPERSEDED}\$6"
!macroend

; Runs ZeltraneRemove.exe OLD NEW on each kept package, NEW being the
; installed INF; each one deleted from the driver store, or the same as the
; new one, goes with its files. The uninstaller's copy is un.-named.
!macro RemoveSupersededFunction UN
Function ${UN}RemoveSupersededPackages
    StrCpy $4 0
    ${Do}
        ClearErrors
        EnumRegKey $6 HKLM "${SUPERSEDED}" $4
        ${If} ${Errors}
        ${OrIf} $6 == ""
            ${Break}
        ${EndIf}
        ReadRegStr $5 HKLM "${SUPERSEDED}\$6" "Inf"
        ; Only a plain INF name of a package that no other product uses: the
        ; others' are not this setup's to delete, and go from its records.
        Push $5
        Call ${UN}IsPlainInfName
        Pop $0
        ${If} $0 = 1
            Push "$INSTDIR\superseded\$6\$5"
            Call ${UN}InfRecord
            Call ${UN}OtherUsers
            Pop $1
        ${EndIf}
        ${If} $0 <> 1
            DetailPrint "An older version's recorded INF name is not a plain INF file name: its package is left alone."
            !insertmacro RemoveKeptPackage
            ${Continue}
        ${ElseIf} $1 != ""
            DetailPrint "An older version's package stays staged: it is still used by$1."
            !insertmacro RemoveKeptPackage
            ${Continue}
        ${EndIf}
        ClearErrors
        ExecWait '"$INSTDIR\ZeltraneRemove.exe" "$INSTDIR\superseded\$6\$5" "$INSTDIR\driver\${INF_NAME}"' $0
        ${If} ${Errors}
            DetailPrint "An older version's package stays staged: ZeltraneRemove.exe could not be started."
            IntOp $4 $4 + 1
        ${ElseIf} $0 = 0
            DetailPrint "An older version's package is out of the driver store (or is this version's own)."
            ; The next key now has this one's index.
            !insertmacro RemoveKeptPackage
        ${Else}
            IntFmt $1 "0x%08X" $0
            ${If} $0 = ${IN_USE}
                DetailPrint "An older version's package stays staged: a device is still installed from it ($1)."
            ${Else}
                DetailPrint "An older version's package stays staged: ZeltraneRemove.exe ended with $1."
            ${EndIf}
            IntOp $4 $4 + 1
        ${EndIf}
    ${Loop}
    DeleteRegKey /ifempty HKLM "${SUPERSEDED}"
    RMDir "$INSTDIR\superseded"
FunctionEnd
!macroend

; What the setup copies, removed again by the uninstaller and by a failed
; installation; only these files, by name, never a whole folder.
!macro RemoveFiles
    Delete "$INSTDIR\Zeltrane.exe"
    Delete "$INSTDIR\ZeltraneRemove.exe"
    Delete "$INSTDIR\ZeltraneCreate.exe"
    Delete "$INSTDIR\LICENSE"
    Delete "$INSTDIR\x64\Zeltrane.exe"
    Delete "$INSTDIR\x64\ZeltraneRemove.exe"
    Delete "$INSTDIR\x64\ZeltraneCreate.exe"
    Delete "$INSTDIR\arm64\Zeltrane.exe"
    Delete "$INSTDIR\arm64\ZeltraneRemove.exe"
    Delete "$INSTDIR\arm64\ZeltraneCreate.exe"
    !insertmacro RemoveDriverFiles
    ; The kept older packages' files; their packages stay staged.
    ${Do}
        ClearErrors
        EnumRegKey $6 HKLM "${SUPERSEDED}" 0
        ${If} ${Errors}
        ${OrIf} $6 == ""
            ${Break}
        ${EndIf}
        !insertmacro RemoveKeptPackage
    ${Loop}
    RMDir "$INSTDIR\superseded"
    Delete "$INSTDIR\uninstall.exe"
    Delete "$INSTDIR\uninstall.next"
    RMDir "$INSTDIR\x64"
    RMDir "$INSTDIR\arm64"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
!macroend

; The hardware IDs not yet run, the one taken off them, and those that
; Zeltrane installed for; how many of the package's files and folders are
; recorded.
Var Ids
Var Id
Var Installed
Var Restart
Var Recorded
Var RecordKey
; Whether an older version of this product is installed ("yes"), and under
; which superseded\<n> its package waits while this one is installed.
Var Older
Var Aside
; The upgrade code that LEFT_FOLDERS records for the folder, if any.
Var Left

; Whether the installation folder is one that only administrators can
; write: a folder directly in $PROGRAMFILES, where only they can make one
; ($0 1), or any other ($0 0). The names compare without case, as the
; platform's do; a short name or another spelling of the same folder is
; refused too.
Function IsAdministratorsFolder
    ${GetParent} "$INSTDIR" $1
    ${GetFileName} "$INSTDIR" $2
    StrCpy $0 0
    ${If} $1 == $PROGRAMFILES
    ${AndIf} $2 != ""
    ${AndIf} $2 != "."
    ${AndIf} $2 != ".."
        StrCpy $0 1
    ${EndIf}
FunctionEnd

; The directory page accepts no other folder.
Function .onVerifyInstDir
    Call IsAdministratorsFolder
    ${If} $0 = 0
        Abort
    ${EndIf}
FunctionEnd

; Records one of the package's files or folders (${Locate}'s $R9), by its
; path under "driver", as the next value of the key $RecordKey.
Function RecordDriverPath
    StrLen $1 "$INSTDIR\driver\"
    StrCpy $2 $R9 "" $1
    WriteRegStr HKLM $RecordKey $Recorded $2
    IntOp $Recorded $Recorded + 1
    ; ${Locate} goes on.
    Push ""
FunctionEnd

; Takes the next ID off $Ids into $Id, empty when none is left. An empty piece
; (";;", a trailing ";") names no ID.
Function NextHardwareId
    StrCpy $Id ""
    ${Do}
        StrCpy $0 $Ids 1
        StrCpy $Ids $Ids "" 1
        ${If} $0 == ""
            ${Break}
        ${ElseIf} $0 == ";"
            ${IfThen} $Id != "" ${|} ${Break} ${|}
        ${Else}
            StrCpy $Id "$Id$0"
        ${EndIf}
    ${Loop}
FunctionEnd

; Before an upgrade writes its package: the installed version's package
; files, by their recorded names, moved into the next free
; superseded\<n> ($Aside), and recorded there with the INF's name (DriverInf,
; which versions before 1.10.0 of this template did not record: then this
; version's INF name). They stay there until the new version is installed,
; and go back where it fails.
Function SetOlderPackageAside
    ClearErrors
    ReadRegStr $2 HKLM "${DRIVER_FILES}" 0
    ${IfThen} ${Errors} ${|} Return ${|}
    ReadRegStr $5 HKLM "${UNINSTALL_KEY}" "DriverInf"
    ${IfThen} $5 == "" ${|} StrCpy $5 "${INF_NAME}" ${|}
    StrCpy $6 1
    ${Do}
        ClearErrors
        ReadRegStr $2 HKLM "${SUPERSEDED}\$6" "Inf"
        ${If} ${Errors}
        ${AndIfNot} ${FileExists} "$INSTDIR\superseded\$6\*.*"
            ${Break}
        ${EndIf}
        IntOp $6 $6 + 1
    ${Loop}
    StrCpy $Aside $6
    StrCpy $1 0
    ${Do}
        ClearErrors
        ReadRegStr $2 HKLM "${DRIVER_FOLDERS}" $1
        ${IfThen} ${Errors} ${|} ${Break} ${|}
        CreateDirectory "$INSTDIR\superseded\$6\$2"
        WriteRegStr HKLM "${SUPERSEDED}\$6\Folders" $1 $2
        IntOp $1 $1 + 1
    ${Loop}
    StrCpy $1 0
    StrCpy $4 0
    ${Do}
        ClearErrors
        ReadRegStr $2 HKLM "${DRIVER_FILES}" $1
        ${IfThen} ${Errors} ${|} ${Break} ${|}
        Push $2
        Call IsPackagePath
        Pop $3
        ${If} $3 = 1
            CreateDirectory "$INSTDIR\superseded\$6"
            Rename "$INSTDIR\driver\$2" "$INSTDIR\superseded\$6\$2"
            WriteRegStr HKLM "${SUPERSEDED}\$6\Files" $4 $2
            IntOp $4 $4 + 1
        ${EndIf}
        IntOp $1 $1 + 1
    ${Loop}
    WriteRegStr HKLM "${SUPERSEDED}\$6" "Inf" $5
FunctionEnd

; The upgrade failed: the installed version stays as it was, its entry and
; its uninstaller untouched, its package's files back in "driver" under its
; records; the programs are this version's, which its uninstaller runs.
Function RestoreOlderVersion
    !insertmacro RemoveDriverFiles
    DeleteRegKey HKLM "${DRIVER_FILES}"
    DeleteRegKey HKLM "${DRIVER_FOLDERS}"
    ${IfThen} $Aside == "" ${|} Return ${|}
    StrCpy $6 $Aside
    StrCpy $1 0
    ${Do}
        ClearErrors
        ReadRegStr $2 HKLM "${SUPERSEDED}\$6\Folders" $1
        ${IfThen} ${Errors} ${|} ${Break} ${|}
        CreateDirectory "$INSTDIR\driver\$2"
        WriteRegStr HKLM "${DRIVER_FOLDERS}" $1 $2
        IntOp $1 $1 + 1
    ${Loop}
    CreateDirectory "$INSTDIR\driver"
    StrCpy $1 0
    ${Do}
        ClearErrors
        ReadRegStr $2 HKLM "${SUPERSEDED}\$6\Files" $1
        ${IfThen} ${Errors} ${|} ${Break} ${|}
        Rename "$INSTDIR\superseded\$6\$2" "$INSTDIR\driver\$2"
        WriteRegStr HKLM "${DRIVER_FILES}" $1 $2
        IntOp $1 $1 + 1
    ${Loop}
    !insertmacro RemoveKeptPackage
    DeleteRegKey /ifempty HKLM "${SUPERSEDED}"
    RMDir "$INSTDIR\superseded"
FunctionEnd

; The new version is installed: the older one no longer uses the package
; set aside, whose use goes from the record (the new one's is recorded
; after this); with keep, its files go and the package stays staged.
Function ReleaseOlderPackage
    ${IfThen} $Aside == "" ${|} Return ${|}
    StrCpy $6 $Aside
    ReadRegStr $5 HKLM "${SUPERSEDED}\$6" "Inf"
    Push $5
    Call IsPlainInfName
    Pop $1
    ${If} $1 = 1
        Push "$INSTDIR\superseded\$6\$5"
        Call InfRecord
        Pop $1
        ${If} $1 != ""
            DeleteRegKey HKLM "$1\${OWNER}"
            DeleteRegKey /ifempty HKLM "$1"
        ${EndIf}
    ${EndIf}
!if "${ZELTRANE_SUPERSEDED}" == "keep"
    !insertmacro RemoveKeptPackage
    DeleteRegKey /ifempty HKLM "${SUPERSEDED}"
    RMDir "$INSTDIR\superseded"
!endif
FunctionEnd

!if "${ZELTRANE_SUPERSEDED}" == "remove"
!insertmacro RemoveSupersededFunction ""
!endif
!if "${ZELTRANE_ON_UNINSTALL}" == "remove"
!insertmacro RemoveSupersededFunction "un."
!endif

; The driver was not installed: the setup removes what it copied, or over
; an older version puts that version's package back and leaves it
; registered, and ends with the code in $0, whole: for a script or a
; deployment tool it is the whole report.
Function Fail
    ${If} $Older != ""
        Call RestoreOlderVersion
        DetailPrint "The installed version stays installed and registered."
    ${Else}
        !insertmacro RemoveFiles
        RMDir "$INSTDIR"
    ${EndIf}
    ${IfNot} ${Silent}
        IntFmt $1 "0x%08X" $0
        MessageBox MB_OK|MB_ICONSTOP "The driver was not installed (code $1).$\r$\n$\r$\nThe platform's log, $WINDIR\INF\setupapi.dev.log, says why."
    ${EndIf}
    SetErrorLevel $0
    Quit
FunctionEnd

Section "Driver"
    ; Before anything is made: /D= may name any folder, which the directory
    ; page's check never sees in a silent run.
    Call IsAdministratorsFolder
    ${If} $0 = 0
        DetailPrint "$INSTDIR is not a folder directly in $PROGRAMFILES: nothing installed."
        ${IfNot} ${Silent}
            MessageBox MB_OK|MB_ICONSTOP "The setup installs only into a folder of its own directly in $PROGRAMFILES, which only administrators can write.$\r$\n$\r$\n$INSTDIR is not one: nothing was installed."
        ${EndIf}
        SetErrorLevel ${FOLDER_REFUSED}
        Quit
    ${EndIf}
    ; An installed entry of this name is this product's older version only
    ; where it recorded this upgrade code; an entry from before 1.10.1,
    ; which recorded none, where its publisher is this one's and not the
    ; template's sample.
    StrCpy $Older ""
    StrCpy $Aside ""
    StrCpy $Left ""
    ClearErrors
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "DisplayName"
    ${IfNot} ${Errors}
        ReadRegStr $2 HKLM "${UNINSTALL_KEY}" "UpgradeCode"
        ReadRegStr $3 HKLM "${UNINSTALL_KEY}" "Publisher"
        ${If} $2 == "${UPGRADE_CODE}"
            StrCpy $Older yes
        ${ElseIf} $2 == ""
        ${AndIf} $3 == "${PUBLISHER}"
        ${AndIf} $3 != "Zeltrane Sample"
            StrCpy $Older yes
        ${EndIf}
        ${If} $Older == ""
            DetailPrint "The installed $\"${PRODUCT_NAME}$\" is another product (another upgrade code): nothing installed."
            ${IfNot} ${Silent}
                MessageBox MB_OK|MB_ICONSTOP "Another product named $\"${PRODUCT_NAME}$\" is installed, with another upgrade code: nothing was installed."
            ${EndIf}
            SetErrorLevel ${FOLDER_REFUSED}
            Quit
        ${EndIf}
    ${EndIf}
    ; A folder that is there already is written into only where it is this
    ; product's: the one that its installed version registered, or one that
    ; its uninstaller left to the next restart. Any other, made by another
    ; program's setup or by hand, may give others rights on what is written
    ; there, or hold their files.
    ${If} ${FileExists} "$INSTDIR"
        StrCpy $1 ""
        ${If} $Older != ""
            ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
        ${EndIf}
        ReadRegStr $Left HKLM "${LEFT_FOLDERS}" "$INSTDIR"
        ${If} $1 != $INSTDIR
        ${AndIf} $Left != "${UPGRADE_CODE}"
            DetailPrint "$INSTDIR is there already and is not this product's folder: nothing installed."
            ${IfNot} ${Silent}
                MessageBox MB_OK|MB_ICONSTOP "$INSTDIR is there already, and is not the folder of an installed ${PRODUCT_NAME}: nothing was installed.$\r$\n$\r$\nChoose a folder that is not there yet."
            ${EndIf}
            SetErrorLevel ${FOLDER_REFUSED}
            Quit
        ${EndIf}
    ${EndIf}
    ; Its owner and permissions set before anything is written there, an
    ; older version's folder's too.
    CreateDirectory "$INSTDIR\driver"
    Push "$INSTDIR"
    Push "${FOLDER_SDDL}"
    Call LockFolder
    Pop $0
    ${If} $0 = 0
        Push "$INSTDIR\driver"
        Push "${DRIVER_SDDL}"
        Call LockFolder
        Pop $0
    ${EndIf}
    ${If} $0 <> 0
        DetailPrint "The permissions of $INSTDIR could not be set (error $0): nothing installed."
        ${If} $Older == ""
            RMDir "$INSTDIR\driver"
            RMDir "$INSTDIR"
        ${EndIf}
        SetErrorLevel $0
        Quit
    ${EndIf}
    SetOutPath "$INSTDIR"
    File "${RELEASE_DIR}\Zeltrane.exe"
    ; The removal program, which the uninstaller runs.
    File "${RELEASE_DIR}\ZeltraneRemove.exe"
    ; The creation program, for a virtual adapter's device.
    File "${RELEASE_DIR}\ZeltraneCreate.exe"
    ; The MIT licence asks that its notice travel with the program.
    File "${RELEASE_DIR}\LICENSE"
    ; The native builds, beside the 32-bit entry: 64-bit Windows refuses
    ; device installation to 32-bit programs, so it starts one of these.
    SetOutPath "$INSTDIR\x64"
    File "${RELEASE_DIR}\x64\Zeltrane.exe"
    File "${RELEASE_DIR}\x64\ZeltraneRemove.exe"
    File "${RELEASE_DIR}\x64\ZeltraneCreate.exe"
    SetOutPath "$INSTDIR\arm64"
    File "${RELEASE_DIR}\arm64\Zeltrane.exe"
    File "${RELEASE_DIR}\arm64\ZeltraneRemove.exe"
    File "${RELEASE_DIR}\arm64\ZeltraneCreate.exe"
    ; The package, in place of an installed version's, whose files go by
    ; the names that it recorded (or are kept, moved, until its package is
    ; deleted from the driver store); then what this one installs, recorded.
    ${IfThen} $Older != "" ${|} Call SetOlderPackageAside ${|}
    !insertmacro RemoveDriverFiles
    DeleteRegKey HKLM "${DRIVER_FILES}"
    DeleteRegKey HKLM "${DRIVER_FOLDERS}"
    SetOutPath "$INSTDIR\driver"
    File /r "${PACKAGE_DIR}\*.*"
    StrCpy $RecordKey "${DRIVER_FILES}"
    StrCpy $Recorded 0
    ${Locate} "$INSTDIR\driver" "/L=F /G=1" RecordDriverPath
    ; The folders as ${Locate} meets them, each before what it holds.
    StrCpy $RecordKey "${DRIVER_FOLDERS}"
    StrCpy $Recorded 0
    ${Locate} "$INSTDIR\driver" "/L=D /G=1" RecordDriverPath
    ; The programs run in the system folder, which only administrators can
    ; write; it is also out of the installation folder, which a failure
    ; removes, and a process's current folder cannot be removed.
    SetOutPath "$SYSDIR"

    StrCpy $Ids "${HARDWARE_ID}"
    StrCpy $Installed ""
    StrCpy $Restart ""
    ${Do}
        Call NextHardwareId
        ${If} $Id == ""
            ${Break}
        ${EndIf}
        ; ExecWait sets the error flag when it cannot start the program, and
        ; then leaves $0 undefined: it may well hold 0. The flag is the only
        ; sign, so it is cleared before and read first.
        ClearErrors
        ExecWait '"$INSTDIR\Zeltrane.exe" "$INSTDIR\driver\${INF_NAME}" "$Id"' $0
        ${If} ${Errors}
            DetailPrint "$Id: Zeltrane.exe could not be started"
            StrCpy $0 ${NOT_STARTED}
            Call Fail
        ${EndIf}
        IntFmt $1 "0x%08X" $0
        DetailPrint "$Id: Zeltrane.exe ended with $1"
        ${If} $0 = ${RESTART_NEEDED}
            DetailPrint "$Id: a restart finishes the installation."
            StrCpy $Restart yes
        ${EndIf}
        ${If} $0 = 0
        ${OrIf} $0 = ${RESTART_NEEDED}
            ${If} $Installed == ""
                StrCpy $Installed $Id
            ${Else}
                StrCpy $Installed "$Installed;$Id"
            ${EndIf}
        ${ElseIf} $0 <> ${NO_SUCH_DEVICE}
            Call Fail
        ${EndIf}
    ${Loop}
    ${If} $Installed == ""
!if "${ZELTRANE_NO_DEVICE}" == "fail"
        DetailPrint "No present device has any of the hardware IDs (ZELTRANE_NO_DEVICE=fail)."
        IntOp $0 0 + ${NO_SUCH_DEVICE}
        Call Fail
!else if "${ZELTRANE_NO_DEVICE}" == "create"
        ; A virtual adapter: its device, made with the line's first ID where
        ; none has it, and the driver installed on it; a re-run finds it.
        StrCpy $Ids "${HARDWARE_ID}"
        Call NextHardwareId
        ClearErrors
        ExecWait '"$INSTDIR\ZeltraneCreate.exe" "$INSTDIR\driver\${INF_NAME}" "$Id"' $0
        ${If} ${Errors}
            DetailPrint "$Id: ZeltraneCreate.exe could not be started"
            StrCpy $0 ${NOT_STARTED}
            Call Fail
        ${EndIf}
        IntFmt $1 "0x%08X" $0
        DetailPrint "$Id: ZeltraneCreate.exe ended with $1"
        ${If} $0 = ${RESTART_NEEDED}
            StrCpy $Restart yes
        ${ElseIf} $0 <> 0
            Call Fail
        ${EndIf}
        StrCpy $Installed $Id
!else
        DetailPrint "No present device has any of the hardware IDs: installed on no device. The package is staged, and the platform installs it when such a device appears."
!endif
    ${EndIf}

    Call ReleaseOlderPackage
!if "${ZELTRANE_SUPERSEDED}" == "remove"
    ; The older versions' packages, where nothing uses them; until a
    ; restart, a device may still use one.
    ${If} $Restart == ""
        Call RemoveSupersededPackages
    ${ElseIf} ${FileExists} "$INSTDIR\superseded\*.*"
        DetailPrint "A restart finishes the installation: the older versions' packages stay staged until the next version or the uninstall."
    ${EndIf}
!endif
    ; This product uses the package now: another's uninstall leaves it.
    Push "$INSTDIR\driver\${INF_NAME}"
    Call InfRecord
    Pop $1
    ${If} $1 != ""
        WriteRegStr HKLM "$1\${OWNER}" "" "${PRODUCT_NAME}"
    ${EndIf}
    WriteUninstaller "$INSTDIR\uninstall.exe"
    ; An uninstaller run in place left uninstall.exe to the next restart,
    ; which would delete this one: a copy goes back in its place after
    ; that deletion, at the same restart (MOVEFILE_REPLACE_EXISTING,
    ; MOVEFILE_DELAY_UNTIL_REBOOT).
    ${If} $Left == "${UPGRADE_CODE}"
        WriteUninstaller "$INSTDIR\uninstall.next"
        System::Call 'kernel32::MoveFileExW(w "$INSTDIR\uninstall.next", w "$INSTDIR\uninstall.exe", i 5) i'
    ${EndIf}
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${PRODUCT_VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    ; In KiB, as the installed programs list reads it: the folder as it now
    ; is, the uninstaller included.
    ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
    ; What the setup installed for: a fleet's inventory reads it.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstalledHardwareIds" $Installed
    ; The INF's name, for the next version's upgrade, and the upgrade code
    ; by which it knows this product.
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DriverInf" "${INF_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UpgradeCode" "${UPGRADE_CODE}"
    ; The folder is registered again: no longer one left to a restart.
    DeleteRegValue HKLM "${LEFT_FOLDERS}" "$INSTDIR"
    DeleteRegKey /ifempty HKLM "${LEFT_FOLDERS}"
    ; A device runs the driver only after a restart: the reboot flag, which
    ; the setup never acts on itself (a silent one never restarts), and
    ; 3010, which deployment tools read as "succeeded, restart pending".
    ${If} $Restart != ""
        SetRebootFlag true
        ${IfNot} ${Silent}
            MessageBox MB_OK|MB_ICONINFORMATION "Restart Windows to finish installing the driver."
        ${EndIf}
        SetErrorLevel ${RESTART_NEEDED}
    ${EndIf}
SectionEnd

Section "Uninstall"
    ; Its owner and permissions set again before anything runs there, as
    ; the setup set them.
    Push "$INSTDIR"
    Push "${FOLDER_SDDL}"
    Call un.LockFolder
    Pop $0
    ${If} $0 = 0
    ${AndIf} ${FileExists} "$INSTDIR\driver"
        Push "$INSTDIR\driver"
        Push "${DRIVER_SDDL}"
        Call un.LockFolder
        Pop $0
    ${EndIf}
    ${If} $0 <> 0
        DetailPrint "The permissions of $INSTDIR could not be set (error $0): nothing removed."
        SetErrorLevel $0
        Quit
    ${EndIf}
    ; The system folder, as at the installation: the program's current
    ; folder, out of the installation folder, which is removed after this.
    SetOutPath "$SYSDIR"
!if "${ZELTRANE_ON_UNINSTALL}" == "remove"
    ; The older versions' packages that an upgrade kept, where nothing uses
    ; them, while this version's devices still use its own.
    Call un.RemoveSupersededPackages
    ; The package stays where another product still uses it: only this
    ; product's use of it goes.
    Push "$INSTDIR\driver\${INF_NAME}"
    Call un.InfRecord
    Pop $7
    Push $7
    Call un.OtherUsers
    Pop $8
    ${If} $8 != ""
        DetailPrint "The driver package stays installed and staged: it is still used by$8."
        DeleteRegKey HKLM "$7\${OWNER}"
    ${Else}
        ; As for Zeltrane.exe: the error flag is the only sign of a program
        ; that did not start.
        ClearErrors
        ExecWait '"$INSTDIR\ZeltraneRemove.exe" "$INSTDIR\driver\${INF_NAME}"' $0
        ${If} ${Errors}
            DetailPrint "ZeltraneRemove.exe could not be started"
            StrCpy $0 ${NOT_STARTED}
        ${EndIf}
        IntFmt $1 "0x%08X" $0
        DetailPrint "ZeltraneRemove.exe ended with $1"
        ; The package is gone: its record with it.
        ${If} $7 != ""
            ${If} $0 = 0
            ${OrIf} $0 = ${RESTART_NEEDED}
                DeleteRegKey HKLM "$7"
            ${EndIf}
        ${EndIf}
    ${EndIf}
    ${If} $0 <> 0
    ${AndIf} $0 <> ${RESTART_NEEDED}
        ; The driver is still installed: the product stays, so that its
        ; uninstall can be run again.
        ${IfNot} ${Silent}
            MessageBox MB_OK|MB_ICONSTOP "The driver was not removed (code $1).$\r$\n$\r$\nThe platform's log, $WINDIR\INF\setupapi.dev.log, says why."
        ${EndIf}
        SetErrorLevel $0
        Quit
    ${EndIf}
!else
    ; Kept, the package is no longer this product's: another's uninstall
    ; may take it.
    Push "$INSTDIR\driver\${INF_NAME}"
    Call un.InfRecord
    Pop $7
    ${If} $7 != ""
        DeleteRegKey HKLM "$7\${OWNER}"
        DeleteRegKey /ifempty HKLM "$7"
    ${EndIf}
    DetailPrint "ZELTRANE_ON_UNINSTALL=keep: the driver stays installed and its package staged."
!endif
    !insertmacro RemoveFiles
    RMDir "$INSTDIR"
    ; Run in place (_?=), the uninstaller cannot delete itself: the next
    ; restart does. Until then the folder is recorded as this product's.
    ${If} ${FileExists} "$INSTDIR\uninstall.exe"
        Delete /REBOOTOK "$INSTDIR\uninstall.exe"
        RMDir /REBOOTOK "$INSTDIR"
        WriteRegStr HKLM "${LEFT_FOLDERS}" "$INSTDIR" "${UPGRADE_CODE}"
    ${EndIf}
    ${If} $0 = ${RESTART_NEEDED}
        ${IfNot} ${Silent}
            MessageBox MB_OK|MB_ICONINFORMATION "Restart Windows to finish removing the driver."
        ${EndIf}
        SetErrorLevel ${RESTART_NEEDED}
    ${EndIf}
SectionEnd
