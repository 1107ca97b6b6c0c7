#pragma once

// What the setupapi stand-in's files share (setupapi.cpp, setupapi-verify.cpp).

#include <windows.h>
// This DLL defines the functions that it declares, rather than importing them.
#define _SETUPAPI_
// clang-format off
#include <setupapi.h>
// clang-format on

// The catalog that the INF names ([Version] CatalogFile, as Wine reads it),
// through Wine's own setupapi; false where it names none.
bool CatalogName(const wchar_t* inf, wchar_t (&name)[MAX_PATH]);
