// Skin viewer: shows one dialog of a skin package in a real window, so a
// skin can be looked at without running an installation.
//   skin_viewer [--zip package.zip | --folder unpacked_folder]
//               [--dialog name] [--shot out.bmp] [--exit-after ms]
//               [--position fraction] [--slide pixels]
// Without --zip or --folder it shows the package built into it (the
// installer's). --shot saves the dialog as drawn, magenta where the window
// is transparent. Every progress bar is set to --position (0.6 unless
// given) so its fill shows; with --slide, a click on a button moves every
// animated panel that many pixels down and back again, so slides can be
// watched. Clicks, check boxes, radios and edits are reported on stderr.
// The skin of the window tests has every control type:
//   skin_viewer --folder <build>/src/dui/tests_win/test_skin --dialog all_controls
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dui/ctrl_dialog.h"
#include "dui/dui_panel.h"
#include "dui/dui_slider.h"
#include "dui/platform.h"
#include "dui/skin_manager.h"
#include "dui/skin_unpack.h"
#include "dui/text_codec.h"

namespace {

struct options {
  std::wstring zip;
  std::wstring folder;
  std::string dialog = "vxwebinstall_main";
  std::wstring shot;
  int exit_after_ms = 0;
  double position = 0.6;
  int slide = 0;
};

options g_options;
std::string g_dialog;

template <typename T>
void for_each_control(dui::ctrl_base* control, const char* type, void (*action)(T*)) {
  for (const dui::child_entry& child : control->children()) {
    if (std::string(child.control->type_name()) == type) action(static_cast<T*>(child.control));
    for_each_control(child.control, type, action);
  }
}

// Moves every animated panel down by --slide pixels, or back up.
void slide_panels() {
  static bool down = false;
  down = !down;
  dui::ctrl_dialog* dialog = dui::skin_manager::instance()->find_dialog(g_dialog);
  if (!dialog) return;
  for_each_control<dui::dui_ctrl_panel>(dialog, "dui_panel", [](dui::dui_ctrl_panel* panel) {
    if (!panel->animated()) return;
    const dui::rect& r = panel->area();
    const int dy = down ? g_options.slide : -g_options.slide;
    panel->set_rect(r.left, r.top + dy, r.right, r.bottom + dy);
  });
}

bool parse(int argc, wchar_t** argv, options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (i + 1 >= argc) return false;
    const std::wstring value = argv[++i];
    if (arg == L"--zip") {
      o->zip = value;
    } else if (arg == L"--folder") {
      o->folder = value;
    } else if (arg == L"--dialog") {
      o->dialog = dui::wide_to_utf8(value);
    } else if (arg == L"--shot") {
      o->shot = value;
    } else if (arg == L"--exit-after") {
      o->exit_after_ms = _wtoi(value.c_str());
    } else if (arg == L"--position") {
      o->position = _wtof(value.c_str());
    } else if (arg == L"--slide") {
      o->slide = _wtoi(value.c_str());
    } else {
      return false;
    }
  }
  return true;
}

// Saves the dialog drawn into a 32-bit bitmap, in the window's pixels.
bool save_snapshot(dui::ctrl_dialog* dialog, const std::wstring& path) {
  const int w = dui::platform::to_pixels(dialog->width(), dialog->scale());
  const int h = dui::platform::to_pixels(dialog->height(), dialog->scale());
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const RECT all = {0, 0, w, h};
  SetBkColor(memory, RGB(255, 0, 255));
  ExtTextOutW(memory, 0, 0, ETO_OPAQUE, &all, nullptr, 0, nullptr);
  dui::platform::set_draw_scale(dialog->scale());
  dialog->render(memory, dialog->area());
  dui::platform::set_draw_scale(1.0);
  GdiFlush();
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + w * h * 4;
  bool ok = false;
  if (FILE* f = _wfopen(path.c_str(), L"wb")) {
    ok = std::fwrite(&file, sizeof file, 1, f) == 1 &&
         std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
         std::fwrite(bits, 4, static_cast<size_t>(w) * h, f) == static_cast<size_t>(w) * h;
    std::fclose(f);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

LRESULT CALLBACK viewer_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case dui::SKIN_MSG_CLICK: {
      const std::string name = reinterpret_cast<const char*>(lparam);
      std::fprintf(stderr, "skin_viewer: click %s\n", name.c_str());
      if (_stricmp(name.c_str(), "close") == 0) DestroyWindow(window);
      if (g_options.slide != 0) slide_panels();
      return 0;
    }
    case dui::SKIN_MSG_CHECK_CLICK:
    case dui::SKIN_MSG_RADIO_CLICK:
    case dui::SKIN_MSG_EDIT_CHANGED: {
      const char* kind = message == dui::SKIN_MSG_CHECK_CLICK   ? "check"
                         : message == dui::SKIN_MSG_RADIO_CLICK ? "radio"
                                                                : "edit";
      std::fprintf(stderr, "skin_viewer: %s %s\n", kind, reinterpret_cast<const char*>(lparam));
      return 0;
    }
    case WM_LBUTTONDOWN:
      // Presses not taken by a control drag the window, as the screens do.
      ReleaseCapture();
      SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      return 0;
    case WM_TIMER:
      if (wparam == 1001) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  options& o = g_options;
  if (!parse(argc, argv, &o)) {
    std::fprintf(stderr, "usage: skin_viewer [--zip f.zip | --folder dir] [--dialog name] "
                         "[--shot out.bmp] [--exit-after ms] [--position f] [--slide px]\n");
    return 2;
  }

  std::wstring folder = o.folder;
  if (folder.empty()) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder = std::wstring(temp) + L"zetora_skin_viewer\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    if (o.zip.empty()) {
      dui::unpack_skin_resource(instance, folder);
    } else {
      std::string bytes;
      if (!dui::platform::read_file(o.zip, &bytes)) {
        std::fprintf(stderr, "skin_viewer: cannot read the package\n");
        return 1;
      }
      dui::unpack_skin_archive(bytes.data(), bytes.size(), folder);
    }
  }
  if (folder.back() != L'\\') folder += L'\\';
  SetCurrentDirectoryW(folder.c_str());

  dui::skin_manager* manager = dui::skin_manager::instance();
  if (!manager->load_skin(folder + L"skin.txt")) {
    std::fprintf(stderr, "skin_viewer: skin.txt is missing or is not a JSON object\n");
    return 1;
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = viewer_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = L"ZetoraSkinViewer";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"Skin viewer", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 100,
                                100, nullptr, nullptr, instance, nullptr);
  if (!manager->attach_window(o.dialog, instance, window)) {
    std::fprintf(stderr, "skin_viewer: the skin has no dialog named %s; it has:\n", o.dialog.c_str());
    for (const auto& node : manager->nodes()) std::fprintf(stderr, "  %s\n", node.first.c_str());
    return 1;
  }
  g_dialog = o.dialog;
  dui::ctrl_dialog* dialog = manager->find_dialog(o.dialog);
  static double position = o.position;
  for_each_control<dui::dui_ctrl_slider>(dialog, "dui_slider", [](dui::dui_ctrl_slider* bar) {
    bar->set_position(position);
  });
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  RECT placed;
  GetWindowRect(window, &placed);
  std::printf("window %ldx%ld at %u dpi\n", placed.right - placed.left, placed.bottom - placed.top,
              dui::platform::window_dpi(window));
  std::fflush(stdout);
  if (!o.shot.empty() && !save_snapshot(dialog, o.shot)) {
    std::fprintf(stderr, "skin_viewer: could not save the screenshot\n");
  }
  if (o.exit_after_ms > 0) SetTimer(window, 1001, o.exit_after_ms, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  dui::skin_manager::release();
  return 0;
}
