#include "sys/file_trust.h"

#include <gtest/gtest.h>

namespace {

const std::string kKey(64, 'a');
const std::string kOtherKey(64, 'b');

TEST(FileTrust, SignerAcceptedOnlyByExactNameAndListedKey) {
  const SignerPolicy byName = MakeSignerPolicy(L"Vexlo Test Software Ltd", "");
  const SignerPolicy pinned =
      MakeSignerPolicy(L"Vexlo Test Software Ltd", " " + std::string(64, 'B') + " ; ;" + std::string(64, 'A'));
  const SignerPolicy unnamed = MakeSignerPolicy(L"", "");
  const struct {
    SignerIdentity signer;
    const SignerPolicy* policy;
    bool accepted;
  } cases[] = {
      {{L"", L"Vexlo Test Software Ltd", L"", kKey}, &byName, true},
      {{L"", L"Build Signing", L"Vexlo Test Software Ltd", kKey}, &byName, true},
      // Names that merely contain, extend or re-case the maker's are others.
      {{L"", L"Vexlon Trading Ltd", L"Vexlon Trading Ltd", kKey}, &byName, false},
      {{L"", L"xVexlo Test Software Ltdx", L"", kKey}, &byName, false},
      {{L"", L"VEXLO TEST SOFTWARE LTD", L"", kKey}, &byName, false},
      {{L"", L"Vexlo Test Software Ltd ", L"", kKey}, &byName, false},
      // The display name does not count: it may come from another attribute.
      {{L"Vexlo Test Software Ltd", L"Other", L"Other", kKey}, &byName, false},
      {{L"", L"", L"", kKey}, &byName, false},
      // Pinned keys: one of the listed keys, whatever the letter case given.
      {{L"", L"Vexlo Test Software Ltd", L"", kKey}, &pinned, true},
      {{L"", L"Vexlo Test Software Ltd", L"", kOtherKey}, &pinned, true},
      {{L"", L"Vexlo Test Software Ltd", L"", std::string(64, 'c')}, &pinned, false},
      {{L"", L"Vexlo Test Software Ltd", L"", ""}, &pinned, false},
      {{L"", L"Northwind Tools Ltd", L"", kKey}, &pinned, false},
      // A build without a signer name accepts nobody.
      {{L"", L"", L"", ""}, &unnamed, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSignerAccepted(c.signer, *c.policy), c.accepted)
        << std::string(c.signer.commonName.begin(), c.signer.commonName.end());
  }
  EXPECT_EQ(pinned.keySha256, (std::vector<std::string>{kOtherKey, kKey}));
}

TEST(FileTrust, RevocationOutcomes) {
  const struct {
    std::uint32_t status;
    RevocationVerdict verdict;
    const wchar_t* trace;
  } cases[] = {
      {0, RevocationVerdict::kGood, L"rvok"},
      {0x800B010C, RevocationVerdict::kRevoked, L"rvrev"},     // CERT_E_REVOKED
      {0x80092010, RevocationVerdict::kRevoked, L"rvrev"},     // CRYPT_E_REVOKED
      {0x800B010E, RevocationVerdict::kUnavailable, L"rvunk"}, // CERT_E_REVOCATION_FAILURE
      {0x80092012, RevocationVerdict::kUnavailable, L"rvunk"}, // CRYPT_E_NO_REVOCATION_CHECK
      {0x80092013, RevocationVerdict::kUnavailable, L"rvunk"}, // CRYPT_E_REVOCATION_OFFLINE
      {0x800B0100, RevocationVerdict::kFailed, nullptr},       // TRUST_E_NOSIGNATURE
      {0x80096010, RevocationVerdict::kFailed, nullptr},       // TRUST_E_BAD_DIGEST
      {0x800B0109, RevocationVerdict::kFailed, nullptr},       // CERT_E_UNTRUSTEDROOT
  };
  for (const auto& c : cases) {
    const RevocationVerdict verdict = JudgeRevocationResult(c.status);
    EXPECT_EQ(verdict, c.verdict) << std::hex << c.status;
    const wchar_t* trace = RevocationTraceValue(verdict);
    EXPECT_EQ(trace ? std::wstring(trace) : std::wstring(L"-"), c.trace ? c.trace : L"-");
  }
}

TEST(FileTrust, MemberTagIsUpperHexHighNibbleFirst) {
  const std::uint8_t hash[] = {0x00, 0x0F, 0xA5, 0xFF, 0x10};
  EXPECT_EQ(HashToMemberTag(hash, sizeof hash), L"000FA5FF10");
  EXPECT_EQ(HashToMemberTag(hash, 0), L"");
}

}  // namespace
