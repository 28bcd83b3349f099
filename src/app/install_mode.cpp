#include "app/install_mode.h"

#include <algorithm>

#include "sys/diag.h"

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// A version part read like a C integer conversion, kept as text so that
// parts longer than any integer type still compare exactly.
struct PartValue {
  bool negative = false;
  std::wstring digits;  // without leading zeros; empty for 0
};

PartValue ReadPart(const std::wstring& text, std::size_t begin, std::size_t end) {
  PartValue value;
  std::size_t i = begin;
  while (i < end && IsBlank(text[i])) ++i;
  if (i < end && (text[i] == L'+' || text[i] == L'-')) {
    value.negative = text[i] == L'-';
    ++i;
  }
  while (i < end && text[i] == L'0') ++i;
  const std::size_t first = i;
  while (i < end && IsDigit(text[i])) ++i;
  value.digits = text.substr(first, i - first);
  if (value.digits.empty()) value.negative = false;  // -0 is 0
  return value;
}

int CompareMagnitudes(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int ComparePartValues(const PartValue& a, const PartValue& b) {
  if (a.negative != b.negative) return a.negative ? -1 : 1;
  const int magnitude = CompareMagnitudes(a.digits, b.digits);
  return a.negative ? -magnitude : magnitude;
}

}  // namespace

bool IsVersionWellFormed(const std::wstring& version) {
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t end = version.find(L'.', start);
    if (part < 3 && end == std::wstring::npos) return false;
    if (part == 3) {
      if (end != std::wstring::npos) return false;
      end = version.size();
    }
    if (end == start) return false;
    for (std::size_t i = start; i < end; ++i) {
      if (!IsDigit(version[i])) return false;
    }
    start = end + 1;
  }
  return true;
}

std::wstring VersionWithDots(std::wstring version) {
  std::replace(version.begin(), version.end(), L',', L'.');
  return version;
}

int CompareVersions(const std::wstring& a, const std::wstring& b) {
  std::size_t partA = 0;
  std::size_t partB = 0;
  for (;;) {
    const std::size_t dotA = a.find(L'.', partA);
    const std::size_t dotB = b.find(L'.', partB);
    const int order = ComparePartValues(ReadPart(a, partA, std::min(dotA, a.size())),
                                        ReadPart(b, partB, std::min(dotB, b.size())));
    if (order != 0) return order;
    if (dotA == std::wstring::npos || dotB == std::wstring::npos) {
      if (dotA == dotB) return 0;
      return dotA == std::wstring::npos ? -1 : 1;
    }
    partA = dotA + 1;
    partB = dotB + 1;
  }
}

int InstallModeFor(const InstallFindings& findings) {
  if (!findings.offeredWellFormed) return kModeVersionMalformed;
  if (!findings.installed) return kModeNotInstalled;
  if (findings.running) return findings.upToDate ? kModeUpToDateRunning : kModeOlderRunning;
  return findings.upToDate ? kModeUpToDateNotRunning : kModeOlderNotRunning;
}

int ClassifyInstall(RunRecorder& recorder, BrowserHost& host, const std::wstring& offered) {
  RecordPhase(recorder, phase::kModeStarts, phase::kStarted, 0);
  // Every check runs, each queueing its own trace, whatever the earlier
  // ones found.
  InstallFindings findings;
  findings.running = host.IsBrowserRunning();
  findings.installed = host.IsProductInstalled();
  findings.upToDate = host.IsInstalledUpToDate(offered);
  findings.offeredWellFormed = IsVersionWellFormed(offered);
  const int mode = InstallModeFor(findings);
  DiagPrintf(L"ClassifyInstall offered=%ls running=%d installed=%d uptodate=%d mode=%d\r\n",
             offered.c_str(), findings.running ? 1 : 0, findings.installed ? 1 : 0,
             findings.upToDate ? 1 : 0, mode);
  return mode;
}

bool ApplyMode(RunRecorder& recorder, BrowserHost& host, int mode) {
  switch (mode) {
    case kModeNotInstalled:
      RecordPhase(recorder, phase::kModeApplied, phase::kSucceeded, 0);
      return true;
    case kModeUpToDateRunning:
      host.BringBrowserToFront();
      RecordPhase(recorder, phase::kModeApplied, phase::kModeNotZero, mode);
      return false;
    case kModeOlderRunning:
      // The package runs whether or not every browser process went away.
      host.CloseRunningBrowser();
      RecordPhase(recorder, phase::kModeApplied, phase::kModeNotZero, mode);
      return true;
    case kModeUpToDateNotRunning:
      host.LaunchInstalledBrowser();
      RecordPhase(recorder, phase::kModeApplied, phase::kModeNotZero, mode);
      for (int poll = 0; poll < kLaunchPolls; ++poll) {
        host.WaitLaunchPoll();
        if (host.IsBrowserRunning()) break;
      }
      return false;
    case kModeOlderNotRunning:
    case kModeVersionMalformed:
      RecordPhase(recorder, phase::kModeApplied, phase::kModeNotZero, mode);
      return true;
    default:
      RecordPhase(recorder, phase::kModeApplied, phase::kModeNotZero, 0);
      return true;
  }
}
