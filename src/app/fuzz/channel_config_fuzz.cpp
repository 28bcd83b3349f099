// Arbitrary configuration file contents through decryption and the reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/channel_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ConfigKey key = MakeConfigKey("5E2C9A71-0B4D-4F38-A6E1-93D07C2B8F45");
  std::string contents(reinterpret_cast<const char*>(data), size);
  std::wstring picpack;
  ConfigItemList items;
  ReadChannelConfigData(&contents, key, &picpack, &items, [](const wchar_t*) {});
  return 0;
}
