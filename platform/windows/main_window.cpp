// The main window as a Win32 window with one push button and a window timer.
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

class Win32MainWindow final : public MainWindow {
 public:
  Win32MainWindow(const WindowLayout& l, WindowEvents events) : events_(std::move(events)), interval_(l.timer_interval_ms) {
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
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT r{0, 0, l.client_width, l.client_height};
    AdjustWindowRect(&r, style, FALSE);
    hwnd_ = CreateWindowExW(0, kClassName, Widen(l.caption).c_str(), style, l.left, l.top, r.right - r.left,
                            r.bottom - r.top, nullptr, nullptr, inst, this);
    font_ = CreateFontW(-l.button_font_pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0, 0,
                        L"MS Sans Serif");
    button_ = CreateWindowW(L"BUTTON", Widen(l.button_caption).c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                            l.button_x, l.button_y, l.button_width, l.button_height, hwnd_,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kButtonId)), inst, nullptr);
    SendMessageW(button_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    SetFocus(button_);
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
      default: return DefWindowProcW(hwnd, msg, wp, lp);
    }
  }

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
