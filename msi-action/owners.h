#pragma once

// Which installed products use each staged package, so that the removal of
// one never takes a package that another still uses. Under HKLM, in a key
// that only SYSTEM and Administrators can open (the registry's 32-bit view,
// where the 32-bit actions and the NSIS setups run):
//   SOFTWARE\Zeltrane\Packages\<the SHA-256 of the package's INF, in hex>
//     \<owner>  a key of its own for each product that uses the package:
//               an MSI by its product code, an NSIS setup by
//               "NSIS <upgrade code> <product name>"
//       Catalog  REG_SZ, the SHA-256 of the catalog staged with it, in hex,
//                where the package has one (catalog.h): the same INF with
//                another catalog is another package, staged under a name
//                of its own. An owner without it (NSIS, 1.11.0) counts as
//                a user of each package of the INF.
// The INF's digest is the package's identity: the platform publishes the
// INF as it is, so that the published INF's bytes lead to the same record.
// Each MSI also records that digest in its product's key (Package), by
// which its removal knows that the recorded name is still its package. An
// MSI of 1.7.0 to 1.10.0 recorded only its published name (PublishedInf):
// it counts as a user of the package of that name.

#include <windows.h>

#include "digest.h"
#include "text.h"

const wchar_t kPackagesKey[] = L"SOFTWARE\\Zeltrane\\Packages";
const wchar_t kPackageValue[] = L"Package";

// The digest's hexadecimal digits, lower case, added to the text.
void AppendHex(Text& text, const BYTE (&digest)[kDigestSize]);

// The package's record, from its INF's digest.
void PackageRecord(const BYTE (&infDigest)[kDigestSize], Text& record);

// The record of the package whose published INF (a full path) that is,
// from its bytes; the error of the step that failed.
DWORD PublishedRecord(const wchar_t* published, Text& record);

// The record of the package that the product of that key installed, by the
// digest that its installation recorded as Package; false where it
// recorded none (1.10.0 and earlier).
bool RecordedOwnPackage(const Text& key, Text& record);

// Notes the owner in the package's record, with the staged catalog's
// digest where there is one (else empty), the packages' key made first
// where it is not there, open to SYSTEM and Administrators only.
LSTATUS AddOwner(const Text& record, const wchar_t* owner, const Text& catalog);

// Some of a package's owners: one, and a list of more separated by ';'
// (either may be empty).
struct Owners {
    const wchar_t* owner;
    const wchar_t* more;
};

// Takes the owners off the package's record, and the record where no owner
// is left.
void TakeOwnersOff(const Text& record, const Owners& owners);

// Who else uses the package published as `name`: the owners in its record
// but `owners` and those that recorded another catalog than its own, and the
// MSIs of 1.7.0 to 1.10.0 but `owners` whose record names the published name
// `name`; quoted, separated by ", ", into `users`, which stays empty where
// none does.
void OtherUsers(const Text& record, const wchar_t* name, const Owners& owners, Text& users);
