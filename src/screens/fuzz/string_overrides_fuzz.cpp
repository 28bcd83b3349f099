// Arbitrary override files ("StringConfig.xml" of a skin) through the reader
// and a lookup of every known text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "screens/string_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  StringOverrides overrides;
  overrides.Load(std::string(reinterpret_cast<const char*>(data), size));
  for (unsigned id = 170; id < 212; ++id) {  // the named texts lie in 174-209
    overrides.Lookup(id, [](unsigned) { return std::wstring(L"resource"); });
  }
  return 0;
}
