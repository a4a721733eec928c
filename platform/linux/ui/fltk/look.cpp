#include "platform/linux/ui/fltk/look.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/linux/ui/desktop_scale.h"

namespace ttu::platform {
namespace {

// The settings of the screen's XSETTINGS manager, when one runs.
std::optional<XSettings> ReadXSettings(Display* d, int screen) {
  const std::string selection = "_XSETTINGS_S" + std::to_string(screen);
  const Window owner = XGetSelectionOwner(d, XInternAtom(d, selection.c_str(), False));
  if (owner == None) return std::nullopt;
  const Atom property = XInternAtom(d, "_XSETTINGS_SETTINGS", False);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, left = 0;
  unsigned char* data = nullptr;
  // The manager may go away meanwhile: the read then fails, and is not an error.
  if (XGetWindowProperty(d, owner, property, 0, 1 << 20, False, property, &type, &format, &count, &left, &data) !=
          Success || !data) {
    return std::nullopt;
  }
  std::optional<XSettings> settings;
  if (format == 8) settings = ParseXSettings(std::string_view(reinterpret_cast<char*>(data), count));
  XFree(data);
  return settings;
}

double ReadScale() {
  fl_open_display();
  ScaleSources s;
  s.gdk_scale = std::getenv("GDK_SCALE");
  s.gdk_dpi_scale = std::getenv("GDK_DPI_SCALE");
  s.xsettings = ReadXSettings(fl_display, fl_screen);
  if (const char* r = XResourceManagerString(fl_display)) s.x_resources = r;
  return DesktopScale(s);
}

bool IsEnter(int key) { return key == FL_Enter || key == FL_KP_Enter; }

}  // namespace

double UiScale() {
  static const double scale = [] {
    const double s = ReadScale();
    FL_NORMAL_SIZE = static_cast<Fl_Fontsize>(std::lround(14 * s));
    return s;
  }();
  return scale;
}

int Scaled(int pixels) { return static_cast<int>(std::lround(pixels * UiScale())); }

PushButton::PushButton(int x, int y, int w, int h, const char* label) : Fl_Button(x, y, w, h, label) {}

int PushButton::handle(int event) {
  if (event == FL_KEYBOARD && Fl::focus() == this && IsEnter(Fl::event_key())) {
    simulate_key_action();
    do_callback();
    return 1;
  }
  if ((event == FL_FOCUS || event == FL_UNFOCUS) && window()) window()->redraw();  // the default's frame moves
  return Fl_Button::handle(event);
}

void PushButton::draw() {
  Fl_Button::draw();
  const bool focus_on_button = dynamic_cast<Fl_Button*>(Fl::focus()) != nullptr;
  if (Fl::focus() == this || (default_ && !focus_on_button)) {
    fl_color(FL_BLACK);
    const int t = Scaled(1) > 1 ? Scaled(1) : 1;
    for (int k = 0; k < t; ++k) fl_rect(x() + k, y() + k, w() - 2 * k, h() - 2 * k);
  }
}

DialogWindow::DialogWindow(int w, int h, const char* title)
    : Fl_Window((Fl::w() - w) / 2, (Fl::h() - h) / 3, w, h, title) {
  xclass("tessiro-tiny-updater");
}

int DialogWindow::handle(int event) {
  if (event == FL_SHORTCUT && IsEnter(Fl::event_key())) {
    for (int k = 0; k < children(); ++k) {
      auto* b = dynamic_cast<PushButton*>(child(k));
      if (b && b->is_default() && b->active_r()) {
        b->do_callback();
        return 1;
      }
    }
  }
  return Fl_Window::handle(event);
}

void DialogWindow::RunModal(Fl_Widget* first) {
  set_modal();
  show();
  if (first) first->take_focus();
  while (shown()) Fl::wait();
}

}  // namespace ttu::platform
