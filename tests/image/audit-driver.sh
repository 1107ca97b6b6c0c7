#!/usr/bin/env bash
# Audits the sample driver as a file: a kernel-mode image for the build's
# machine that imports only from the kernel, and that the platform can load at
# any base (it holds relocations: Wine loads drivers away from their base).
# usage: audit-driver.sh DRIVER x86|x64|arm64
set -u
driver=$1 arch=$2
failures=0
check() {
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
has() { grep -qE -- "$1" <<<"$2"; }

headers=$(llvm-readobj --file-headers "$driver") || { echo "FAIL cannot read $driver"; exit 1; }
if [ "$arch" = x86 ]; then
    check "machine is i386" has 'Machine: IMAGE_FILE_MACHINE_I386 ' "$headers"
elif [ "$arch" = arm64 ]; then
    check "machine is ARM64" has 'Machine: IMAGE_FILE_MACHINE_ARM64 ' "$headers"
else
    check "machine is x86-64" has 'Machine: IMAGE_FILE_MACHINE_AMD64 ' "$headers"
fi
check "subsystem is native" has 'Subsystem: IMAGE_SUBSYSTEM_NATIVE ' "$headers"
check "has an entry point" test -z "$(grep -E "AddressOfEntryPoint: 0x0$" <<<"$headers")"
check "DYNAMIC_BASE" has 'IMAGE_DLL_CHARACTERISTICS_DYNAMIC_BASE' "$headers"
relocations=$(sed -nE 's/^ *BaseRelocationTableSize: (0x[0-9A-Fa-f]+)$/\1/p' <<<"$headers")
check "holds base relocations" test "$((${relocations:-0}))" -gt 0
dlls=$(llvm-readobj --coff-imports "$driver" | sed -nE 's/^ *Name: (.+)$/\1/p' | tr '[:upper:]' '[:lower:]' | sort -u)
echo "     imported DLLs: $(tr '\n' ' ' <<<"$dlls")"
check "imports only from ntoskrnl.exe and hal.dll" test -z "$(grep -vxE 'ntoskrnl\.exe|hal\.dll' <<<"$dlls")"
check "imports from ntoskrnl.exe" grep -qx 'ntoskrnl.exe' <<<"$dlls"
echo "     size: $(stat -c %s "$driver") bytes"
echo "$failures failed"
[ "$failures" -eq 0 ]
