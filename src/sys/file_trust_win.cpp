#include "sys/file_trust_win.h"

#include <softpub.h>
#include <wintrust.h>

#include <vector>

#include "sys/scoped_handle_win.h"

namespace {

class SystemCatalogs : public CatalogAdmin {
 public:
  BOOL AcquireContext(HCATADMIN* admin) override { return CryptCATAdminAcquireContext(admin, nullptr, 0); }
  BOOL CalcHashFromFileHandle(HANDLE file, DWORD* size, BYTE* hash) override {
    return CryptCATAdminCalcHashFromFileHandle(file, size, hash, 0);
  }
  HCATINFO EnumCatalogFromHash(HCATADMIN admin, BYTE* hash, DWORD size) override {
    return CryptCATAdminEnumCatalogFromHash(admin, hash, size, 0, nullptr);
  }
  BOOL CatalogInfoFromContext(HCATINFO catalog, CATALOG_INFO* info) override {
    return CryptCATCatalogInfoFromContext(catalog, info, 0);
  }
  BOOL ReleaseCatalogContext(HCATADMIN admin, HCATINFO catalog) override {
    return CryptCATAdminReleaseCatalogContext(admin, catalog, 0);
  }
  BOOL ReleaseContext(HCATADMIN admin) override { return CryptCATAdminReleaseContext(admin, 0); }
};

std::wstring SimpleDisplayName(PCCERT_CONTEXT cert) {
  const DWORD size = CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::wstring name(size, L'\0');
  CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, &name[0], size);
  name.resize(size - 1);
  return name;
}

// After a successful verification: the signer's name, and 1 when the last
// certificate of the signer's chain is a trusted root. WinVerifyTrust also
// succeeds for a chain that ends in an unknown root (a self-made
// certificate), so that flag is the trust decision.
int ReadVerifiedSigner(HANDLE state, std::wstring* signerName, const TrustTrace& csgn) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
  CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = signer ? WTHelperGetProvCertFromChain(signer, 0) : nullptr;
  if (!leaf || !leaf->pCert) return 0;
  CRYPT_PROVIDER_CERT* last = leaf;
  for (DWORD i = 1; CRYPT_PROVIDER_CERT* next = WTHelperGetProvCertFromChain(signer, i); ++i) last = next;
  *signerName = SimpleDisplayName(leaf->pCert);
  csgn(L"success");
  return last->fTrustedRoot ? 1 : 0;
}

// The system route: a catalog that holds the file's hash, else the file's
// embedded signature, verified by WinVerifyTrust.
int SystemRoute(CatalogAdmin& catalogs, const std::wstring& path, std::wstring* signerName,
                const TrustTrace& csgn) {
  csgn(L"csb1");
  HCATADMIN admin = nullptr;
  if (!catalogs.AcquireContext(&admin)) {
    csgn(L"eccac");
    return 0;
  }
  BYTE hash[100];
  DWORD hashSize = sizeof hash;
  {
    ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) {
      catalogs.ReleaseContext(admin);
      csgn(L"ecarc");
      return 0;
    }
    // A file that cannot be hashed cannot be in a catalog.
    if (!catalogs.CalcHashFromFileHandle(file.Get(), &hashSize, hash)) hashSize = 0;
  }
  const HCATINFO catalog = hashSize ? catalogs.EnumCatalogFromHash(admin, hash, hashSize) : nullptr;

  const std::wstring memberTag = HashToMemberTag(hash, hashSize);
  CATALOG_INFO catalogInfo = {};
  catalogInfo.cbStruct = sizeof catalogInfo;
  WINTRUST_CATALOG_INFO catalogMember = {};
  WINTRUST_FILE_INFO fileInfo = {};
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_SAFER_FLAG;
  if (catalog && catalogs.CatalogInfoFromContext(catalog, &catalogInfo)) {
    catalogMember.cbStruct = sizeof catalogMember;
    catalogMember.pcwszCatalogFilePath = catalogInfo.wszCatalogFile;
    catalogMember.pcwszMemberTag = memberTag.c_str();
    catalogMember.pcwszMemberFilePath = path.c_str();
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &catalogMember;
    csgn(L"ecfh2");
  } else {
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    csgn(L"ecfh1");
  }

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  int result = 0;
  // Only 0 means verified; other values are failure codes.
  if (WinVerifyTrust(noWindow, &action, &data) == 0) {
    csgn(L"wvt");
    result = ReadVerifiedSigner(data.hWVTStateData, signerName, csgn);
  }
  // The verification keeps its state whether or not it succeeded.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  data.dwProvFlags = 0;
  WinVerifyTrust(noWindow, &action, &data);

  if (catalog) {
    csgn(L"ecrcc");
    catalogs.ReleaseCatalogContext(admin, catalog);
  }
  catalogs.ReleaseContext(admin);
  return result;
}

// The signer named by the file's embedded signature, without any trust
// decision: only for the statistics of a file the system route refused.
std::wstring EmbeddedSignerName(const std::wstring& path) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  // The whole path is passed: a cut copy could name another file.
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message,
                        nullptr)) {
    return std::wstring();
  }
  std::wstring name;
  DWORD size = 0;
  if (CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) && size > 0) {
    std::vector<BYTE> buffer(size);
    if (CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
      const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
      CERT_INFO wanted = {};
      wanted.Issuer = signer->Issuer;
      wanted.SerialNumber = signer->SerialNumber;
      PCCERT_CONTEXT cert = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                       CERT_FIND_SUBJECT_CERT, &wanted, nullptr);
      if (cert) {
        name = SimpleDisplayName(cert);
        CertFreeCertificateContext(cert);
      }
    }
  }
  CryptMsgClose(message);
  CertCloseStore(store, 0);
  return name;
}

}  // namespace

CatalogAdmin& SystemCatalogAdmin() {
  static SystemCatalogs catalogs;
  return catalogs;
}

int VerifyFileTrust(const std::wstring& path, std::wstring* signerName, int beforeDownload,
                    const TrustTrace& csgn) {
  return VerifyFileTrustWith(SystemCatalogAdmin(), path, signerName, beforeDownload, csgn);
}

int VerifyFileTrustWith(CatalogAdmin& catalogs, const std::wstring& path, std::wstring* signerName,
                        int beforeDownload, const TrustTrace& csgn) {
  signerName->clear();
  csgn(beforeDownload ? L"csbd" : L"csad");
  const int result = SystemRoute(catalogs, path, signerName, csgn);
  // The embedded signature never makes a file trusted; it only names the
  // signer of a refused file for the statistics.
  if (result == 0 && signerName->empty()) *signerName = EmbeddedSignerName(path);
  return result;
}
