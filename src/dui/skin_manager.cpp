#include "dui/skin_manager.h"

#include <json/value.h>

#include "dui/ctrl_dialog.h"
#include "dui/platform.h"
#include "dui/skin_image.h"
#include "dui/skin_json.h"

namespace dui {
namespace {

skin_manager* g_instance = nullptr;

}  // namespace

skin_manager::skin_manager() {
  clear_control_windows();
  platform::start_graphics();
}

skin_manager::~skin_manager() {
  for (auto& node : registry_) delete node.second;
  platform::stop_graphics();
}

skin_manager* skin_manager::instance() {
  if (!g_instance) g_instance = new skin_manager;
  return g_instance;
}

void skin_manager::release() {
  delete g_instance;
  g_instance = nullptr;
}

bool skin_manager::load_skin(const std::wstring& path) {
  skin_path_ = path;
  std::string bytes;
  if (!platform::file_exists(path) || !platform::read_file(path, &bytes)) return false;
  const size_t slash = path.rfind(L'\\');
  set_skin_folder(slash == std::wstring::npos ? std::wstring() : path.substr(0, slash));
  return load_skin_text(bytes);
}

bool skin_manager::load_skin_text(const std::string& bytes) {
  Json::Value root;
  if (!parse_skin_text(bytes, &root)) return false;
  for (auto it = root.begin(); it != root.end(); ++it) {
    const Json::Value& node = *it;
    if (!node.isObject() || read_string(node["type"]) != "dialog") continue;
    const std::string name = it.name();
    ctrl_dialog* dialog = find_dialog(name);
    const bool reused = dialog != nullptr;
    if (!reused) {
      dialog = new ctrl_dialog;
      dialog->set_tree_links(nullptr, nullptr, name);
    }
    if (dialog->load(node)) {
      registry_[name] = dialog;
    } else if (!reused) {
      delete dialog;
    }
  }
  return true;
}

bool skin_manager::attach_window(const std::string& node, ModuleHandle module,
                                 WindowHandle window) {
  ctrl_dialog* dialog = find_dialog(node);
  if (!dialog) return false;
  dialog->attach_to(window, module);
  current_ = dialog;
  return true;
}

ctrl_dialog* skin_manager::find_dialog(const std::string& node) const {
  const auto found = registry_.find(node);
  return found == registry_.end() ? nullptr : found->second;
}

ctrl_base* skin_manager::find_control(const std::string& node, const std::string& control) const {
  if (node.empty() || control.empty()) return nullptr;
  ctrl_dialog* dialog = find_dialog(node);
  return dialog ? find_descendant(dialog, control) : nullptr;
}

}  // namespace dui
