// The main window on FLTK: a double-buffered window, one button, and the
// timer as a repeating FLTK timeout. The layout's 96-dpi pixels are drawn at
// the desktop's scale.
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Pixmap.H>
#include <FL/Fl_RGB_Image.H>

#include "platform/linux/ui/fltk/look.h"

namespace ttu::platform {

namespace {

class FltkMainWindow final : public MainWindow {
 public:
  FltkMainWindow(const WindowLayout& layout, WindowEvents events)
      : events_(std::move(events)), interval_s_(layout.timer_interval_ms / 1000.0) {
    window_ = new Fl_Double_Window(Scaled(layout.left), Scaled(layout.top), Scaled(layout.client_width),
                                   Scaled(layout.client_height));
    window_->copy_label(layout.caption.c_str());
    window_->xclass("tessiro-tiny-updater");
    window_->callback(OnClose, this);
    button_ = new PushButton(Scaled(layout.button_x), Scaled(layout.button_y), Scaled(layout.button_width),
                             Scaled(layout.button_height));
    button_->copy_label(layout.button_caption.c_str());
    button_->labelfont(FL_HELVETICA);
    button_->labelsize(Scaled(layout.button_font_pixels));
    button_->callback(OnClick, this);
    window_->end();
    if (layout.icon_xpm) {
      Fl_Pixmap pixmap(layout.icon_xpm);
      icon_ = new Fl_RGB_Image(&pixmap, FL_GRAY);
      window_->icon(icon_);
    }
    window_->show();
    button_->take_focus();
  }

  void SetTimerEnabled(bool on) override {
    if (on == timer_on_) return;  // enabling a running timer does not restart it
    timer_on_ = on;
    if (on) {
      Fl::add_timeout(interval_s_, OnTimeout, this);
    } else {
      Fl::remove_timeout(OnTimeout, this);
    }
  }
  bool TimerEnabled() const override { return timer_on_; }
  void SetButtonCaption(const std::string& caption) override { button_->copy_label(caption.c_str()); }
  std::string ButtonCaption() const override { return button_->label() ? button_->label() : ""; }

 private:
  static void OnClick(Fl_Widget*, void* self) {
    auto* w = static_cast<FltkMainWindow*>(self);
    if (w->events_.button_click) w->events_.button_click();
  }
  static void OnTimeout(void* self) {
    auto* w = static_cast<FltkMainWindow*>(self);
    Fl::repeat_timeout(w->interval_s_, OnTimeout, self);  // one interval after the last tick
    if (w->events_.timer_tick) w->events_.timer_tick();
  }
  // The window's close box ends the process at once; Escape does nothing.
  static void OnClose(Fl_Widget*, void*) {
    if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
    FltkDialogs().EndProcess();
  }

  WindowEvents events_;
  double interval_s_;
  bool timer_on_ = false;
  Fl_Double_Window* window_ = nullptr;
  PushButton* button_ = nullptr;
  Fl_RGB_Image* icon_ = nullptr;
};

}  // namespace

std::unique_ptr<MainWindow> ShowFltkMainWindow(const WindowLayout& layout, WindowEvents events) {
  return std::make_unique<FltkMainWindow>(layout, std::move(events));
}

int RunFltkEventLoop() { return Fl::run(); }

}  // namespace ttu::platform
