// What the host build's platform layer records for tests.
#pragma once

#include <vector>

#include "dui/dui_types.h"

namespace dui {

struct posted_message {
  WindowHandle window;
  unsigned message;
  uintptr_t wparam;
  intptr_t lparam;
};

std::vector<posted_message>& posted_messages();

// While set, window timers cannot start (as when the system has none left).
void set_timers_fail(bool fail);

}  // namespace dui
