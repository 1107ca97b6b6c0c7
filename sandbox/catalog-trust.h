#pragma once

// A member of a catalog verified through the platform's trust code, as
// Windows' device installation verifies one (the catalog probe and the
// setupapi stand-in). Include windows.h, wincrypt.h and wintrust.h first.

#include <softpub.h>

// WinVerifyTrust's answer for the member of that tag (the file at `path`);
// the errors of its signer's chain into `chain`: Wine 8 and 10 answer
// success for a catalog whose signer's chain ends at a root that the machine
// does not trust, where Windows answers CERT_E_UNTRUSTEDROOT, and note it in
// the chain that they built, which they build as of 1601 (they take no time
// for a catalog), so that it is never valid in time: that error is left out.
// The signer's certificate into `signer` (nullptr where there is none; the
// caller frees it).
inline LONG VerifyMember(wchar_t* catalog, wchar_t* tag, const wchar_t* path, DWORD& chain,
                         PCCERT_CONTEXT& signer) {
    WINTRUST_CATALOG_INFO info = {};
    info.cbStruct = sizeof info;
    info.pcwszCatalogFilePath = catalog;
    info.pcwszMemberTag = tag;
    info.pcwszMemberFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG verdict = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    chain = 0;
    signer = nullptr;
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* found =
        provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (found && found->pChainContext) {
        chain = found->pChainContext->TrustStatus.dwErrorStatus & ~CERT_TRUST_IS_NOT_TIME_VALID;
        signer = CertDuplicateCertificateContext(
            found->pChainContext->rgpChain[0]->rgpElement[0]->pCertContext);
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return verdict;
}
