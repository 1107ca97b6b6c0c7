// SetupVerifyInfFileW for the setupapi stand-in (setupapi.cpp): Windows
// Vista and later give it, and Wine's setupapi lacks it. Its verdict is what
// Wine's own catalog and trust code (wintrust, crypt32) says of the INF's
// catalog, read as Windows documents the answers for a package signed with
// Authenticode (the sandbox's roots are none of Microsoft's):
// - the INF names no catalog, or its catalog is not beside it:
//   ERROR_NO_CATALOG_FOR_OEM_INF;
// - the catalog does not list the INF by its hash:
//   ERROR_FILE_HASH_NOT_IN_CATALOG;
// - WinVerifyTrust refuses the member (TRUST_E_NOSIGNATURE for an unsigned
//   catalog): its answer; a chain to a root that the machine does not
//   trust, for which Wine 8 and 10 answer success and note it in the chain
//   that they built, where Windows answers CERT_E_UNTRUSTEDROOT: that;
// - signed by a certificate in the Disallowed store:
//   ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED; in the TrustedPublisher store
//   (the current user's or the machine's): ERROR_AUTHENTICODE_TRUSTED_PUBLISHER;
//   otherwise ERROR_AUTHENTICODE_TRUST_NOT_ESTABLISHED, the answer on which
//   Windows would ask the user whether to trust the publisher.
// Every call adds a line with the INF and its verdict (UTF-8) to
// C:\windows\temp\setupapi-verified.txt, so that a test can see it.

// clang-format off
// windows.h first (through the stand-in's header), then what mscat.h and
// softpub.h need before them.
#include "setupapi-stand-in.h"
#include <wincrypt.h>
#include <wintrust.h>
// clang-format on

#include <mscat.h>
#include <stdio.h>
#include <wchar.h>

#include "catalog-trust.h"
#include "record.h"

namespace {

constexpr DWORD kNoCatalog = 0xE000022F;         // ERROR_NO_CATALOG_FOR_OEM_INF
constexpr DWORD kNotInCatalog = 0xE000024B;      // ERROR_FILE_HASH_NOT_IN_CATALOG
constexpr DWORD kTrustedPublisher = 0xE0000241;  // ERROR_AUTHENTICODE_TRUSTED_PUBLISHER
constexpr DWORD kNotEstablished = 0xE0000242;    // ..._TRUST_NOT_ESTABLISHED
constexpr DWORD kNotTrusted = 0xE0000243;        // ..._PUBLISHER_NOT_TRUSTED
constexpr DWORD kMaxHash = 64;

// The INF's SHA-1 hash as the catalog administrator computes it, in the
// upper-case hexadecimal of a member's tag.
bool InfTag(const wchar_t* inf, wchar_t (&tag)[2 * kMaxHash + 1]) {
    const HANDLE file =
        CreateFileW(inf, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BYTE hash[kMaxHash];
    DWORD size = sizeof hash;
    const BOOL done = CryptCATAdminCalcHashFromFileHandle(file, &size, hash, 0);
    CloseHandle(file);
    for (DWORD i = 0; done && i < size; ++i) {
        swprintf(tag + 2 * i, 3, L"%02X", hash[i]);
    }
    return done != FALSE;
}

bool Listed(wchar_t* catalog, const wchar_t* tag) {
    const HANDLE opened = CryptCATOpen(catalog, CRYPTCAT_OPEN_EXISTING, 0, 0, 0);
    if (opened == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool member = false;
    for (CRYPTCATMEMBER* entry = CryptCATEnumerateMember(opened, nullptr); entry && !member;
         entry = CryptCATEnumerateMember(opened, entry)) {
        member = wcscmp(entry->pwszReferenceTag, tag) == 0;
    }
    CryptCATClose(opened);
    return member;
}

bool InStore(const wchar_t* store, DWORD where, PCCERT_CONTEXT certificate) {
    const HCERTSTORE opened =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, where | CERT_STORE_READONLY_FLAG, store);
    if (opened == nullptr) {
        return false;
    }
    PCCERT_CONTEXT found = CertFindCertificateInStore(opened, X509_ASN_ENCODING, 0,
                                                      CERT_FIND_EXISTING, certificate, nullptr);
    if (found) {
        CertFreeCertificateContext(found);
    }
    CertCloseStore(opened, 0);
    return found != nullptr;
}

bool InEither(const wchar_t* store, PCCERT_CONTEXT certificate) {
    return InStore(store, CERT_SYSTEM_STORE_CURRENT_USER, certificate) ||
           InStore(store, CERT_SYSTEM_STORE_LOCAL_MACHINE, certificate);
}

// WinVerifyTrust's verdict on the INF's member of the catalog, then the
// publisher's standing in the machine's stores.
DWORD Trust(wchar_t* catalog, const wchar_t* inf, wchar_t* tag) {
    DWORD chain = 0;
    PCCERT_CONTEXT publisher = nullptr;
    DWORD verdict = static_cast<DWORD>(VerifyMember(catalog, tag, inf, chain, publisher));
    if (verdict == ERROR_SUCCESS && publisher) {
        verdict = chain != CERT_TRUST_NO_ERROR         ? static_cast<DWORD>(CERT_E_UNTRUSTEDROOT)
                  : InEither(L"Disallowed", publisher) ? kNotTrusted
                  : InEither(L"TrustedPublisher", publisher) ? kTrustedPublisher
                                                             : kNotEstablished;
    }
    if (publisher) {
        CertFreeCertificateContext(publisher);
    }
    return verdict;
}

DWORD Verdict(const wchar_t* inf, PSP_INF_SIGNER_INFO_W signer) {
    wchar_t name[MAX_PATH];
    if (!CatalogName(inf, name)) {
        return kNoCatalog;
    }
    wchar_t catalog[MAX_PATH];
    swprintf(catalog, MAX_PATH, L"%.*ls%ls", static_cast<int>(wcsrchr(inf, L'\\') + 1 - inf), inf,
             name);
    if (GetFileAttributesW(catalog) == INVALID_FILE_ATTRIBUTES) {
        return kNoCatalog;
    }
    if (signer) {
        wcscpy(signer->CatalogFile, catalog);
    }
    wchar_t tag[2 * kMaxHash + 1] = L"";
    if (!InfTag(inf, tag) || !Listed(catalog, tag)) {
        return kNotInCatalog;
    }
    return Trust(catalog, inf, tag);
}

}  // namespace

// The signer information of either version: the second's first fields are
// the first's.
extern "C" BOOL WINAPI SetupVerifyInfFileW(PCWSTR inf, PSP_ALTPLATFORM_INFO /*platform*/,
                                           PSP_INF_SIGNER_INFO_W signer) {
    const DWORD verdict = inf ? Verdict(inf, signer) : ERROR_INVALID_PARAMETER;
    wchar_t line[2 * MAX_PATH];
    swprintf(line, 2 * MAX_PATH, L"inf=%ls verdict=0x%08lX\n", inf ? inf : L"(null)",
             static_cast<unsigned long>(verdict));
    AddToRecord(L"C:\\windows\\temp\\setupapi-verified.txt", line);
    SetLastError(verdict);
    return verdict == ERROR_SUCCESS;
}
