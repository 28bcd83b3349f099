#pragma once

#include <windows.h>

#include <string>

// Runs a program with its standard output and error in a temporary file.
// Returns its exit code, or STILL_ACTIVE when it did not end within
// timeoutMs (it is then ended); *output receives what it wrote.
DWORD RunProgram(const std::wstring& commandLine, DWORD timeoutMs, std::string* output);
