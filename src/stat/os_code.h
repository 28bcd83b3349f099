#pragma once

#include <cstdint>

// The parts of the extended OS version record that the OS code depends on.
struct OsVersionData {
  bool queried = false;          // false when the version query failed
  std::uint32_t platformId = 0;  // 2: the NT family
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint16_t servicePackMajor = 0;
  std::uint8_t productType = 0;  // 1: workstation
};

constexpr std::uint32_t kOsPlatformNt = 2;
constexpr std::uint8_t kOsProductWorkstation = 1;

// The reported OS code: 100-103 XP, 104-106 Server 2003, 110-112 Vista,
// 120-122 Server 2008, 130 Windows 7, 123 Server 2008 R2; 0 for anything else
// (a failed query, non-NT, older or newer versions, unlisted service packs).
int OsCodeFor(const OsVersionData& version);

// The reported OS build: the build number, 0 when the query failed.
std::uint32_t OsBuildFor(const OsVersionData& version);
