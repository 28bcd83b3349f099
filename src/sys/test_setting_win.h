// Numbers that test builds may take from the environment, where a test
// cannot wait for the real value (time limits of an hour or a minute).
#pragma once

#include <windows.h>

#include <cstdint>
#include <cwchar>

#include "build_config.h"

// The name of a test-only environment variable; null in builds without test
// seams, so that no such name is in the program users download.
#if ZETORA_TEST_SEAMS
#define ZETORA_TEST_VARIABLE(name) (L"" name)
#else
#define ZETORA_TEST_VARIABLE(name) (static_cast<const wchar_t*>(nullptr))
#endif

// variable comes from ZETORA_TEST_VARIABLE.
inline std::uint32_t TestSettingOr(const wchar_t* variable, std::uint32_t value) {
#if ZETORA_TEST_SEAMS
  wchar_t text[16] = {};
  if (variable != nullptr && GetEnvironmentVariableW(variable, text, 16) > 0) return std::wcstoul(text, nullptr, 10);
#else
  (void)variable;
#endif
  return value;
}
