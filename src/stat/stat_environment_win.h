#pragma once

#include <string>

#include "stat/stat_environment.h"

// The run record's view of the machine: local time, CoCreateGuid, this
// module's VERSIONINFO, GetVersionExW, the machine identifier and the
// software fingerprint.
class Win32StatEnvironment : public StatEnvironment {
 public:
  LocalTime LocalNow() override;
  RunGuid NewRunGuid() override;
  bool ReadFileVersion(std::uint16_t parts[4]) override;
  OsVersionData QueryOsVersion() override;
  // PcCode and Uinf. The first call runs both probes at once, each on a
  // thread of its own, and waits for them at most kIdentityProbeLimitMs: a
  // device that does not answer leaves its field empty and never holds up
  // the run. Later calls return what the first one found.
  std::wstring MachineIdentifier() override;
  std::wstring SoftwareFingerprint() override;

  static constexpr unsigned kIdentityProbeLimitMs = 1000;

 private:
  void ReadIdentityOnce();

  bool identityRead_ = false;
  std::wstring machineId_;
  std::wstring fingerprint_;
};
