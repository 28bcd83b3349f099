// Numbers that test builds may take from the environment, where a test
// cannot wait for the real value (time limits of an hour or a minute).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwchar>

#include "build_config.h"

inline std::uint32_t TestSettingOr(const wchar_t* variable, std::uint32_t value) {
#if ZETORA_TEST_SEAMS
  wchar_t text[16] = {};
  if (GetEnvironmentVariableW(variable, text, 16) > 0) return std::wcstoul(text, nullptr, 10);
#else
  (void)variable;
#endif
  return value;
}
