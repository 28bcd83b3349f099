#include <windows.h>

#include "dui/platform.h"
#include "screens/string_table.h"

bool LoadStringConfig(const std::wstring& path) {
  StringOverrides& overrides = ProcessStringOverrides();
  std::string xml;
  if (path.empty() || !dui::platform::file_exists(path) || !dui::platform::read_file(path, &xml)) {
    overrides.Clear();
    return false;
  }
  return overrides.Load(xml);
}

void LookupString(std::wstring* out, unsigned id) {
  *out = ProcessStringOverrides().Lookup(id, [](unsigned resource_id) {
    // With a zero buffer length LoadStringW returns a read-only pointer to
    // the resource text and its length.
    const wchar_t* text = nullptr;
    const int length = LoadStringW(GetModuleHandleW(nullptr), resource_id,
                                   reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 && text ? std::wstring(text, length) : std::wstring();
  });
}
