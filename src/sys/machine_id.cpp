#include "sys/machine_id.h"
#include "sys/text_format.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::uint32_t kCpuidProcessorSerialBit = 0x40000;  // leaf 1, EDX bit 18
constexpr std::uint32_t kAdapterVirtual = 0x1;
constexpr std::uint32_t kAdapterPhysical = 0x4;
constexpr std::uint32_t kAdapterTypeEthernet = 6;
// STORAGE_DEVICE_DESCRIPTOR: SerialNumberOffset.
constexpr std::size_t kDescriptorSerialOffset = 24;
// MEDIA_SERIAL_NUMBER_DATA: SerialNumberLength, then 12 more header bytes.
constexpr std::size_t kMediaSerialHeaderSize = 16;
// Identify data: word 0 flags, words 10 to 19 the serial number.
constexpr std::size_t kIdentifySerialFirstWord = 10;
constexpr std::size_t kIdentifySerialWords = 10;
constexpr unsigned kIdentifyFixed = 0x40;
constexpr unsigned kIdentifyRemovable = 0x80;

std::uint32_t ReadUint32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at + 4 > bytes.size()) return 0;
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// The text from begin up to the first zero byte, never past end.
std::string TextUpToZero(const std::vector<std::uint8_t>& bytes, std::size_t begin,
                         std::size_t end) {
  end = std::min(end, bytes.size());
  std::string text;
  for (std::size_t i = begin; i < end && bytes[i] != 0; ++i) text.push_back(static_cast<char>(bytes[i]));
  return text;
}

bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::uint8_t b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0xF]);
  }
  return text;
}

std::string VolumeDevicePath(char letter) { return std::string("\\\\.\\") + letter + ":"; }

}  // namespace

std::vector<char> DriveLetters(const std::wstring& moduleFileName) {
  const std::size_t slash = moduleFileName.rfind(L'\\');
  const std::wstring directory =
      slash == std::wstring::npos ? std::wstring(L"C:\\") : moduleFileName.substr(0, slash + 1);
  std::vector<char> letters = {'C'};
  const std::size_t colon = directory.find(L':');
  if (colon != std::wstring::npos && colon > 0) {
    const wchar_t own = directory[colon - 1];
    // Only a letter names a drive; anything else would build a bogus device path.
    const bool letter = (own >= L'A' && own <= L'Z') || (own >= L'a' && own <= L'z');
    if (letter && own != L'C' && own != L'c') letters.push_back(static_cast<char>(own));
  }
  return letters;
}

std::string ProcessorPart(const CpuidRegisters& r) {
  if ((r.leaf1Edx & kCpuidProcessorSerialBit) == 0) return "0";
  char text[32] = {};
  FormatNarrow(text, sizeof(text), "%08X%08X%08X", static_cast<unsigned>(r.leaf3Ecx),
                static_cast<unsigned>(r.leaf3Edx), static_cast<unsigned>(r.leaf1Eax));
  return NormalisePart(text);
}

DiskQueryResult ParseStorageQuery(const StorageQueryData& data) {
  DiskQueryResult result;
  if (!data.geometryOk) return result;
  result.mediaType = data.mediaType;
  const std::vector<std::uint8_t>& descriptor = data.deviceDescriptor;
  const std::uint32_t serialOffset = ReadUint32(descriptor, kDescriptorSerialOffset);
  if (serialOffset != 0) result.serial = TextUpToZero(descriptor, serialOffset, descriptor.size());
  const std::vector<std::uint8_t>& media = data.mediaSerialNumber;
  if (media.size() >= kMediaSerialHeaderSize) {
    // Bounded by the declared length and by what the device returned: the
    // data need not end in a zero.
    const std::size_t declared = ReadUint32(media, 0);
    const std::size_t available = media.size() - kMediaSerialHeaderSize;
    result.serial = TextUpToZero(media, kMediaSerialHeaderSize,
                                 kMediaSerialHeaderSize + std::min(declared, available));
  }
  return result;
}

DiskQueryResult ParseIdentifyData(const std::vector<std::uint8_t>& data) {
  DiskQueryResult result;
  if (data.size() < kIdentifyDataSize) return result;
  // ATA strings hold two characters a word, the high byte first.
  std::string serial;
  for (std::size_t w = kIdentifySerialFirstWord; w < kIdentifySerialFirstWord + kIdentifySerialWords; ++w) {
    serial.push_back(static_cast<char>(data[2 * w + 1]));
    serial.push_back(static_cast<char>(data[2 * w]));
  }
  serial.resize(std::min(serial.size(), serial.find('\0')));
  while (!serial.empty() && IsAsciiSpace(serial.back())) serial.pop_back();
  result.serial = serial;
  const unsigned flags = data[0];
  if (flags & kIdentifyFixed) {
    result.mediaType = kMediaFixed;
  } else if (flags & kIdentifyRemovable) {
    result.mediaType = kMediaRemovable;
  }
  return result;
}

std::uint8_t SmartIdentifyCommand(std::uint8_t deviceMap, int driveNumber) {
  const bool atapi = (deviceMap >> (driveNumber + 4)) & 1;
  return atapi ? 0xA1 : 0xEC;
}

std::string FindDiskSerial(MachineProbes& probes, char driveLetter) {
  DiskQueryResult result = ParseStorageQuery(probes.QueryStorage(VolumeDevicePath(driveLetter)));
  if (result.Answers()) return result.serial;
  for (std::size_t n = 0; n < kMaxPhysicalDrives; ++n) {
    const int drive = static_cast<int>(n);
    bool fixedDisk = false;
    result = ParseStorageQuery(probes.QueryStorage("\\\\.\\PhysicalDrive" + std::to_string(n)));
    if (result.Answers()) return result.serial;
    fixedDisk |= result.mediaType == kMediaFixed;
    for (SmartForm form : {SmartForm::kDriveRegisters, SmartForm::kCommandOnly}) {
      std::vector<std::uint8_t> data;
      result = probes.SmartIdentify(drive, form, &data) ? ParseIdentifyData(data) : DiskQueryResult();
      if (result.Answers()) return result.serial;
      fixedDisk |= result.mediaType == kMediaFixed;
    }
    // Only the first fixed physical disk is examined.
    if (fixedDisk) break;
  }
  return std::string();
}

std::string RepairHexSerial(const std::string& serial) {
  if (serial.empty() || serial.size() % 2 != 0) return serial;
  std::string decoded;
  for (std::size_t i = 0; i < serial.size(); i += 2) {
    const int high = HexValue(serial[i]);
    const int low = HexValue(serial[i + 1]);
    if (high < 0 || low < 0) return serial;
    const int byte = high * 16 + low;
    if (byte > 127) return serial;
    decoded.push_back(static_cast<char>(byte));
  }
  // A zero byte ends the text, as it would end the drive's string.
  decoded.resize(std::min(decoded.size(), decoded.find('\0')));
  bool innerSpace = false;
  for (std::size_t i = 1; i < decoded.size(); ++i) {
    innerSpace |= decoded[i] == ' ' && decoded[i - 1] != ' ';
  }
  if (innerSpace) {
    for (std::size_t i = 0; i + 1 < decoded.size(); i += 2) std::swap(decoded[i], decoded[i + 1]);
  }
  return decoded;
}

std::string NormalisePart(const std::string& part) {
  std::string result;
  for (char c : part) {
    if (c != ' ') result.push_back(c);
  }
  return result.empty() ? "0" : result;
}

std::string DiskPart(MachineProbes& probes, const std::vector<char>& letters) {
  std::string serial;
  for (char letter : letters) {
    serial = FindDiskSerial(probes, letter);
    if (!serial.empty()) break;
  }
  std::string part = NormalisePart(RepairHexSerial(serial));
  if (part.size() > kDiskPartMaxLength) part.resize(kDiskPartMaxLength);
  return part;
}

std::string NetworkPart(MachineProbes& probes) {
  std::vector<NetworkAdapter> adapters;
  if (!probes.ListAdapters(&adapters)) return NormalisePart("");
  std::string part;
  for (const NetworkAdapter& adapter : adapters) {
    std::uint32_t characteristics = 0;
    if (!probes.AdapterCharacteristics(adapter.name, &characteristics)) continue;
    if ((characteristics & kAdapterVirtual) || !(characteristics & kAdapterPhysical)) continue;
    // A later physical adapter replaces an earlier one until an Ethernet one.
    part = HexBytes(adapter.address);
    if (adapter.type == kAdapterTypeEthernet) break;
  }
  return NormalisePart(part);
}

std::string VolumePart(MachineProbes& probes, const std::vector<char>& letters) {
  for (char letter : letters) {
    std::uint32_t serial = 0;
    if (probes.VolumeSerial(VolumeDevicePath(letter), &serial) ||
        probes.VolumeSerial(std::string(1, letter) + ":\\", &serial)) {
      char text[16] = {};
      FormatNarrow(text, sizeof(text), "%08X", static_cast<unsigned>(serial));
      return NormalisePart(text);
    }
  }
  return NormalisePart("");
}

std::string UrlEncodeBytes(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    const bool alnum = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= 'a' && byte <= 'z');
    if (alnum || byte == '-' || byte == '_' || byte == '.' || byte == '~') {
      encoded.push_back(c);
    } else if (byte == ' ') {
      encoded.push_back('+');
    } else {
      encoded.push_back('%');
      encoded.push_back(kDigits[byte >> 4]);
      encoded.push_back(kDigits[byte & 0xF]);
    }
  }
  return encoded;
}

std::string BuildMachineIdentifier(MachineProbes& probes) {
  const std::vector<char> letters = DriveLetters(probes.ModuleFileName());
  const std::string joined = "C_" + ProcessorPart(probes.Cpuid()) + "-D_" +
                             DiskPart(probes, letters) + "-M_" + NetworkPart(probes) + "-V_" +
                             VolumePart(probes, letters);
  return UrlEncodeBytes(joined);
}
