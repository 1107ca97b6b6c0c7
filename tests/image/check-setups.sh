#!/usr/bin/env bash
# Checks the sample driver package's setups, built by scripts/setups around a
# release package for a product line of two hardware IDs: the MSI's tables
# hold the actions that install the driver as the template means it (the
# release's custom action DLL, stored in the MSI, deferred, not
# impersonated, its result checked, sequenced after InstallFiles and before
# InstallFinalize, on a first installation only, never on a repair; its
# data, set just before it, naming the INF's installed path, the setting and
# the IDs as given, and no program: the action runs only what it carries;
# the package's files with the SHA-256 of each, as the MSI installs them),
# the setting's default as a property, and the release layout and the package
# as files; the NSIS setup is a 32-bit Windows program; scripts/setups takes
# ZELTRANE_NO_DEVICE=fail and refuses another value or no ID. Then the same
# check must refuse copies of that MSI with one fault each, written into its
# tables with msibuild: the action where wixl has placed
# Before="InstallFinalize" (1, ahead of InstallInitialize) and
# After="InstallFiles" (6601, after InstallFinalize), immediate,
# impersonated, with its result ignored, running Zeltrane.exe itself as
# 1.3.0's did, running on a repair (REINSTALL), its data naming a program
# under INSTALLDIR, or without the package's digests; its data set after it
# or before the installed paths are known; the digests missing, or one that
# is not its file's.
# The upgrade: the Upgrade table finds older versions of the product's
# upgrade code to remove and newer ones only to detect, a launch condition
# refuses a newer one, FindRelatedProducts runs before LaunchConditions in
# both sequences and RemoveExistingProducts between InstallExecute, which
# follows InstallDriver, and InstallFinalize (a failed installation keeps
# the older version), the driver's actions never run while this product is
# removed by an upgrade; CheckSettings, an immediate, checked call, decides
# the settings and the older versions between FindRelatedProducts and
# InstallInitialize on every run but an upgrade's removal of this
# product, and the driver's actions' data names only what it decided, no
# public property; FindSupersededPackages, an immediate call, reads
# the older versions' records between CheckSettings and
# InstallInitialize on every first installation; the upgrade
# code is the product's own, none by default: scripts/setups and both
# templates stop without one, and the sample's is refused; ZELTRANE_SUPERSEDED=keep reaches
# the property, another value is refused; and the faults:
# RemoveExistingProducts after InstallFinalize (where wixl's own numbering
# may put it) or before InstallInitialize, no InstallExecute,
# FindRelatedProducts after LaunchConditions, the older versions only
# detected, the newer removed, no launch condition, the records read once
# the script is under way or in the script, the settings checked once it is
# under way or their check ignored, the data
# naming public properties as 1.10.0's did, the sample's upgrade code.
# The removal: RemoveDriver the same kind of call, placed between
# InstallInitialize and RemoveFiles, its data set before it naming the INF's
# own name and the setting, nothing under INSTALLDIR;
# ScheduleRestart immediate, after InstallFinalize; the removal and its data
# only when the product is removed and not by an upgrade, ScheduleRestart
# then and after the first installation; ZELTRANE_ON_UNINSTALL=keep
# reaches the property, another value is refused; and the faults: the
# removal after RemoveFiles or before InstallInitialize, immediate,
# impersonated, its result ignored, running on an upgrade's removal, its data
# naming a program under INSTALLDIR, the restart request inside the script.
# The permissions: INSTALLDIR, every folder under it (each with its
# CreateFolder row, the folders made by CreateFolders before InstallFiles)
# and every file locked by an MsiLockPermissionsEx row with an explicit,
# protected descriptor (owner Administrators, SYSTEM and Administrators
# full control, Users read and execute; in the driver folder nothing for
# Users), and no LockPermissions table beside it; and the faults:
# INSTALLDIR's row gone, a file's row gone, a file that Users may write, a
# folder that inherits, a driver folder or a package file that Users may
# read, no CreateFolders.
# Signed with the release's throwaway certificate (SIGNING-DIR, left by
# check-release.sh), the NSIS setup, the MSI and the custom action in it
# verify against its root; a changed byte of the setup or a changed value in
# the MSI breaks the signature; signing around an unsigned release is refused.
# usage: check-setups.sh SOURCE-DIR WORK-DIR RELEASE-ZIP X86-DRIVER X64-DRIVER ARM64-DRIVER SIGNING-DIR
set -u
source_dir=$(realpath "$1") work=$(realpath -m "$2") release=$(realpath "$3")
x86_driver=$(realpath "$4") x64_driver=$(realpath "$5") arm64_driver=$(realpath "$6")
signing=$(realpath "$7")
version=2.3.4
hardware_id='PCI\VEN_7A5C&DEV_0C31&SUBSYS_00000000;PCI\VEN_7A5C&DEV_0C31&SUBSYS_0000000A'
failures=0 faults=0
check() {
    if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
rm -rf "$work"
# The sample package with its catalog, by Debian's Python (the catalog
# tool's python3-asn1crypto).
if ! /usr/bin/python3 "$source_dir/sandbox/sample_catalog.py" package "$work/package" \
    x86="$x86_driver" amd64="$x64_driver" arm64="$arm64_driver" >/dev/null; then
    echo "FAIL cannot lay out the sample package"
    exit 1
fi
# The checked product's own upgrade code, and the sample's, which no
# vendor's product may have.
check_code=5D0C7E1A-2B3C-4D5E-8F90-A1B2C3D4E5F6
sample_code=7A5C0C31-5A3E-4D6B-9C1F-2E0B8D4A6F10
build() { # build OUT [HARDWARE-ID [VERSION [UPGRADE-CODE]]]: the sample package's setups into OUT
    "$source_dir/scripts/setups" "$release" "$work/package" zt-sample.inf "${2-$hardware_id}" "$1" \
        "ZT setups check" "${3-$version}" "${4-$check_code}" >"$1.log" 2>&1
}
# row MSI TABLE KEY: the table's row of that key, tab-separated (msiinfo
# writes CR LF line ends).
row() { msiinfo export "$1" "$2" | tr -d '\r' | awk -F'\t' -v key="$3" 'NR > 3 && $1 == key'; }
field() { cut -f"$1" <<<"$2"; }

# check_msi MSI: the driver's actions, as the template means them.
check_msi() {
    local msi=$1 action data type sequence files name
    action=$(row "$msi" CustomAction InstallDriver)
    data=$(row "$msi" CustomAction InstallDriver.Data)
    type=$(field 2 "$action")
    if [ -z "$type" ] || [ -z "$data" ]; then
        echo "     no InstallDriver action or no data for it"
        return 1
    fi
    echo "     InstallDriver: type $type, $(field 3-4 "$action"); its data: type $(field 2 "$data")"
    # 1: a DLL stored in the Binary table; 0x400: deferred (in the script);
    # 0x800: not impersonated; 0x40 (continue: the result ignored), 0x100 and
    # 0x200 (rollback, commit only) unset.
    if [ $((type & 0x3F)) -ne 1 ] || [ $((type & 0x400)) -eq 0 ] || [ $((type & 0x800)) -eq 0 ] ||
        [ $((type & 0x340)) -ne 0 ]; then
        echo "     not a deferred, checked, not impersonated call of a stored DLL"
        return 1
    fi
    if [ "$(field 3-4 "$action")" != "ZeltraneMsiAction	InstallDriver" ] ||
        ! cmp -s <(unzip -p "$release" '*/setups/ZeltraneMsiAction.dll') \
            <(msiinfo extract "$msi" Binary.ZeltraneMsiAction); then
        echo "     does not call InstallDriver of the release's ZeltraneMsiAction.dll"
        return 1
    fi
    # 51: sets a property, here the deferred action's CustomActionData.
    if [ $(($(field 2 "$data") & 0x3F)) -ne 51 ] || [ "$(field 3 "$data")" != InstallDriver ] ||
        [ "$(field 4 "$data")" != "[DriverDir]|zt-sample.inf|[ZeltraneNoDevice]|[ZeltranePackage]|[ZeltraneSupersede]|[ZeltraneOlder]|[ZeltraneSuperseded]|$hardware_id" ]; then
        echo "     its data is not the package's installed folder, the INF, the checked setting, the digests, the older versions and the IDs"
        return 1
    fi
    for name in InstallDriver.Data InstallDriver; do
        [ "$(field 2 "$(row "$msi" InstallExecuteSequence "$name")")" = \
            "NOT Installed AND NOT UPGRADINGPRODUCTCODE" ] ||
            { echo "     $name may run on a repair or a removal, or while an upgrade removes this product"; return 1; }
    done
    sequence() { field 3 "$(row "$msi" InstallExecuteSequence "$1")"; }
    sequence=$(sequence InstallDriver)
    echo "     sequence: CostFinalize $(sequence CostFinalize), InstallFiles $(sequence InstallFiles)," \
        "InstallDriver.Data $(sequence InstallDriver.Data), InstallDriver $sequence," \
        "InstallFinalize $(sequence InstallFinalize)"
    if [ "$sequence" -le "$(sequence InstallFiles)" ] || [ "$sequence" -ge "$(sequence InstallFinalize)" ]; then
        echo "     not between InstallFiles and InstallFinalize"
        return 1
    fi
    # The installed paths are known from CostFinalize on.
    if [ "$(sequence InstallDriver.Data)" -ge "$sequence" ] ||
        [ "$(sequence InstallDriver.Data)" -le "$(sequence CostFinalize)" ]; then
        echo "     its data not set between CostFinalize and the action"
        return 1
    fi
    files=$(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $3 }' | LC_ALL=C sort | tr '\n' ' ')
    [ "$files" = "LICENSE Zeltrane.exe Zeltrane.exe Zeltrane.exe ZeltraneCreate.exe ZeltraneCreate.exe ZeltraneCreate.exe ZeltraneRemove.exe ZeltraneRemove.exe ZeltraneRemove.exe zt-sample.cat zt-sample.inf zt-sample.sys zt-sample.sys zt-sample.sys " ] ||
        { echo "     files: $files"; return 1; }
}

# check_digests MSI: ZeltranePackage lists each file that the MSI installs
# in its driver folder, nothing else, with the SHA-256 of its bytes.
check_digests() {
    local msi=$1 listed extracted
    listed=$(property "$msi" ZeltranePackage | tr '*' '\n' | paste - - | tr '\134' / | LC_ALL=C sort)
    rm -rf "$work/extracted"
    msiextract -C "$work/extracted" "$msi" >/dev/null || return 1
    extracted=$(cd "$work/extracted"/*/*/driver && find . -type f | sed 's|^\./||' | LC_ALL=C sort |
        while read -r file; do printf '%s\t%s\n' "$file" "$(sha256sum <"$file" | cut -d' ' -f1)"; done)
    echo "     ZeltranePackage: $(wc -l <<<"$listed") files, the package's: $(wc -l <<<"$extracted")"
    [ -n "$extracted" ] && [ "$listed" = "$extracted" ]
}

# check_removal MSI: the removal's actions, as the template means them.
check_removal() {
    local msi=$1 action data restart condition='REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE' name
    action=$(row "$msi" CustomAction RemoveDriver)
    data=$(row "$msi" CustomAction RemoveDriver.Data)
    restart=$(row "$msi" CustomAction ScheduleRestart)
    echo "     RemoveDriver: type $(field 2 "$action"); its data: type $(field 2 "$data"), $(field 4 "$data"); ScheduleRestart: type $(field 2 "$restart")"
    # As InstallDriver: a stored DLL, deferred, not impersonated, checked.
    if [ "$(field 3-4 "$action")" != "ZeltraneMsiAction	RemoveDriver" ] ||
        [ $(($(field 2 "$action") & 0xF7F)) -ne $((0xC01)) ]; then
        echo "     not a deferred, checked, not impersonated call of RemoveDriver"
        return 1
    fi
    if [ $(($(field 2 "$data") & 0x3F)) -ne 51 ] || [ "$(field 3 "$data")" != RemoveDriver ] ||
        [ "$(field 4 "$data")" != "zt-sample.inf|[ZeltraneOnUninstall]" ]; then
        echo "     its data is not the INF's own name and the setting"
        return 1
    fi
    # ScheduleRestart: a stored DLL, immediate (not in the script), checked.
    if [ "$(field 3-4 "$restart")" != "ZeltraneMsiAction	ScheduleRestart" ] ||
        [ $(($(field 2 "$restart") & 0x77F)) -ne 1 ]; then
        echo "     ScheduleRestart is not an immediate, checked call"
        return 1
    fi
    for name in RemoveDriver.Data RemoveDriver; do
        [ "$(field 2 "$(row "$msi" InstallExecuteSequence "$name")")" = "$condition" ] ||
            { echo "     $name may run but when the product is removed, or on an upgrade"; return 1; }
    done
    [ "$(field 2 "$(row "$msi" InstallExecuteSequence ScheduleRestart)")" = \
        "(NOT Installed OR REMOVE=\"ALL\") AND NOT UPGRADINGPRODUCTCODE" ] ||
        { echo "     ScheduleRestart may run on a repair, or on an upgrade"; return 1; }
    sequence() { field 3 "$(row "$msi" InstallExecuteSequence "$1")"; }
    echo "     sequence: InstallInitialize $(sequence InstallInitialize), RemoveDriver.Data $(sequence RemoveDriver.Data), RemoveDriver $(sequence RemoveDriver), RemoveFiles $(sequence RemoveFiles), InstallFinalize $(sequence InstallFinalize), ScheduleRestart $(sequence ScheduleRestart)"
    if [ "$(sequence RemoveDriver)" -le "$(sequence InstallInitialize)" ] ||
        [ "$(sequence RemoveDriver)" -ge "$(sequence RemoveFiles)" ] ||
        [ "$(sequence RemoveDriver.Data)" -ge "$(sequence RemoveDriver)" ] ||
        [ "$(sequence RemoveDriver.Data)" -le "$(sequence CostFinalize)" ]; then
        echo "     the removal or its data not in place before RemoveFiles"
        return 1
    fi
    [ "$(sequence ScheduleRestart)" -gt "$(sequence InstallFinalize)" ] ||
        { echo "     ScheduleRestart runs before the script"; return 1; }
}
# check_locks MSI: INSTALLDIR, the folders under it and every file locked.
check_locks() {
    local msi=$1 folder=O:BAG:SYD:P\(A\;OICI\;FA\;\;\;SY\)\(A\;OICI\;FA\;\;\;BA\)\(A\;OICI\;0x1200a9\;\;\;BU\)
    local file=O:BAG:SYD:P\(A\;\;FA\;\;\;SY\)\(A\;\;FA\;\;\;BA\)\(A\;\;0x1200a9\;\;\;BU\)
    # The driver folder, what it holds and its files: nothing for Users.
    local driver_folder=O:BAG:SYD:P\(A\;OICI\;FA\;\;\;SY\)\(A\;OICI\;FA\;\;\;BA\)
    local driver_file=O:BAG:SYD:P\(A\;\;FA\;\;\;SY\)\(A\;\;FA\;\;\;BA\)
    local locks folders drivers directory name count=0
    locks=$(msiinfo export "$msi" MsiLockPermissionsEx 2>/dev/null | tr -d '\r' | awk 'NR > 3')
    if msiinfo tables "$msi" | grep -qx LockPermissions; then
        echo "     a LockPermissions table too: Windows Installer 5.0 fails the installation (1941)"
        return 1
    fi
    # The folders: INSTALLDIR and every Directory whose parents lead to it.
    folders=$(msiinfo export "$msi" Directory | tr -d '\r' | awk -F'\t' 'NR > 3 { parent[$1] = $2 }
        END { for (d in parent) { p = d; while (p != "" && p != "INSTALLDIR") p = parent[p]
              if (p == "INSTALLDIR") print d } }' | LC_ALL=C sort)
    drivers=$(msiinfo export "$msi" Directory | tr -d '\r' | awk -F'\t' 'NR > 3 { parent[$1] = $2 }
        END { for (d in parent) { p = d; while (p != "" && p != "DriverDir") p = parent[p]
              if (p == "DriverDir") print d } }')
    [ -n "$drivers" ] || { echo "     no driver folder"; return 1; }
    local expected
    for directory in $folders; do
        expected=$folder
        ! grep -qxF "$directory" <<<"$drivers" || expected=$driver_folder
        if [ -z "$(msiinfo export "$msi" CreateFolder | tr -d '\r' | awk -F'\t' -v d="$directory" 'NR > 3 && $1 == d')" ] ||
            ! grep -qxF "$(printf '%s\t%s\tCreateFolder\t%s\t' "Folder.$directory" "$directory" "$expected")" <<<"$locks"; then
            echo "     the folder $directory is not created and locked"
            return 1
        fi
        count=$((count + 1))
    done
    # File: its component; Component: its folder.
    local component
    while IFS=$'\t' read -r name component; do
        expected=$file
        ! grep -qxF "$(field 3 "$(row "$msi" Component "$component")")" <<<"$drivers" ||
            expected=$driver_file
        grep -qxF "$(printf '%s\t%s\tFile\t%s\t' "File.$name" "$name" "$expected")" <<<"$locks" ||
            { echo "     the file $name is not locked"; return 1; }
        count=$((count + 1))
    done < <(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $1 "\t" $2 }')
    [ "$(wc -l <<<"$locks")" -eq "$count" ] || { echo "     locks for other objects"; return 1; }
    sequence() { field 3 "$(row "$msi" InstallExecuteSequence "$1")"; }
    echo "     $count objects locked; CreateFolders $(sequence CreateFolders), InstallFiles $(sequence InstallFiles)"
    if [ -z "$(sequence CreateFolders)" ] || [ "$(sequence CreateFolders)" -ge "$(sequence InstallFiles)" ]; then
        echo "     CreateFolders does not make the folders before InstallFiles"
        return 1
    fi
}
setting() { field 2 "$(row "$1" Property ZELTRANE_NO_DEVICE)"; }
property() { field 2 "$(row "$1" Property "$2")"; }

# check_upgrade MSI: the major upgrade, as the template means it.
check_upgrade() {
    local msi=$1 code rows table property
    code=$(property "$msi" UpgradeCode)
    [ "$code" != "{$sample_code}" ] || { echo "     the sample's upgrade code, no product's own"; return 1; }
    # UpgradeCode VersionMin VersionMax Language Attributes Remove ActionProperty;
    # 0x100: VersionMin inclusive; 0x2: only detect.
    rows=$(msiinfo export "$msi" Upgrade | tr -d '\r' | awk 'NR > 3' | LC_ALL=C sort)
    echo "     Upgrade: $(tr '\t\n' ' ;' <<<"$rows")"
    if [ "$rows" != "$(printf '%s\t0.0.0\t%s\t\t256\t\tZELTRANE_OLDER_FOUND\n%s\t%s\t\t\t2\t\tZELTRANE_NEWER_FOUND' \
        "$code" "$version" "$code" "$version")" ]; then
        echo "     not: older versions of the upgrade code removed, newer ones only detected"
        return 1
    fi
    for property in ZELTRANE_OLDER_FOUND ZELTRANE_NEWER_FOUND; do
        [[ ";$(property "$msi" SecureCustomProperties);" == *";$property;"* ]] ||
            { echo "     $property is not secure"; return 1; }
    done
    [ "$(field 1 "$(row "$msi" LaunchCondition 'NOT ZELTRANE_NEWER_FOUND')")" = "NOT ZELTRANE_NEWER_FOUND" ] ||
        { echo "     no launch condition refuses a newer version"; return 1; }
    in_sequence() { field 3 "$(row "$msi" "$1" "$2")"; }
    for table in InstallExecuteSequence InstallUISequence; do
        echo "     $table: FindRelatedProducts $(in_sequence "$table" FindRelatedProducts), LaunchConditions $(in_sequence "$table" LaunchConditions)"
        if [ -z "$(in_sequence "$table" FindRelatedProducts)" ] ||
            [ "$(in_sequence "$table" FindRelatedProducts)" -ge "$(in_sequence "$table" LaunchConditions)" ]; then
            echo "     $table: FindRelatedProducts not before LaunchConditions"
            return 1
        fi
    done
    local remove execute initialize
    remove=$(in_sequence InstallExecuteSequence RemoveExistingProducts)
    execute=$(in_sequence InstallExecuteSequence InstallExecute)
    initialize=$(in_sequence InstallExecuteSequence InstallInitialize)
    echo "     InstallDriver $(in_sequence InstallExecuteSequence InstallDriver), InstallExecute $execute, RemoveExistingProducts $remove, InstallFinalize $(in_sequence InstallExecuteSequence InstallFinalize)"
    # The older version removed only once this one's files and driver are
    # in place, in the same transaction: a failed installation keeps it.
    if [ -z "$remove" ] || [ -z "$execute" ] ||
        [ "$execute" -le "$(in_sequence InstallExecuteSequence InstallDriver)" ] ||
        [ "$remove" -le "$execute" ] ||
        [ "$remove" -ge "$(in_sequence InstallExecuteSequence InstallFinalize)" ]; then
        echo "     RemoveExistingProducts not between InstallExecute, after InstallDriver, and InstallFinalize"
        return 1
    fi
    local check
    check=$(row "$msi" CustomAction CheckSettings)
    echo "     CheckSettings: type $(field 2 "$check"), $(in_sequence InstallExecuteSequence CheckSettings)"
    if [ "$(field 3-4 "$check")" != "ZeltraneMsiAction	CheckSettings" ] ||
        [ $(($(field 2 "$check") & 0x3F)) -ne 1 ] || [ $(($(field 2 "$check") & 0x440)) -ne 0 ] ||
        [ "$(field 2 "$(row "$msi" InstallExecuteSequence CheckSettings)")" != "NOT UPGRADINGPRODUCTCODE" ] ||
        [ "$(in_sequence InstallExecuteSequence CheckSettings)" -le "$(in_sequence InstallExecuteSequence FindRelatedProducts)" ] ||
        [ "$(in_sequence InstallExecuteSequence CheckSettings)" -ge "$initialize" ]; then
        echo "     CheckSettings is not an immediate, checked call on every run, between FindRelatedProducts and InstallInitialize"
        return 1
    fi
    local find
    find=$(row "$msi" CustomAction FindSupersededPackages)
    echo "     FindSupersededPackages: type $(field 2 "$find"), $(in_sequence InstallExecuteSequence FindSupersededPackages)"
    # 1: a stored DLL; 0x400 (deferred) and 0x40 (its result ignored) unset.
    if [ "$(field 3-4 "$find")" != "ZeltraneMsiAction	FindSupersededPackages" ] ||
        [ $(($(field 2 "$find") & 0x3F)) -ne 1 ] || [ $(($(field 2 "$find") & 0x440)) -ne 0 ]; then
        echo "     FindSupersededPackages is not an immediate, checked call of the DLL"
        return 1
    fi
    [ "$(field 2 "$(row "$msi" InstallExecuteSequence FindSupersededPackages)")" = \
        "NOT Installed AND NOT UPGRADINGPRODUCTCODE" ] ||
        { echo "     FindSupersededPackages runs beyond a first installation"; return 1; }
    find=$(in_sequence InstallExecuteSequence FindSupersededPackages)
    if [ "$find" -le "$(in_sequence InstallExecuteSequence CheckSettings)" ] || [ "$find" -ge "$initialize" ]; then
        echo "     FindSupersededPackages not between CheckSettings and InstallInitialize"
        return 1
    fi
}

refused() { ! check_msi "$1"; }
digests_refused() { ! check_digests "$1"; }
upgrade_refused() { ! check_upgrade "$1"; }
removal_refused() { ! check_removal "$1"; }
locks_refused() { ! check_locks "$1"; }

if ! build "$work/sample"; then
    cat "$work/sample.log"
    exit 1
fi
check "the MSI installs the driver as the template means it" check_msi "$work/sample/driver-setup.msi"
check "the MSI records the SHA-256 of each file of the driver package" check_digests "$work/sample/driver-setup.msi"
check "the MSI replaces older versions and refuses newer ones" check_upgrade "$work/sample/driver-setup.msi"
check "the MSI's setting defaults to succeed" test "$(setting "$work/sample/driver-setup.msi")" = succeed
check "the MSI takes the driver back when the product is removed" check_removal "$work/sample/driver-setup.msi"
check "the MSI locks INSTALLDIR, every folder under it and every file" check_locks "$work/sample/driver-setup.msi"
check "the MSI's removal setting defaults to remove" \
    test "$(property "$work/sample/driver-setup.msi" ZELTRANE_ON_UNINSTALL)" = remove
check "the MSI's product code is noted beside it" \
    grep -qxE '\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}' "$work/sample/driver-setup.msi.productcode"
# The NSIS setup sets its folder's and its driver folder's descriptors
# itself, where the MSI has rows (and Wine keeps no descriptor of a file to
# read back): the MSI's own, which check_locks holds to the rules.
nsis_define() { sed -nE "s/^!define $1 \"(.*)\"$/\1/p" "$source_dir/examples/setups/driver-setup.nsi"; }
msi_lock() { field 4 "$(row "$work/sample/driver-setup.msi" MsiLockPermissionsEx "Folder.$1")"; }
check "the NSIS setup gives its folder the MSI's descriptor of INSTALLDIR" \
    test "$(nsis_define FOLDER_SDDL)" = "$(msi_lock INSTALLDIR)"
check "the NSIS setup gives its driver folder the MSI's descriptor of DriverDir" \
    test "$(nsis_define DRIVER_SDDL)" = "$(msi_lock DriverDir)"
headers=$(llvm-readobj --file-headers "$work/sample/driver-setup.exe" 2>/dev/null)
check "the NSIS setup is a 32-bit Windows program" \
    grep -qE 'Machine: IMAGE_FILE_MACHINE_I386 ' <<<"$headers"
check "the batch folder holds the batch file, the release layout and the package" test \
    "$(cd "$work/sample/batch" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" = \
    "./LICENSE ./Zeltrane.exe ./ZeltraneCreate.exe ./ZeltraneRemove.exe ./arm64/Zeltrane.exe ./arm64/ZeltraneCreate.exe ./arm64/ZeltraneRemove.exe ./driver/amd64/zt-sample.sys ./driver/arm64/zt-sample.sys ./driver/x86/zt-sample.sys ./driver/zt-sample.cat ./driver/zt-sample.inf ./install-driver.cmd ./uninstall-driver.cmd ./x64/Zeltrane.exe ./x64/ZeltraneCreate.exe ./x64/ZeltraneRemove.exe "

if ZELTRANE_NO_DEVICE=fail build "$work/fail"; then
    check "ZELTRANE_NO_DEVICE=fail reaches the MSI's setting" test "$(setting "$work/fail/driver-setup.msi")" = fail
else
    check "ZELTRANE_NO_DEVICE=fail builds" false
fi
if ZELTRANE_NO_DEVICE=create build "$work/create"; then
    check "ZELTRANE_NO_DEVICE=create reaches the MSI's setting" test "$(setting "$work/create/driver-setup.msi")" = create
else
    check "ZELTRANE_NO_DEVICE=create builds" false
fi
ZELTRANE_NO_DEVICE=never build "$work/never"
check "scripts/setups refuses a setting but succeed, fail and create" test $? -eq 2
if ZELTRANE_ON_UNINSTALL=keep build "$work/keep"; then
    check "ZELTRANE_ON_UNINSTALL=keep reaches the MSI's property" \
        test "$(property "$work/keep/driver-setup.msi" ZELTRANE_ON_UNINSTALL)" = keep
else
    check "ZELTRANE_ON_UNINSTALL=keep builds" false
fi
ZELTRANE_ON_UNINSTALL=never build "$work/never"
check "scripts/setups refuses a removal setting but remove and keep" test $? -eq 2
check "the MSI's upgrade setting defaults to remove" \
    test "$(property "$work/sample/driver-setup.msi" ZELTRANE_SUPERSEDED)" = remove
if ZELTRANE_SUPERSEDED=keep build "$work/superseded-keep"; then
    check "ZELTRANE_SUPERSEDED=keep reaches the MSI's property" \
        test "$(property "$work/superseded-keep/driver-setup.msi" ZELTRANE_SUPERSEDED)" = keep
else
    check "ZELTRANE_SUPERSEDED=keep builds" false
fi
ZELTRANE_SUPERSEDED=never build "$work/never"
check "scripts/setups refuses an upgrade setting but remove and keep" test $? -eq 2
build "$work/no-id" ";"
check "scripts/setups refuses a list that names no hardware ID" test $? -eq 2
# OUT-DIR is deleted first: one that holds an input is refused, nothing deleted.
build "$work"
check "scripts/setups refuses an output folder that holds its package" \
    test $? -eq 2 -a -f "$work/package/zt-sample.inf"
# Windows names files without case: two names that differ only in it are refused.
rm -rf "$work/case-clash" && cp -R "$work/package" "$work/case-clash" &&
    printf a >"$work/case-clash/notes.txt" && printf b >"$work/case-clash/NOTES.TXT"
"$source_dir/scripts/setups" "$release" "$work/case-clash" zt-sample.inf "$hardware_id" \
    "$work/case-clash-out" "ZT setups check" "$version" "$check_code" >"$work/case-clash.log" 2>&1
check "scripts/setups refuses file names that differ only in case, naming them" \
    test $? -ne 0 -a -n "$(grep -l "differ only in case.*notes.txt" "$work/case-clash.log")"

if build "$work/again"; then
    check "a second build has the upgrade code and another product code" test \
        "$(property "$work/again/driver-setup.msi" UpgradeCode)" = "{$check_code}" -a \
        "$(property "$work/again/driver-setup.msi" ProductCode)" != "$(property "$work/sample/driver-setup.msi" ProductCode)"
else
    check "a second build of the same product" false
fi
# No default identity: scripts/setups and both templates stop, saying how to
# make one, and the sample's upgrade code is refused.
"$source_dir/scripts/setups" "$release" "$work/package" zt-sample.inf "$hardware_id" "$work/no-code" \
    "ZT setups check" >"$work/no-code.log" 2>&1
check "scripts/setups without an upgrade code stops, saying how to make one" \
    test $? -eq 2 -a -n "$(grep -l 'UPGRADE-CODE: the upgrade code is a GUID' "$work/no-code.log")"
build "$work/sample-code" "$hardware_id" 1.0.0 "$sample_code"
check "scripts/setups refuses the sample's upgrade code" test $? -eq 2
makensis -NOCD -V1 -DRELEASE_DIR=. -DPACKAGE_DIR=. -DINF_NAME=x.inf -DHARDWARE_ID=x -DPRODUCT_NAME=x \
    "$source_dir/examples/setups/driver-setup.nsi" >"$work/nsis-no-code.log" 2>&1
check "the NSIS template without an upgrade code stops, saying how to make one" \
    grep -q 'Define PRODUCT_NAME and UPGRADE_CODE' "$work/nsis-no-code.log"
wixl -a x86 -D ReleaseDir=. -D PackageDir=. -D InfName=x.inf -D HardwareId=x -D ProductName=x \
    -o "$work/no-code.msi" "$source_dir/examples/setups/driver-setup.wxs" >"$work/wixl-no-code.log" 2>&1
check "the WiX source without an upgrade code stops, saying how to make one" \
    grep -q "UpgradeCode must be your product's own GUID" "$work/wixl-no-code.log"
build "$work/given" "$hardware_id" 1.0.0 '{0d1e2f30-4152-6374-8596-a7b8c9daebfc}'
check "a given version and upgrade code reach the MSI" test \
    "$(property "$work/given/driver-setup.msi" ProductVersion) $(property "$work/given/driver-setup.msi" UpgradeCode)" = \
    "1.0.0 {0D1E2F30-4152-6374-8596-A7B8C9DAEBFC}"
for bad in 1.0 1.0.0.0 256.0.0 1.0.65536 v1.0.0; do
    build "$work/bad-version" "$hardware_id" "$bad"
    check "scripts/setups refuses the version $bad" test $? -eq 2
done
build "$work/bad-code" "$hardware_id" 1.0.0 not-a-guid
check "scripts/setups refuses an upgrade code that is not a GUID" test $? -eq 2
# The package's catalog: a package that it does not list is refused before
# anything is built, naming the file; one without CatalogFile is built, with
# a warning.
# catalog_case NAME EDIT SAID: scripts/setups around a copy of the package
# changed by EDIT (a command run in it) must end with 2 and say SAID.
catalog_case() {
    rm -rf "$work/catalog-$1" && cp -R "$work/package" "$work/catalog-$1" &&
        (cd "$work/catalog-$1" && eval "$2") &&
        "$source_dir/scripts/setups" "$release" "$work/catalog-$1" zt-sample.inf "$hardware_id" \
            "$work/catalog-$1-out" "ZT setups check" "$version" "$check_code" >"$work/catalog-$1.log" 2>&1
    local status=$?
    check "scripts/setups refuses $1, naming it" test "$status" -eq 2 -a ! -e "$work/catalog-$1-out" \
        -a -n "$(grep -lF "$3" "$work/catalog-$1.log")"
}
catalog_case "a changed INF" "echo '; changed' >>zt-sample.inf" \
    "zt-sample.inf: changed after zt-sample.cat was made"
catalog_case "a driver that the catalog does not list" "printf x >>x86/zt-sample.sys" \
    "x86/zt-sample.sys: changed after zt-sample.cat was made"
catalog_case "a referenced file that is missing" "rm arm64/zt-sample.sys" \
    "zt-sample.inf:31: arm64/zt-sample.sys is not in the package"
catalog_case "a missing catalog" "rm zt-sample.cat" "zt-sample.cat: no such catalog"
rm -rf "$work/no-catalog" && cp -R "$work/package" "$work/no-catalog" &&
    sed -i '/^CatalogFile/d' "$work/no-catalog/zt-sample.inf" && rm "$work/no-catalog/zt-sample.cat"
"$source_dir/scripts/setups" "$release" "$work/no-catalog" zt-sample.inf "$hardware_id" \
    "$work/no-catalog-out" "ZT setups check" "$version" "$check_code" >"$work/no-catalog.log" 2>&1
check "scripts/setups builds a package without CatalogFile, warning what Windows does" \
    test $? -eq 0 -a -f "$work/no-catalog-out/driver-setup.msi" -a \
    -n "$(grep -l 'names no CatalogFile: Windows installs an unsigned package only after a warning' "$work/no-catalog.log")"

# One fault each, in a copy of the MSI: the check must see it.
# fault_copy QUERIES: a copy of the sample MSI, its path in $copy, with the
# queries written into it: separated by |, CODE standing for its upgrade code
# (a key column changes only by a row deleted and written again) and PIPE for
# a | in a value.
fault_copy() {
    local query queries
    copy=$work/fault-$((++faults)).msi
    cp "$work/sample/driver-setup.msi" "$copy"
    IFS='|' read -r -a queries <<<"${1//CODE/$(property "$copy" UpgradeCode)}"
    for query in "${queries[@]}"; do
        query=${query//PIPE/|}
        msibuild "$copy" -q "$query" || { echo "FAIL cannot write the fault: $query"; exit 1; }
    done
}
for fault in "InstallExecuteSequence SET Sequence = 1 WHERE Action = 'InstallDriver':placed before InstallInitialize" \
    "InstallExecuteSequence SET Sequence = 6601 WHERE Action = 'InstallDriver':placed after InstallFinalize" \
    "CustomAction SET Type = 2049 WHERE Action = 'InstallDriver':run at once, not deferred" \
    "CustomAction SET Type = 1025 WHERE Action = 'InstallDriver':impersonated" \
    "CustomAction SET Type = 3137 WHERE Action = 'InstallDriver':ignoring its result" \
    "CustomAction SET Type = 3090, Source = 'Zeltrane.exe' WHERE Action = 'InstallDriver':running Zeltrane.exe itself" \
    "InstallExecuteSequence SET Condition = '(NOT Installed OR REINSTALL) AND NOT UPGRADINGPRODUCTCODE' WHERE Action = 'InstallDriver':running on a repair" \
    "CustomAction SET Target = '[INSTALLDIR]Zeltrane.exePIPE[DriverDir]PIPEzt-sample.infPIPE[ZELTRANE_NO_DEVICE]PIPE[ZeltranePackage]PIPE$hardware_id' WHERE Action = 'InstallDriver.Data':data naming a program under INSTALLDIR" \
    "CustomAction SET Target = '[DriverDir]zt-sample.infPIPE[ZELTRANE_NO_DEVICE]PIPE$hardware_id' WHERE Action = 'InstallDriver.Data':data without the package's digests, as 1.8.0's" \
    "InstallExecuteSequence SET Sequence = 6591 WHERE Action = 'InstallDriver.Data':data set after it" \
    "InstallExecuteSequence SET Sequence = 1 WHERE Action = 'InstallDriver.Data':data set before CostFinalize" \
    "CustomAction SET Target = '[DriverDir]PIPEzt-sample.infPIPE[ZELTRANE_NO_DEVICE]PIPE[ZeltranePackage]PIPE[ZeltraneSupersede]PIPE[ZELTRANE_OLDER_FOUND]PIPE[ZeltraneSuperseded]PIPE$hardware_id' WHERE Action = 'InstallDriver.Data':data naming public properties, as 1.10.0's"; do
    fault_copy "UPDATE ${fault%%:*}"
    check "an MSI with its action ${fault#*:} is refused" refused "$copy"
done
fault_copy "DELETE FROM Property WHERE Property = 'ZeltranePackage'"
check "an MSI without the package's digests is refused" digests_refused "$copy"
digest=$(property "$work/sample/driver-setup.msi" ZeltranePackage | cut -d'*' -f2)
fault_copy "UPDATE Property SET Value = '$(property "$work/sample/driver-setup.msi" ZeltranePackage |
    sed "s/$digest/$(tr 0-9a-f 1-9a-f0 <<<"$digest")/")' WHERE Property = 'ZeltranePackage'"
check "an MSI whose digest does not match its file is refused" digests_refused "$copy"
for fault in "InstallExecuteSequence SET Sequence = 3501 WHERE Action = 'RemoveDriver':placed after RemoveFiles" \
    "InstallExecuteSequence SET Sequence = 1499 WHERE Action = 'RemoveDriver':placed before InstallInitialize" \
    "CustomAction SET Type = 2049 WHERE Action = 'RemoveDriver':run at once, not deferred" \
    "CustomAction SET Type = 1025 WHERE Action = 'RemoveDriver':impersonated" \
    "CustomAction SET Type = 3137 WHERE Action = 'RemoveDriver':ignoring its result" \
    "InstallExecuteSequence SET Condition = 'REMOVE=\"ALL\"' WHERE Action = 'RemoveDriver':run on an upgrade's removal" \
    "CustomAction SET Target = '[INSTALLDIR]ZeltraneRemove.exePIPE[DriverDir]zt-sample.infPIPE[ZELTRANE_ON_UNINSTALL]' WHERE Action = 'RemoveDriver.Data':data naming a program under INSTALLDIR" \
    "CustomAction SET Type = 3073 WHERE Action = 'ScheduleRestart':restart request in the script" \
    "InstallExecuteSequence SET Condition = 'NOT Installed OR REMOVE=\"ALL\"' WHERE Action = 'ScheduleRestart':restart request on an upgrade's removal"; do
    fault_copy "UPDATE ${fault%%:*}"
    check "an MSI with its removal ${fault#*:} is refused" removal_refused "$copy"
done
# A file of the package, which the driver folder holds.
package_file=$(msiinfo export "$work/sample/driver-setup.msi" File | tr -d '\r' | awk -F'\t' 'NR > 3 && $3 ~ /\.inf$/ { print $1; exit }')
for fault in "DELETE FROM MsiLockPermissionsEx WHERE LockObject = 'INSTALLDIR':INSTALLDIR without its permission row" \
    "DELETE FROM MsiLockPermissionsEx WHERE LockObject = 'Zeltrane.exe':Zeltrane.exe without its permission row" \
    "UPDATE MsiLockPermissionsEx SET SDDLText = 'O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;BU)' WHERE LockObject = 'ZeltraneRemove.exe':a file that Users may write" \
    "UPDATE MsiLockPermissionsEx SET SDDLText = 'O:BAG:SYD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)' WHERE LockObject = 'X64Dir':a folder that inherits its parent's permissions" \
    "UPDATE MsiLockPermissionsEx SET SDDLText = 'O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)' WHERE LockObject = 'DriverDir':a driver folder that Users may read" \
    "UPDATE MsiLockPermissionsEx SET SDDLText = 'O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)' WHERE LockObject = '$package_file':a package file that Users may read" \
    "DELETE FROM InstallExecuteSequence WHERE Action = 'CreateFolders':no CreateFolders action"; do
    # The descriptors hold ':': the description follows the last one.
    fault_copy "${fault%:*}"
    check "an MSI with ${fault##*:} is refused" locks_refused "$copy"
done
for fault in "UPDATE InstallExecuteSequence SET Sequence = 6601 WHERE Action = 'RemoveExistingProducts':RemoveExistingProducts after InstallFinalize" \
    "UPDATE InstallExecuteSequence SET Sequence = 1401 WHERE Action = 'RemoveExistingProducts':the older version removed before this one is installed" \
    "DELETE FROM InstallExecuteSequence WHERE Action = 'InstallExecute':no InstallExecute before the older version's removal" \
    "UPDATE InstallExecuteSequence SET Sequence = 101 WHERE Action = 'FindRelatedProducts':FindRelatedProducts after LaunchConditions" \
    "DELETE FROM Upgrade WHERE ActionProperty = 'ZELTRANE_OLDER_FOUND'|INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) VALUES ('CODE', '0.0.0', '$version', 258, 'ZELTRANE_OLDER_FOUND'):older versions only detected, not removed" \
    "DELETE FROM Upgrade WHERE ActionProperty = 'ZELTRANE_NEWER_FOUND'|INSERT INTO Upgrade (UpgradeCode, VersionMin, Attributes, ActionProperty) VALUES ('CODE', '$version', 0, 'ZELTRANE_NEWER_FOUND'):newer versions removed" \
    "DELETE FROM LaunchCondition:no launch condition" \
    "UPDATE InstallExecuteSequence SET Sequence = 1501 WHERE Action = 'FindSupersededPackages':the older records read once the script is under way" \
    "UPDATE CustomAction SET Type = 3073 WHERE Action = 'FindSupersededPackages':the older records read in the script" \
    "UPDATE InstallExecuteSequence SET Sequence = 1501 WHERE Action = 'CheckSettings':the settings checked once the script is under way" \
    "UPDATE Property SET Value = '{$sample_code}' WHERE Property = 'UpgradeCode'|DELETE FROM Upgrade|INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, Attributes, ActionProperty) VALUES ('{$sample_code}', '0.0.0', '$version', 256, 'ZELTRANE_OLDER_FOUND')|INSERT INTO Upgrade (UpgradeCode, VersionMin, Attributes, ActionProperty) VALUES ('{$sample_code}', '$version', 2, 'ZELTRANE_NEWER_FOUND'):the sample's upgrade code" \
    "UPDATE CustomAction SET Type = 65 WHERE Action = 'CheckSettings':the settings' check ignored"; do
    fault_copy "${fault%%:*}"
    check "an MSI with ${fault#*:} is refused" upgrade_refused "$copy"
done

# Signed with the throwaway certificate of the release check.
verify() { osslsigncode verify -CAfile "$signing/root.pem" -in "$1" >"$1.verify" 2>&1; }
if ZELTRANE_SIGN_PKCS12=$signing/signer.p12 ZELTRANE_SIGN_PASSWORD_FILE=$signing/password \
    build "$work/signed"; then
    check "says that the setups are signed" grep -q '; signed$' "$work/signed.log"
    check "the NSIS setup verifies against the test root" verify "$work/signed/driver-setup.exe"
    check "the MSI verifies against the test root" verify "$work/signed/driver-setup.msi"
    msiinfo extract "$work/signed/driver-setup.msi" Binary.ZeltraneMsiAction >"$work/signed/action.dll"
    check "the custom action in the MSI verifies against the test root" verify "$work/signed/action.dll"
    check "the signed MSI still installs the driver as the template means it" check_msi "$work/signed/driver-setup.msi"
    text=$(llvm-readobj --sections "$work/signed/driver-setup.exe" | awk '/Name: .text/ { found = 1 }
        found && /PointerToRawData/ { print $2; exit }')
    cp "$work/signed/driver-setup.exe" "$work/tampered.exe"
    python3 -c 'import sys; f = open(sys.argv[1], "r+b"); f.seek(int(sys.argv[2])); b = f.read(1)[0]
f.seek(int(sys.argv[2])); f.write(bytes([b ^ 0xFF]))' "$work/tampered.exe" $((text + 64))
    check "a changed byte of the NSIS setup breaks its signature" bash -c "! osslsigncode verify -CAfile '$signing/root.pem' -in '$work/tampered.exe' >/dev/null 2>&1"
    cp "$work/signed/driver-setup.msi" "$work/tampered.msi"
    msibuild "$work/tampered.msi" -q "UPDATE Property SET Value = 'fail' WHERE Property = 'ZELTRANE_NO_DEVICE'"
    check "a changed value in the MSI breaks its signature" bash -c "! osslsigncode verify -CAfile '$signing/root.pem' -in '$work/tampered.msi' >/dev/null 2>&1"
else
    cat "$work/signed.log"
    check "the setups build signed" false
fi
ZELTRANE_SIGN_PKCS12=$signing/signer.p12 ZELTRANE_SIGN_PASSWORD_FILE=$signing/password \
    "$source_dir/scripts/setups" "$(echo "$signing"/unsigned/*.zip)" "$work/package" zt-sample.inf \
    "$hardware_id" "$work/unsigned-release" "ZT setups check" >"$work/unsigned-release.log" 2>&1
check "signed setups around an unsigned release are refused: its custom action carries unsigned programs" \
    test $? -eq 2
check "unsigned without the settings, and says so" grep -q '; unsigned: ZELTRANE_SIGN_PKCS12 is not set$' "$work/sample.log"

echo "$failures failed"
[ "$failures" -eq 0 ]
