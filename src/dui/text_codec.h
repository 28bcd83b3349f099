// UTF-8 <-> wide text without the system code page. Shown texts of the skin
// are decoded here so that Chinese labels survive on any ANSI code page.
#pragma once

#include <string>

namespace dui {

// Invalid or truncated sequences become U+FFFD; on 16-bit wchar_t, code
// points above U+FFFF become surrogate pairs.
std::wstring utf8_to_wide(const std::string& text);
std::string wide_to_utf8(const std::wstring& text);

}  // namespace dui
