// The main window on GTK 3: a fixed-size window, one button, and the timer as
// a GLib timeout. The layout's 96-dpi pixels follow the desktop's text
// resolution; GTK itself applies the window scale.
#include <cmath>

#include "platform/linux/ui/gtk/front_end.h"

namespace ttu::platform {
namespace {

class GtkMainWindow final : public MainWindow {
 public:
  GtkMainWindow(const WindowLayout& layout, WindowEvents events) : g_(*gtk::Load()), events_(std::move(events)) {
    interval_ms_ = static_cast<unsigned>(layout.timer_interval_ms);
    const double k = GtkTextScale();
    auto px = [k](int v) { return static_cast<int>(std::lround(v * k)); };
    window_ = g_.gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_.gtk_window_set_title(GTK_WINDOW(window_), layout.caption.c_str());
    g_.gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    g_.gtk_window_move(GTK_WINDOW(window_), px(layout.left), px(layout.top));
    if (layout.icon_xpm) {
      if (GdkPixbuf* icon = g_.gdk_pixbuf_new_from_xpm_data(const_cast<const char**>(layout.icon_xpm))) {
        g_.gtk_window_set_icon(GTK_WINDOW(window_), icon);
        g_.g_object_unref(icon);
      }
    }
    gtk::Connect(g_, window_, "delete-event", OnClose, this);
    auto* fixed = g_.gtk_fixed_new();
    g_.gtk_widget_set_size_request(fixed, px(layout.client_width), px(layout.client_height));
    button_ = g_.gtk_button_new_with_label(layout.button_caption.c_str());
    g_.gtk_widget_set_size_request(button_, px(layout.button_width), px(layout.button_height));
    g_.gtk_fixed_put(GTK_FIXED(fixed), button_, px(layout.button_x), px(layout.button_y));
    gtk::Connect(g_, button_, "clicked", OnClick, this);
    g_.gtk_container_add(GTK_CONTAINER(window_), fixed);
    g_.gtk_widget_show_all(window_);
    g_.gtk_widget_grab_focus(button_);
  }

  void SetTimerEnabled(bool on) override {
    if (on == (timer_ != 0)) return;  // enabling a running timer does not restart it
    if (on) {
      timer_ = g_.g_timeout_add(interval_ms_, OnTimeout, this);
    } else {
      g_.g_source_remove(timer_);
      timer_ = 0;
    }
  }
  bool TimerEnabled() const override { return timer_ != 0; }
  void SetButtonCaption(const std::string& caption) override { g_.gtk_button_set_label(GTK_BUTTON(button_), caption.c_str()); }
  std::string ButtonCaption() const override {
    const char* label = g_.gtk_button_get_label(GTK_BUTTON(button_));
    return label ? label : "";
  }

 private:
  // A press runs from the main loop, not inside the signal: a press made
  // through a screen reader's action would otherwise hold the reader's call
  // unanswered (and the reader blind) for as long as the run's boxes are open.
  static void OnClick(GtkButton*, gpointer self) {
    auto* w = static_cast<GtkMainWindow*>(self);
    w->g_.g_idle_add(RunClick, self);
  }
  static gboolean RunClick(gpointer self) {
    auto* w = static_cast<GtkMainWindow*>(self);
    if (w->events_.button_click) w->events_.button_click();
    return G_SOURCE_REMOVE;
  }
  // The next tick comes one interval after this one started, as the timer's
  // source is rescheduled from its dispatch.
  static gboolean OnTimeout(gpointer self) {
    auto* w = static_cast<GtkMainWindow*>(self);
    if (w->events_.timer_tick) w->events_.timer_tick();
    return w->timer_ != 0;  // the tick may have stopped the timer
  }
  // The window's close box ends the process at once.
  static gboolean OnClose(GtkWidget*, GdkEvent*, gpointer) {
    GtkDialogs().EndProcess();
    return TRUE;
  }

  const gtk::Api& g_;
  WindowEvents events_;
  unsigned interval_ms_ = 0;
  unsigned timer_ = 0;
  GtkWidget* window_ = nullptr;
  GtkWidget* button_ = nullptr;
};

}  // namespace

std::unique_ptr<MainWindow> ShowGtkMainWindow(const WindowLayout& layout, WindowEvents events) {
  return std::make_unique<GtkMainWindow>(layout, std::move(events));
}

int RunGtkEventLoop() {
  gtk::Load()->gtk_main();
  return 0;
}

}  // namespace ttu::platform
