#pragma once

#include <windows.h>

#include <string>

// Owns one open registry key.
class ScopedRegKey {
 public:
  ScopedRegKey() = default;
  ~ScopedRegKey() { reset(); }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;

  // RegOpenKeyExW; false (and nothing held) when the key cannot be opened.
  bool Open(HKEY root, const wchar_t* path, REGSAM access);
  void reset();
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The string value name of key, whole however long, cut at its first zero
// character. False when the value is absent or unreadable.
bool ReadRegistryString(HKEY key, const wchar_t* name, std::wstring* value);
// The same under root\path, opened for query only.
bool ReadRegistryString(HKEY root, const wchar_t* path, const wchar_t* name, std::wstring* value);
// A REG_DWORD value; false when absent or of another type.
bool ReadRegistryDword(HKEY key, const wchar_t* name, DWORD* value);
// Whether root\path can be opened for query.
bool RegistryKeyExists(HKEY root, const wchar_t* path);
