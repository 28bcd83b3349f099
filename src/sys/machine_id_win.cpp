#include "sys/machine_id_win.h"

#include <windows.h>
#include <winioctl.h>
#include <iphlpapi.h>

#include <cpuid.h>
#include <cstddef>

#include "sys/scoped_handle_win.h"
#include "sys/caller_buffer.h"
#include "sys/registry_win.h"

namespace {


// The network adapters' device class.
const wchar_t kNetworkClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002bE10318}";
// The drivers expect these exact layouts.
static_assert(sizeof(DISK_GEOMETRY) == 24, "drive geometry");
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12, "storage property query");
static_assert(sizeof(GETVERSIONINPARAMS) == 24, "SMART version");
static_assert(sizeof(SENDCMDINPARAMS) == 33, "SMART command input");
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == 16, "SMART command output");

// The buffer of the storage property and media serial queries.
constexpr DWORD kStorageBufferSize = 40960;

}  // namespace

CpuidRegisters Win32MachineProbes::Cpuid() {
  // Every processor this i686 build runs on has CPUID, so it cannot fault.
  CpuidRegisters registers;
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(1, a, b, c, d);
  registers.leaf1Eax = a;
  registers.leaf1Edx = d;
  __cpuid(3, a, b, c, d);
  registers.leaf3Ecx = c;
  registers.leaf3Edx = d;
  return registers;
}

std::wstring Win32MachineProbes::ModuleFileName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length < MAX_PATH ? length : MAX_PATH - 1);
}

StorageQueryData Win32MachineProbes::QueryStorage(const std::string& devicePath) {
  StorageQueryData data;
  ScopedHandle device(CreateFileA(devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  if (!device.IsValid()) return data;
  DISK_GEOMETRY geometry = {};
  DWORD returned = 0;
  if (!DeviceIoControl(device.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                       sizeof(geometry), &returned, nullptr)) {
    return data;
  }
  data.geometryOk = true;
  data.mediaType = static_cast<std::uint32_t>(geometry.MediaType);

  // The last byte is never offered, so a text at any offset ends inside.
  std::vector<std::uint8_t> buffer(kStorageBufferSize, 0);
  STORAGE_PROPERTY_QUERY query = {};  // the standard device property
  if (DeviceIoControl(device.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query),
                      buffer.data(), kStorageBufferSize - 1, &returned, nullptr)) {
    data.deviceDescriptor = buffer;
  }
  std::fill(buffer.begin(), buffer.end(), 0);
  if (DeviceIoControl(device.Get(), IOCTL_STORAGE_GET_MEDIA_SERIAL_NUMBER, nullptr, 0,
                      buffer.data(), kStorageBufferSize - 1, &returned, nullptr)) {
    data.mediaSerialNumber.assign(buffer.begin(), buffer.begin() + std::min(returned, kStorageBufferSize));
  }
  return data;
}

bool Win32MachineProbes::SmartIdentify(int driveNumber, SmartForm form,
                                       std::vector<std::uint8_t>* data) {
  const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(driveNumber);
  const bool registers = form == SmartForm::kDriveRegisters;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (registers ? 0 : FILE_SHARE_DELETE);
  ScopedHandle drive(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
  if (!drive.IsValid()) return false;
  GETVERSIONINPARAMS version = {};
  DWORD returned = 0;
  if (!DeviceIoControl(drive.Get(), SMART_GET_VERSION, nullptr, 0, &version, sizeof(version),
                       &returned, nullptr)) {
    return false;
  }
  SENDCMDINPARAMS input = {};
  DWORD inputSize = sizeof(SENDCMDINPARAMS);
  if (registers) {
    if (version.bIDEDeviceMap == 0) return false;
    inputSize = sizeof(SENDCMDINPARAMS) - 1;
    input.cBufferSize = kIdentifyDataSize;
    input.irDriveRegs.bSectorCountReg = 1;
    input.irDriveRegs.bSectorNumberReg = 1;
    input.irDriveRegs.bDriveHeadReg = (driveNumber & 1) ? 0xB0 : 0xA0;
    input.irDriveRegs.bCommandReg = SmartIdentifyCommand(version.bIDEDeviceMap, driveNumber);
    input.bDriveNumber = static_cast<BYTE>(driveNumber);
  } else {
    input.irDriveRegs.bCommandReg = ID_CMD;
  }
  // 528 bytes for the first form; the second offers 545, more than it needs.
  const DWORD outputSize = static_cast<DWORD>(
      (registers ? sizeof(SENDCMDOUTPARAMS) - 1 : sizeof(SENDCMDINPARAMS)) + kIdentifyDataSize);
  std::vector<std::uint8_t> output(outputSize, 0);
  if (!DeviceIoControl(drive.Get(), SMART_RCV_DRIVE_DATA, &input, inputSize, output.data(),
                       outputSize, &returned, nullptr)) {
    return false;
  }
  const std::size_t begin = offsetof(SENDCMDOUTPARAMS, bBuffer);
  data->assign(output.begin() + begin, output.begin() + begin + kIdentifyDataSize);
  return true;
}

bool Win32MachineProbes::ListAdapters(std::vector<NetworkAdapter>* adapters) {
  ULONG size = 0;
  if (GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW) return false;
  std::vector<std::uint8_t> buffer(size, 0);
  IP_ADAPTER_INFO* list = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  if (GetAdaptersInfo(list, &size) != ERROR_SUCCESS) return false;
  for (const IP_ADAPTER_INFO* info = list; info != nullptr; info = info->Next) {
    NetworkAdapter adapter;
    adapter.name.assign(info->AdapterName, strnlen(info->AdapterName, sizeof(info->AdapterName)));
    const UINT length = std::min<UINT>(info->AddressLength, MAX_ADAPTER_ADDRESS_LENGTH);
    adapter.address.assign(info->Address, info->Address + length);
    adapter.type = info->Type;
    adapters->push_back(adapter);
  }
  return true;
}

bool Win32MachineProbes::AdapterCharacteristics(const std::string& adapterName,
                                                std::uint32_t* characteristics) {
  ScopedRegKey classKey;
  if (!classKey.Open(HKEY_LOCAL_MACHINE, kNetworkClassKey, KEY_ENUMERATE_SUB_KEYS)) return false;
  const std::wstring wideName(adapterName.begin(), adapterName.end());  // a GUID text
  for (DWORD index = 0;; ++index) {
    wchar_t subkey[256] = {};
    DWORD length = 256;
    const LONG result =
        RegEnumKeyExW(classKey.get(), index, subkey, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;  // a name too long for a class entry
    if (result != ERROR_SUCCESS) return false;  // the end of the list, or no list
    const std::wstring path = std::wstring(kNetworkClassKey) + L"\\" + subkey;
    ScopedRegKey entry;
    std::wstring instanceId;
    if (!entry.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_QUERY_VALUE) ||
        !ReadRegistryString(entry.get(), L"NetCfgInstanceId", &instanceId) ||
        lstrcmpiW(instanceId.c_str(), wideName.c_str()) != 0) {
      continue;
    }
    DWORD value = 0;
    *characteristics = ReadRegistryDword(entry.get(), L"Characteristics", &value) ? value : 0;
    return true;
  }
}

bool Win32MachineProbes::VolumeSerial(const std::string& rootPath, std::uint32_t* serial) {
  DWORD value = 0;
  if (!GetVolumeInformationA(rootPath.c_str(), nullptr, 0, &value, nullptr, nullptr, nullptr, 0)) {
    return false;
  }
  *serial = value;
  return true;
}

int QueryMachineIdentifier(wchar_t* buffer, std::uint32_t* size) {
  Win32MachineProbes probes;
  const std::string identifier = BuildMachineIdentifier(probes);
  std::wstring wide(identifier.size(), L'\0');
  const int converted = MultiByteToWideChar(CP_ACP, 0, identifier.data(),
                                            static_cast<int>(identifier.size()), &wide[0],
                                            static_cast<int>(wide.size()));
  wide.resize(converted > 0 ? converted : 0);
  if (wide.empty()) wide = L"0";
  return CopyToCallerBuffer(wide, buffer, size);
}
