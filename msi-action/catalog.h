#pragma once

// The package's catalog, as part of its identity. The platform stages a
// package's catalog with its INF: Windows keeps it as
//   <System>\CatRoot\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}\oemNN.cat
// beside the published oemNN.inf, and stages the same INF with another
// catalog (another signing, another product's) under a name of its own. A
// package with a catalog is therefore known by its INF and its catalog:
// the staged catalog is one of the package's catalogs at installation, and
// the one that the installation recorded (Catalog, the SHA-256 in hex) at
// its removal and upgrade. A package without one is known by its INF alone.

#include <windows.h>

#include "digest.h"
#include "package.h"
#include "text.h"

const wchar_t kCatalogValue[] = L"Catalog";

// The SHA-256 of the catalog that the platform staged with the published
// INF of that name (oemNN.inf), in hex, into `hex`; false where none can be
// read.
bool StagedCatalog(const wchar_t* publishedName, Text& hex);

// Whether the package lists a catalog (a file whose name ends in .cat).
bool HasCatalog(const Package& package);

// Whether the catalog staged with the published INF of that name is one of
// the package's, its digest in hex into `catalog`; or the package has none,
// and `catalog` stays empty.
bool StagedWithItsCatalog(const Package& package, const wchar_t* publishedName, Text& catalog);

// Whether the catalog staged with the published INF of that name is the
// one recorded as Catalog in the key (a product's, or an owner's in a
// package's record), where the key records one.
bool StagedWithRecordedCatalog(const Text& key, const wchar_t* publishedName);
