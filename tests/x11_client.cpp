#include "tests/x11_client.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "tests/test_util.h"
#include "tools/crc32.h"

namespace ttu::test {

bool ClickAt(int x, int y) {
  if (RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(x), std::to_string(y)}).status != 0) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the window see the pointer arrive
  return RunProgram({"/usr/bin/xdotool", "click", "1"}).status == 0;
}

namespace {

// Windows come and go while the tree is searched; a window gone between two
// requests is an expected answer, not a reason for Xlib to end the process.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

bool PressReturnIn(const WindowInfo& w) {
  if (RunProgram({"/usr/bin/xdotool", "mousemove", std::to_string(w.x + w.width / 2),
                  std::to_string(w.y + w.height / 2)}).status != 0) {
    return false;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return RunProgram({"/usr/bin/xdotool", "key", "Return"}).status == 0;
}

X11Client::X11Client() {
  display_ = XOpenDisplay(nullptr);
  XSetErrorHandler(IgnoreXError);
}

X11Client::~X11Client() {
  StopXSettings();
  if (display_) XCloseDisplay(display_);
}

void X11Client::FindAll(Window w, const std::string& title, std::vector<WindowInfo>& found) {
  char* name = nullptr;
  if (XFetchName(display_, w, &name) && name) {
    const bool match = title == name;
    XFree(name);
    XWindowAttributes a{};
    if (match && XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable) {
      int x = 0, y = 0;
      Window child = 0;
      XTranslateCoordinates(display_, w, a.root, 0, 0, &x, &y, &child);
      found.push_back(WindowInfo{w, x, y, a.width, a.height});
      return;
    }
  }
  Window root = 0, parent = 0, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(display_, w, &root, &parent, &children, &n)) return;
  for (unsigned k = 0; k < n; ++k) FindAll(children[k], title, found);
  if (children) XFree(children);
}

std::vector<WindowInfo> X11Client::WaitForWindows(const std::string& title, std::size_t count, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::vector<WindowInfo> found;
  do {
    XSync(display_, False);
    found.clear();
    FindAll(DefaultRootWindow(display_), title, found);
    if (found.size() >= count) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // fine enough to time a start-up
  } while (std::chrono::steady_clock::now() < end);
  return found;
}

std::optional<WindowInfo> X11Client::WaitForWindow(const std::string& title, int timeout_ms) {
  const auto found = WaitForWindows(title, 1, timeout_ms);
  if (found.empty()) return std::nullopt;
  return found.front();
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

namespace {

void Be32(std::vector<uint8_t>& out, uint32_t v) {
  for (int k = 3; k >= 0; --k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  Be32(png, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  Be32(png, Crc32(0, body.data(), body.size()));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::vector<uint8_t> Stored(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z{0x78, 0x01};
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
  for (std::size_t pos = 0; pos < raw.size() || pos == 0;) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
    z.push_back(pos + n == raw.size() ? 1 : 0);
    z.push_back(uint8_t(n)), z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n)), z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + static_cast<long>(pos), raw.begin() + static_cast<long>(pos + n));
    pos += n;
    if (n == 0) break;
  }
  Be32(z, (b << 16) | a);
  return z;
}

}  // namespace

bool X11Client::SavePng(const WindowInfo& w, const std::string& path) {
  XImage* img = XGetImage(display_, w.id, 0, 0, static_cast<unsigned>(w.width),
                          static_cast<unsigned>(w.height), AllPlanes, ZPixmap);
  if (!img) return false;
  std::vector<uint8_t> raw;
  for (int y = 0; y < w.height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < w.width; ++x) {
      const unsigned long p = XGetPixel(img, x, y);
      raw.push_back(uint8_t(p >> 16)), raw.push_back(uint8_t(p >> 8)), raw.push_back(uint8_t(p));
    }
  }
  XDestroyImage(img);
  std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  Be32(header, static_cast<uint32_t>(w.width));
  Be32(header, static_cast<uint32_t>(w.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", Stored(raw));
  Chunk(png, "IEND", {});
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out);
}

// Calls `row(y, pixel)` for each row of the inner area; -1 when the window
// cannot be read.
int X11Client::ForEachRow(const WindowInfo& w, double margin,
                          const std::function<int(const std::function<unsigned long(int)>&, int, int)>& row) {
  XImage* img = XGetImage(display_, w.id, 0, 0, static_cast<unsigned>(w.width), static_cast<unsigned>(w.height),
                          AllPlanes, ZPixmap);
  if (!img) return -1;
  int n = 0;
  const int mx = static_cast<int>(w.width * margin), my = static_cast<int>(w.height * margin);
  for (int y = my; y < w.height - my; ++y) n += row([&](int x) { return XGetPixel(img, x, y); }, mx, w.width - mx);
  XDestroyImage(img);
  return n;
}

int X11Client::CountPixels(const WindowInfo& w, const std::function<bool(int, int, int)>& match, double margin) {
  return ForEachRow(w, margin, [&](const auto& pixel, int from, int to) {
    int n = 0;
    for (int x = from; x < to; ++x) {
      const unsigned long p = pixel(x);
      n += match(int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF));
    }
    return n;
  });
}

int X11Client::InkHeight(const WindowInfo& w, double margin) {
  return ForEachRow(w, margin, [](const auto& pixel, int from, int to) {
    for (int x = from; x < to; ++x) {
      const unsigned long p = pixel(x);
      if (((p >> 16) & 0xFF) < 90 && ((p >> 8) & 0xFF) < 90 && (p & 0xFF) < 90) return 1;
    }
    return 0;
  });
}

void X11Client::SetResources(const std::string& text) {
  const Window root = DefaultRootWindow(display_);
  const Atom rm = XInternAtom(display_, "RESOURCE_MANAGER", False);
  if (text.empty()) {
    XDeleteProperty(display_, root, rm);
  } else {
    XChangeProperty(display_, root, rm, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  }
  XSync(display_, False);
}

bool X11Client::PublishXSettings(const std::string& property) {
  StopXSettings();
  const Window root = DefaultRootWindow(display_);
  settings_owner_ = XCreateSimpleWindow(display_, root, 0, 0, 1, 1, 0, 0, 0);
  const Atom settings = XInternAtom(display_, "_XSETTINGS_SETTINGS", False);
  XChangeProperty(display_, settings_owner_, settings, settings, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(property.data()), static_cast<int>(property.size()));
  const Atom selection = XInternAtom(display_, ("_XSETTINGS_S" + std::to_string(DefaultScreen(display_))).c_str(), False);
  XSetSelectionOwner(display_, selection, settings_owner_, CurrentTime);
  XSync(display_, False);
  return XGetSelectionOwner(display_, selection) == settings_owner_;
}

void X11Client::StopXSettings() {
  if (!settings_owner_) return;
  XDestroyWindow(display_, settings_owner_);  // the selection goes with its owner
  XSync(display_, False);
  settings_owner_ = 0;
}

std::string XSettingsProperty(const std::vector<std::pair<std::string, int>>& integers) {
  std::string b;
  auto put = [&](uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) b += static_cast<char>(v >> (8 * k));
  };
  put(0, 4), put(1, 4), put(static_cast<uint32_t>(integers.size()), 4);
  for (const auto& [name, value] : integers) {
    put(0, 2), put(static_cast<uint32_t>(name.size()), 2);
    b += name;
    while (b.size() % 4) b += '\0';
    put(1, 4), put(static_cast<uint32_t>(value), 4);
  }
  return b;
}

}  // namespace ttu::test
