#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>

#include <functional>
#include <string>

#include "sys/file_trust.h"

// Authenticode check of a downloaded setup package.

// The catalog administrator calls of the catalog route, one method per
// CryptoAPI call. The product always uses SystemCatalogAdmin(). Under Wine no
// catalog ever holds a file, so the catalog branches cannot be reached for
// real there; tests replace this interface to reach them.
class CatalogAdmin {
 public:
  virtual ~CatalogAdmin() = default;
  virtual BOOL AcquireContext(HCATADMIN* admin) = 0;
  virtual BOOL CalcHashFromFileHandle(HANDLE file, DWORD* size, BYTE* hash) = 0;
  // The first catalog that holds the hash, or null.
  virtual HCATINFO EnumCatalogFromHash(HCATADMIN admin, BYTE* hash, DWORD size) = 0;
  virtual BOOL CatalogInfoFromContext(HCATINFO catalog, CATALOG_INFO* info) = 0;
  virtual BOOL ReleaseCatalogContext(HCATADMIN admin, HCATINFO catalog) = 0;
  virtual BOOL ReleaseContext(HCATADMIN admin) = 0;
};

// The real catalog calls (wintrust).
CatalogAdmin& SystemCatalogAdmin();

// Receives each step of the check as a "csgn" trace value, in order.
using TrustTrace = std::function<void(const wchar_t*)>;

// Nonzero only when the system verifies the file's signature (by the catalog
// that holds its hash, or by its embedded signature) and the signer's chain
// ends in a trusted root; *signerName then holds the signer's simple display
// name. A file that is not trusted returns 0; *signerName still receives the
// signer of a readable signature (for the statistics), else it is empty.
// The caller accepts a package only when the result is nonzero and
// IsSignerAccepted(*signerName). beforeDownload: 1 for a package found in
// place, 0 for a fresh download (it only changes the first trace value).
int VerifyFileTrust(const std::wstring& path, std::wstring* signerName, int beforeDownload,
                    const TrustTrace& csgn);

// The same over the given catalog calls.
int VerifyFileTrustWith(CatalogAdmin& catalogs, const std::wstring& path, std::wstring* signerName,
                        int beforeDownload, const TrustTrace& csgn);
