// A small X11 client for GUI tests: finds top-level windows by title, reads
// their geometry and asks them to close as a window manager would.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ttu::test {

struct WindowInfo {
  Window id = 0;
  int x = 0, y = 0, width = 0, height = 0;
};

// Moves the pointer to screen position (x, y) and clicks the left button, as a
// person would (xdotool); false when xdotool failed.
bool ClickAt(int x, int y);
// Answers a box by its focused button, whichever front end drew it: the
// pointer into the box (with no window manager the keyboard goes there), then
// Return; false when xdotool failed.
bool PressReturnIn(const WindowInfo& w);

class X11Client {
 public:
  X11Client();  // opens $DISPLAY; ok() tells whether that worked
  ~X11Client();
  bool ok() const { return display_ != nullptr; }

  // Waits up to `timeout_ms` for a mapped window with that title.
  std::optional<WindowInfo> WaitForWindow(const std::string& title, int timeout_ms);
  // Waits up to `timeout_ms` for `count` of them; those there are by then.
  std::vector<WindowInfo> WaitForWindows(const std::string& title, std::size_t count, int timeout_ms);
  // Sends WM_DELETE_WINDOW, as the close box of a window manager does.
  void Close(Window w);
  // Saves what the window shows as a PNG file; false on failure.
  bool SavePng(const WindowInfo& w, const std::string& path);
  // How many pixels the window shows whose colour (r, g, b) `match` accepts;
  // with a `margin`, only in the inner area, that part of the width and of
  // the height left out on each side.
  int CountPixels(const WindowInfo& w, const std::function<bool(int, int, int)>& match, double margin = 0);
  // How many rows of the inner area (as CountPixels) hold a dark pixel: the
  // height of the text drawn there.
  int InkHeight(const WindowInfo& w, double margin);

  // The root window's X resources (as xrdb -load sets them); "" removes them.
  void SetResources(const std::string& text);
  // Acts as the screen's XSETTINGS manager publishing `property` (the
  // _XSETTINGS_SETTINGS bytes) until StopXSettings or the client's end.
  bool PublishXSettings(const std::string& property);
  void StopXSettings();

 private:
  void FindAll(Window root, const std::string& title, std::vector<WindowInfo>& found);
  int ForEachRow(const WindowInfo& w, double margin,
                 const std::function<int(const std::function<unsigned long(int)>&, int, int)>& row);
  Display* display_ = nullptr;
  Window settings_owner_ = 0;
};

// The _XSETTINGS_SETTINGS bytes of these integer settings, little-endian.
std::string XSettingsProperty(const std::vector<std::pair<std::string, int>>& integers);

}  // namespace ttu::test
