// The machine identifier's rules over recorded device answers.
#include "sys/machine_id.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <utility>

namespace {

// Answers as a test scripts it and records what was asked, in order.
class FakeMachineProbes : public MachineProbes {
 public:
  CpuidRegisters Cpuid() override { return cpuid; }
  std::wstring ModuleFileName() override { return modulePath; }
  StorageQueryData QueryStorage(const std::string& path) override {
    asked.push_back(path);
    return storage.count(path) ? storage[path] : StorageQueryData();
  }
  bool SmartIdentify(int drive, SmartForm form, std::vector<std::uint8_t>* data) override {
    asked.push_back("smart" + std::to_string(drive) + (form == SmartForm::kDriveRegisters ? "a" : "b"));
    auto found = smart.find({drive, form});
    if (found == smart.end()) return false;
    *data = found->second;
    return true;
  }
  bool ListAdapters(std::vector<NetworkAdapter>* list) override {
    *list = adapters;
    return adaptersListed;
  }
  bool AdapterCharacteristics(const std::string& name, std::uint32_t* value) override {
    if (!characteristics.count(name)) return false;
    *value = characteristics[name];
    return true;
  }
  bool VolumeSerial(const std::string& root, std::uint32_t* serial) override {
    volumesAsked.push_back(root);
    if (!volumes.count(root)) return false;
    *serial = volumes[root];
    return true;
  }

  CpuidRegisters cpuid;
  std::wstring modulePath = L"C:\\Users\\u\\Downloads\\setup.exe";
  std::map<std::string, StorageQueryData> storage;
  std::map<std::pair<int, SmartForm>, std::vector<std::uint8_t>> smart;
  std::vector<NetworkAdapter> adapters;
  bool adaptersListed = true;
  std::map<std::string, std::uint32_t> characteristics;
  std::map<std::string, std::uint32_t> volumes;
  std::vector<std::string> asked;
  std::vector<std::string> volumesAsked;
};

// A storage query answer: the geometry's media type and a device descriptor
// with the serial at offset 64, as a driver lays it out.
StorageQueryData Storage(std::uint32_t mediaType, const std::string& serial) {
  StorageQueryData data;
  data.geometryOk = true;
  data.mediaType = mediaType;
  data.deviceDescriptor.assign(40960, 0);
  if (!serial.empty()) {
    data.deviceDescriptor[24] = 64;
    std::copy(serial.begin(), serial.end(), data.deviceDescriptor.begin() + 64);
  }
  return data;
}

// 512 bytes of identify data: word 0 flags, the serial in words 10 to 19
// with each word's high byte first.
std::vector<std::uint8_t> Identify(unsigned flags, std::string serial) {
  std::vector<std::uint8_t> data(512, 0);
  data[0] = static_cast<std::uint8_t>(flags);
  serial.resize(20, '\0');
  for (std::size_t i = 0; i < 20; i += 2) {
    data[20 + i] = static_cast<std::uint8_t>(serial[i + 1]);
    data[20 + i + 1] = static_cast<std::uint8_t>(serial[i]);
  }
  return data;
}

std::vector<std::uint8_t> MediaSerial(std::uint32_t declared, const std::string& text) {
  std::vector<std::uint8_t> data(16 + text.size(), 0);
  data[0] = static_cast<std::uint8_t>(declared);
  std::copy(text.begin(), text.end(), data.begin() + 16);
  return data;
}

const std::string kPhysical0 = "\\\\.\\PhysicalDrive0";

TEST(MachineId, ProcessorPart) {
  CpuidRegisters r;
  r.leaf1Eax = 0x6F2;
  r.leaf1Edx = 0xBFEBFBFF & ~0x40000u;  // serial number bit clear
  r.leaf3Ecx = 0x12345678;
  r.leaf3Edx = 0x9ABCDEF0;
  EXPECT_EQ(ProcessorPart(r), "0");
  r.leaf1Edx |= 0x40000;
  EXPECT_EQ(ProcessorPart(r), "123456789ABCDEF0000006F2");
}

TEST(MachineId, DriveLettersStartWithCThenTheExecutablesDrive) {
  const struct {
    const wchar_t* path;
    std::vector<char> letters;
  } cases[] = {
      {L"D:\\apps\\setup.exe", {'C', 'D'}},
      {L"e:\\setup.exe", {'C', 'e'}},
      {L"c:\\setup.exe", {'C'}},
      {L"C:\\setup.exe", {'C'}},
      {L"setup.exe", {'C'}},  // no directory: "C:\"
      {L"\\\\server\\share\\setup.exe", {'C'}},
      {L"\\\\?\\F:\\setup.exe", {'C', 'F'}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DriveLetters(c.path), c.letters) << "case " << (&c - cases);
  }
}

TEST(MachineId, DiskAndVolumeExamineCFirstThenTheExecutablesDrive) {
  FakeMachineProbes probes;
  probes.modulePath = L"D:\\apps\\setup.exe";
  probes.storage["\\\\.\\C:"] = Storage(kMediaRemovable, "USBSTICK");  // not fixed: no answer
  probes.storage["\\\\.\\D:"] = Storage(kMediaFixed, "  WD-WCC4  ");
  probes.volumes["D:\\"] = 0x1234ABCD;
  const std::vector<char> letters = DriveLetters(probes.modulePath);
  EXPECT_EQ(DiskPart(probes, letters), "WD-WCC4");
  // C: searched every physical drive (none fixed) before D: answered.
  ASSERT_EQ(probes.asked.size(), 1u + 16 * 3 + 1);
  EXPECT_EQ(probes.asked.front(), "\\\\.\\C:");
  EXPECT_EQ(probes.asked[1], kPhysical0);
  EXPECT_EQ(probes.asked[2], "smart0a");
  EXPECT_EQ(probes.asked[3], "smart0b");
  EXPECT_EQ(probes.asked[46], "\\\\.\\PhysicalDrive15");
  EXPECT_EQ(probes.asked.back(), "\\\\.\\D:");

  EXPECT_EQ(VolumePart(probes, letters), "1234ABCD");
  EXPECT_EQ(probes.volumesAsked,
            (std::vector<std::string>{"\\\\.\\C:", "C:\\", "\\\\.\\D:", "D:\\"}));
  probes.volumes["\\\\.\\C:"] = 0x0000BEEF;
  EXPECT_EQ(VolumePart(probes, letters), "0000BEEF");
  probes.volumes.clear();
  EXPECT_EQ(VolumePart(probes, letters), "0");
}

TEST(MachineId, PhysicalDriveSearchStopsAtTheFirstFixedDisk) {
  // Fixed without a serial in the storage query, the serial from the
  // second SMART form.
  FakeMachineProbes probes;
  probes.storage[kPhysical0] = Storage(kMediaFixed, "");
  probes.smart[{0, SmartForm::kCommandOnly}] = Identify(0x40, "S1DXNEAD  ");
  EXPECT_EQ(FindDiskSerial(probes, 'C'), "S1DXNEAD");

  // A fixed disk that gives no serial ends the search after that drive.
  FakeMachineProbes silent;
  silent.smart[{0, SmartForm::kDriveRegisters}] = Identify(0x40, "");
  silent.storage["\\\\.\\PhysicalDrive1"] = Storage(kMediaFixed, "SECOND");
  EXPECT_EQ(FindDiskSerial(silent, 'C'), "");
  EXPECT_EQ(silent.asked.size(), 4u);

  // A removable drive does not: the next drive answers.
  FakeMachineProbes removable;
  removable.smart[{0, SmartForm::kDriveRegisters}] = Identify(0x80, "CARD");
  removable.storage["\\\\.\\PhysicalDrive1"] = Storage(kMediaFixed, "SECOND");
  EXPECT_EQ(FindDiskSerial(removable, 'C'), "SECOND");
}

TEST(MachineId, IdentifyDataAndStorageAnswers) {
  DiskQueryResult r = ParseIdentifyData(Identify(0x40, "WD-WMC1T0123456 \t"));
  EXPECT_EQ(r.serial, "WD-WMC1T0123456");
  EXPECT_TRUE(r.Answers());
  EXPECT_EQ(ParseIdentifyData(Identify(0x80, "X")).mediaType, kMediaRemovable);
  EXPECT_FALSE(ParseIdentifyData(std::vector<std::uint8_t>(100, 0x41)).Answers());

  StorageQueryData failedGeometry = Storage(kMediaFixed, "SERIAL");
  failedGeometry.geometryOk = false;
  EXPECT_FALSE(ParseStorageQuery(failedGeometry).Answers());

  // The media serial number replaces the descriptor's, bounded by its
  // declared length and by the bytes returned when no zero ends it.
  StorageQueryData media = Storage(kMediaFixed, "DESCRIPTOR");
  media.mediaSerialNumber = MediaSerial(4, "ABCDEFGH");
  EXPECT_EQ(ParseStorageQuery(media).serial, "ABCD");
  media.mediaSerialNumber = MediaSerial(200, "ABCDEFGH");
  EXPECT_EQ(ParseStorageQuery(media).serial, "ABCDEFGH");
  media.mediaSerialNumber = MediaSerial(200, std::string("AB\0CD", 5));
  EXPECT_EQ(ParseStorageQuery(media).serial, "AB");

  // A descriptor whose serial offset lies past the buffer gives nothing.
  StorageQueryData outside = Storage(kMediaFixed, "");
  outside.deviceDescriptor[24] = 0xFF;
  outside.deviceDescriptor[25] = 0xFF;
  EXPECT_EQ(ParseStorageQuery(outside).serial, "");
}

TEST(MachineId, HexRepair) {
  const struct {
    const char* serial;
    const char* repaired;
  } cases[] = {
      {"3532303934", "52094"},
      {"4d5a4D5A", "MZMZ"},         // either case decodes
      {"35G2", "35G2"},             // not hexadecimal
      {"4d5z", "4d5z"},             // not hexadecimal: unchanged, case kept
      {"353", "353"},               // odd length
      {"C3A9", "C3A9"},             // a byte above 127
      {"", ""},
      {"202057443132", "  WD12"},   // only leading spaces: not swapped
      {"4457203231", "WD2 1"},      // "DW 21": an inner space, swapped pairwise
      {"44573132202020", "WD21   "},  // "DW12   ": trailing spaces follow text
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RepairHexSerial(c.serial), c.repaired) << c.serial;
  }
}

TEST(MachineId, DiskPartIsRepairedNormalisedAndCut) {
  FakeMachineProbes probes;
  probes.storage["\\\\.\\C:"] = Storage(kMediaFixed, "202057443132");
  EXPECT_EQ(DiskPart(probes, {'C'}), "WD12");
  probes.storage["\\\\.\\C:"] = Storage(kMediaFixed, std::string(30, 'A') + " " + std::string(20, 'B'));
  EXPECT_EQ(DiskPart(probes, {'C'}), std::string(30, 'A') + std::string(10, 'B'));
  FakeMachineProbes none;
  EXPECT_EQ(DiskPart(none, {'C'}), "0");
}

TEST(MachineId, NetworkPartPrefersAPhysicalEthernetAdapter) {
  const NetworkAdapter wireless{"{W}", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 71};
  const NetworkAdapter ethernet{"{E}", {0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5}, 6};
  const NetworkAdapter tunnel{"{V}", {0x02, 0x00, 0x4C, 0x4F, 0x4F, 0x50}, 6};
  FakeMachineProbes probes;
  probes.characteristics = {{"{W}", 0x84}, {"{E}", 0x84}, {"{V}", 0x1 | 0x4}};

  probes.adapters = {tunnel};
  EXPECT_EQ(NetworkPart(probes), "0");  // only a virtual adapter
  probes.adapters = {tunnel, wireless, ethernet};
  EXPECT_EQ(NetworkPart(probes), "A0B1C2D3E4F5");
  probes.adapters = {ethernet, wireless};
  EXPECT_EQ(NetworkPart(probes), "A0B1C2D3E4F5");
  probes.adapters = {wireless};
  EXPECT_EQ(NetworkPart(probes), "001A2B3C4D5E");
  probes.characteristics.erase("{W}");  // no class entry: neither kind
  EXPECT_EQ(NetworkPart(probes), "0");
  probes.adaptersListed = false;
  probes.adapters = {ethernet};
  EXPECT_EQ(NetworkPart(probes), "0");
}

TEST(MachineId, UrlEncodingOfEveryByteClass) {
  EXPECT_EQ(UrlEncodeBytes("azAZ09-_.~"), "azAZ09-_.~");
  EXPECT_EQ(UrlEncodeBytes("a b"), "a+b");
  EXPECT_EQ(UrlEncodeBytes("%/+&="), "%25%2F%2B%26%3D");
  EXPECT_EQ(UrlEncodeBytes(std::string("\x00\x1F\x7F\x80\xE9\xFF", 6)), "%00%1F%7F%80%E9%FF");
}

TEST(MachineId, IdentifierOfAMachineWithoutProcessorSerial) {
  FakeMachineProbes probes;
  probes.storage["\\\\.\\C:"] = Storage(kMediaFixed, "WD/1");
  probes.volumes["C:\\"] = 0x00C0FFEE;
  const std::string id = BuildMachineIdentifier(probes);
  EXPECT_EQ(id, "C_0-D_WD%2F1-M_0-V_00C0FFEE");

  FakeMachineProbes bare;  // nothing answers
  EXPECT_EQ(BuildMachineIdentifier(bare), "C_0-D_0-M_0-V_0");
}

}  // namespace
