#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The EMBEDDED channel resource: a 32-bit little-endian length L followed by
// L bytes of the channel identifier (code page 936), each XORed with
// kEmbeddedChannelMask. A resource larger than this is ignored.
constexpr std::size_t kMaxEmbeddedChannelResource = 1024;

// Unscrambles a resource image. At most (size - 4) bytes are used; the text
// ends at the first zero byte or after L bytes. Anything shorter than the
// length field gives the empty string.
std::string DecodeEmbeddedChannel(const unsigned char* data, std::size_t size);

// Builds the resource image for a code page 936 identifier (channel builds).
std::vector<unsigned char> EncodeEmbeddedChannel(const std::string& cp936);

// True when a resource name (UTF-16) qualifies: upper-cased, it begins with
// "EMBEDDED".
bool IsEmbeddedChannelName(const std::wstring& name);
