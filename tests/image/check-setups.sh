#!/usr/bin/env bash
# Checks the sample driver package's setups, built by scripts/setups around a
# release package: the MSI's tables hold the action that installs the driver
# as the template means it (the installed 32-bit Zeltrane.exe with the INF's
# installed path and the hardware ID; deferred, not impersonated, its exit
# code checked; sequenced after InstallFiles and before InstallFinalize), and
# the release layout and the package as files; the NSIS setup is a 32-bit
# Windows program. Then the same check must refuse copies of that MSI with
# one fault each, written into its tables with msibuild: the action where
# wixl has placed Before="InstallFinalize" (1, ahead of InstallInitialize) and
# After="InstallFiles" (6601, after InstallFinalize), immediate,
# impersonated, or with its exit code ignored.
# usage: check-setups.sh SOURCE-DIR WORK-DIR RELEASE-ZIP X86-DRIVER X64-DRIVER ARM64-DRIVER
set -u
source_dir=$(realpath "$1") work=$(realpath -m "$2") release=$(realpath "$3")
x86_driver=$(realpath "$4") x64_driver=$(realpath "$5") arm64_driver=$(realpath "$6")
hardware_id='PCI\VEN_7A5C&DEV_0C31&SUBSYS_00000000'
failures=0 faults=0
check() {
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
rm -rf "$work"
mkdir -p "$work/package/x86" "$work/package/amd64" "$work/package/arm64"
cp "$source_dir/examples/zt-sample.inf" "$work/package/"
cp "$x86_driver" "$work/package/x86/zt-sample.sys"
cp "$x64_driver" "$work/package/amd64/zt-sample.sys"
cp "$arm64_driver" "$work/package/arm64/zt-sample.sys"
build() { # build OUT: the sample package's setups into OUT
    "$source_dir/scripts/setups" "$release" "$work/package" zt-sample.inf "$hardware_id" "$1" \
        >"$1.log" 2>&1
}
# row MSI TABLE KEY: the table's row of that key, tab-separated (msiinfo
# writes CR LF line ends).
row() { msiinfo export "$1" "$2" | tr -d '\r' | awk -F'\t' -v key="$3" 'NR > 3 && $1 == key'; }
field() { cut -f"$1" <<<"$2"; }

# check_msi MSI: the driver's action, as the template means it.
check_msi() {
    local msi=$1 action type file component sequence files
    action=$(row "$msi" CustomAction InstallDriver)
    type=$(field 2 "$action")
    [ -n "$type" ] || { echo "     no InstallDriver action"; return 1; }
    echo "     InstallDriver: type $type, $(field 3-4 "$action")"
    # 18: an executable from an installed file; 0x400: deferred (in the
    # script); 0x800: not impersonated; 0x40 (continue: the exit code
    # ignored), 0x100 and 0x200 (rollback, commit only) unset.
    if [ $((type & 0x3F)) -ne 18 ] || [ $((type & 0x400)) -eq 0 ] || [ $((type & 0x800)) -eq 0 ] ||
        [ $((type & 0x340)) -ne 0 ]; then
        echo "     not a deferred, checked, not impersonated run of a file"
        return 1
    fi
    file=$(row "$msi" File "$(field 3 "$action")")
    component=$(row "$msi" Component "$(field 2 "$file")")
    if [ "$(field 3 "$file")" != Zeltrane.exe ] || [ "$(field 3 "$component")" != INSTALLDIR ]; then
        echo "     does not run the installed 32-bit Zeltrane.exe"
        return 1
    fi
    [ "$(field 4 "$action")" = "\"[DriverDir]zt-sample.inf\" \"$hardware_id\"" ] ||
        { echo "     not the INF's installed path and the hardware ID"; return 1; }
    sequence() { field 3 "$(row "$msi" InstallExecuteSequence "$1")"; }
    sequence=$(sequence InstallDriver)
    echo "     sequence: InstallFiles $(sequence InstallFiles), InstallDriver $sequence, InstallFinalize $(sequence InstallFinalize)"
    if [ "$sequence" -le "$(sequence InstallFiles)" ] || [ "$sequence" -ge "$(sequence InstallFinalize)" ]; then
        echo "     not between InstallFiles and InstallFinalize"
        return 1
    fi
    files=$(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3 }' | LC_ALL=C sort | tr '\n' ' ')
    [ "$files" = "LICENSE Zeltrane.exe Zeltrane.exe Zeltrane.exe zt-sample.inf zt-sample.sys zt-sample.sys zt-sample.sys " ] ||
        { echo "     files: $files"; return 1; }
}

refused() { ! check_msi "$1"; }

if ! build "$work/sample"; then
    cat "$work/sample.log"
    exit 1
fi
check "the MSI installs the driver as the template means it" check_msi "$work/sample/driver-setup.msi"
check "the MSI's product code is noted beside it" \
    grep -qxE '\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}' "$work/sample/driver-setup.msi.productcode"
headers=$(llvm-readobj --file-headers "$work/sample/driver-setup.exe" 2>/dev/null)
check "the NSIS setup is a 32-bit Windows program" \
    grep -qE 'Machine: IMAGE_FILE_MACHINE_I386 ' <<<"$headers"
check "the batch folder holds the batch file, the release layout and the package" test \
    "$(cd "$work/sample/batch" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" = \
    "./LICENSE ./Zeltrane.exe ./arm64/Zeltrane.exe ./driver/amd64/zt-sample.sys ./driver/arm64/zt-sample.sys ./driver/x86/zt-sample.sys ./driver/zt-sample.inf ./install-driver.cmd ./x64/Zeltrane.exe "

# One fault each, in a copy of the MSI: the check must see it.
for fault in "InstallExecuteSequence SET Sequence = 1:placed before InstallInitialize" \
    "InstallExecuteSequence SET Sequence = 6601:placed after InstallFinalize" \
    "CustomAction SET Type = 2066:run at once, not deferred" \
    "CustomAction SET Type = 1042:impersonated" \
    "CustomAction SET Type = 3154:ignoring its exit code"; do
    copy=$work/fault-$((++faults)).msi
    cp "$work/sample/driver-setup.msi" "$copy"
    msibuild "$copy" -q "UPDATE ${fault%%:*} WHERE Action = 'InstallDriver'" ||
        { echo "FAIL cannot write the fault: ${fault%%:*}"; exit 1; }
    check "an MSI with its action ${fault#*:} is refused" refused "$copy"
done

echo "$failures failed"
[ "$failures" -eq 0 ]
