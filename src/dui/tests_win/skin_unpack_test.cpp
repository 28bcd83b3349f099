// Unpacking real archives into a temporary application-data folder.
#include <windows.h>

#include <gtest/gtest.h>

#include "dui/ctrl_dialog.h"
#include "dui/platform.h"
#include "dui/skin_image.h"
#include "dui/skin_manager.h"
#include "dui/skin_unpack.h"
#include "screen_capture.h"
#include "test_folder.h"

namespace dui {
namespace {

bool exists(const std::wstring& path) { return platform::file_exists(path); }

std::string contents(const std::wstring& path) {
  std::string bytes;
  platform::read_file(path, &bytes);
  return bytes;
}

int unpack_resource(int id, const std::wstring& folder) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"ZIPRES");
  if (!resource) return -1;
  return unpack_skin_archive(LockResource(LoadResource(module, resource)),
                             SizeofResource(module, resource), folder);
}

TEST(SkinUnpackTest, ShippedSkinUnpacksAndLoads) {
  test_folder appdata(L"zetora_skin_unpack");
  const std::wstring folder = appdata.path() + L"zetoraskinres\\";
  ASSERT_TRUE(start_skin(GetModuleHandleW(nullptr), folder));
  EXPECT_TRUE(exists(folder + L"skin.txt"));
  EXPECT_TRUE(exists(folder + L"Licence.txt"));
  EXPECT_TRUE(exists(folder + L"btn_close_alpha.png"));
  skin_manager* manager = skin_manager::instance();
  ASSERT_NE(manager->find_dialog("vxwebinstall_main"), nullptr);
  EXPECT_NE(manager->find_control("vxwebinstall_main", "close"), nullptr);
  // The strip is 84 x 21: four 21-pixel frames.
  skin_image strip;
  strip.set_file(L"btn_close_alpha.png");
  EXPECT_EQ(strip.width(), 84);
  EXPECT_EQ(strip.height(), 21);
  // An image missing from the current directory is found in the skin folder.
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  SetCurrentDirectoryW(appdata.path().c_str());
  skin_image elsewhere;
  elsewhere.set_file(L"main_bg.png");
  EXPECT_EQ(elsewhere.width(), 620);
  SetCurrentDirectoryW(previous);
  skin_manager::release();
  SetCurrentDirectoryW(L"C:\\");
}

TEST(SkinUnpackTest, HostileNamesStayInsideTheFolder) {
  test_folder appdata(L"zetora_skin_hostile");
  const std::wstring folder = appdata.path() + L"skin\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  EXPECT_EQ(unpack_resource(199, folder), 7);
  const wchar_t* inside[] = {L"evil_parent.txt", L"evil_backslash.txt", L"evil_nested.txt",
                             L"evil_drive.txt", L"rooted\\evil_rooted.txt", L"sub\\inner.txt",
                             L"readonly.txt"};
  for (const wchar_t* name : inside) EXPECT_TRUE(exists(folder + name)) << name;
  EXPECT_EQ(contents(folder + L"evil_parent.txt"), "parent");
  const wchar_t* outside[] = {L"evil_parent.txt", L"evil_backslash.txt", L"evil_nested.txt",
                              L"evil_drive.txt"};
  for (const wchar_t* name : outside) EXPECT_FALSE(exists(appdata.path() + name)) << name;
  EXPECT_FALSE(exists(L"C:\\rooted\\evil_rooted.txt"));
  EXPECT_FALSE(exists(folder + L"a.txt"));

  // The read-only entry is written writable, so the next start overwrites it.
  const DWORD attributes = GetFileAttributesW((folder + L"readonly.txt").c_str());
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
  HANDLE file = CreateFileW((folder + L"readonly.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                            TRUNCATE_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(unpack_resource(199, folder), 7);
  EXPECT_EQ(contents(folder + L"readonly.txt").size(), 25000u);

  // Entry times come from the archive (2020).
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW((folder + L"sub\\inner.txt").c_str(), GetFileExInfoStandard, &data));
  SYSTEMTIME utc;
  FileTimeToSystemTime(&data.ftLastWriteTime, &utc);
  EXPECT_EQ(utc.wYear, 2020);
  EXPECT_EQ(utc.wMonth, 5);
}

}  // namespace
}  // namespace dui

namespace dui {
namespace {

TEST(ShippedSkinWindowTest, MainDialogShowsAndButtonsHover) {
  test_folder appdata(L"zetora_skin_main");
  const HINSTANCE module = GetModuleHandleW(nullptr);
  ASSERT_TRUE(start_skin(module, appdata.path() + L"zetoraskinres\\"));
  WNDCLASSW wc = {};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = module;
  wc.lpszClassName = L"ZetoraShippedSkinTest";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP | WS_CAPTION, 0, 0, 100, 100,
                                nullptr, nullptr, module, nullptr);
  ASSERT_TRUE(skin_manager::instance()->attach_window("vxwebinstall_main", module, window));
  ShowWindow(window, SW_SHOW);
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  pump(700);
  RECT r;
  GetWindowRect(window, &r);
  ASSERT_EQ(r.right - r.left, 620);
  const screenshot before = capture(r);
  before.save_bmp(beside_test_program("shipped_main.bmp").c_str());
  // The close button's normal frame on the band, the band, the white body.
  EXPECT_EQ(before.at(r.left + 593, r.top + 10), 0x1A73E8u);
  EXPECT_EQ(before.at(r.left + 300, r.top + 20), 0x1A73E8u);
  EXPECT_EQ(before.at(r.left + 100, r.top + 200), 0xFFFFFFu);
  // Hovering the close button shows its hover frame.
  PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(594, 11));
  pump(300);
  const screenshot hovered = capture(r);
  EXPECT_EQ(hovered.at(r.left + 593, r.top + 10), 0x3D8BF0u);
  DestroyWindow(window);
  skin_manager::release();
  SetCurrentDirectoryW(L"C:\\");
}

}  // namespace
}  // namespace dui
