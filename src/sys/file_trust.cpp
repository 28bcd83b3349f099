#include "sys/file_trust.h"

bool IsSignerAccepted(const std::wstring& signerName) {
  for (const wchar_t* word : {L"vexlo", L"Vexlo", L"VEXLO"}) {
    if (signerName.find(word) != std::wstring::npos) return true;
  }
  return false;
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
