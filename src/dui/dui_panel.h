// Windowless panel: fill colour, picture and label. Presses on a panel are
// not consumed, so the screens can drag their window by it.
#pragma once

#include <memory>
#include <vector>

#include "dui/base_drawtext.h"
#include "dui/ctrl_base.h"
#include "dui/skin_image.h"

namespace dui {

class dui_ctrl_panel : public ctrl_base, public base_drawtext<dui_ctrl_panel> {
 public:
  const char* type_name() const override { return "dui_panel"; }
  bool load(const Json::Value& value) override;
  void attach() override;
  void layout() override;

  // Shows another picture (reloaded on the next paint even when the name is
  // the same).
  void set_image(const std::string& file);
  skin_image& picture() { return current_; }

 protected:
  void draw(DcHandle dc) override;

  std::string fillcolor_;
  std::vector<std::wstring> pictures_;
  skin_image left_cap_;
  skin_image right_cap_;
  skin_image current_;
};

}  // namespace dui
