#!/usr/bin/env bash
# Audits a linked Zeltrane.exe as a file: machine, subsystem and what it imports.
# usage: audit-image.sh IMAGE x86|x64
set -u
image=$1 arch=$2
failures=0
check() { # check DESCRIPTION COMMAND...: prints ok or FAIL
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
has() { grep -qE -- "$1" <<<"$2"; }

headers=$(llvm-readobj --file-headers "$image") || { echo "FAIL cannot read $image"; exit 1; }
imports=$(llvm-readobj --coff-imports "$image")

if [ "$arch" = x86 ]; then
    check "machine is i386" has 'Machine: IMAGE_FILE_MACHINE_I386 ' "$headers"
    check "format is PE32" has 'Magic: 0x10B' "$headers"
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
outside=$(grep -vxE 'kernel32\.dll|msvcrt\.dll|user32\.dll|setupapi\.dll|newdev\.dll' <<<"$dlls")
check "imports only kernel32, msvcrt, user32, setupapi, newdev" test -z "$outside"
for wanted in user32.dll'|'MessageBoxW user32.dll'|'GetDesktopWindow \
    setupapi.dll'|'SetupCopyOEMInfW newdev.dll'|'UpdateDriverForPlugAndPlayDevicesW; do
    check "imports ${wanted/|/!} by name at load time" grep -qxF "static|$wanted" <<<"$table"
done
check "no delay-load imports" test -z "$(grep '^delay|' <<<"$table")"
check "no delay-load directory" has 'DelayImportDescriptorRVA: 0x0$' \
    "$(llvm-readobj --file-headers "$image" | grep DelayImportDescriptorRVA)"
check "no import by ordinal only" test -z "$(grep '|$' <<<"$table")"
check "no ANSI variants" test -z "$(cut -d'|' -f3 <<<"$table" | grep -E '[a-z0-9]A(Ex)?$')"
check "no run-time binding" test -z "$(cut -d'|' -f3 <<<"$table" | grep -E '^(LoadLibrary|GetProcAddress)')"

echo "$failures failed"
[ "$failures" -eq 0 ]
