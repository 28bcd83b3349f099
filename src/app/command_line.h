#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whole-argument comparison, ignoring the case of ASCII letters (every
// switch of the installer is ASCII).
bool ArgumentEquals(const std::wstring& argument, const wchar_t* key);

// Scans argv from index 1 for "-tn value" and "-rnd value" (last occurrence
// wins; a key in last position is ignored). Returns true when "-tn" with a
// value was seen; *tn is then that value (possibly empty), else empty.
// *rnd is the last "-rnd" value, or left empty.
bool ParseChannelArguments(const std::vector<std::wstring>& argv, std::wstring* tn,
                           std::wstring* rnd);

// True when any element of argv, the program path included, is "/S" or
// "/silent".
bool HasSilentSwitch(const std::vector<std::wstring>& argv);

// The default run tag: UTC milliseconds since 1601 ("%I64u"), from a file
// time in 100 ns units.
std::wstring FormatRunTag(std::uint64_t fileTime100ns);

struct ChannelAndTag {
  std::wstring tn;
  std::wstring rnd;
};

// Combines the command line, the embedded identifier (already converted to
// UTF-16) and the clock: an empty or missing "-tn" value falls back to the
// embedded identifier, a missing "-rnd" to the millisecond run tag.
ChannelAndTag ResolveChannelAndTag(const std::vector<std::wstring>& argv,
                                   const std::wstring& embeddedChannel,
                                   std::uint64_t nowFileTime100ns);
