// Feeds arbitrary skin.txt texts to the reader and the factory, then lays
// out, hit-tests and clicks every built tree.
#include "dui/ctrl_dialog.h"
#include "dui/skin_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dui::skin_manager* manager = dui::skin_manager::instance();
  const std::string text(reinterpret_cast<const char*>(data), size);
  manager->load_skin_text(text);
  manager->load_skin_text(text);  // a second load updates the same trees
  for (const auto& node : manager->nodes()) {
    dui::ctrl_dialog* dialog = node.second;
    dialog->attach_to(nullptr, nullptr);
    dialog->layout();
    dialog->render(nullptr, dialog->area());
    dui::ctrl_base* target;
    for (int y = -5; y < 300; y += 37) {
      for (int x = -5; x < 700; x += 41) {
        const intptr_t point =
            static_cast<intptr_t>((static_cast<uint32_t>(y) << 16) | (static_cast<uint32_t>(x) & 0xFFFF));
        dialog->dispatch(dui::kMsgMouseMove, 0, point, &target);
        dialog->dispatch(dui::kMsgLButtonDown, 0, point, &target);
        dialog->dispatch(dui::kMsgLButtonUp, 0, point, &target);
      }
    }
  }
  dui::skin_manager::release();
  return 0;
}
