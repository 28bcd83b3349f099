#pragma once

#include <string>

// Small file helpers shared by the Windows tests.

// The whole content of a file, or an empty string when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);
// A new, empty file under the temporary folder, named with the prefix.
std::wstring TempFileName(const wchar_t* prefix);
// A fresh, empty directory under the temporary folder.
std::wstring MakeTestDirectory(const wchar_t* name);
// The Windows path under Wine of a path on the build machine ("Z:\...").
std::wstring WinePath(const std::wstring& unixPath);
