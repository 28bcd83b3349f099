#include "sys/software_fingerprint_win.h"

#include <windows.h>

#include "sys/caller_buffer.h"
#include "sys/os_version_win.h"
#include "sys/registry_win.h"

namespace {

constexpr DWORD kExpandedPathLimit = 512;

HKEY RootOf(RegistryHive hive) {
  return hive == RegistryHive::kCurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace

OsVersionData Win32SoftwareProbes::QueryOsVersion() { return ::QueryOsVersion(); }

bool Win32SoftwareProbes::KeyExists(RegistryHive hive, const std::wstring& path) {
  return RegistryKeyExists(RootOf(hive), path.c_str());
}

bool Win32SoftwareProbes::ReadString(RegistryHive hive, const std::wstring& path,
                                     const std::wstring& name, std::wstring* value) {
  return ReadRegistryString(RootOf(hive), path.c_str(), name.empty() ? nullptr : name.c_str(), value);
}

bool Win32SoftwareProbes::FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32SoftwareProbes::ExpandEnvironment(const std::wstring& text, std::wstring* expanded) {
  wchar_t buffer[kExpandedPathLimit] = {};
  const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), buffer, kExpandedPathLimit);
  if (needed == 0 || needed > kExpandedPathLimit) return false;
  *expanded = buffer;
  return true;
}

int QuerySoftwareFingerprint(wchar_t* buffer, std::uint32_t* size) {
  Win32SoftwareProbes probes;
  return CopyToCallerBuffer(FormatFingerprint(ComputeFingerprint(probes)), buffer, size);
}
