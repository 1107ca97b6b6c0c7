#pragma once

// The public settings and the older versions, as this MSI itself decides
// them, before anything changes. A public property may come from msiexec's
// command line, and ZELTRANE_OLDER_FOUND, which RemoveExistingProducts
// removes whatever it names, must be a secure property that a standard
// user's managed installation may set too. So an immediate action,
// CheckSettings (action.h), reads each setting once, refuses any value but
// its words, and hands the word over in a private property; it takes the
// older products only where each is an installed product of this MSI's
// UpgradeCode with a lower version than this one's, and hands them over in
// the private property ZeltraneOlder. The deferred actions' data is made of
// these private properties alone, each a word, a list of product codes or
// a list of published names, none of which can hold the data's separator.

#include <windows.h>

// clang-format off
#include <msi.h>
// clang-format on

// Where CheckSettings leaves what it decided.
const wchar_t kNoDeviceProperty[] = L"ZeltraneNoDevice";
const wchar_t kOnUninstallProperty[] = L"ZeltraneOnUninstall";
const wchar_t kSupersedeProperty[] = L"ZeltraneSupersede";
const wchar_t kOlderProperty[] = L"ZeltraneOlder";
// Where FindSupersededPackages leaves the older versions' packages, which
// CheckSettings empties first, so that no value from the command line stays.
const wchar_t kSupersededProperty[] = L"ZeltraneSuperseded";

// Whether the text is a product code as Windows Installer writes it,
// {GUID}: 38 characters, braces, hexadecimal digits and hyphens where a GUID
// has them. Read from a property or a record, it names a key under the
// products' key and no other.
bool IsProductCode(const wchar_t* code);
