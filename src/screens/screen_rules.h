// The screens' decisions that need no window: the free-space texts, the
// install directory's form, the progress scale, what each install mode shows
// and which end notices open the failure window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The product folder every install directory ends in.
constexpr wchar_t kProductFolder[] = L"ZetoraBrowser";

// A directory the free-space check accepts must name a drive ("X:\").
bool HasDrivePath(const std::wstring& directory);
// The drive of a directory up to and including its first ':' ("C:" when
// there is none).
std::wstring DriveRootOf(const std::wstring& directory);
// Free bytes as the screens show them: whole GB from 1 GiB up, else whole
// MB from 1 MiB up, else KB (each truncated).
std::wstring FreeSpaceSizeText(std::uint64_t freeBytes);
// Below 100 MiB the directory is refused.
bool IsFreeSpaceEnough(std::uint64_t freeBytes);
// The texts of the check.
std::wstring FreeSpaceText(std::uint64_t freeBytes);
extern const wchar_t kInvalidPathWarning[];
extern const wchar_t kLowSpaceWarning[];

// The directory with the product folder appended, unless its last component
// (trailing backslashes aside) already is the product folder.
std::wstring WithProductFolder(const std::wstring& directory);

// One progress scale for both phases: the download fills 0 to 80, the
// installation 80 to 100. Percents above 100 are refused (false).
bool DownloadShownPercent(std::uint32_t percent, int* shown);
bool InstallShownPercent(std::uint32_t percent, int* shown);

// The install percent a package sends as WM_COPYDATA: identifier 10001 and
// two 32-bit values (percent, 0). Anything shorter, without data or with a
// second value other than 0 is not a progress block.
constexpr std::uintptr_t kInstallProgressId = 10001;
bool ParseInstallProgress(std::uintptr_t identifier, const void* data, std::size_t size,
                          std::uint32_t* percent);

// The accessible name (string table id) of the action button's install
// picture; the other pictures' are in ModeLook.
constexpr char kActionInstallName[] = "174";
// The accessible names of the progress screen's status pictures.
constexpr char kDownloadingName[] = "180";
constexpr char kInstallingName[] = "179";

// What the options screen shows for an install mode.
struct ModeLook {
  bool known = false;          // modes 0 to 5
  bool startsAtOnce = false;   // 0 and 5: no click needed
  const char* actionPicture = nullptr;  // null: keep the install picture
  const char* actionName = nullptr;     // its accessible name (string id)
  unsigned tipsString = 0;     // string table id of the red hint, 0 none
  bool customEnabled = false;  // the custom-settings button
  bool updateMode = false;     // the directory cannot change
};
ModeLook LookOfMode(int mode);

// Whether an end notice opens the failure window (a failure the user did
// not cause) rather than closing the user interface.
bool EndNoticeShowsFailure(int endReason, bool cancelled);
