#include "stat/os_code.h"

namespace {

// base + service pack for service packs 0..lastPack, else 0.
int ByServicePack(int base, unsigned servicePack, unsigned lastPack) {
  return servicePack <= lastPack ? base + static_cast<int>(servicePack) : 0;
}

}  // namespace

int OsCodeFor(const OsVersionData& v) {
  if (!v.queried || v.platformId != kOsPlatformNt) return 0;
  const bool workstation = v.productType == kOsProductWorkstation;
  const unsigned sp = v.servicePackMajor;
  if (v.major == 5 && v.minor == 1) return ByServicePack(100, sp, 3);
  if (v.major == 5 && v.minor == 2) return workstation ? 0 : ByServicePack(104, sp, 2);
  if (v.major == 6 && v.minor == 0) return ByServicePack(workstation ? 110 : 120, sp, 2);
  if (v.major == 6 && v.minor == 1) return workstation ? 130 : 123;
  return 0;
}

std::uint32_t OsBuildFor(const OsVersionData& v) { return v.queried ? v.build : 0; }
