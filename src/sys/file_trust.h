#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The parts of the package trust check that need no Windows: which signers
// are the maker's, how a revocation outcome is judged, and the text form of
// a file hash.

// The signer of a verified signature, read from its leaf certificate.
struct SignerIdentity {
  std::wstring displayName;   // simple display name, for the statistics
  std::wstring commonName;    // subject CN
  std::wstring organisation;  // subject O
  // Lower-case hexadecimal SHA-256 of the leaf's DER SubjectPublicKeyInfo
  // (what `openssl x509 -pubkey | openssl pkey -pubin -outform DER | sha256sum`
  // prints); empty when it could not be computed.
  std::string publicKeySha256;
};

// Which signer the installer accepts: the exact subject common name or
// organisation of the leaf, and, when keys are listed, one of those public
// keys.
struct SignerPolicy {
  std::wstring name;
  std::vector<std::string> keySha256;  // lower-case hexadecimal; empty: any key
};

// A policy from the build settings: the accepted name and a list of key
// hashes separated by ';' (spaces and letter case do not matter; empty
// entries are skipped).
SignerPolicy MakeSignerPolicy(const std::wstring& name, const std::string& keyList);

// The policy this build was made with (ZETORA_SIGNER_NAME,
// ZETORA_SIGNER_KEY_SHA256).
const SignerPolicy& ProductSignerPolicy();

// True when the leaf's CN or O equals the policy's name exactly (a name that
// only contains it is another company) and, if the policy lists keys, the
// leaf's key is one of them. A policy without a name accepts nobody.
bool IsSignerAccepted(const SignerIdentity& signer, const SignerPolicy& policy);

// The outcome of a verification that checked revocation on the whole chain.
enum class RevocationVerdict {
  kGood,         // verified, no certificate revoked
  kUnavailable,  // no revocation information could be had: verify without it
  kRevoked,      // a certificate of the chain is revoked: refuse
  kFailed,       // the verification failed for another reason: refuse
};

// Maps WinVerifyTrust's result to the verdict. A revocation server that is
// unreachable, or a certificate without revocation information, is not a
// refusal; a revoked certificate is.
RevocationVerdict JudgeRevocationResult(std::uint32_t status);

// The "csgn" trace value of a verdict ("rvok", "rvunk", "rvrev"), or null
// for kFailed (the trace then ends as before).
const wchar_t* RevocationTraceValue(RevocationVerdict verdict);

// The hash as upper-case hexadecimal text, high nibble first: the member tag
// a catalog files the hash under.
std::wstring HashToMemberTag(const std::uint8_t* hash, std::size_t size);
