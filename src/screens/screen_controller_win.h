// The installer's user interface: the skin start-up, the screens and the
// UI thread's message loop.
#pragma once

#include "app/ui_context.h"
#include "app/user_interface.h"

class ScreenController : public UserInterface {
 public:
  int Run(UiContext& context) override;
};
