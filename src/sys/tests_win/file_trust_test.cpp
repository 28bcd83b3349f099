// The trust check against real files signed by the build (cmake/Signing.cmake)
// in a prefix that trusts the build's test certificate authority. The catalog
// branches go through a replaced catalog interface: under Wine no catalog
// ever holds a file.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sys/file_trust_win.h"
#include "sys/testing/test_files_win.h"
#include "sys/testing/trusted_root_win.h"

namespace {

using Trace = std::vector<std::wstring>;

std::wstring Signed(const wchar_t* name) { return WinePath(L"" ZETORA_SIGNED_DIR) + L"\\" + name; }

struct Outcome {
  int result = 0;
  std::wstring signer;
  Trace trace;
  bool accepted() const { return result != 0 && IsSignerAccepted(signer); }
};

Outcome Verify(CatalogAdmin& catalogs, const std::wstring& path, int beforeDownload) {
  Outcome outcome;
  outcome.signer = L"stale";
  outcome.result = VerifyFileTrustWith(catalogs, path, &outcome.signer, beforeDownload,
                                       [&](const wchar_t* value) { outcome.trace.push_back(value); });
  return outcome;
}

std::string Narrow(const Trace& trace) {
  std::string text;
  for (const auto& value : trace) text += std::string(value.begin(), value.end()) + " ";
  return text;
}

class FileTrust : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(TrustRootCertificate(WinePath(L"" ZETORA_TEST_CA_CERT)));
  }
};

TEST_F(FileTrust, OnlyTheMakersTrustedSignatureIsAccepted) {
  const wchar_t* kMaker = L"Vexlo Test Software Ltd";
  const Trace kVerified = {L"csb1", L"ecfh1", L"wvt", L"success"};
  const Trace kRejected = {L"csb1", L"ecfh1"};
  const struct {
    const wchar_t* file;
    int beforeDownload;
    int result;
    const wchar_t* signer;
    Trace trace;  // after the start value
    bool accepted;
  } cases[] = {
      {L"trust_sample.exe", 0, 1, kMaker, kVerified, true},
      {L"trust_sample.exe", 1, 1, kMaker, kVerified, true},
      {L"trust_sample_unsigned.exe", 0, 0, L"", kRejected, false},
      // Trusted, but not the maker: the name refuses it.
      {L"trust_sample_othercompany.exe", 0, 1, L"Northwind Tools Ltd", kVerified, false},
      // Verified signature, root not trusted: the name alone does not count.
      {L"trust_sample_selfsigned.exe", 0, 0, kMaker, kVerified, false},
      // Refused by the system; the embedded signature still names the signer.
      {L"trust_sample_altered.exe", 0, 0, kMaker, kRejected, false},
      {L"no_such_file.exe", 1, 0, L"", {L"csb1", L"ecarc"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.file, c.file + wcslen(c.file)) << " before=" << c.beforeDownload);
    const Outcome outcome = Verify(SystemCatalogAdmin(), Signed(c.file), c.beforeDownload);
    Trace trace = {c.beforeDownload ? L"csbd" : L"csad"};
    trace.insert(trace.end(), c.trace.begin(), c.trace.end());
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.signer, c.signer);
    EXPECT_EQ(outcome.trace, trace) << Narrow(outcome.trace);
    EXPECT_EQ(outcome.accepted(), c.accepted);
  }
}

// A path longer than the old 260-character buffer whose first 259 characters
// name a signed file: cut, it would have been read as that file.
TEST_F(FileTrust, LongPathIsNotCutToAnotherFile) {
  const std::wstring dir = MakeTestDirectory(L"trust_long");
  const std::wstring file = L"\\altered.exe";
  const size_t padding = 259 - dir.size() - file.size() - 1;
  ASSERT_LT(padding, 240u);
  const std::wstring sub = dir + L"\\" + std::wstring(padding, L'd');
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  const std::wstring signedPath = sub + file;
  ASSERT_EQ(signedPath.size(), 259u);
  ASSERT_TRUE(CopyFileW(Signed(L"trust_sample_altered.exe").c_str(), signedPath.c_str(), FALSE));

  const Outcome outcome = Verify(SystemCatalogAdmin(), signedPath + L"\\x.exe", 0);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.signer, L"");
  EXPECT_EQ(Verify(SystemCatalogAdmin(), signedPath, 0).signer, L"Vexlo Test Software Ltd");
}

// The real catalog calls, except that a catalog can be made to hold every
// file and the administrator context can be made to fail.
class FakeCatalogs : public CatalogAdmin {
 public:
  BOOL AcquireContext(HCATADMIN* admin) override {
    if (failAcquire) return FALSE;
    ++contexts;
    return SystemCatalogAdmin().AcquireContext(admin);
  }
  BOOL CalcHashFromFileHandle(HANDLE file, DWORD* size, BYTE* hash) override {
    return SystemCatalogAdmin().CalcHashFromFileHandle(file, size, hash);
  }
  HCATINFO EnumCatalogFromHash(HCATADMIN admin, BYTE* hash, DWORD size) override {
    hashSize = size;
    return catalogFile.empty() ? nullptr : kCatalog;
  }
  BOOL CatalogInfoFromContext(HCATINFO catalog, CATALOG_INFO* info) override {
    if (catalog != kCatalog || info->cbStruct != sizeof *info) return FALSE;
    wcsncpy(info->wszCatalogFile, catalogFile.c_str(), MAX_PATH - 1);
    return TRUE;
  }
  BOOL ReleaseCatalogContext(HCATADMIN admin, HCATINFO catalog) override {
    catalogsReleased += catalog == kCatalog;
    return TRUE;
  }
  BOOL ReleaseContext(HCATADMIN admin) override {
    --contexts;
    return SystemCatalogAdmin().ReleaseContext(admin);
  }

  const HCATINFO kCatalog = reinterpret_cast<HCATINFO>(static_cast<INT_PTR>(0x5A5A0));
  bool failAcquire = false;
  std::wstring catalogFile;
  DWORD hashSize = 0;
  int contexts = 0;
  int catalogsReleased = 0;
};

TEST_F(FileTrust, CatalogRoute) {
  FakeCatalogs catalogs;
  catalogs.catalogFile = Signed(L"missing.cat");
  Outcome outcome = Verify(catalogs, Signed(L"trust_sample.exe"), 0);
  EXPECT_EQ(outcome.trace, (Trace{L"csad", L"csb1", L"ecfh2", L"ecrcc"})) << Narrow(outcome.trace);
  // The catalog refused it; the file's own signature only names the signer.
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.signer, L"Vexlo Test Software Ltd");
  EXPECT_GE(catalogs.hashSize, 20u);
  EXPECT_EQ(catalogs.catalogsReleased, 1);
  EXPECT_EQ(catalogs.contexts, 0);

  catalogs.failAcquire = true;
  outcome = Verify(catalogs, Signed(L"trust_sample.exe"), 1);
  EXPECT_EQ(outcome.trace, (Trace{L"csbd", L"csb1", L"eccac"})) << Narrow(outcome.trace);
  EXPECT_EQ(outcome.result, 0);
}

}  // namespace
