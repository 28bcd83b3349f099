#include "sys/testing/trusted_root_win.h"

#include <windows.h>
#include <wincrypt.h>

#include "sys/testing/test_files_win.h"

bool TrustRootCertificate(const std::wstring& derPath) {
  const std::string der = ReadWholeFile(derPath);
  if (der.empty()) return false;
  HCERTSTORE root = CertOpenSystemStoreW(0, L"ROOT");
  if (!root) return false;
  const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING,
                                                      reinterpret_cast<const BYTE*>(der.data()),
                                                      static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING,
                                                      nullptr);
  CertCloseStore(root, 0);
  return added != FALSE;
}
