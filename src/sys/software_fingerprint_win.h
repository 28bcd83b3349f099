#pragma once

#include <cstdint>

#include "sys/software_fingerprint.h"

// The fingerprint's probes over the real registry, file system and version.
class Win32SoftwareProbes : public SoftwareProbes {
 public:
  OsVersionData QueryOsVersion() override;
  bool KeyExists(RegistryHive hive, const std::wstring& path) override;
  bool ReadString(RegistryHive hive, const std::wstring& path, const std::wstring& name,
                  std::wstring* value) override;
  bool FileExists(const std::wstring& path) override;
  bool ExpandEnvironment(const std::wstring& text, std::wstring* expanded) override;
};

// The fingerprint text through the caller-buffer protocol: 0 when copied
// into buffer, 1 with *size set to the length needed + 1025 otherwise.
int QuerySoftwareFingerprint(wchar_t* buffer, std::uint32_t* size);
