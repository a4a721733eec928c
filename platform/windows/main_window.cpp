// The main window as a Win32 window with one push button and a window timer.
// The layout comes in pixels at 96 DPI; the window scales it to the DPI of
// the monitor it is on (the process is per-monitor DPI aware by its manifest)
// and again when it moves to a monitor of another DPI.
#include "platform/windows/windows_api.h"

#include "platform/dialogs.h"
#include "platform/main_window.h"
#include "platform/windows/wide.h"

namespace ttu::platform {
namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr int kButtonId = 1000;
constexpr const wchar_t* kClassName = L"TessiroTinyUpdaterForm";
constexpr int kIconResource = 1;
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later

// Functions that older Windows lacks, looked up once.
template <typename Fn>
Fn User32Function(const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The DPI of the window's monitor; before the window exists, the system's.
UINT DpiOf(HWND hwnd) {
  static const auto for_window = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (hwnd && for_window) {
    if (const UINT dpi = for_window(hwnd)) return dpi;
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

int Scaled(int pixels_at_96, UINT dpi) { return MulDiv(pixels_at_96, static_cast<int>(dpi), 96); }

// The outer size of a window whose client area is `width` x `height`.
SIZE OuterSize(int width, int height, DWORD style, UINT dpi) {
  static const auto adjust = User32Function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  RECT r{0, 0, width, height};
  if (!adjust || !adjust(&r, style, FALSE, 0, dpi)) AdjustWindowRect(&r, style, FALSE);
  return {r.right - r.left, r.bottom - r.top};
}

class Win32MainWindow final : public MainWindow {
 public:
  Win32MainWindow(const WindowLayout& l, WindowEvents events)
      : layout_(l), events_(std::move(events)), interval_(l.timer_interval_ms) {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = inst;
    wc.hIcon = LoadIconW(inst, MAKEINTRESOURCEW(kIconResource));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
    const UINT dpi = DpiOf(nullptr);
    const SIZE outer = OuterSize(Scaled(l.client_width, dpi), Scaled(l.client_height, dpi), kStyle, dpi);
    hwnd_ = CreateWindowExW(0, kClassName, Widen(l.caption).c_str(), kStyle, Scaled(l.left, dpi), Scaled(l.top, dpi),
                            outer.cx, outer.cy, nullptr, nullptr, inst, this);
    button_ = CreateWindowW(L"BUTTON", Widen(l.button_caption).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                            0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), inst, nullptr);
    // The window may have come up on a monitor of another DPI than the system's.
    const UINT window_dpi = DpiOf(hwnd_);
    if (window_dpi != dpi) {
      const SIZE o = OuterSize(Scaled(l.client_width, window_dpi), Scaled(l.client_height, window_dpi), kStyle, window_dpi);
      SetWindowPos(hwnd_, nullptr, 0, 0, o.cx, o.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    LayOutButton(window_dpi);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    SetFocus(button_);
  }
  ~Win32MainWindow() override {
    if (font_) DeleteObject(font_);
  }

  void SetTimerEnabled(bool on) override {
    if (on == timer_on_) return;  // re-arming a running timer would restart its interval
    timer_on_ = on;
    if (on) {
      SetTimer(hwnd_, kTimerId, static_cast<UINT>(interval_), nullptr);
    } else {
      KillTimer(hwnd_, kTimerId);
    }
  }
  bool TimerEnabled() const override { return timer_on_; }
  void SetButtonCaption(const std::string& c) override { SetWindowTextW(button_, Widen(c).c_str()); }
  std::string ButtonCaption() const override {
    wchar_t buf[256] = {};
    GetWindowTextW(button_, buf, 256);
    return Narrow(buf);
  }

 private:
  static constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

  // The button and its font at `dpi`.
  void LayOutButton(UINT dpi) {
    const HFONT old = font_;
    font_ = CreateFontW(-Scaled(layout_.button_font_pixels, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                        0, 0, 0, 0, L"MS Sans Serif");
    MoveWindow(button_, Scaled(layout_.button_x, dpi), Scaled(layout_.button_y, dpi), Scaled(layout_.button_width, dpi),
               Scaled(layout_.button_height, dpi), TRUE);
    SendMessageW(button_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    if (old) DeleteObject(old);
  }

  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (msg) {
      case WM_COMMAND:
        if (self && LOWORD(wp) == kButtonId && HIWORD(wp) == BN_CLICKED && self->events_.button_click) {
          self->events_.button_click();
        }
        return 0;
      case WM_TIMER:
        if (self && wp == kTimerId && self->events_.timer_tick) self->events_.timer_tick();
        return 0;
      case WM_CLOSE:
        NativeDialogs().EndProcess();  // closing the window ends the process at once
        return 0;
      case kWmDpiChanged:  // moved to a monitor of another DPI: the system suggests the new frame
        if (self) {
          const RECT* r = reinterpret_cast<const RECT*>(lp);
          SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                       SWP_NOZORDER | SWP_NOACTIVATE);
          self->LayOutButton(HIWORD(wp));
        }
        return 0;
      default: return DefWindowProcW(hwnd, msg, wp, lp);
    }
  }

  WindowLayout layout_;
  WindowEvents events_;
  int interval_;
  bool timer_on_ = false;
  HWND hwnd_ = nullptr, button_ = nullptr;
  HFONT font_ = nullptr;
};

}  // namespace

std::unique_ptr<MainWindow> ShowMainWindow(const WindowLayout& layout, WindowEvents events) {
  return std::make_unique<Win32MainWindow>(layout, std::move(events));
}

int RunEventLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace ttu::platform
