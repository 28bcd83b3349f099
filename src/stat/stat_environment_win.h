#pragma once

#include "stat/stat_environment.h"

// The run record's view of the machine: local time, CoCreateGuid, this
// module's VERSIONINFO and GetVersionExW.
class Win32StatEnvironment : public StatEnvironment {
 public:
  LocalTime LocalNow() override;
  RunGuid NewRunGuid() override;
  bool ReadFileVersion(std::uint16_t parts[4]) override;
  OsVersionData QueryOsVersion() override;
  // PcCode and Uinf: empty until the machine identifier and the software
  // fingerprint probes exist. They belong here, read once at initialisation.
  std::wstring MachineIdentifier() override { return std::wstring(); }
  std::wstring SoftwareFingerprint() override { return std::wstring(); }
};
