// The factory that turns an object member of skin.txt into a control.
#include <map>

#include "dui/ctrl_base.h"
#include "dui/ctrl_dialog.h"
#include "dui/ctrl_edit.h"
#include "dui/dui_button.h"
#include "dui/dui_check.h"
#include "dui/dui_frame_image.h"
#include "dui/dui_panel.h"
#include "dui/dui_slider.h"
#include "dui/skin_json.h"

namespace dui {
namespace {

template <typename T>
ctrl_base* create() {
  return new T;
}

std::map<std::string, control_creator>& control_types() {
  static std::map<std::string, control_creator> types = {
      {"dialog", &create<ctrl_dialog>},
      {"dui_panel", &create<dui_ctrl_panel>},
      {"dui_button", &create<dui_ctrl_button>},
      {"dui_check", &create<dui_ctrl_check>},
      {"dui_radio", &create<dui_ctrl_radio>},
      {"dui_slider", &create<dui_ctrl_slider>},
      {"dui_frame_circle_image", &create<dui_ctrl_frame_circle_image>},
      {"edit", &create<ctrl_edit>},
      {"richedit", &create<ctrl_richedit>},
  };
  return types;
}

}  // namespace

void register_control_type(const std::string& type, control_creator creator) {
  control_types()[type] = creator;
}

ctrl_base* create_child_control(ctrl_base* parent, const std::string& name,
                                const Json::Value& value) {
  if (!value.isObject()) return nullptr;
  // A "type" that is not a string reads as its number text or as empty,
  // which no class carries: the member is skipped.
  const std::string type = read_string(value["type"]);
  const auto found = control_types().find(type);
  if (found == control_types().end()) return nullptr;

  // A second load of the same skin updates the controls it built before.
  // Only a direct child of this parent is reused (a name found deeper
  // belongs to another list), and only when it is of the same class.
  ctrl_base* control = parent->find_child(name);
  const bool reused = control != nullptr;
  if (reused && type != control->type_name()) return nullptr;
  if (!reused) control = found->second();

  ctrl_base* owner = parent->owner_or_self();
  control->set_tree_links(parent, owner, name);
  if (!control->load(value)) {
    if (!reused) delete control;
    return reused ? control : nullptr;
  }
  if (!reused) parent->append_child(name, control);
  return control;
}

}  // namespace dui
