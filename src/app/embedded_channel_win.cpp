#include "app/embedded_channel_win.h"

#include <cstring>

#include "app/embedded_channel.h"

namespace {

struct EnumState {
  unsigned char buffer[kMaxEmbeddedChannelResource];
  std::size_t size = 0;
  bool found = false;
};

BOOL CALLBACK OnResourceName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param) {
  EnumState* state = reinterpret_cast<EnumState*>(param);
  if (IS_INTRESOURCE(name) || !IsEmbeddedChannelName(name)) return FALSE;
  HRSRC info = FindResourceW(module, name, type);
  if (info == nullptr) return FALSE;
  const DWORD size = SizeofResource(module, info);
  if (size > kMaxEmbeddedChannelResource) return FALSE;
  HGLOBAL loaded = LoadResource(module, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) return FALSE;
  std::memset(state->buffer, 0, sizeof(state->buffer));
  std::memcpy(state->buffer, data, size);
  state->size = size;
  state->found = true;
  return TRUE;
}

}  // namespace

bool ReadEmbeddedChannel(HMODULE module, std::string* channel) {
  channel->clear();
  EnumState state;
  if (!EnumResourceNamesW(module, MAKEINTRESOURCEW(23), OnResourceName,
                          reinterpret_cast<LONG_PTR>(&state)) ||
      !state.found) {
    return false;
  }
  *channel = DecodeEmbeddedChannel(state.buffer, state.size);
  return true;
}

std::wstring Cp936ToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}
