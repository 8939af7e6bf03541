#include "Signature.h"

#include "Wow64.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>
#include <softpub.h>

#include <cstddef>
#include <cstring>

namespace {
const DWORD kLargestHashed = 256 * 1024 * 1024;
const DWORD kEncodings = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// WINTRUST_CATALOG_INFO with the catalog context that Windows 8 and later
// take for a SHA-256 hash; older systems are given the size without it.
struct CatalogMember {
    DWORD cbStruct;
    DWORD dwCatalogVersion;
    LPCWSTR pcwszCatalogFilePath;
    LPCWSTR pcwszMemberTag;
    LPCWSTR pcwszMemberFilePath;
    HANDLE hMemberFile;
    BYTE* pbCalculatedFileHash;
    DWORD cbCalculatedFileHash;
    PCCTL_CONTEXT pcCatalogContext;
    HCATADMIN hCatAdmin;
};

// What wintrust.dll and crypt32.dll give: the DLLs are loaded once per
// process, their functions looked up for each check (the catalog
// functions have no import library on XP, and the SHA-256 ones exist from
// Windows 8 on).
struct TrustFunctions {
    LONG(WINAPI* verify)(HWND, GUID*, LPVOID);
    CRYPT_PROVIDER_DATA*(WINAPI* providerData)(HANDLE);
    CRYPT_PROVIDER_SGNR*(WINAPI* signerOf)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
    BOOL(WINAPI* acquire)(HCATADMIN*, const GUID*, DWORD);
    BOOL(WINAPI* acquire2)(HCATADMIN*, const GUID*, PCWSTR, PCCERT_STRONG_SIGN_PARA, DWORD);
    BOOL(WINAPI* hash)(HANDLE, DWORD*, BYTE*, DWORD);
    BOOL(WINAPI* hash2)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);
    HCATINFO(WINAPI* enumCatalogs)(HCATADMIN, BYTE*, DWORD, DWORD, HCATINFO*);
    BOOL(WINAPI* catalogInfo)(HCATINFO, CATALOG_INFO*, DWORD);
    BOOL(WINAPI* releaseCatalog)(HCATADMIN, HCATINFO, DWORD);
    BOOL(WINAPI* release)(HCATADMIN, DWORD);
    DWORD(WINAPI* nameOf)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);
    HCERTSTORE(WINAPI* openStore)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*);
    BOOL(WINAPI* closeStore)(HCERTSTORE, DWORD);
    PCCERT_CONTEXT(WINAPI* findCertificate)(HCERTSTORE, DWORD, DWORD, DWORD, const void*, PCCERT_CONTEXT);
    BOOL(WINAPI* freeCertificate)(PCCERT_CONTEXT);
    BOOL(WINAPI* property)(PCCERT_CONTEXT, DWORD, void*, DWORD*);
    PCCRYPT_OID_INFO(WINAPI* findOid)(DWORD, void*, DWORD);
};
TrustFunctions g_trust;
HMODULE g_wintrust;
HMODULE g_crypt32;
bool g_loaded;

template <class F> void Look(HMODULE module, const char* name, F* function)
{
    *function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// True when the functions every check needs are there.
bool LoadTrustFunctions()
{
    if (!g_loaded) {
        g_loaded = true;
        g_wintrust = LoadSystemLibrary(L"\\wintrust.dll");
        g_crypt32 = LoadSystemLibrary(L"\\crypt32.dll");
    }
    TrustFunctions& t = g_trust;
    t = TrustFunctions();
    if (g_wintrust == nullptr || g_crypt32 == nullptr)
        return false;
    Look(g_wintrust, "WinVerifyTrust", &t.verify);
    Look(g_wintrust, "WTHelperProvDataFromStateData", &t.providerData);
    Look(g_wintrust, "WTHelperGetProvSignerFromChain", &t.signerOf);
    Look(g_wintrust, "CryptCATAdminAcquireContext", &t.acquire);
    Look(g_wintrust, "CryptCATAdminAcquireContext2", &t.acquire2);
    Look(g_wintrust, "CryptCATAdminCalcHashFromFileHandle", &t.hash);
    Look(g_wintrust, "CryptCATAdminCalcHashFromFileHandle2", &t.hash2);
    Look(g_wintrust, "CryptCATAdminEnumCatalogFromHash", &t.enumCatalogs);
    Look(g_wintrust, "CryptCATCatalogInfoFromContext", &t.catalogInfo);
    Look(g_wintrust, "CryptCATAdminReleaseCatalogContext", &t.releaseCatalog);
    Look(g_wintrust, "CryptCATAdminReleaseContext", &t.release);
    Look(g_crypt32, "CertGetNameStringW", &t.nameOf);
    Look(g_crypt32, "CertOpenStore", &t.openStore);
    Look(g_crypt32, "CertCloseStore", &t.closeStore);
    Look(g_crypt32, "CertFindCertificateInStore", &t.findCertificate);
    Look(g_crypt32, "CertFreeCertificateContext", &t.freeCertificate);
    Look(g_crypt32, "CertGetCertificateContextProperty", &t.property);
    Look(g_crypt32, "CryptFindOIDInfo", &t.findOid);
    return t.verify != nullptr && t.providerData != nullptr && t.signerOf != nullptr && t.nameOf != nullptr &&
           t.openStore != nullptr && t.closeStore != nullptr && t.findCertificate != nullptr &&
           t.freeCertificate != nullptr && t.property != nullptr && t.findOid != nullptr;
}

// Whether the machine's Root store holds this very certificate: found by
// its SHA-1 hash, then compared byte for byte. The user's store, which the
// user (and so a program with the user's rights) may add to, does not count.
bool IsMachineRoot(PCCERT_CONTEXT root)
{
    BYTE hash[20];
    DWORD size = sizeof(hash);
    if (!g_trust.property(root, CERT_SHA1_HASH_PROP_ID, hash, &size))
        return false;
    HCERTSTORE roots = g_trust.openStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                         CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG |
                                             CERT_STORE_OPEN_EXISTING_FLAG,
                                         L"Root");
    if (roots == nullptr)
        return false;
    CRYPT_HASH_BLOB blob = { size, hash };
    PCCERT_CONTEXT found = g_trust.findCertificate(roots, kEncodings, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
    const bool same = found != nullptr && found->cbCertEncoded == root->cbCertEncoded &&
                      std::memcmp(found->pbCertEncoded, root->pbCertEncoded, root->cbCertEncoded) == 0;
    if (found != nullptr)
        g_trust.freeCertificate(found);
    g_trust.closeStore(roots, 0);
    return same;
}

// Whether the chain the provider built ends at a root the machine trusts:
// its last certificate is the machine's own root. A lenient verdict (Wine
// answers success for a root in no store) or a chain cut short ends
// anywhere else.
bool EndsAtMachineRoot(const CRYPT_PROVIDER_SGNR* signer)
{
    return signer->csCertChain > 0 && IsMachineRoot(signer->pasCertChain[signer->csCertChain - 1].pCert);
}

// Runs WinVerifyTrust over the subject and judges its answer; its state is
// closed again before it returns.
Trust Verify(WINTRUST_DATA& data, wchar_t (&signer)[kSignerRoom])
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    HWND noUser = reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
    const LONG status = g_trust.verify(noUser, &action, &data);

    CRYPT_PROVIDER_DATA* provider = g_trust.providerData(data.hWVTStateData);
    const CRYPT_PROVIDER_SGNR* found = provider != nullptr ? g_trust.signerOf(provider, 0, FALSE, 0) : nullptr;
    if (found != nullptr && found->csCertChain > 0)
        g_trust.nameOf(found->pasCertChain[0].pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, signer, kSignerRoom);
    // A digest this Windows does not know (SHA-256 on XP SP2) cannot be
    // checked here, whatever the verdict says.
    const bool knownDigest = found == nullptr || found->psSigner == nullptr ||
                             g_trust.findOid(CRYPT_OID_INFO_OID_KEY, found->psSigner->HashAlgorithm.pszObjId,
                                             CRYPT_HASH_ALG_OID_GROUP_ID) != nullptr;
    Trust trust = kBadSignature;
    if (!knownDigest)
        trust = kUnverifiable;
    else if (status == ERROR_SUCCESS && found != nullptr)
        trust = EndsAtMachineRoot(found) ? kTrustedSigner : kUntrustedSigner;
    else if (status == static_cast<LONG>(CERT_E_UNTRUSTEDROOT) || status == static_cast<LONG>(CERT_E_CHAINING) ||
             status == static_cast<LONG>(CERT_E_UNTRUSTEDTESTROOT))
        trust = kUntrustedSigner;
    else if (status == static_cast<LONG>(TRUST_E_NOSIGNATURE) || status == static_cast<LONG>(TRUST_E_SUBJECT_FORM_UNKNOWN))
        trust = kUnsigned;
    else if (status == static_cast<LONG>(CRYPT_E_FILE_ERROR) || status == static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN) ||
             status == static_cast<LONG>(TRUST_E_ACTION_UNKNOWN))
        trust = kUnverifiable;

    data.dwStateAction = WTD_STATEACTION_CLOSE;
    g_trust.verify(noUser, &action, &data);
    if (trust != kTrustedSigner && trust != kUntrustedSigner)
        signer[0] = L'\0';
    return trust;
}

// The verdict of the first catalog of the system that lists the file's
// hash, as Windows hashes it; kUnsigned where none does.
Trust CheckCatalogs(HANDLE file, const wchar_t* path, wchar_t (&signer)[kSignerRoom])
{
    TrustFunctions& t = g_trust;
    const bool sha256 = t.acquire2 != nullptr && t.hash2 != nullptr;
    GUID driverAction = DRIVER_ACTION_VERIFY;
    HCATADMIN admin = nullptr;
    if (t.enumCatalogs == nullptr || t.catalogInfo == nullptr || t.releaseCatalog == nullptr || t.release == nullptr ||
        (sha256 ? !t.acquire2(&admin, &driverAction, L"SHA256", nullptr, 0)
                : t.acquire == nullptr || t.hash == nullptr || !t.acquire(&admin, &driverAction, 0)))
        return kUnsigned;
    BYTE hash[64];
    DWORD size = sizeof(hash);
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    HCATINFO catalog = nullptr;
    if (sha256 ? t.hash2(admin, file, &size, hash, 0) : t.hash(file, &size, hash, 0))
        catalog = t.enumCatalogs(admin, hash, size, 0, nullptr);
    Trust trust = kUnsigned;
    CATALOG_INFO info = {};
    info.cbStruct = sizeof(info);
    if (catalog != nullptr && t.catalogInfo(catalog, &info, 0)) {
        wchar_t tag[2 * sizeof(hash) + 1];
        for (DWORD i = 0; i < size; ++i)
            ::wsprintfW(tag + 2 * i, L"%02X", hash[i]);
        tag[2 * size] = L'\0';
        CatalogMember member = {};
        member.cbStruct = sha256 ? sizeof(member) : offsetof(CatalogMember, hCatAdmin);
        member.pcwszCatalogFilePath = info.wszCatalogFile;
        member.pcwszMemberTag = tag;
        member.pcwszMemberFilePath = path;
        member.hMemberFile = file;
        member.pbCalculatedFileHash = hash;
        member.cbCalculatedFileHash = size;
        member.hCatAdmin = admin;
        WINTRUST_DATA data = {};
        data.dwUnionChoice = WTD_CHOICE_CATALOG;
        data.pCatalog = reinterpret_cast<WINTRUST_CATALOG_INFO*>(&member);
        trust = Verify(data, signer);
    }
    if (catalog != nullptr)
        t.releaseCatalog(admin, catalog, 0);
    t.release(admin, 0);
    return trust;
}
}  // namespace

Trust CheckSignature(HANDLE file, const wchar_t* path, wchar_t (&signer)[kSignerRoom])
{
    signer[0] = L'\0';
    DWORD high = 0;
    const DWORD low = ::GetFileSize(file, &high);
    if ((low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) || high != 0 || low > kLargestHashed ||
        !LoadTrustFunctions())
        return kUnverifiable;
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    WINTRUST_FILE_INFO subject = { sizeof(subject), path, file, nullptr };
    WINTRUST_DATA data = {};
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &subject;
    const Trust trust = Verify(data, signer);
    return trust == kUnsigned ? CheckCatalogs(file, path, signer) : trust;
}
