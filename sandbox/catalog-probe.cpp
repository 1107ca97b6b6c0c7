// The sandbox's probe of a package's catalog through the platform's own
// catalog and trust code (wintrust and crypt32), as Windows' device
// installation reads it: it runs under Wine.
//   catalog-probe members CATALOG        each member's tag, a line each
//   catalog-probe hash FILE [sha256]     the file's hash as the catalog
//                                        administrator computes it
//   catalog-probe verify CATALOG FILE [sha256]
//                                        the file's member, found by that
//                                        hash, verified through the catalog
//   catalog-probe trust CERTIFICATE      adds a DER certificate to the
//                                        Root store
//   catalog-probe untrust CERTIFICATE    deletes it from there again
//   catalog-probe publisher CERTIFICATE  adds a DER certificate to the
//                                        TrustedPublisher store
//   catalog-probe unpublisher CERTIFICATE
//                                        deletes it from there again
// Exit status: 0 done (verify: trusted), 1 not, 2 usage. verify prints
// "trusted", "not a member", "untrusted 0x........" (WinVerifyTrust's
// answer) or "untrusted chain 0x........" (its signer's chain's errors,
// CERT_TRUST_*, where WinVerifyTrust answered success).
// clang-format off
// windows.h first, then what mscat.h and softpub.h need before them.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
// clang-format on

#include <mscat.h>
#include <stdio.h>
#include <wchar.h>

#include "catalog-trust.h"

namespace {

constexpr int kUsage = 2;
constexpr DWORD kMaxHash = 64;

using AcquireContext2 = BOOL(WINAPI *)(HCATADMIN *, const GUID *, const WCHAR *,
                                       const CERT_STRONG_SIGN_PARA *, DWORD);
using CalcHash2 = BOOL(WINAPI *)(HCATADMIN, HANDLE, DWORD *, BYTE *, DWORD);

// The file's hash as upper-case hexadecimal, the form of a member's tag;
// SHA-256 through the functions of Windows 8 and later, looked up here
// because not every Wine has them. Empty when it cannot be computed.
bool FileTag(const wchar_t *path, bool sha256, wchar_t *tag, size_t tag_size) {
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"cannot open %ls: %lu\n", path, GetLastError());
        return false;
    }
    BYTE hash[kMaxHash];
    DWORD size = sizeof(hash);
    BOOL done = FALSE;
    if (sha256) {
        HMODULE wintrust = GetModuleHandleW(L"wintrust.dll");
        auto acquire = reinterpret_cast<AcquireContext2>(
            reinterpret_cast<void *>(GetProcAddress(wintrust, "CryptCATAdminAcquireContext2")));
        auto calc = reinterpret_cast<CalcHash2>(reinterpret_cast<void *>(
            GetProcAddress(wintrust, "CryptCATAdminCalcHashFromFileHandle2")));
        HCATADMIN admin = nullptr;
        if (!acquire || !calc) {
            fwprintf(stderr, L"no SHA-256 catalog hashes here\n");
        } else if (acquire(&admin, nullptr, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) {
            done = calc(admin, file, &size, hash, 0);
            CryptCATAdminReleaseContext(admin, 0);
        }
    } else {
        done = CryptCATAdminCalcHashFromFileHandle(file, &size, hash, 0);
    }
    CloseHandle(file);
    if (!done || size * 2 + 1 > tag_size) {
        return false;
    }
    for (DWORD i = 0; i < size; ++i) {
        swprintf(tag + i * 2, tag_size - i * 2, L"%02X", hash[i]);
    }
    return true;
}

int Members(wchar_t *catalog) {
    HANDLE opened = CryptCATOpen(catalog, CRYPTCAT_OPEN_EXISTING, 0, 0, 0);
    if (opened == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"CryptCATOpen: %lu\n", GetLastError());
        return 1;
    }
    for (CRYPTCATMEMBER *member = CryptCATEnumerateMember(opened, nullptr); member;
         member = CryptCATEnumerateMember(opened, member)) {
        wprintf(L"%ls\n", member->pwszReferenceTag);
    }
    CryptCATClose(opened);
    return 0;
}

int Verify(wchar_t *catalog, wchar_t *path, bool sha256) {
    wchar_t tag[kMaxHash * 2 + 1] = L"";
    if (!FileTag(path, sha256, tag, kMaxHash * 2 + 1)) {
        return 1;
    }
    HANDLE opened = CryptCATOpen(catalog, CRYPTCAT_OPEN_EXISTING, 0, 0, 0);
    if (opened == INVALID_HANDLE_VALUE) {
        fwprintf(stderr, L"CryptCATOpen: %lu\n", GetLastError());
        return 1;
    }
    // A file's member is the one tagged with its hash. Wine's
    // CryptCATGetMemberInfo finds none (it is a stub), and its WinVerifyTrust
    // loads the catalog without looking at the member: so the member is
    // looked for here, among those that the catalog lists.
    bool member = false;
    for (CRYPTCATMEMBER *entry = CryptCATEnumerateMember(opened, nullptr); entry && !member;
         entry = CryptCATEnumerateMember(opened, entry)) {
        member = wcscmp(entry->pwszReferenceTag, tag) == 0;
    }
    CryptCATClose(opened);
    if (!member) {
        wprintf(L"not a member\n");
        return 1;
    }
    DWORD chain = 0;
    PCCERT_CONTEXT signer = nullptr;
    const LONG verdict = VerifyMember(catalog, tag, path, chain, signer);
    if (signer) {
        CertFreeCertificateContext(signer);
    }
    if (verdict != ERROR_SUCCESS) {
        wprintf(L"untrusted 0x%08lX\n", static_cast<unsigned long>(verdict));
        return 1;
    }
    if (chain != CERT_TRUST_NO_ERROR) {
        wprintf(L"untrusted chain 0x%08lX\n", static_cast<unsigned long>(chain));
        return 1;
    }
    wprintf(L"trusted\n");
    return 0;
}

// Adds the DER certificate in the file to the store (Root, TrustedPublisher),
// or deletes it from there: the current user's, which the chain engines of Wine 8 and 10 both
// read (Wine 10's does not read the machine's), as its registry store (a
// deletion through the collection that Wine makes of it leaves the
// certificate there).
int Trust(const wchar_t *path, const wchar_t *store, bool add) {
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    BYTE encoded[8192];
    DWORD size = 0;
    const BOOL read = ReadFile(file, encoded, sizeof(encoded), &size, nullptr);
    CloseHandle(file);
    PCCERT_CONTEXT certificate =
        read ? CertCreateCertificateContext(X509_ASN_ENCODING, encoded, size) : nullptr;
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                    CERT_SYSTEM_STORE_CURRENT_USER, store);
    BOOL done = FALSE;
    if (certificate && root && add) {
        done = CertAddCertificateContextToStore(root, certificate, CERT_STORE_ADD_REPLACE_EXISTING,
                                                nullptr);
    } else if (certificate && root) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, certificate, nullptr);
        done = found && CertDeleteCertificateFromStore(found);
    }
    if (certificate) {
        CertFreeCertificateContext(certificate);
    }
    if (root) {
        CertCloseStore(root, 0);
    }
    return done ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    const bool sha256 = argc > 0 && wcscmp(argv[argc - 1], L"sha256") == 0;
    if (argc == 3 && wcscmp(argv[1], L"members") == 0) {
        return Members(argv[2]);
    }
    if ((argc == 3 || (argc == 4 && sha256)) && wcscmp(argv[1], L"hash") == 0) {
        wchar_t tag[kMaxHash * 2 + 1] = L"";
        if (!FileTag(argv[2], sha256, tag, kMaxHash * 2 + 1)) {
            return 1;
        }
        wprintf(L"%ls\n", tag);
        return 0;
    }
    if ((argc == 4 || (argc == 5 && sha256)) && wcscmp(argv[1], L"verify") == 0) {
        return Verify(argv[2], argv[3], sha256);
    }
    if (argc == 3 && (wcscmp(argv[1], L"trust") == 0 || wcscmp(argv[1], L"untrust") == 0)) {
        return Trust(argv[2], L"Root", wcscmp(argv[1], L"trust") == 0);
    }
    if (argc == 3 && (wcscmp(argv[1], L"publisher") == 0 || wcscmp(argv[1], L"unpublisher") == 0)) {
        return Trust(argv[2], L"TrustedPublisher", wcscmp(argv[1], L"publisher") == 0);
    }
    fwprintf(stderr,
             L"usage: catalog-probe members|hash|verify|trust|untrust|publisher|"
             L"unpublisher ...\n");
    return kUsage;
}
