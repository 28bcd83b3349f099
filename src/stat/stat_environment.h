#pragma once

#include <cstdint>
#include <string>

#include "stat/os_code.h"

// A local calendar time and the same moment as a 64-bit file time (100 ns
// units); durations are differences of the file times. All zero: unset.
struct LocalTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int milliseconds = 0;
  std::uint64_t fileTime = 0;
};

// The fields of a GUID in the order they are printed.
struct RunGuid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

// What the run record reads from the machine it runs on.
class StatEnvironment {
 public:
  virtual ~StatEnvironment() = default;
  virtual LocalTime LocalNow() = 0;
  virtual RunGuid NewRunGuid() = 0;
  // The four 16-bit parts of this program's file version, most significant
  // first; false when the version resource cannot be read.
  virtual bool ReadFileVersion(std::uint16_t parts[4]) = 0;
  virtual OsVersionData QueryOsVersion() = 0;
  // Reported as PcCode and Uinf; empty when unavailable.
  virtual std::wstring MachineIdentifier() = 0;
  virtual std::wstring SoftwareFingerprint() = 0;
};
