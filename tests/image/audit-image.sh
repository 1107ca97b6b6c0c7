#!/usr/bin/env bash
# Audits a linked Zeltrane.exe, ZeltraneRemove.exe or ZeltraneCreate.exe as a file: machine,
# subsystem, imports, hardening, load configuration, manifest, version
# information and size.
# usage: audit-image.sh IMAGE x86|x64|arm64 VERSION EMPTY-IMAGE [PROGRAM]
# EMPTY-IMAGE is an empty program built with the same toolchain and flags;
# PROGRAM is Zeltrane (the default), ZeltraneRemove or ZeltraneCreate.
set -u
image=$1 arch=$2 version=$3 empty=$4 program=${5:-Zeltrane}
failures=0
check() { # check DESCRIPTION COMMAND...: prints ok or FAIL
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
has() { grep -qE -- "$1" <<<"$2"; }
# holds_wide TEXT: the image holds TEXT as a wide string, whole, with its NUL
# (what strings -el shows can run on from the bytes before it).
holds_wide() {
    local pattern=""
    for ((i = 0; i < ${#1}; i++)); do pattern+="${1:i:1}"'\x00'; done
    LC_ALL=C grep -aqP -- "${pattern//./\\.}"'\x00\x00' "$image"
}
not_has() { ! has "$@"; }

headers=$(llvm-readobj --file-headers "$image") || { echo "FAIL cannot read $image"; exit 1; }
imports=$(llvm-readobj --coff-imports "$image")

if [ "$arch" = x86 ]; then
    check "machine is i386" has 'Machine: IMAGE_FILE_MACHINE_I386 ' "$headers"
    check "format is PE32" has 'Magic: 0x10B' "$headers"
elif [ "$arch" = arm64 ]; then
    check "machine is ARM64" has 'Machine: IMAGE_FILE_MACHINE_ARM64 ' "$headers"
    check "format is PE32+" has 'Magic: 0x20B' "$headers"
else
    check "machine is x86-64" has 'Machine: IMAGE_FILE_MACHINE_AMD64 ' "$headers"
    check "format is PE32+" has 'Magic: 0x20B' "$headers"
fi
check "subsystem is windows GUI" has 'Subsystem: IMAGE_SUBSYSTEM_WINDOWS_GUI ' "$headers"

# "DLL|function" per import by name; ordinal-only imports have an empty name.
table=$(awk '/^Import \{/ { kind = "static" } /^DelayImport \{/ { kind = "delay" }
             /Name: / { dll = tolower($2) }
             /Symbol: / { print kind "|" dll "|" ($2 ~ /^\(/ ? "" : $2) }' <<<"$imports")
dlls=$(cut -d'|' -f2 <<<"$table" | sort -u)
echo "     imported DLLs: $(tr '\n' ' ' <<<"$dlls")"
if [ "$program" = ZeltraneRemove ]; then
    # The removal's own calls; newdev's DiUninstallDriverW is looked up at run time.
    platform_dlls=(kernel32 msvcrt user32 setupapi advapi32)
    wanted_imports="user32.dll|MessageBoxW setupapi.dll|SetupCopyOEMInfW
        setupapi.dll|SetupUninstallOEMInfW setupapi.dll|SetupDiGetClassDevsW
        setupapi.dll|SetupDiEnumDeviceInfo setupapi.dll|SetupDiOpenDevRegKey
        setupapi.dll|SetupDiCallClassInstaller setupapi.dll|SetupDiGetDeviceInstallParamsW
        setupapi.dll|SetupDiDestroyDeviceInfoList setupapi.dll|SetupDiGetDeviceInstanceIdW
        advapi32.dll|RegQueryValueExW advapi32.dll|RegCloseKey"
elif [ "$program" = ZeltraneCreate ]; then
    # Zeltrane.exe's calls, and the device's creation before them, under
    # the machine's creation lock, whose owner advapi32 reads.
    platform_dlls=(kernel32 msvcrt user32 setupapi newdev advapi32)
    wanted_imports="user32.dll|MessageBoxW user32.dll|GetDesktopWindow
        kernel32.dll|CreateMutexW advapi32.dll|GetSecurityInfo
        setupapi.dll|SetupCopyOEMInfW newdev.dll|UpdateDriverForPlugAndPlayDevicesW
        setupapi.dll|SetupDiGetClassDevsW setupapi.dll|SetupDiEnumDeviceInfo
        setupapi.dll|SetupDiGetDeviceRegistryPropertyW setupapi.dll|SetupDiGetINFClassW
        setupapi.dll|SetupDiCreateDeviceInfoList setupapi.dll|SetupDiCreateDeviceInfoW
        setupapi.dll|SetupDiSetDeviceRegistryPropertyW setupapi.dll|SetupDiCallClassInstaller
        setupapi.dll|SetupDiDestroyDeviceInfoList"
else
    platform_dlls=(kernel32 msvcrt user32 setupapi newdev)
    wanted_imports="user32.dll|MessageBoxW user32.dll|GetDesktopWindow
        setupapi.dll|SetupCopyOEMInfW newdev.dll|UpdateDriverForPlugAndPlayDevicesW"
fi
allowed=$(printf '%s\\.dll|' "${platform_dlls[@]}")
outside=$(grep -vxE "${allowed%|}" <<<"$dlls")
check "imports only ${platform_dlls[*]}" test -z "$outside"
for wanted in $wanted_imports; do
    check "imports ${wanted/|/!} by name at load time" grep -qxF "static|$wanted" <<<"$table"
done
# The hand-over to the native build: the 32-bit image only, which 64-bit Windows refuses.
handover="GetModuleFileNameW GetCommandLineW GetSystemDirectoryW CreateProcessW WaitForSingleObject
    GetExitCodeProcess CloseHandle"
if [ "$arch" = x86 ]; then
    for function in $handover; do
        check "imports kernel32.dll!$function by name at load time" \
            grep -qxF "static|kernel32.dll|$function" <<<"$table"
    done
else
    check "starts no other image" test -z "$(grep -xF 'static|kernel32.dll|CreateProcessW' <<<"$table")"
fi
check "no delay-load imports" test -z "$(grep '^delay|' <<<"$table")"
check "no delay-load directory" has 'DelayImportDescriptorRVA: 0x0$' \
    "$(llvm-readobj --file-headers "$image" | grep DelayImportDescriptorRVA)"
check "no import by ordinal only" test -z "$(grep '|$' <<<"$table")"
check "no ANSI variants" test -z "$(cut -d'|' -f3 <<<"$table" | grep -E '[a-z0-9]A(Ex)?$')"
if [ "$program" = ZeltraneRemove ]; then
    # DiUninstallDriverW exists only from Windows 10 version 1703: newdev.dll
    # is loaded from System32 when the removal needs it, and the function
    # looked up by name.
    check "loads DLLs at run time only with LoadLibraryExW" \
        test "$(cut -d'|' -f3 <<<"$table" | grep -E '^LoadLibrary')" = LoadLibraryExW
    check "DiUninstallDriverW is not bound at load time" \
        test -z "$(cut -d'|' -f3 <<<"$table" | grep -x DiUninstallDriverW)"
    check "names DiUninstallDriverW for the lookup" grep -qx DiUninstallDriverW <(strings -a "$image")
    check "names newdev.dll for the load" holds_wide newdev.dll
else
    check "loads no DLL at run time" test -z "$(cut -d'|' -f3 <<<"$table" | grep -E '^LoadLibrary')"
fi
# The 32-bit image tells an ARM64 machine from an x64 one by IsWow64Process2,
# which exists only from Windows 10 version 1511: binding it at load time would
# keep the image from loading on older Windows, so it is looked up by name in
# the kernel32 already loaded, when a hand-over needs it.
if [ "$arch" = x86 ]; then
    for function in GetModuleHandleW GetProcAddress GetCurrentProcess; do
        check "imports kernel32.dll!$function by name at load time" \
            grep -qxF "static|kernel32.dll|$function" <<<"$table"
    done
    check "IsWow64Process2 is not bound at load time" \
        test -z "$(cut -d'|' -f3 <<<"$table" | grep -x IsWow64Process2)"
    check "names IsWow64Process2 for the lookup" grep -qx IsWow64Process2 <(strings -a "$image")
    check "names kernel32.dll for the lookup" holds_wide kernel32.dll
fi
# Every image makes the DLLs that its process loads later come from System32
# only, with SetDefaultDllDirectories, which Windows Vista and 7 without their
# update lack: looked up in the kernel32 already loaded, never bound.
for function in GetModuleHandleW GetProcAddress; do
    check "imports kernel32.dll!$function by name at load time" \
        grep -qxF "static|kernel32.dll|$function" <<<"$table"
done
check "SetDefaultDllDirectories is not bound at load time" \
    test -z "$(cut -d'|' -f3 <<<"$table" | grep -x SetDefaultDllDirectories)"
check "names SetDefaultDllDirectories for the lookup" \
    grep -qx SetDefaultDllDirectories <(strings -a "$image")
check "names kernel32.dll for the lookup" holds_wide kernel32.dll

# Hardening.
check "DYNAMIC_BASE" has 'IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE' "$headers"
check "NX_COMPAT" has 'IMAGE_DLL_CHARACTERISTICS_NX_COMPAT' "$headers"
check "base relocations kept" not_has 'IMAGE_FILE_RELOCS_STRIPPED' "$headers"
if [ "$arch" != x86 ]; then
    check "HIGH_ENTROPY_VA" has 'IMAGE_DLL_CHARACTERISTICS_HIGH_ENTROPY_VA' "$headers"
fi
check "no link timestamp" has '^  TimeDateStamp: .*\(0x0\)$' "$headers"

# Load configuration: imported DLLs are resolved from System32 only.
config_size=$([ "$arch" = x86 ] && echo 0x48 || echo 0x70)
load_config=$(llvm-readobj --coff-load-config "$image")
check "load-config directory of $config_size bytes" has "LoadConfigTableSize: $config_size\$" "$headers"
check "load configuration says its size is $config_size" has "^  Size: $config_size\$" "$load_config"
check "DependentLoadFlags is LOAD_LIBRARY_SEARCH_SYSTEM32" has '^  DependentLoadFlags: 0x800$' "$load_config"

# Manifest: resource 1 of type RT_MANIFEST (24).
resources=$(llvm-readobj --coff-resources "$image")
check "manifest resource 1" has 'Type: MANIFEST \(ID 24\) \[.* Name: \(ID 1\) ' \
    "$(grep -A4 'Type: MANIFEST' <<<"$resources" | tr -d '\n')"
manifest=$(tr -d '\0' <"$image" | sed -n '/<assembly /,/<\/assembly>/p')
# Windows refuses to start an image whose manifest's assembly has no valid version.
check "manifest assembly version $version.0" \
    has "<assemblyIdentity type=\"win32\" name=\"Zeltrane\" version=\"$version.0\"" "$manifest"
check "requireAdministrator, no UI access" \
    has '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>' "$manifest"
for os in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
    8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    check "supportedOS {$os}" has "<supportedOS Id=\"\\{$os\\}\"/>" "$manifest"
done
check "dpiAware true" has '>true</dpiAware>' "$manifest"
check "dpiAwareness PerMonitorV2" has '>PerMonitorV2</dpiAwareness>' "$manifest"
check "Common Controls 6" has 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$manifest"

# Version information: each name followed by its value (UTF-16 strings).
check "version resource" has 'Type: VERSIONINFO \(ID 16\)' "$resources"
strings16=$(strings -el "$image")
value_of() { grep -A1 -x "$1" <<<"$strings16" | sed -n 2p; }
check "ProductName Zeltrane" test "$(value_of ProductName)" = Zeltrane
check "OriginalFilename $program.exe" test "$(value_of OriginalFilename)" = "$program.exe"
check "InternalName $program" test "$(value_of InternalName)" = "$program"
check "FileVersion $version" test "$(value_of FileVersion)" = "$version"
check "ProductVersion $version" test "$(value_of ProductVersion)" = "$version"
check "FileDescription" test -n "$(value_of FileDescription)"

# The oldest Windows: the version in the header, which the loader checks,
# and which the table of images (docs/images.md) names for this image.
version_of() { awk -v field="$1:" '$1 == field { print $2 }' <<<"$headers"; }
subsystem=$(version_of MajorSubsystemVersion).$(version_of MinorSubsystemVersion)
check "operating system version $(version_of MajorOperatingSystemVersion).$(version_of MinorOperatingSystemVersion) is the subsystem version $subsystem" \
    test "$(version_of MajorOperatingSystemVersion).$(version_of MinorOperatingSystemVersion)" = "$subsystem"
declare -A windows=([5.1]="Windows XP" [5.2]="Windows XP x64" [6.0]="Windows Vista"
    [6.1]="Windows 7" [6.2]="Windows 8" [6.3]="Windows 8.1" [10.0]="Windows 10")
oldest="${windows[$subsystem]:-Windows $subsystem} ($subsystem)"
file="\`$program.exe\`"
[ "$arch" = x64 ] && file="\`x64\\$program.exe\`"
if [ "$arch" = arm64 ]; then
    file="\`arm64\\$program.exe\`"
    # No Windows for ARM64 predates Windows 10, whatever the header allows.
    [ "${subsystem%%.*}" -lt 10 ] && oldest="Windows 10, the first for ARM64 (header: $subsystem)"
fi
images=$(dirname "$0")/../../docs/images.md
check "docs/images.md names $oldest as the oldest Windows of $file" \
    grep -qF "| $oldest |" <(grep -F "| $file |" "$images")

# Size.
# Size as linked: a signature appended to the file (the certificate table) does not count.
signature=$(sed -nE 's/^ *CertificateTableSize: (0x[0-9A-Fa-f]+)$/\1/p' <<<"$headers")
size=$(($(stat -c %s "$image") - ${signature:-0}))
echo "     size: $size bytes$([ "${signature:-0x0}" != 0x0 ] && echo " without its signature of $((signature)) bytes");" \
    "an empty program with the same toolchain and flags: $(stat -c %s "$empty") bytes"
# Every program lists devices: Zeltrane.exe reads their state after the
# installation; the removal program reads their driver keys, the creation
# program makes one too: 2 KiB more, and 2 KiB for its lock.
case $program in
    Zeltrane) limit=20 ;;
    ZeltraneCreate) limit=24 ;;
    *) limit=22 ;;
esac
check "within $limit KiB" test "$size" -le $((limit * 1024))

echo "$failures failed"
[ "$failures" -eq 0 ]
