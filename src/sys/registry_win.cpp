#include "sys/registry_win.h"

#include <algorithm>
#include <vector>

bool ScopedRegKey::Open(HKEY root, const wchar_t* path, REGSAM access) {
  reset();
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, access, &key) != ERROR_SUCCESS) return false;
  key_ = key;
  return true;
}

void ScopedRegKey::reset() {
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
}

bool ReadRegistryString(HKEY key, const wchar_t* name, std::wstring* value) {
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return false;
  // A value that grows between the size query and the read asks again.
  for (int attempt = 0; attempt < 4; ++attempt) {
    // One character more than the value holds: a stored string need not end
    // in a zero, and the read text always does.
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
    DWORD size = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    const LONG result = RegQueryValueExW(key, name, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (result == ERROR_MORE_DATA) {
      bytes = size;
      continue;
    }
    if (result != ERROR_SUCCESS) return false;
    buffer[std::min<std::size_t>(size / sizeof(wchar_t), buffer.size() - 1)] = L'\0';
    *value = buffer.data();
    return true;
  }
  // Still growing: the value is there, whatever it holds.
  value->clear();
  return true;
}

bool ReadRegistryString(HKEY root, const wchar_t* path, const wchar_t* name, std::wstring* value) {
  ScopedRegKey key;
  return key.Open(root, path, KEY_QUERY_VALUE) && ReadRegistryString(key.get(), name, value);
}

bool ReadRegistryDword(HKEY key, const wchar_t* name, DWORD* value) {
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof(data);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(data)) {
    return false;
  }
  *value = data;
  return true;
}

bool RegistryKeyExists(HKEY root, const wchar_t* path) {
  ScopedRegKey key;
  return key.Open(root, path, KEY_QUERY_VALUE);
}
