// The process-wide registry of a skin's top-level nodes.
#pragma once

#include <map>
#include <string>

#include "dui/dui_types.h"

namespace dui {

class ctrl_base;
class ctrl_dialog;

class skin_manager {
 public:
  // The registry, created on first call (which starts GDI+).
  static skin_manager* instance();
  // Deletes every tree and the registry and shuts GDI+ down; the next
  // instance() makes a fresh one.
  static void release();

  // Reads skin.txt at the path and builds (or updates) one tree per
  // top-level "dialog" member. False when the file is missing or is not a
  // JSON object; trees of an earlier load then stay.
  bool load_skin(const std::wstring& path);
  // The same from the text of skin.txt.
  bool load_skin_text(const std::string& bytes);

  // Binds the named node to a screen's window; false when no such node.
  bool attach_window(const std::string& node, ModuleHandle module, WindowHandle window);
  ctrl_dialog* find_dialog(const std::string& node) const;
  ctrl_base* find_control(const std::string& node, const std::string& control) const;
  ctrl_dialog* current() const { return current_; }
  const std::map<std::string, ctrl_dialog*>& nodes() const { return registry_; }

 private:
  skin_manager();
  ~skin_manager();

  std::map<std::string, ctrl_dialog*> registry_;
  std::wstring skin_path_;
  ctrl_dialog* current_ = nullptr;
};

}  // namespace dui
