#pragma once

#include <string>

// True for exactly four non-empty parts of decimal digits ("1.0.0.5").
bool IsVersionWellFormed(const std::wstring& version);
