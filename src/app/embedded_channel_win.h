#pragma once

#include <windows.h>

#include <string>

// Reads the EMBEDDED resource (type 23) of a module. False, with an empty
// result, when a type-23 resource is not named EMBEDDED..., is larger than
// 1,024 bytes or cannot be loaded, or when the module has none.
bool ReadEmbeddedChannel(HMODULE module, std::string* channel);

// Code page 936 (GBK) to UTF-16.
std::wstring Cp936ToWide(const std::string& text);
