#include "sys/file_trust_win.h"

#include <softpub.h>
#include <wintrust.h>

#include <vector>

#include "sys/scoped_handle_win.h"

namespace {

class SystemCalls : public TrustSystem {
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
  LONG VerifyTrust(WINTRUST_DATA* data) override {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, data);
  }
};

// One of the certificate's names (CertGetNameStringW), empty when absent.
std::wstring CertificateName(PCCERT_CONTEXT cert, DWORD type, void* parameter) {
  const DWORD size = CertGetNameStringW(cert, type, 0, parameter, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::wstring name(size, L'\0');
  CertGetNameStringW(cert, type, 0, parameter, &name[0], size);
  name.resize(size - 1);
  return name;
}

// SHA-256 of the DER SubjectPublicKeyInfo, lower-case hexadecimal; empty
// where the system has no SHA-256 (XP before SP3).
std::string PublicKeySha256(PCCERT_CONTEXT cert) {
  // CALG_SHA_256; the XP headers leave it out.
  const ALG_ID kSha256 = ALG_CLASS_HASH | ALG_TYPE_ANY | 12;
  BYTE digest[32];
  DWORD size = sizeof digest;
  if (!CryptHashPublicKeyInfo(0, kSha256, 0, X509_ASN_ENCODING,
                              &cert->pCertInfo->SubjectPublicKeyInfo, digest, &size) ||
      size != sizeof digest) {
    return std::string();
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (BYTE b : digest) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

SignerIdentity IdentityOf(PCCERT_CONTEXT cert) {
  SignerIdentity identity;
  identity.displayName = CertificateName(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, nullptr);
  // The subject's attributes themselves: the display name may come from
  // another attribute (an e-mail address, for one).
  identity.commonName =
      CertificateName(cert, CERT_NAME_ATTR_TYPE, const_cast<char*>(szOID_COMMON_NAME));
  identity.organisation =
      CertificateName(cert, CERT_NAME_ATTR_TYPE, const_cast<char*>(szOID_ORGANIZATION_NAME));
  identity.publicKeySha256 = PublicKeySha256(cert);
  return identity;
}

// The revocation state of the signer's chain as the system's chain engine
// finds it (whole chain but the root, revocation lists fetched as needed).
// WinVerifyTrust checks the same with WTD_REVOKE_WHOLECHAIN; asking the chain
// engine too keeps the check independent of how the trust provider passes
// that flag on.
RevocationVerdict ChainRevocation(PCCERT_CONTEXT leaf) {
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, leaf, nullptr, leaf->hCertStore, &para,
                               CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT, nullptr, &chain)) {
    return RevocationVerdict::kUnavailable;
  }
  const DWORD status = chain->TrustStatus.dwErrorStatus;
  CertFreeCertificateChain(chain);
  if (status & CERT_TRUST_IS_REVOKED) return RevocationVerdict::kRevoked;
  if (status & (CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)) {
    return RevocationVerdict::kUnavailable;
  }
  return RevocationVerdict::kGood;
}

// After a successful verification: the signer's identity, whether the last
// certificate of the signer's chain is a trusted root, and the chain's
// revocation state; false when the state holds no signer certificate.
// WinVerifyTrust also succeeds for a chain that ends in an unknown root (a
// self-made certificate), so the root flag is the trust decision.
bool ReadVerifiedSigner(HANDLE state, SignerIdentity* signer, bool* trustedRoot,
                        RevocationVerdict* revocation) {
  CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
  CRYPT_PROVIDER_SGNR* chain = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* leaf = chain ? WTHelperGetProvCertFromChain(chain, 0) : nullptr;
  if (!leaf || !leaf->pCert) return false;
  CRYPT_PROVIDER_CERT* last = leaf;
  for (DWORD i = 1; CRYPT_PROVIDER_CERT* next = WTHelperGetProvCertFromChain(chain, i); ++i) last = next;
  *signer = IdentityOf(leaf->pCert);
  *trustedRoot = last->fTrustedRoot != FALSE;
  *revocation = ChainRevocation(leaf->pCert);
  return true;
}

// The worse of two revocation answers.
RevocationVerdict Worse(RevocationVerdict a, RevocationVerdict b) {
  if (a == RevocationVerdict::kRevoked || b == RevocationVerdict::kRevoked) return RevocationVerdict::kRevoked;
  if (a == RevocationVerdict::kFailed || b == RevocationVerdict::kFailed) return RevocationVerdict::kFailed;
  if (a == RevocationVerdict::kUnavailable || b == RevocationVerdict::kUnavailable) {
    return RevocationVerdict::kUnavailable;
  }
  return RevocationVerdict::kGood;
}

// One WinVerifyTrust verification; the state stays open for the caller
// (CloseVerification), whatever the result.
LONG Verify(TrustSystem& system, WINTRUST_DATA* data, DWORD revocationChecks, DWORD revocationFlags) {
  data->fdwRevocationChecks = revocationChecks;
  data->dwStateAction = WTD_STATEACTION_VERIFY;
  data->dwProvFlags = WTD_SAFER_FLAG | revocationFlags;
  data->hWVTStateData = nullptr;
  return system.VerifyTrust(data);
}

void CloseVerification(TrustSystem& system, WINTRUST_DATA* data) {
  data->dwStateAction = WTD_STATEACTION_CLOSE;
  data->dwProvFlags = 0;
  system.VerifyTrust(data);
}

// The system route: a catalog that holds the file's hash, else the file's
// embedded signature, verified by WinVerifyTrust with revocation checked on
// the whole chain but its root. When no revocation information can be had
// (server unreachable, certificate without any), the check is repeated
// without revocation; a revoked certificate refuses the file.
int SystemRoute(TrustSystem& system, HANDLE file, const std::wstring& path, SignerIdentity* signer,
                const TrustTrace& csgn) {
  csgn(L"csb1");
  HCATADMIN admin = nullptr;
  if (!system.AcquireContext(&admin)) {
    csgn(L"eccac");
    return 0;
  }
  BYTE hash[100];
  DWORD hashSize = sizeof hash;
  // A file that cannot be hashed cannot be in a catalog.
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  if (!system.CalcHashFromFileHandle(file, &hashSize, hash)) hashSize = 0;
  const HCATINFO catalog = hashSize ? system.EnumCatalogFromHash(admin, hash, hashSize) : nullptr;

  const std::wstring memberTag = HashToMemberTag(hash, hashSize);
  CATALOG_INFO catalogInfo = {};
  catalogInfo.cbStruct = sizeof catalogInfo;
  WINTRUST_CATALOG_INFO catalogMember = {};
  WINTRUST_FILE_INFO fileInfo = {};
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  if (catalog && system.CatalogInfoFromContext(catalog, &catalogInfo)) {
    catalogMember.cbStruct = sizeof catalogMember;
    catalogMember.pcwszCatalogFilePath = catalogInfo.wszCatalogFile;
    catalogMember.pcwszMemberTag = memberTag.c_str();
    catalogMember.pcwszMemberFilePath = path.c_str();
    catalogMember.hMemberFile = file;
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &catalogMember;
    csgn(L"ecfh2");
  } else {
    // The file is read through the caller's handle, so what is verified is
    // the file the caller holds, not whatever the path names later.
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    csgn(L"ecfh1");
  }

  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  LONG status = Verify(system, &data, WTD_REVOKE_WHOLECHAIN, WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT);
  RevocationVerdict verdict = JudgeRevocationResult(static_cast<std::uint32_t>(status));
  if (verdict == RevocationVerdict::kUnavailable) {
    CloseVerification(system, &data);
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    status = Verify(system, &data, WTD_REVOKE_NONE, 0);
  }
  int result = 0;
  // Only 0 means verified; other values are failure codes.
  if (status == 0 && verdict != RevocationVerdict::kRevoked) {
    SignerIdentity verified;
    bool trustedRoot = false;
    RevocationVerdict chainVerdict = RevocationVerdict::kGood;
    const bool found = ReadVerifiedSigner(data.hWVTStateData, &verified, &trustedRoot, &chainVerdict);
    if (found) verdict = Worse(verdict, chainVerdict);
    if (const wchar_t* value = RevocationTraceValue(verdict)) csgn(value);
    if (verdict != RevocationVerdict::kRevoked) {
      csgn(L"wvt");
      if (found) {
        *signer = verified;
        csgn(L"success");
        result = trustedRoot ? 1 : 0;
      }
    }
  } else if (const wchar_t* value = RevocationTraceValue(verdict)) {
    csgn(value);
  }
  // The verification keeps its state whether or not it succeeded.
  CloseVerification(system, &data);

  if (catalog) {
    csgn(L"ecrcc");
    system.ReleaseCatalogContext(admin, catalog);
  }
  system.ReleaseContext(admin);
  return result;
}

// The signer named by the file's embedded signature, without any trust
// decision: only for the statistics of a file the system route refused.
SignerIdentity EmbeddedSigner(const std::wstring& path) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  // The whole path is passed: a cut copy could name another file.
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message,
                        nullptr)) {
    return SignerIdentity();
  }
  SignerIdentity identity;
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
        identity = IdentityOf(cert);
        CertFreeCertificateContext(cert);
      }
    }
  }
  CryptMsgClose(message);
  CertCloseStore(store, 0);
  return identity;
}

}  // namespace

TrustSystem& SystemTrust() {
  static SystemCalls calls;
  return calls;
}

int VerifyFileTrust(HANDLE file, const std::wstring& path, SignerIdentity* signer, int beforeDownload,
                    const TrustTrace& csgn) {
  return VerifyFileTrustWith(SystemTrust(), file, path, signer, beforeDownload, csgn);
}

int VerifyFileTrustWith(TrustSystem& system, HANDLE file, const std::wstring& path,
                        SignerIdentity* signer, int beforeDownload, const TrustTrace& csgn) {
  *signer = SignerIdentity();
  csgn(beforeDownload ? L"csbd" : L"csad");
  int result = 0;
  if (file == INVALID_HANDLE_VALUE || file == nullptr) {
    csgn(L"csb1");
    csgn(L"ecarc");
  } else {
    result = SystemRoute(system, file, path, signer, csgn);
  }
  // The embedded signature never makes a file trusted; it only names the
  // signer of a refused file for the statistics.
  if (result == 0 && signer->displayName.empty()) *signer = EmbeddedSigner(path);
  return result;
}

HANDLE OpenForVerification(const std::wstring& path) {
  // Others may read the file while it is held, nobody may write, replace or
  // delete it; the handle can start the program (execute access).
  return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

int VerifyFileTrust(const std::wstring& path, SignerIdentity* signer, int beforeDownload,
                    const TrustTrace& csgn) {
  ScopedHandle file(OpenForVerification(path));
  return VerifyFileTrust(file.Get(), path, signer, beforeDownload, csgn);
}
