#pragma once

#include <cstdint>

// The parts of the extended OS version record (OSVERSIONINFOEXW) that the
// statistics codes and the software fingerprint depend on.
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
