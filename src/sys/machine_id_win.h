#pragma once

#include <cstdint>

#include "sys/machine_id.h"

// The machine identifier's probes over the real devices: CPUID, storage and
// SMART device queries, the IP Helper adapter list with the network class
// entries in the registry, and the volume serial numbers.
class Win32MachineProbes : public MachineProbes {
 public:
  CpuidRegisters Cpuid() override;
  std::wstring ModuleFileName() override;
  StorageQueryData QueryStorage(const std::string& devicePath) override;
  bool SmartIdentify(int driveNumber, SmartForm form, std::vector<std::uint8_t>* data) override;
  bool ListAdapters(std::vector<NetworkAdapter>* adapters) override;
  bool AdapterCharacteristics(const std::string& adapterName,
                              std::uint32_t* characteristics) override;
  bool VolumeSerial(const std::string& rootPath, std::uint32_t* serial) override;
};

// The machine identifier through the caller-buffer protocol: 0 when copied
// into buffer, 1 with *size set to the length needed + 1025 otherwise.
int QueryMachineIdentifier(wchar_t* buffer, std::uint32_t* size);
