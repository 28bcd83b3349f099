// Window-backed text controls: `ctrl_edit`, a single-line field on the
// system EDIT class, and `ctrl_richedit`, a text viewer on RichEdit20W that
// shows a file of the skin folder (the licence). Both subclass their window
// to report edits to the screen with SKIN_MSG_EDIT_CHANGED.
#pragma once

#include <cstdint>
#include <string>

#include "dui/ctrl_base.h"

namespace dui {

// The text of a UTF-8 file as shown: decoded, without a byte-order mark.
std::wstring decode_text_file(const std::string& bytes);

// What the edit and the rich edit share: font keys, the font, the
// subclassing of their window.
class ctrl_text_window : public ctrl_base {
 public:
  ~ctrl_text_window() override;
  void layout() override;
  void move_windows() override;
  intptr_t window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                       intptr_t lparam) override;

  const std::wstring& face() const { return face_; }
  int point_tenths() const { return size_; }
  bool read_only() const { return readonly_; }
  const std::string& border_color() const { return border_color_; }

 protected:
  // Reads the keys both classes have; false for any other key.
  bool read_shared_key(const std::string& key, const Json::Value& value);
  // Subclasses the new window and sets its font (Win32 part).
  void adopt_window(WindowHandle window);
  void release_window();
  void apply_font();
  void post_changed();
  intptr_t call_previous(WindowHandle window, unsigned message, uintptr_t wparam,
                         intptr_t lparam);

  unsigned id_ = 0;
  std::wstring face_ = L"Arial";
  int size_ = 0;
  bool readonly_ = false;
  std::string border_color_;
  void* font_ = nullptr;
  unsigned font_dpi_ = 0;  // the DPI font_ was made for
  intptr_t previous_proc_ = 0;
};

class ctrl_edit : public ctrl_text_window {
 public:
  const char* type_name() const override { return "edit"; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void set_visible(bool visible) override;
  intptr_t window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                       intptr_t lparam) override;

  bool interactive() const override { return true; }
  bool enabled() const override { return enabled_; }
  std::wstring label() const override { return get_text(); }

  void set_enabled(bool enabled);
  // The whole text; empty without a window.
  std::wstring get_text() const;

 protected:
  access_role default_role() const override { return access_role::text; }

 private:
  bool enabled_ = true;
  // The selection (EM_GETSEL's packed start and end) kept while the field
  // has no focus.
  uint32_t saved_selection_ = 0xFFFFFFFF;
};

class ctrl_richedit : public ctrl_text_window {
 public:
  ctrl_richedit();
  ~ctrl_richedit() override;
  const char* type_name() const override { return "richedit"; }
  bool load(const Json::Value& value) override;
  void attach() override;
  intptr_t window_proc(WindowHandle window, unsigned message, uintptr_t wparam,
                       intptr_t lparam) override;

  const std::wstring& file() const { return file_; }

 private:
  std::wstring file_;
  ModuleHandle riched_ = nullptr;
};

}  // namespace dui
