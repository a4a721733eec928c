#include "platform/linux/ui/front_end.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/linux/ui/fltk/look.h"
#include "platform/linux/ui/gtk/front_end.h"

namespace ttu::platform {

const FrontEnd& FltkFrontEnd() {
  static const FrontEnd fltk{"fltk", ShowFltkMainWindow, RunFltkEventLoop, FltkDialogs, FltkChoosePrefix};
  return fltk;
}

const FrontEnd* GtkFrontEnd() {
  static const FrontEnd gtk{"gtk", ShowGtkMainWindow, RunGtkEventLoop, GtkDialogs, GtkChoosePrefix};
  return gtk::Load() ? &gtk : nullptr;
}

const FrontEnd& ChosenFrontEnd() {
  static const FrontEnd& chosen = []() -> const FrontEnd& {
    const char* asked = std::getenv("TTU_TOOLKIT");
    if (asked && std::strcmp(asked, "fltk") == 0) return FltkFrontEnd();
    if (const FrontEnd* gtk = GtkFrontEnd()) return *gtk;
    if (asked && std::strcmp(asked, "gtk") == 0) {
      std::fprintf(stderr, "tessiro-tiny-updater: GTK 3 cannot be used here; the window is drawn with FLTK\n");
    }
    return FltkFrontEnd();
  }();
  return chosen;
}

std::unique_ptr<MainWindow> ShowMainWindow(const WindowLayout& layout, WindowEvents events) {
  return ChosenFrontEnd().show_main_window(layout, std::move(events));
}

int RunEventLoop() { return ChosenFrontEnd().run_event_loop(); }

Dialogs& NativeDialogs() { return ChosenFrontEnd().dialogs(); }

}  // namespace ttu::platform
