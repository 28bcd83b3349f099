// The trust check against real files signed by the build (cmake/Signing.cmake)
// in a prefix that trusts the build's test certificate authority. The catalog
// branches go through a replaced catalog interface: under Wine no catalog
// ever holds a file.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sys/file_trust_win.h"
#include "sys/scoped_handle_win.h"
#include "sys/testing/test_files_win.h"
#include "sys/testing/trusted_root_win.h"

namespace {

using Trace = std::vector<std::wstring>;

std::wstring Signed(const wchar_t* name) { return WinePath(L"" ZETORA_SIGNED_DIR) + L"\\" + name; }

struct Outcome {
  int result = 0;
  SignerIdentity signer;
  Trace trace;
  bool accepted() const { return result != 0 && IsSignerAccepted(signer, ProductSignerPolicy()); }
};

Outcome Verify(TrustSystem& catalogs, const std::wstring& path, int beforeDownload) {
  Outcome outcome;
  outcome.signer.displayName = L"stale";
  ScopedHandle file(OpenForVerification(path));
  outcome.result = VerifyFileTrustWith(catalogs, file.Get(), path, &outcome.signer, beforeDownload,
                                       [&](const wchar_t* value) { outcome.trace.push_back(value); });
  return outcome;
}

std::string ReadText(const std::wstring& path) {
  std::string text;
  ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  char buffer[256];
  DWORD read = 0;
  if (file.IsValid() && ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) text.assign(buffer, read);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The trace without its revocation answer ("rvok" or "rvunk"), for files
// whose revocation state the system may or may not be able to learn.
Trace WithoutRevocationAnswer(Trace trace) {
  Trace kept;
  for (const auto& value : trace) {
    if (value != L"rvok" && value != L"rvunk") kept.push_back(value);
  }
  return kept;
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

TEST_F(FileTrust, OnlyTheMakersTrustedUnrevokedSignatureIsAccepted) {
  const wchar_t* kMaker = L"Vexlo Test Software Ltd";
  // The test leaves name no revocation list, so whether revocation could be
  // checked ("rvok") or not ("rvunk") depends on the system; the table
  // compares the rest.
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
      // Trusted, and the name begins like the maker's: still another company.
      {L"trust_sample_lookalike.exe", 0, 1, L"Vexlon Trading Ltd", kVerified, false},
      // Verified signature, root not trusted: the name alone does not count.
      {L"trust_sample_selfsigned.exe", 0, 0, kMaker, kVerified, false},
      // Refused by the system; the embedded signature still names the signer.
      {L"trust_sample_altered.exe", 0, 0, kMaker, kRejected, false},
      {L"no_such_file.exe", 1, 0, L"", {L"csb1", L"ecarc"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::string(c.file, c.file + wcslen(c.file)) << " before=" << c.beforeDownload);
    const Outcome outcome = Verify(SystemTrust(), Signed(c.file), c.beforeDownload);
    Trace trace = {c.beforeDownload ? L"csbd" : L"csad"};
    trace.insert(trace.end(), c.trace.begin(), c.trace.end());
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(outcome.signer.displayName, c.signer);
    EXPECT_EQ(WithoutRevocationAnswer(outcome.trace), trace) << Narrow(outcome.trace);
    EXPECT_EQ(outcome.accepted(), c.accepted);
  }
}

// The maker's leaf, revoked by the authority in the revocation list it names
// (a file URL into the build's test-pki folder).
TEST_F(FileTrust, RevokedSignerIsRefused) {
  const Outcome outcome = Verify(SystemTrust(), Signed(L"trust_sample_revoked.exe"), 0);
  const bool checked = std::find(outcome.trace.begin(), outcome.trace.end(), L"rvrev") != outcome.trace.end();
  if (!checked) {
    // The system could not read the list: the file is judged without it.
    EXPECT_EQ(WithoutRevocationAnswer(outcome.trace), (Trace{L"csad", L"csb1", L"ecfh1", L"wvt", L"success"}))
        << Narrow(outcome.trace);
    GTEST_SKIP() << "revocation list not read here: " << Narrow(outcome.trace);
  }
  EXPECT_EQ(outcome.trace, (Trace{L"csad", L"csb1", L"ecfh1", L"rvrev"})) << Narrow(outcome.trace);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.signer.displayName, L"Vexlo Test Software Ltd");
  EXPECT_FALSE(outcome.accepted());
}

// The leaf's subject and key as the policy sees them; the key hash is the
// one openssl computes from the certificate, so an operator can pin it.
TEST_F(FileTrust, SignerIdentityAndPinnedKey) {
  const Outcome outcome = Verify(SystemTrust(), Signed(L"trust_sample.exe"), 0);
  ASSERT_EQ(outcome.result, 1);
  EXPECT_EQ(outcome.signer.commonName, L"Vexlo Test Software Ltd");
  EXPECT_EQ(outcome.signer.organisation, L"Vexlo Test Software Ltd");
  const std::string key = ReadText(WinePath(L"" ZETORA_TEST_MAKER_KEY_SHA256));
  ASSERT_EQ(key.size(), 64u);
  EXPECT_EQ(outcome.signer.publicKeySha256, key);
  EXPECT_TRUE(IsSignerAccepted(outcome.signer, MakeSignerPolicy(L"Vexlo Test Software Ltd", key)));
  EXPECT_FALSE(IsSignerAccepted(outcome.signer,
                                MakeSignerPolicy(L"Vexlo Test Software Ltd", std::string(64, '0'))));
}

// The check reads the file through the caller's handle, which keeps it from
// being changed until the caller lets go.
TEST_F(FileTrust, HeldFileCannotBeReplaced) {
  const std::wstring dir = MakeTestDirectory(L"trust_held");
  const std::wstring path = dir + L"\\package.exe";
  ASSERT_TRUE(CopyFileW(Signed(L"trust_sample.exe").c_str(), path.c_str(), FALSE));
  ScopedHandle held(OpenForVerification(path));
  ASSERT_TRUE(held.IsValid());
  SignerIdentity signer;
  EXPECT_EQ(VerifyFileTrust(held.Get(), path, &signer, 0, [](const wchar_t*) {}), 1);
  ScopedHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(writer.IsValid());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(MoveFileExW(Signed(L"trust_sample_othercompany.exe").c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  // Readers, such as the version query, still get in.
  ScopedHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(reader.IsValid());
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

  const Outcome outcome = Verify(SystemTrust(), signedPath + L"\\x.exe", 0);
  EXPECT_EQ(outcome.result, 0);
  EXPECT_EQ(outcome.signer.displayName, L"");
  EXPECT_EQ(Verify(SystemTrust(), signedPath, 0).signer.displayName, L"Vexlo Test Software Ltd");
}

// The real catalog calls, except that a catalog can be made to hold every
// file and the administrator context can be made to fail.
class FakeCatalogs : public TrustSystem {
 public:
  BOOL AcquireContext(HCATADMIN* admin) override {
    if (failAcquire) return FALSE;
    ++contexts;
    return SystemTrust().AcquireContext(admin);
  }
  BOOL CalcHashFromFileHandle(HANDLE file, DWORD* size, BYTE* hash) override {
    return SystemTrust().CalcHashFromFileHandle(file, size, hash);
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
    return SystemTrust().ReleaseContext(admin);
  }
  LONG VerifyTrust(WINTRUST_DATA* data) override { return SystemTrust().VerifyTrust(data); }

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
  EXPECT_EQ(outcome.signer.displayName, L"Vexlo Test Software Ltd");
  EXPECT_GE(catalogs.hashSize, 20u);
  EXPECT_EQ(catalogs.catalogsReleased, 1);
  EXPECT_EQ(catalogs.contexts, 0);

  catalogs.failAcquire = true;
  outcome = Verify(catalogs, Signed(L"trust_sample.exe"), 1);
  EXPECT_EQ(outcome.trace, (Trace{L"csbd", L"csb1", L"eccac"})) << Narrow(outcome.trace);
  EXPECT_EQ(outcome.result, 0);
}

// The real calls, recording what each WinVerifyTrust call was asked, with
// the first verification's answer replaced: Wine reads no revocation list
// and has no unreachable revocation server, so the answers Windows gives
// then are put in the place of its own (after the real call, so that the
// state the check reads and closes is a real one).
class RevocationAnswers : public FakeCatalogs {
 public:
  struct Call {
    DWORD stateAction;
    DWORD revocationChecks;
    DWORD providerFlags;
    bool operator==(const Call& other) const {
      return stateAction == other.stateAction && revocationChecks == other.revocationChecks &&
             providerFlags == other.providerFlags;
    }
  };
  LONG VerifyTrust(WINTRUST_DATA* data) override {
    calls.push_back({data->dwStateAction, data->fdwRevocationChecks, data->dwProvFlags});
    const LONG real = SystemTrust().VerifyTrust(data);
    const bool firstVerify = data->dwStateAction == WTD_STATEACTION_VERIFY && !answered;
    if (!firstVerify) return real;
    answered = true;
    return firstAnswer;
  }

  LONG firstAnswer = 0;
  bool answered = false;
  std::vector<Call> calls;
};

// What the check asks WinVerifyTrust for, and how each revocation answer
// decides: revoked refuses; no revocation information (an unreachable
// server, an offline machine, a certificate naming no list) repeats the
// check without revocation and may accept; any other failure refuses.
TEST_F(FileTrust, RevocationIsAskedOfTheWholeChainAndEachAnswerDecides) {
  using Call = RevocationAnswers::Call;
  const Call kWholeChain = {WTD_STATEACTION_VERIFY, WTD_REVOKE_WHOLECHAIN,
                            WTD_SAFER_FLAG | WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT};
  const Call kWithoutRevocation = {WTD_STATEACTION_VERIFY, WTD_REVOKE_NONE, WTD_SAFER_FLAG};
  const Call kClose = {WTD_STATEACTION_CLOSE, WTD_REVOKE_WHOLECHAIN, 0};
  const Call kCloseAfterRetry = {WTD_STATEACTION_CLOSE, WTD_REVOKE_NONE, 0};
  const Trace kAccepted = {L"csad", L"csb1", L"ecfh1", L"rvunk", L"wvt", L"success"};
  const struct {
    const char* name;
    LONG firstAnswer;
    std::vector<Call> calls;
    Trace trace;
    bool accepted;
  } cases[] = {
      {"revoked", static_cast<LONG>(CERT_E_REVOKED), {kWholeChain, kClose},
       {L"csad", L"csb1", L"ecfh1", L"rvrev"}, false},
      {"revoked by the message layer", static_cast<LONG>(CRYPT_E_REVOKED), {kWholeChain, kClose},
       {L"csad", L"csb1", L"ecfh1", L"rvrev"}, false},
      {"server unreachable", static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE),
       {kWholeChain, kClose, kWithoutRevocation, kCloseAfterRetry}, kAccepted, true},
      {"no revocation check possible", static_cast<LONG>(CRYPT_E_NO_REVOCATION_CHECK),
       {kWholeChain, kClose, kWithoutRevocation, kCloseAfterRetry}, kAccepted, true},
      {"revocation check failed", static_cast<LONG>(CERT_E_REVOCATION_FAILURE),
       {kWholeChain, kClose, kWithoutRevocation, kCloseAfterRetry}, kAccepted, true},
      {"untrusted root", static_cast<LONG>(CERT_E_UNTRUSTEDROOT), {kWholeChain, kClose},
       {L"csad", L"csb1", L"ecfh1"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RevocationAnswers system;
    system.firstAnswer = c.firstAnswer;
    const Outcome outcome = Verify(system, Signed(L"trust_sample.exe"), 0);
    EXPECT_TRUE(system.calls == c.calls) << system.calls.size() << " calls";
    EXPECT_EQ(outcome.trace, c.trace) << Narrow(outcome.trace);
    EXPECT_EQ(outcome.accepted(), c.accepted);
    EXPECT_EQ(system.contexts, 0);
  }
}

}  // namespace
