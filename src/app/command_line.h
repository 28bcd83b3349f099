#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Whole-argument comparison, ignoring the case of ASCII letters (every
// switch of the installer is ASCII).
bool ArgumentEquals(const std::wstring& argument, const wchar_t* key);

// Everything the installer takes from its command line, parsed once from
// argv[1..] (the program path is never an option). Every option is a whole
// argument, compared without regard to letter case; the argument after
// "-tn" or "-rnd" is that option's value and never an option itself.
struct CommandLineOptions {
  bool tnSeen = false;        // "-tn" with a value
  std::wstring tn;            // the last "-tn" value (possibly empty)
  std::wstring rnd;           // the last "-rnd" value, else empty
  bool silent = false;        // "/S" or "/silent"
  bool bindSoftware = false;  // "/B" or "/bindsoftware": the quick-install prompt
};
CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& argv);

// Scans argv from index 1 for "-tn value" and "-rnd value" (last occurrence
// wins; a key in last position is ignored). Returns true when "-tn" with a
// value was seen; *tn is then that value (possibly empty), else empty.
// *rnd is the last "-rnd" value, or left empty.
bool ParseChannelArguments(const std::vector<std::wstring>& argv, std::wstring* tn,
                           std::wstring* rnd);

// True when an option of argv (ParseCommandLine) is "/S" or "/silent".
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
