#include "sys/file_trust.h"

#include "build_config.h"

namespace {

// WinVerifyTrust results of a check with revocation (winerror.h).
constexpr std::uint32_t kCertRevoked = 0x800B010C;            // CERT_E_REVOKED
constexpr std::uint32_t kCryptRevoked = 0x80092010;           // CRYPT_E_REVOKED
constexpr std::uint32_t kRevocationFailure = 0x800B010E;      // CERT_E_REVOCATION_FAILURE
constexpr std::uint32_t kNoRevocationCheck = 0x80092012;      // CRYPT_E_NO_REVOCATION_CHECK
constexpr std::uint32_t kRevocationOffline = 0x80092013;      // CRYPT_E_REVOCATION_OFFLINE

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

SignerPolicy MakeSignerPolicy(const std::wstring& name, const std::string& keyList) {
  SignerPolicy policy;
  policy.name = name;
  std::string key;
  auto finish = [&]() {
    if (!key.empty()) policy.keySha256.push_back(key);
    key.clear();
  };
  for (char c : keyList) {
    if (c == ';') {
      finish();
    } else if (c != ' ' && c != '\t') {
      key += (c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c;
    }
  }
  finish();
  return policy;
}

const SignerPolicy& ProductSignerPolicy() {
  static const SignerPolicy policy =
      MakeSignerPolicy(build_config::kSignerName, build_config::kSignerKeySha256);
  return policy;
}

bool IsSignerAccepted(const SignerIdentity& signer, const SignerPolicy& policy) {
  if (policy.name.empty()) return false;
  if (signer.commonName != policy.name && signer.organisation != policy.name) return false;
  if (policy.keySha256.empty()) return true;
  if (signer.publicKeySha256.size() != 64) return false;
  for (char c : signer.publicKeySha256) {
    if (!IsHexDigit(c)) return false;
  }
  for (const std::string& key : policy.keySha256) {
    if (key == signer.publicKeySha256) return true;
  }
  return false;
}

RevocationVerdict JudgeRevocationResult(std::uint32_t status) {
  switch (status) {
    case 0:
      return RevocationVerdict::kGood;
    case kCertRevoked:
    case kCryptRevoked:
      return RevocationVerdict::kRevoked;
    case kRevocationFailure:
    case kNoRevocationCheck:
    case kRevocationOffline:
      return RevocationVerdict::kUnavailable;
    default:
      return RevocationVerdict::kFailed;
  }
}

const wchar_t* RevocationTraceValue(RevocationVerdict verdict) {
  switch (verdict) {
    case RevocationVerdict::kGood:
      return L"rvok";
    case RevocationVerdict::kUnavailable:
      return L"rvunk";
    case RevocationVerdict::kRevoked:
      return L"rvrev";
    case RevocationVerdict::kFailed:
      break;
  }
  return nullptr;
}

std::wstring HashToMemberTag(const std::uint8_t* hash, std::size_t size) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring tag;
  tag.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    tag += kDigits[hash[i] >> 4];
    tag += kDigits[hash[i] & 0x0F];
  }
  return tag;
}
