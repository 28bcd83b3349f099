// A dialog of a test skin shown in a real window, checked by the pixels of
// a screenshot of the screen: colour key, cut corners, click dispatch, text
// colour and a Chinese label.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dui/ctrl_dialog.h"
#include "dui/skin_manager.h"
#include "screen_capture.h"

namespace dui {
namespace {

// A green backdrop window under the skin window shows what the colour key
// and the region let through.
constexpr COLORREF kBackdrop = RGB(0, 160, 0);

const char kTestSkin[] = R"({
  "test_main": {"type": "dialog", "w": 400, "h": 200, "rgn_width": 6,
    "body": {"type": "dui_panel", "align": "all", "fillcolor": "255,255,255",
      "hole": {"type": "dui_panel", "x": 300, "y": 120, "w": 60, "h": 40, "fillcolor": "255,0,255"},
      "label": {"type": "dui_panel", "x": 20, "y": 20, "w": 200, "h": 30, "txt": "中文标签测试",
                "t_color": "200,0,0", "t_size": 20, "t_len": 0},
      "marks": {"type": "dui_panel", "x": 20, "y": 60, "w": 200, "h": 30, "txt": "??????",
                "t_color": "200,0,0", "t_size": 20, "t_len": 0},
      "ok": {"type": "dui_button", "x": 40, "y": 120, "w": 100, "h": 40, "fillcolor": "0,0,200",
             "txt": "OK", "t_color": "255,255,255", "t_xalign": "center", "t_len": 0}}}
})";

std::vector<std::string> g_clicks;

LRESULT CALLBACK screen_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == SKIN_MSG_CLICK) {
    g_clicks.push_back(reinterpret_cast<const char*>(lparam));
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK backdrop_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(window, &r);
    HBRUSH brush = CreateSolidBrush(kBackdrop);
    FillRect(reinterpret_cast<HDC>(wparam), &r, brush);
    DeleteObject(brush);
    return 1;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool reddish(uint32_t c) {
  const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
  return r > 120 && g < 110 && b < 110;
}

int count_red(const screenshot& shot, int left, int top, int right, int bottom) {
  int n = 0;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) n += reddish(shot.at(x, y));
  }
  return n;
}

class SkinWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSW screen = {};
    screen.lpfnWndProc = screen_proc;
    screen.hInstance = module;
    screen.lpszClassName = L"ZetoraSkinTestScreen";
    screen.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&screen);
    WNDCLASSW backdrop = screen;
    backdrop.lpfnWndProc = backdrop_proc;
    backdrop.lpszClassName = L"ZetoraSkinTestBackdrop";
    RegisterClassW(&backdrop);

    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    backdrop_ = CreateWindowExW(0, L"ZetoraSkinTestBackdrop", L"", WS_POPUP | WS_VISIBLE,
                                cx / 2 - 250, cy / 2 - 150, 500, 300, nullptr, nullptr, module, nullptr);
    window_ = CreateWindowExW(0, L"ZetoraSkinTestScreen", L"skin test",
                              WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 100, 100, nullptr, nullptr, module, nullptr);
    ASSERT_TRUE(backdrop_ && window_);
    skin_manager::release();
    ASSERT_TRUE(skin_manager::instance()->load_skin_text(kTestSkin));
    ASSERT_TRUE(skin_manager::instance()->attach_window("test_main", module, window_));
    ShowWindow(window_, SW_SHOW);
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateWindow(window_);
    pump(700);
    GetWindowRect(window_, &rect_);
  }
  void TearDown() override {
    DestroyWindow(window_);
    DestroyWindow(backdrop_);
    skin_manager::release();
  }

  HWND backdrop_ = nullptr;
  HWND window_ = nullptr;
  RECT rect_ = {};
};

TEST_F(SkinWindowTest, ColourKeyCornersTextAndClick) {
  EXPECT_EQ(rect_.right - rect_.left, 400);
  EXPECT_EQ(rect_.bottom - rect_.top, 200);
  const screenshot shot = capture(rect_);
  shot.save_bmp(beside_test_program("skin_window_test.bmp").c_str());
  const int L = rect_.left, T = rect_.top;

  // No magenta pixel anywhere: the colour-key hole shows the backdrop.
  int magenta = 0;
  for (uint32_t c : shot.pixels) magenta += c == 0xFF00FF;
  EXPECT_EQ(magenta, 0);
  EXPECT_EQ(shot.at(L + 330, T + 140), 0x00A000u);
  EXPECT_EQ(shot.at(L + 200, T + 150), 0xFFFFFFu);
  // Corners cut by the region: the backdrop shows through.
  EXPECT_EQ(shot.at(L + 1, T + 1), 0x00A000u);
  EXPECT_EQ(shot.at(L + 398, T + 198), 0x00A000u);
  EXPECT_EQ(shot.at(L + 10, T + 10), 0xFFFFFFu);
  // The button's fill.
  EXPECT_EQ(shot.at(L + 45, T + 125), 0x0000C8u);

  // Red label text inside the label's rectangle and nowhere else above the
  // button; the Chinese label has far more ink than question marks would.
  const int chinese = count_red(shot, L + 20, T + 20, L + 220, T + 50);
  const int marks = count_red(shot, L + 20, T + 60, L + 220, T + 90);
  EXPECT_GT(chinese, 300);
  EXPECT_GT(marks, 20);
  EXPECT_GT(chinese, 3 * marks);
  EXPECT_EQ(count_red(shot, L + 220, T + 0, L + 400, T + 110), 0);

  // A press and release over the button reach it; it posts its name.
  g_clicks.clear();
  PostMessageW(window_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, 140));
  PostMessageW(window_, WM_LBUTTONUP, 0, MAKELPARAM(60, 140));
  // A press on the panel is not consumed and reaches the screen; no click.
  PostMessageW(window_, WM_LBUTTONUP, 0, MAKELPARAM(250, 60));
  // A stray timer id is not read as a control's timer.
  PostMessageW(window_, WM_TIMER, 0x12345678, 0);
  pump(300);
  ASSERT_EQ(g_clicks.size(), 1u);
  EXPECT_EQ(g_clicks[0], "ok");
}

}  // namespace
}  // namespace dui
