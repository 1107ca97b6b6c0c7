#!/usr/bin/env bash
# Audits the linked custom action of the MSI template, ZeltraneMsiAction.dll,
# as a file: a 32-bit x86 DLL (the MSI is a 32-bit package), hardened as the
# images are, exporting its five entries by name, importing only what every
# Windows has, and carrying the nine images it runs, byte for byte, as
# resources: it starts no other program.
# usage: audit-msi-action.sh DLL ZELTRANE-X86 ZELTRANE-X64 ZELTRANE-ARM64
#                            REMOVE-X86 REMOVE-X64 REMOVE-ARM64 CREATE-X86 CREATE-X64 CREATE-ARM64
set -u
dll=$1
images=("${@:2}")
failures=0
check() { # check DESCRIPTION COMMAND...: prints ok or FAIL
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
has() { grep -qE -- "$1" <<<"$2"; }

headers=$(llvm-readobj --file-headers "$dll") || { echo "FAIL cannot read $dll"; exit 1; }
check "machine is i386" has 'Machine: IMAGE_FILE_MACHINE_I386 ' "$headers"
check "format is PE32" has 'Magic: 0x10B' "$headers"
check "is a DLL" has 'IMAGE_FILE_DLL ' "$headers"
check "address space layout randomisation" has 'IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE ' "$headers"
check "no-execute data" has 'IMAGE_DLL_CHARACTERISTICS_NX_COMPAT ' "$headers"
check "no symbol table" has 'SymbolCount: 0$' "$headers"
check "no link time in the header" has 'TimeDateStamp: 1970-01-01 00:00:00 \(0x0\)' "$headers"

exports=$(llvm-readobj --coff-exports "$dll" | sed -n 's/^ *Name: //p' | grep -v '^$' | LC_ALL=C sort | tr '\n' ' ')
check "exports CheckSettings, FindSupersededPackages, InstallDriver, RemoveDriver and ScheduleRestart by name, nothing else" \
    test "$exports" = "CheckSettings FindSupersededPackages InstallDriver RemoveDriver ScheduleRestart "

table=$(llvm-readobj --coff-imports "$dll" | awk '/^Import \{/ { kind = "static" }
    /^DelayImport \{/ { kind = "delay" } /Name: / { dll = tolower($2) }
    /Symbol: / { print kind "|" dll "|" ($2 ~ /^\(/ ? "" : $2) }')
dlls=$(cut -d'|' -f2 <<<"$table" | sort -u)
echo "     imported DLLs: $(tr '\n' ' ' <<<"$dlls")"
check "imports only kernel32, msvcrt, msi, setupapi and advapi32" \
    test -z "$(grep -vxE '(kernel32|msvcrt|msi|setupapi|advapi32)\.dll' <<<"$dlls")"
for wanted in msi.dll'|'MsiGetPropertyW msi.dll'|'MsiProcessMessage msi.dll'|'MsiSetMode \
    kernel32.dll'|'CreateProcessW kernel32.dll'|'GetExitCodeProcess kernel32.dll'|'FindResourceW \
    kernel32.dll'|'CreateDirectoryW kernel32.dll'|'GetSystemDirectoryW \
    setupapi.dll'|'SetupCopyOEMInfW setupapi.dll'|'SetupQueryInfOriginalFileInformationW \
    advapi32.dll'|'ConvertStringSecurityDescriptorToSecurityDescriptorW \
    advapi32.dll'|'RegCreateKeyExW; do
    check "imports ${wanted/|/!} by name at load time" grep -qxF "static|$wanted" <<<"$table"
done
check "no delay-load imports" test -z "$(grep '^delay|' <<<"$table")"
check "no import by ordinal only" test -z "$(grep '|$' <<<"$table")"
check "no ANSI variants" test -z "$(cut -d'|' -f3 <<<"$table" | grep -E '[a-z0-9]A(Ex)?$')"
check "loads no DLL at run time" test -z "$(cut -d'|' -f3 <<<"$table" | grep -E '^LoadLibrary')"
# The restart request crosses in the registry, never as an atom that any
# process of the window station could make.
check "uses no global atom" test -z "$(cut -d'|' -f3 <<<"$table" | grep -E 'Atom')"
# Each resource's name, address and size, and where the resource section's
# addresses begin in the file.
read -r va raw < <(llvm-readobj --sections "$dll" | awk '/Name: .rsrc/ { found = 1 }
    found && /VirtualAddress:/ { va = $2 } found && /PointerToRawData:/ { print va, $2; exit }')
resources=$(llvm-readobj --coff-resources "$dll" | awk '/Name: / { name = $2 }
    /DataRVA:/ { rva = $2 } /DataSize:/ { print name, rva, $2 }')
carried() { # carried NAME IMAGE: the resource of that name holds the image, byte for byte
    local rva size
    read -r rva size < <(awk -v name="$1" '$1 == name { print $2, $3 }' <<<"$resources")
    [ -n "$rva" ] && [ "$size" -eq "$(stat -c %s "$2")" ] &&
        tail -c +$((rva - va + raw + 1)) "$dll" | head -c "$size" | cmp -s - "$2"
}
names=(ZELTRANE_X86 ZELTRANE_X64 ZELTRANE_ARM64 ZELTRANE_REMOVE_X86 ZELTRANE_REMOVE_X64
    ZELTRANE_REMOVE_ARM64 ZELTRANE_CREATE_X86 ZELTRANE_CREATE_X64 ZELTRANE_CREATE_ARM64)
check "carries nine images, nothing else" test "$(wc -l <<<"$resources")" -eq 9 -a "${#images[@]}" -eq 9
for i in "${!names[@]}"; do
    check "carries ${images[i]} as ${names[i]}, byte for byte" carried "${names[i]}" "${images[i]}"
done

[ "$failures" -eq 0 ]
