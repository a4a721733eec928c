// The Linux window has two front ends behind the one platform interface:
// GTK 3, loaded at run time where the desktop has it (screen readers see it,
// it runs natively on Wayland), and FLTK, linked in, everywhere else.
// TTU_TOOLKIT=fltk or TTU_TOOLKIT=gtk chooses one.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "platform/dialogs.h"
#include "platform/linux/wine/prefix_discovery.h"
#include "platform/main_window.h"

namespace ttu::platform {

struct FrontEnd {
  const char* name;
  std::unique_ptr<MainWindow> (*show_main_window)(const WindowLayout&, WindowEvents);
  int (*run_event_loop)();
  Dialogs& (*dialogs)();
  std::optional<std::size_t> (*choose_prefix)(const std::vector<PrefixCandidate>&);
};

const FrontEnd& FltkFrontEnd();
// Nullptr when GTK 3.24 or later is missing or cannot open the display.
const FrontEnd* GtkFrontEnd();

// The front end of this process, chosen once.
const FrontEnd& ChosenFrontEnd();

}  // namespace ttu::platform
