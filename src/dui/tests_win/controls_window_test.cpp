// Every control type of the test skin in a real window, checked by the
// pixels of screenshots: button strips after posted mouse messages, the
// check box, radio exclusion, the slider, a sliding panel sampled during
// its slide, typing into the edit and the licence in the rich edit.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dui/ctrl_dialog.h"
#include "dui/ctrl_edit.h"
#include "dui/dui_check.h"
#include "dui/dui_panel.h"
#include "dui/dui_slider.h"
#include "dui/platform.h"
#include "dui/skin_manager.h"
#include "screen_capture.h"

namespace dui {
namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;
constexpr uint32_t kBoxOff = 0xFFFF00, kBoxOffHover = 0x00FFFF, kBoxOn = 0xFF8000,
                   kBoxOnHover = 0x8000FF;

struct notice {
  UINT message;
  std::string name;
};
std::vector<notice> g_notices;

LRESULT CALLBACK screen_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case SKIN_MSG_CLICK:
    case SKIN_MSG_CHECK_CLICK:
    case SKIN_MSG_RADIO_CLICK:
    case SKIN_MSG_EDIT_CHANGED:
      g_notices.push_back(notice{message, reinterpret_cast<const char*>(lparam)});
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

int count_notices(UINT message, const char* name) {
  int n = 0;
  for (const notice& x : g_notices) n += x.message == message && x.name == name;
  return n;
}

bool dark(uint32_t c) {
  return ((c >> 16) & 0xFF) < 110 && ((c >> 8) & 0xFF) < 110 && (c & 0xFF) < 110;
}

class ControlsWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSW screen = {};
    screen.lpfnWndProc = screen_proc;
    screen.hInstance = module;
    screen.lpszClassName = L"ZetoraControlsTestScreen";
    screen.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    RegisterClassW(&screen);
    // The real pointer stays away from the window: only posted mouse
    // messages move the controls.
    SetCursorPos(0, 0);
    folder_ = beside_test_program("test_skin");
    SetCurrentDirectoryA(folder_.c_str());
    window_ = CreateWindowExW(0, L"ZetoraControlsTestScreen", L"controls test",
                              WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 100, 100, nullptr,
                              nullptr, module, nullptr);
    ASSERT_TRUE(window_);
    skin_manager::release();
    std::wstring path(folder_.begin(), folder_.end());
    ASSERT_TRUE(skin_manager::instance()->load_skin(path + L"\\skin.txt"));
    ASSERT_TRUE(skin_manager::instance()->attach_window("all_controls", module, window_));
    ShowWindow(window_, SW_SHOW);
    SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    UpdateWindow(window_);
    pump(500);
    GetWindowRect(window_, &rect_);
    g_notices.clear();
  }
  void TearDown() override {
    DestroyWindow(window_);
    skin_manager::release();
  }

  template <typename T>
  T* find(const char* name) {
    return static_cast<T*>(skin_manager::instance()->find_control("all_controls", name));
  }
  // The window's pixel at a client point, after the posted messages ran.
  uint32_t pixel(int x, int y) {
    pump(150);
    const RECT r = {rect_.left + x, rect_.top + y, rect_.left + x + 1, rect_.top + y + 1};
    return capture(r).at(r.left, r.top);
  }
  void post(UINT message, int x, int y, WPARAM keys = 0) {
    PostMessageW(window_, message, keys, MAKELPARAM(x, y));
  }
  void save(const char* name) {
    pump(150);
    capture(rect_).save_bmp(beside_test_program(name).c_str());
  }

  std::string folder_;
  HWND window_ = nullptr;
  RECT rect_ = {};
};

TEST_F(ControlsWindowTest, ButtonStripsFollowTheMouse) {
  EXPECT_EQ(rect_.right - rect_.left, 400);
  EXPECT_EQ(pixel(25, 25), kRed);
  post(WM_MOUSEMOVE, 30, 30);
  EXPECT_EQ(pixel(25, 25), kGreen);
  post(WM_LBUTTONDOWN, 30, 30, MK_LBUTTON);
  EXPECT_EQ(pixel(25, 25), kBlue);
  post(WM_LBUTTONUP, 30, 30);
  EXPECT_EQ(pixel(25, 25), kRed);
  EXPECT_EQ(count_notices(SKIN_MSG_CLICK, "btn4"), 1);
  // A disabled three-frame button shows its last frame (the strip has no
  // disabled frame) and ignores clicks.
  EXPECT_EQ(pixel(65, 25), kBlue);
  post(WM_LBUTTONDOWN, 70, 30, MK_LBUTTON);
  post(WM_LBUTTONUP, 70, 30);
  EXPECT_EQ(pixel(65, 25), kBlue);
  EXPECT_EQ(count_notices(SKIN_MSG_CLICK, "btn3"), 0);
}

TEST_F(ControlsWindowTest, CheckBoxAndRadios) {
  auto* box = find<dui_ctrl_check>("box");
  EXPECT_EQ(pixel(25, 55), kBoxOff);
  post(WM_MOUSEMOVE, 26, 56);
  EXPECT_EQ(pixel(25, 55), kBoxOffHover);
  post(WM_LBUTTONUP, 26, 56);
  EXPECT_EQ(pixel(25, 55), kBoxOnHover);
  EXPECT_TRUE(box->is_checked());
  save("controls_checked.bmp");
  post(WM_LBUTTONUP, 26, 56);
  EXPECT_EQ(pixel(25, 55), kBoxOffHover);
  EXPECT_FALSE(box->is_checked());
  EXPECT_EQ(count_notices(SKIN_MSG_CHECK_CLICK, "box"), 2);

  // "ra" starts selected; selecting "rb" unselects it.
  post(WM_MOUSEMOVE, 300, 300);
  EXPECT_EQ(pixel(25, 80), kBoxOn);
  EXPECT_EQ(pixel(125, 80), kBoxOff);
  post(WM_MOUSEMOVE, 126, 80);
  post(WM_LBUTTONUP, 126, 80);
  post(WM_MOUSEMOVE, 300, 300);
  EXPECT_EQ(pixel(125, 80), kBoxOn);
  EXPECT_EQ(pixel(25, 80), kBoxOff);
  EXPECT_EQ(count_notices(SKIN_MSG_RADIO_CLICK, "rb"), 1);
  save("controls_radio.bmp");
  // Beside the labels, the repaints after the clicks kept the white panel
  // under them (nothing of the colour key shows through).
  EXPECT_EQ(pixel(170, 60), kWhite);
  EXPECT_EQ(pixel(90, 84), kWhite);
  EXPECT_EQ(pixel(190, 84), kWhite);
}

TEST_F(ControlsWindowTest, SliderAtHalfAndFull) {
  auto* bar = find<dui_ctrl_slider>("bar");
  // Empty: the background's caps and stretched middle.
  EXPECT_EQ(pixel(25, 103), 0x1E1E1Eu);
  EXPECT_EQ(pixel(120, 103), 0x646464u);
  EXPECT_EQ(pixel(215, 103), 0x3C3C3Cu);
  bar->set_position(0.5);  // fill 20 .. 120
  EXPECT_EQ(pixel(25, 103), 0x0000C8u);
  EXPECT_EQ(pixel(100, 103), 0x0096FFu);
  EXPECT_EQ(pixel(119, 103), 0x0096FFu);  // cut square: no right cap
  EXPECT_EQ(pixel(121, 103), 0x646464u);
  save("controls_slider_half.bmp");
  bar->set_position(1.0);
  EXPECT_EQ(pixel(150, 103), 0x0096FFu);
  EXPECT_EQ(pixel(215, 103), 0x000078u);  // full: the fill's right cap
  save("controls_slider_full.bmp");
}

TEST_F(ControlsWindowTest, PanelSlidesWithoutPassingItsTarget) {
  auto* slide = find<dui_ctrl_panel>("slide");
  const int column = rect_.left + 350;
  const auto top_of_red = [&]() {
    const RECT r = {column, rect_.top, column + 1, rect_.bottom};
    const screenshot shot = capture(r);
    for (int y = rect_.top; y < rect_.bottom; ++y) {
      if (shot.at(column, y) == 0xC80000u) return static_cast<int>(y - rect_.top);
    }
    return -1;
  };
  EXPECT_EQ(top_of_red(), 20);
  const DWORD start = GetTickCount();
  slide->set_rect(330, 180, 370, 220);
  std::vector<int> tops;
  while (GetTickCount() - start < 900) {
    pump(30);
    tops.push_back(top_of_red());
  }
  pump(600);
  const int end = top_of_red();
  save("controls_slide_end.bmp");
  int between = 0;
  for (int top : tops) {
    EXPECT_GE(top, 20);
    EXPECT_LE(top, 180);
    between += top > 20 && top < 180;
  }
  EXPECT_GT(between, 3) << "the panel jumped instead of sliding";
  EXPECT_EQ(end, 180);
  EXPECT_EQ(slide->area(), (rect{330, 180, 370, 220}));
}

TEST_F(ControlsWindowTest, ReleasedDuringASlideStopsItsSteps) {
  find<dui_ctrl_panel>("slide")->set_rect(330, 180, 370, 220);
  pump(120);
  // The panel goes mid-slide: its window timer goes with it, and a tick
  // already queued names no live control, so nothing touches the freed
  // panel.
  skin_manager::release();
  pump(300);
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(ControlsWindowTest, EditTakesTypedTextAndRichEditShowsTheLicence) {
  auto* path = find<ctrl_edit>("path");
  ASSERT_NE(path->window(), nullptr);
  for (wchar_t c : std::wstring(L"C:\\Zetora")) PostMessageW(path->window(), WM_CHAR, c, 1);
  PostMessageW(path->window(), WM_KEYDOWN, VK_DELETE, 1);
  pump(300);
  EXPECT_EQ(path->get_text(), L"C:\\Zetora");
  EXPECT_EQ(count_notices(SKIN_MSG_EDIT_CHANGED, "path"), 10);

  auto* licence = static_cast<ctrl_base*>(find<ctrl_richedit>("licence"));
  ASSERT_NE(licence->window(), nullptr);
  wchar_t first[8] = {};
  GetWindowTextW(licence->window(), first, 7);
  EXPECT_EQ(std::wstring(first, 6), L"\u8F6F\u4EF6\u8BB8\u53EF\u534F\u8BAE");

  pump(200);
  const screenshot shot = capture(rect_);
  shot.save_bmp(beside_test_program("controls_edits.bmp").c_str());
  const auto ink = [&](int left, int top, int right, int bottom) {
    int n = 0;
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) n += dark(shot.at(rect_.left + x, rect_.top + y));
    }
    return n;
  };
  EXPECT_GT(ink(20, 120, 220, 142), 30) << "typed text";
  EXPECT_GT(ink(20, 150, 300, 170), 60) << "licence title";
  // The first character sits at the left edge: no blank byte-order mark
  // before it.
  EXPECT_GT(ink(20, 150, 40, 170), 5);
}

// Moved to a monitor of twice the DPI, the edit's font is remade at that
// monitor's DPI (not the screen's), and back again.
TEST_F(ControlsWindowTest, EditFontFollowsTheWindowsDpi) {
  constexpr UINT kDpiChanged = 0x02E0;
  auto* path = find<ctrl_edit>("path");
  ASSERT_NE(path->window(), nullptr);
  const auto font_height = [&] {
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(path->window(), WM_GETFONT, 0, 0)), sizeof font, &font);
    return font.lfHeight;
  };
  const int tenths = path->point_tenths();
  const int screen_dpi = static_cast<int>(platform::window_dpi(window_));
  EXPECT_EQ(font_height(), -MulDiv(screen_dpi, tenths, 720));
  for (const int dpi : {2 * screen_dpi, screen_dpi}) {
    RECT suggested = rect_;
    SendMessageW(window_, kDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(font_height(), -MulDiv(dpi, tenths, 720)) << dpi;
  }
}

}  // namespace
}  // namespace dui
