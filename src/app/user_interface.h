// The installer's user interface as app sees it. app owns this interface;
// the screens implement it and the executable hands the implementation to
// StartUi, so app never depends on the screens.
#pragma once

#include "app/ui_context.h"

// Between the driver and a running interface go the notices of
// driver_messages.h, posted to the context's options window, and the
// events of the shared InstallChoice.
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // The body of the UI thread. Shows the options screen (hidden in a silent
  // run), sets the context's ready event once its options window takes
  // notices (or once it is known that none will), answers the notices until
  // the interface ends, then clears the options window and sets the ended
  // event. Returns the thread's exit code.
  virtual int Run(UiContext& context) = 0;
};
