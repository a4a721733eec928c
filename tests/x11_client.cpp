#include "tests/x11_client.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <chrono>
#include <thread>

namespace ttu::test {

X11Client::X11Client() { display_ = XOpenDisplay(nullptr); }

X11Client::~X11Client() {
  if (display_) XCloseDisplay(display_);
}

std::optional<WindowInfo> X11Client::Find(Window w, const std::string& title) {
  char* name = nullptr;
  if (XFetchName(display_, w, &name) && name) {
    const bool match = title == name;
    XFree(name);
    XWindowAttributes a{};
    if (match && XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable) {
      int x = 0, y = 0;
      Window child = 0;
      XTranslateCoordinates(display_, w, a.root, 0, 0, &x, &y, &child);
      return WindowInfo{w, x, y, a.width, a.height};
    }
  }
  Window root = 0, parent = 0, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(display_, w, &root, &parent, &children, &n)) return std::nullopt;
  std::optional<WindowInfo> found;
  for (unsigned k = 0; k < n && !found; ++k) found = Find(children[k], title);
  if (children) XFree(children);
  return found;
}

std::optional<WindowInfo> X11Client::WaitForWindow(const std::string& title, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  do {
    XSync(display_, False);
    if (auto w = Find(DefaultRootWindow(display_), title)) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < end);
  return std::nullopt;
}

void X11Client::Close(Window w) {
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = w;
  ev.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, w, False, NoEventMask, &ev);
  XFlush(display_);
}

}  // namespace ttu::test
