#include "screens/screen_rules.h"
#include "sys/text_format.h"

#include <cstdio>
#include <cstring>

const wchar_t kInvalidPathWarning[] =
    L"\x8BE5\x76EE\x5F55\x4E3A\x65E0\x6548\x8DEF\x5F84\xFF0C\x8BF7\x91CD\x65B0\x9009\x62E9"
    L"\x5176\x4ED6\x8DEF\x5F84\x5B89\x88C5";  // 该目录为无效路径，请重新选择其他路径安装
const wchar_t kLowSpaceWarning[] =
    L"\x78C1\x76D8\x7A7A\x95F4\x4E0D\x8DB3(\x5EFA\x8BAE\x53EF\x7528\x78C1\x76D8\x7A7A\x95F4"
    L"\x5927\x4E8E" L"100MB)\xFF0C\x8BF7\x60A8\x9009\x62E9\x5176\x4ED6\x76EE\x5F55\x5B89\x88C5";
    // 磁盘空间不足(建议可用磁盘空间大于100MB)，请您选择其他目录安装

namespace {
constexpr std::uint64_t kMiB = 1ull << 20;
constexpr std::uint64_t kGiB = 1ull << 30;
}  // namespace

bool HasDrivePath(const std::wstring& directory) {
  return directory.find(L":\\") != std::wstring::npos;
}

std::wstring DriveRootOf(const std::wstring& directory) {
  const size_t colon = directory.find(L':');
  if (colon == std::wstring::npos) return L"C:";
  return directory.substr(0, colon + 1);
}

std::wstring FreeSpaceSizeText(std::uint64_t freeBytes) {
  wchar_t text[32];
  if (freeBytes >= kGiB) {
    FormatWide(text, 32, L"%u GB", static_cast<unsigned>(freeBytes / kGiB));
  } else if (freeBytes >= kMiB) {
    FormatWide(text, 32, L"%u MB", static_cast<unsigned>(freeBytes / kMiB));
  } else {
    FormatWide(text, 32, L"%u KB", static_cast<unsigned>(freeBytes >> 10));
  }
  return text;
}

bool IsFreeSpaceEnough(std::uint64_t freeBytes) { return freeBytes >= 100 * kMiB; }

std::wstring FreeSpaceText(std::uint64_t freeBytes) {
  // 所需磁盘空间：100 MB    可用磁盘空间：%s
  return L"\x6240\x9700\x78C1\x76D8\x7A7A\x95F4\xFF1A" L"100 MB    "
         L"\x53EF\x7528\x78C1\x76D8\x7A7A\x95F4\xFF1A" +
         FreeSpaceSizeText(freeBytes);
}

std::wstring WithProductFolder(const std::wstring& directory) {
  // Only a last component that is the product folder counts: a folder that
  // merely contains the name ("D:\ZetoraBrowserOld", "D:\ZetoraBrowser\x")
  // is the parent the product folder goes into.
  std::size_t end = directory.size();
  while (end > 0 && directory[end - 1] == L'\\') --end;
  const std::size_t separator = directory.find_last_of(L"\\:", end == 0 ? 0 : end - 1);
  const std::size_t start = separator == std::wstring::npos ? 0 : separator + 1;
  if (end > start && directory.compare(start, end - start, kProductFolder) == 0) return directory;
  if (!directory.empty() && directory.back() == L'\\') return directory + kProductFolder;
  return directory + L"\\" + kProductFolder;
}

bool DownloadShownPercent(std::uint32_t percent, int* shown) {
  if (percent > 100) return false;
  *shown = static_cast<int>(percent * 80 / 100);
  return true;
}

bool InstallShownPercent(std::uint32_t percent, int* shown) {
  if (percent > 100) return false;
  *shown = static_cast<int>(80 + percent * 20 / 100);
  return true;
}

bool ParseInstallProgress(std::uintptr_t identifier, const void* data, std::size_t size,
                          std::uint32_t* percent) {
  if (identifier != kInstallProgressId || data == nullptr || size < 8) return false;
  std::uint32_t values[2];
  std::memcpy(values, data, sizeof values);
  if (values[1] != 0) return false;
  *percent = values[0];
  return true;
}

ModeLook LookOfMode(int mode) {
  ModeLook look;
  switch (mode) {
    case 0:
    case 5:
      look.startsAtOnce = true;
      look.customEnabled = true;
      break;
    case 1:
    case 3:
      look.actionPicture = "btn_open.png";
      look.actionName = "175";
      look.tipsString = 177;
      break;
    case 2:
      look.actionPicture = "btn_update.png";
      look.actionName = "176";
      look.tipsString = 178;
      look.customEnabled = true;
      look.updateMode = true;
      break;
    case 4:
      look.actionPicture = "btn_update.png";
      look.actionName = "176";
      look.tipsString = 181;
      look.customEnabled = true;
      look.updateMode = true;
      break;
    default:
      return look;
  }
  look.known = true;
  return look;
}

bool EndNoticeShowsFailure(int endReason, bool cancelled) {
  if (cancelled) return false;
  switch (endReason) {
    case 1:
    case 2:
    case 4:
    case 5:
    case 6:
    case 7:
    case 10:
      return true;
    default:
      return false;
  }
}
