#pragma once

// The software environment fingerprint: two bit masks, the first for the
// Windows and Internet Explorer versions and installed security and
// internet-cafe software, the second for the installed browsers and the
// default browser. Every probe is a read-only registry or file check behind
// SoftwareProbes; the Win32 probes are in software_fingerprint_win.cpp.
#include <cstdint>
#include <string>

#include "sys/os_version.h"

enum class RegistryHive { kLocalMachine, kCurrentUser };

class SoftwareProbes {
 public:
  virtual ~SoftwareProbes() = default;
  virtual OsVersionData QueryOsVersion() = 0;
  virtual bool KeyExists(RegistryHive hive, const std::wstring& path) = 0;
  // A string value (an empty name: the key's default value), whole however
  // long; false when the key or the value is absent.
  virtual bool ReadString(RegistryHive hive, const std::wstring& path, const std::wstring& name,
                          std::wstring* value) = 0;
  virtual bool FileExists(const std::wstring& path) = 0;
  // Environment variables expanded into at most 512 characters; false when
  // the expansion fails or does not fit.
  virtual bool ExpandEnvironment(const std::wstring& text, std::wstring* expanded) = 0;
};

struct FingerprintWords {
  std::uint32_t environment = 0;
  std::uint32_t browsers = 0;
};

// First word: the Windows version.
constexpr std::uint32_t kFingerprintWindowsXp = 0x80000000;
constexpr std::uint32_t kFingerprintWindowsVista = 0x40000000;
constexpr std::uint32_t kFingerprintWindows7 = 0x20000000;
constexpr std::uint32_t kFingerprintWindows8 = 0x10000000;
// First word: the Internet Explorer version.
constexpr std::uint32_t kFingerprintIe6 = 0x800000;
constexpr std::uint32_t kFingerprintIe7 = 0x400000;
constexpr std::uint32_t kFingerprintIe8 = 0x200000;
constexpr std::uint32_t kFingerprintIe9 = 0x100000;
constexpr std::uint32_t kFingerprintIe10 = 0x80000;

// The version code of the fingerprint: 100 XP, 104 Server 2003, 110/120
// Vista/Server 2008, 130/123 Windows 7/Server 2008 R2, 140 Windows 8
// workstation or major version 7; 0 otherwise. Only 100, 110, 130 and 140
// set a bit.
int FingerprintVersionCode(const OsVersionData& version);

// Runs every probe in order: Windows version, Internet Explorer version,
// security software, installed browsers, default browser, cafe software.
FingerprintWords ComputeFingerprint(SoftwareProbes& probes);

// "%u-%u": the first word, then the second.
std::wstring FormatFingerprint(const FingerprintWords& words);
