#pragma once

// The machine identifier: "C_<processor>-D_<disk>-M_<network>-V_<volume>",
// URL-encoded, built from what the machine's devices report. The probes sit
// behind MachineProbes so every rule runs on recorded inputs; the Win32
// probes are in machine_id_win.cpp.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CpuidRegisters {
  std::uint32_t leaf1Eax = 0;
  std::uint32_t leaf1Edx = 0;
  std::uint32_t leaf3Ecx = 0;
  std::uint32_t leaf3Edx = 0;
};

// What one storage query on a device path returned, as the device gave it.
struct StorageQueryData {
  bool geometryOk = false;
  std::uint32_t mediaType = 0;                   // the drive geometry's MEDIA_TYPE
  std::vector<std::uint8_t> deviceDescriptor;    // the property buffer; empty when that query failed
  std::vector<std::uint8_t> mediaSerialNumber;   // the bytes returned; empty when that query failed
};

// The two forms of the SMART identify command on "\\.\PhysicalDrive<n>".
enum class SmartForm {
  kDriveRegisters,  // the drive's own registers, ATAPI or ATA identify by the device map
  kCommandOnly,     // only the command register set (ATA identify)
};

struct NetworkAdapter {
  std::string name;  // the adapter's GUID text, as the network class entries name it
  std::vector<std::uint8_t> address;
  std::uint32_t type = 0;  // 6: Ethernet
};

class MachineProbes {
 public:
  virtual ~MachineProbes() = default;
  // Leaves 1 and 3; all zero when CPUID cannot run.
  virtual CpuidRegisters Cpuid() = 0;
  // The running executable's full path.
  virtual std::wstring ModuleFileName() = 0;
  virtual StorageQueryData QueryStorage(const std::string& devicePath) = 0;
  // The 512 bytes of identify data of drive n; false when the drive or the
  // command fails.
  virtual bool SmartIdentify(int driveNumber, SmartForm form, std::vector<std::uint8_t>* data) = 0;
  // The adapter list in the system's order; false when it cannot be read.
  virtual bool ListAdapters(std::vector<NetworkAdapter>* adapters) = 0;
  // The "Characteristics" of the network class entry whose "NetCfgInstanceId"
  // is the adapter name (case-insensitive); false when no entry matches.
  virtual bool AdapterCharacteristics(const std::string& adapterName,
                                      std::uint32_t* characteristics) = 0;
  // The serial number of the volume at rootPath; false when the query fails.
  virtual bool VolumeSerial(const std::string& rootPath, std::uint32_t* serial) = 0;
};

// MEDIA_TYPE FixedMedia and RemovableMedia.
constexpr std::uint32_t kMediaFixed = 12;
constexpr std::uint32_t kMediaRemovable = 11;
constexpr std::size_t kIdentifyDataSize = 512;
constexpr std::size_t kMaxPhysicalDrives = 16;
constexpr std::size_t kDiskPartMaxLength = 40;

// What one disk query found. It answers only for a fixed medium with a serial.
struct DiskQueryResult {
  std::uint32_t mediaType = 0;
  std::string serial;
  bool Answers() const { return mediaType == kMediaFixed && !serial.empty(); }
};

// 'C', then the executable's own drive letter unless that is C.
std::vector<char> DriveLetters(const std::wstring& moduleFileName);

std::string ProcessorPart(const CpuidRegisters& registers);

DiskQueryResult ParseStorageQuery(const StorageQueryData& data);
DiskQueryResult ParseIdentifyData(const std::vector<std::uint8_t>& data);
// The SMART identify command for drive n by the device map of SMART_GET_VERSION.
std::uint8_t SmartIdentifyCommand(std::uint8_t deviceMap, int driveNumber);

// The serial of the first fixed disk found for the drive letter, "" if none.
std::string FindDiskSerial(MachineProbes& probes, char driveLetter);
// Decodes a serial that some drivers report as hexadecimal text, undoing the
// byte swap of ATA strings.
std::string RepairHexSerial(const std::string& serial);
// Spaces removed, "0" when nothing is left.
std::string NormalisePart(const std::string& part);

std::string DiskPart(MachineProbes& probes, const std::vector<char>& letters);
std::string NetworkPart(MachineProbes& probes);
std::string VolumePart(MachineProbes& probes, const std::vector<char>& letters);

// Letters, digits and "-_.~" stay, a space becomes '+', any other byte %XX.
std::string UrlEncodeBytes(const std::string& text);

// The URL-encoded identifier; always produced, "0" for every missing part.
std::string BuildMachineIdentifier(MachineProbes& probes);
