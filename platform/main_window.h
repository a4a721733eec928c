// The one window of the updater: a caption, a button and a timer.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace ttu::platform {

struct WindowLayout {
  std::string caption;
  int client_width = 0, client_height = 0;
  int left = 0, top = 0;  // stored position of the client area
  std::string button_caption;
  int button_x = 0, button_y = 0, button_width = 0, button_height = 0;
  int button_font_pixels = 13;
  int timer_interval_ms = 0;
  const char* const* icon_xpm = nullptr;  // 32 x 32 window icon
};

struct WindowEvents {
  std::function<void()> button_click;
  std::function<void()> timer_tick;
};

// The controls the run controller drives.
class MainWindow {
 public:
  virtual ~MainWindow() = default;
  virtual void SetTimerEnabled(bool on) = 0;
  virtual bool TimerEnabled() const = 0;
  virtual void SetButtonCaption(const std::string& caption) = 0;
  virtual std::string ButtonCaption() const = 0;
};

// Creates the window with its controls, timer off, and shows it without an owner.
// Closing it ends the process.
std::unique_ptr<MainWindow> ShowMainWindow(const WindowLayout& layout, WindowEvents events);

// Runs the event loop of the user-interface thread until the process ends.
int RunEventLoop();

}  // namespace ttu::platform
