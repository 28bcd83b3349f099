#include "app/command_line.h"

namespace {

wchar_t FoldAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

}  // namespace

bool ArgumentEquals(const std::wstring& argument, const wchar_t* key) {
  std::size_t i = 0;
  for (; key[i] != L'\0'; ++i) {
    if (i >= argument.size() || FoldAscii(argument[i]) != FoldAscii(key[i])) return false;
  }
  return i == argument.size();
}

CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& argv) {
  CommandLineOptions options;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::wstring& argument = argv[i];
    const bool hasNext = i + 1 < argv.size();
    if (ArgumentEquals(argument, L"-tn")) {
      // A key in last position is ignored.
      if (hasNext) {
        options.tn = argv[++i];
        options.tnSeen = true;
      }
    } else if (ArgumentEquals(argument, L"-rnd")) {
      if (hasNext) options.rnd = argv[++i];
    } else if (ArgumentEquals(argument, L"/S") || ArgumentEquals(argument, L"/silent")) {
      options.silent = true;
    } else if (ArgumentEquals(argument, L"/B") || ArgumentEquals(argument, L"/bindsoftware")) {
      options.bindSoftware = true;
    }
  }
  return options;
}

bool ParseChannelArguments(const std::vector<std::wstring>& argv, std::wstring* tn,
                           std::wstring* rnd) {
  const CommandLineOptions options = ParseCommandLine(argv);
  *tn = options.tn;
  if (!options.rnd.empty()) *rnd = options.rnd;
  return options.tnSeen;
}

bool HasSilentSwitch(const std::vector<std::wstring>& argv) { return ParseCommandLine(argv).silent; }

std::wstring FormatRunTag(std::uint64_t fileTime100ns) {
  const std::uint64_t ms = fileTime100ns / 10000u;
  // Decimal digits of an unsigned 64-bit value, without locale-dependent I/O.
  wchar_t digits[24];
  int n = 0;
  std::uint64_t v = ms;
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + v % 10);
    v /= 10;
  } while (v != 0);
  std::wstring text;
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

ChannelAndTag ResolveChannelAndTag(const std::vector<std::wstring>& argv,
                                   const std::wstring& embeddedChannel,
                                   std::uint64_t nowFileTime100ns) {
  ChannelAndTag result;
  ParseChannelArguments(argv, &result.tn, &result.rnd);
  if (result.tn.empty()) result.tn = embeddedChannel;
  if (result.rnd.empty()) result.rnd = FormatRunTag(nowFileTime100ns);
  return result;
}
