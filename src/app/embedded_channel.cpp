#include "app/embedded_channel.h"

#include "app/channel_mask.h"

std::string DecodeEmbeddedChannel(const unsigned char* data, std::size_t size) {
  if (data == nullptr || size < 4) return std::string();
  if (size > kMaxEmbeddedChannelResource) size = kMaxEmbeddedChannelResource;
  const std::size_t declared = static_cast<std::size_t>(data[0]) |
                               (static_cast<std::size_t>(data[1]) << 8) |
                               (static_cast<std::size_t>(data[2]) << 16) |
                               (static_cast<std::size_t>(data[3]) << 24);
  const std::size_t available = size - 4;
  const std::size_t count = declared < available ? declared : available;
  std::string text;
  text.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const char c = static_cast<char>(data[4 + i] ^ kEmbeddedChannelMask);
    if (c == '\0') break;
    text.push_back(c);
  }
  return text;
}

std::vector<unsigned char> EncodeEmbeddedChannel(const std::string& cp936) {
  const std::size_t n = cp936.size();
  std::vector<unsigned char> image;
  image.reserve(4 + n);
  image.push_back(static_cast<unsigned char>(n & 0xFF));
  image.push_back(static_cast<unsigned char>((n >> 8) & 0xFF));
  image.push_back(static_cast<unsigned char>((n >> 16) & 0xFF));
  image.push_back(static_cast<unsigned char>((n >> 24) & 0xFF));
  for (char c : cp936) image.push_back(static_cast<unsigned char>(c) ^ kEmbeddedChannelMask);
  return image;
}

bool IsEmbeddedChannelName(const std::wstring& name) {
  static const wchar_t kPrefix[] = L"EMBEDDED";
  const std::size_t n = sizeof(kPrefix) / sizeof(kPrefix[0]) - 1;
  if (name.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    wchar_t c = name[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    if (c != kPrefix[i]) return false;
  }
  return true;
}
