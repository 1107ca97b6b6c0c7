#pragma once

// After an upgrade: the packages of the versions that this one replaced.
// Each version records the published name of its package in its product's
// key (record.h). Before the upgrade removes the older products (those that
// CheckSettings found to be older versions of this one, settings.h), an
// immediate action reads their records (FindSupersededPackages, action.h)
// into the property ZeltraneSuperseded, which the installation's data
// carries to InstallDriver. After this version's installation succeeded,
// InstallDriver deletes each older package from the driver store with the
// carried ZeltraneRemove.exe OLD NEW, which deletes it only where it is not
// this version's own and no device is installed from it, and never takes a
// driver off a device. What stays (a device still uses it, a restart must
// finish the installation first, the deletion failed) is recorded with
// this version, whose removal, or the next upgrade, tries again; the older
// products' records go. What its removal cannot take either stays in a
// record of its own for the product line's next installation (record.h).
// A package that another product still uses (owners.h) is not theirs to
// delete: the older versions are taken off its record, and it stays. A
// deletion that fails never fails the installation.

#include <windows.h>

// clang-format off
#include <msi.h>
// clang-format on

#include "text.h"

// What InstallDriver's data says of the older versions: the setting
// ZELTRANE_SUPERSEDED, the older products' codes (ZeltraneOlder, as
// CheckSettings took them from ZELTRANE_OLDER_FOUND) and their packages'
// published names, each list separated by ';'.
struct Superseded {
    bool remove;
    wchar_t* products;
    wchar_t* names;
};

// Reads the setting; false (logged) where it is neither remove nor keep.
bool ReadSupersededSetting(MSIHANDLE install, const wchar_t* setting, Superseded& read);

// This version's INF: its own name, which an older package must have been
// staged from, and its path, which ZeltraneRemove.exe compares with it; and
// this product's code, by which it owns its package (owners.h).
struct ThisInf {
    const wchar_t* name;
    const wchar_t* path;
    const wchar_t* owner;
};

// After this version's installation succeeded: the older packages deleted
// where unused, unless the setting keeps them or a restart must finish the
// installation; what stays recorded in this product's key `key`, and the
// older products' records deleted.
void SupersedeOlderVersions(MSIHANDLE install, const Text& key, Superseded& older,
                            const ThisInf& inf, bool restart);

// When this product is removed: the older packages still recorded with it,
// each deleted where unused, before this version's own package (its
// published INF, and this product's code, in `inf`) goes.
void RemoveRecordedSuperseded(MSIHANDLE install, const Text& key, const ThisInf& inf);
