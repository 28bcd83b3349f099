#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>
#include <wintrust.h>

#include <functional>
#include <string>

#include "sys/file_trust.h"

// Authenticode check of a downloaded setup package.

// The system calls of the check: the catalog administrator calls of the
// catalog route, one method per CryptoAPI call, and WinVerifyTrust. The
// product always uses SystemTrust(). Under Wine no catalog ever holds a file
// and no revocation list is read, so those branches cannot be reached for
// real there; tests replace this interface to reach them.
class TrustSystem {
 public:
  virtual ~TrustSystem() = default;
  virtual BOOL AcquireContext(HCATADMIN* admin) = 0;
  virtual BOOL CalcHashFromFileHandle(HANDLE file, DWORD* size, BYTE* hash) = 0;
  // The first catalog that holds the hash, or null.
  virtual HCATINFO EnumCatalogFromHash(HCATADMIN admin, BYTE* hash, DWORD size) = 0;
  virtual BOOL CatalogInfoFromContext(HCATINFO catalog, CATALOG_INFO* info) = 0;
  virtual BOOL ReleaseCatalogContext(HCATADMIN admin, HCATINFO catalog) = 0;
  virtual BOOL ReleaseContext(HCATADMIN admin) = 0;
  // WinVerifyTrust with the generic Authenticode action, no window.
  virtual LONG VerifyTrust(WINTRUST_DATA* data) = 0;
};

// The real calls (wintrust).
TrustSystem& SystemTrust();

// Receives each step of the check as a "csgn" trace value, in order.
using TrustTrace = std::function<void(const wchar_t*)>;

// Opens a file for verification and launch: readable and executable, shared
// for reading only, so that while the handle is held nobody can write,
// replace, rename or delete the file, and its path keeps naming what was
// verified. INVALID_HANDLE_VALUE when it cannot be opened that way.
HANDLE OpenForVerification(const std::wstring& path);

// Nonzero only when the system verifies the signature of the file read
// through the handle (by the catalog that holds its hash, or by its embedded
// signature), no certificate of its chain is revoked, and the chain ends in
// a trusted root; *signer then describes the leaf certificate. Revocation is
// checked on the whole chain but the root; when no revocation information
// can be had, the file is judged without it ("rvunk" in the trace). A file
// that is not trusted returns 0; *signer still receives the signer of a
// readable signature (for the statistics), else it is empty. path names the
// same file (catalog member, statistics). The caller accepts a package only
// when the result is nonzero and IsSignerAccepted(*signer, policy).
// beforeDownload: 1 for a package found in place, 0 for a fresh download
// (it only changes the first trace value).
int VerifyFileTrust(HANDLE file, const std::wstring& path, SignerIdentity* signer, int beforeDownload,
                    const TrustTrace& csgn);

// The same, opening the path with OpenForVerification for the check only.
int VerifyFileTrust(const std::wstring& path, SignerIdentity* signer, int beforeDownload,
                    const TrustTrace& csgn);

// The check over the given system calls.
int VerifyFileTrustWith(TrustSystem& system, HANDLE file, const std::wstring& path,
                        SignerIdentity* signer, int beforeDownload, const TrustTrace& csgn);
