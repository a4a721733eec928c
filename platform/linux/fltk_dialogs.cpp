// Message box and input box as modal FLTK windows with their own event loop,
// so timer ticks go on being delivered while they are open.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/dialogs.h"

namespace ttu::platform {
namespace {

constexpr int kFontSize = 14;
constexpr int kMargin = 12;
constexpr int kIconSize = 40;
constexpr int kButtonW = 90, kButtonH = 28;
constexpr int kMaxTextWidth = 520;

struct IconLook {
  const char* symbol;
  Fl_Color color;
};

// Icon value of a style code: 16 critical, 32 question, 48 exclamation, 64 information.
const IconLook* IconFor(int style) {
  static const IconLook kCritical{"X", FL_RED}, kQuestion{"?", FL_BLUE},
      kExclamation{"!", fl_rgb_color(230, 170, 0)}, kInformation{"i", FL_BLUE};
  switch (style & 0x70) {
    case 16: return &kCritical;
    case 32: return &kQuestion;
    case 48: return &kExclamation;
    case 64: return &kInformation;
    default: return nullptr;
  }
}

struct ButtonSpec {
  const char* label;
  int result;
};

// Buttons value of a style code, in the order they are shown.
std::vector<ButtonSpec> ButtonsFor(int style) {
  switch (style & 0x7) {
    case 1: return {{"OK", kResultOk}, {"Annulla", kResultCancel}};
    case 3: return {{"Sì", kResultYes}, {"No", kResultNo}, {"Annulla", kResultCancel}};
    case 4: return {{"Sì", kResultYes}, {"No", kResultNo}};
    default: return {{"OK", kResultOk}};
  }
}

// What closing the box (or Escape) answers: Cancel where there is one, OK on
// a lone OK; a Yes/No box cannot be dismissed that way.
int DismissResult(const std::vector<ButtonSpec>& buttons) {
  for (const auto& b : buttons) {
    if (b.result == kResultCancel) return kResultCancel;
  }
  return buttons.size() == 1 ? buttons[0].result : 0;
}

struct DialogState {
  Fl_Window* window = nullptr;
  int result = 0;
  int dismiss = 0;
};

void OnButton(Fl_Widget* w, void* data) {
  auto* st = static_cast<DialogState*>(w->window()->user_data());
  st->result = static_cast<int>(reinterpret_cast<intptr_t>(data));
  st->window->hide();
}

void OnClose(Fl_Widget*, void* data) {
  auto* st = static_cast<DialogState*>(data);
  if (st->dismiss == 0) return;
  st->result = st->dismiss;
  st->window->hide();
}

void RunModal(Fl_Window& w) {
  w.set_modal();
  w.show();
  while (w.shown()) Fl::wait();
}

// Text as an FLTK label draws it: "\n" alone for a line break, "@@" for "@".
std::string DisplayText(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    if (s[i] == '@') out += '@';  // a single "@" would start an FLTK symbol
    out += s[i] == '\r' ? '\n' : s[i];
  }
  return out;
}

// A window placed from the start (centred, a third of the way down), so that
// it is mapped where it stays.
struct Centred {
  int x, y;
  Centred(int w, int h) : x((Fl::w() - w) / 2), y((Fl::h() - h) / 3) {}
};

void MeasureText(const std::string& s, int& w, int& h) {
  fl_open_display();
  fl_font(FL_HELVETICA, kFontSize);
  w = kMaxTextWidth, h = 0;
  fl_measure(s.c_str(), w, h, 0);
  if (w > kMaxTextWidth) {  // long lines wrap
    w = kMaxTextWidth, h = 0;
    fl_measure(s.c_str(), w, h, 0);
  }
  w += 12;  // the label box draws inside margins: keep it from wrapping
}

Fl_Box* MakeLabel(int x, int y, int w, int h, const std::string& s) {
  auto* box = new Fl_Box(x, y, w, h);
  box->copy_label(s.c_str());
  box->labelsize(kFontSize);
  box->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_WRAP);
  return box;
}

class FltkDialogs final : public Dialogs {
 public:
  int MessageBox(const std::string& prompt, int style,
                 const std::optional<std::string>& title) override {
    const std::string text = DisplayText(prompt);
    const IconLook* icon = IconFor(style);
    const auto buttons = ButtonsFor(style);
    int tw = 0, th = 0;
    MeasureText(text, tw, th);
    const int text_x = kMargin + (icon ? kIconSize + kMargin : 0);
    const int body_h = std::max(th, icon ? kIconSize : 0);
    const int row_w = static_cast<int>(buttons.size()) * (kButtonW + kMargin) - kMargin;
    const int win_w = std::max(text_x + tw + kMargin, row_w + 2 * kMargin);
    const int win_h = kMargin + body_h + kMargin + kButtonH + kMargin;

    DialogState st;
    const Centred at(win_w, win_h);
    Fl_Window w(at.x, at.y, win_w, win_h);
    w.copy_label(title ? title->c_str() : kApplicationTitle);
    w.xclass("tessiro-tiny-updater");
    w.user_data(&st);
    st.window = &w;
    st.dismiss = DismissResult(buttons);
    w.callback(OnClose, &st);
    if (icon) {
      auto* b = new Fl_Box(kMargin, kMargin, kIconSize, kIconSize, icon->symbol);
      b->box(FL_OVAL_BOX);
      b->color(icon->color);
      b->labelcolor(FL_WHITE);
      b->labelfont(FL_HELVETICA_BOLD);
      b->labelsize(26);
    }
    MakeLabel(text_x, kMargin, tw, body_h, text);
    const int default_index = (style & 0x300) >> 8;
    int x = (win_w - row_w) / 2;
    for (std::size_t k = 0; k < buttons.size(); ++k, x += kButtonW + kMargin) {
      const int y = win_h - kMargin - kButtonH;
      Fl_Button* b = static_cast<int>(k) == default_index
                         ? new Fl_Return_Button(x, y, kButtonW, kButtonH)
                         : new Fl_Button(x, y, kButtonW, kButtonH);
      b->label(buttons[k].label);
      b->callback(OnButton, reinterpret_cast<void*>(static_cast<intptr_t>(buttons[k].result)));
      if (static_cast<int>(k) == default_index) b->take_focus();
    }
    w.end();
    RunModal(w);
    return st.result;
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& default_text) override {
    const std::string text = DisplayText(prompt);
    int tw = 0, th = 0;
    MeasureText(text, tw, th);
    const int win_w = std::max(tw, 420) + 2 * kMargin;
    const int input_y = kMargin + th + kMargin;
    const int buttons_y = input_y + kButtonH + kMargin;
    const int win_h = buttons_y + kButtonH + kMargin;

    DialogState st;
    const Centred at(win_w, win_h);
    Fl_Window w(at.x, at.y, win_w, win_h);
    w.copy_label(title.c_str());
    w.xclass("tessiro-tiny-updater");
    w.user_data(&st);
    st.window = &w;
    st.dismiss = kResultCancel;
    w.callback(OnClose, &st);
    MakeLabel(kMargin, kMargin, win_w - 2 * kMargin, th, text);
    auto* input = new Fl_Input(kMargin, input_y, win_w - 2 * kMargin, kButtonH);
    input->textsize(kFontSize);
    input->value(default_text.c_str());
    input->position(input->size(), 0);  // all selected, as a new prompt shows it
    const int ok_x = win_w - 2 * (kButtonW + kMargin);
    auto* ok = new Fl_Return_Button(ok_x, buttons_y, kButtonW, kButtonH, "OK");
    ok->callback(OnButton, reinterpret_cast<void*>(static_cast<intptr_t>(kResultOk)));
    auto* cancel = new Fl_Button(ok_x + kButtonW + kMargin, buttons_y, kButtonW, kButtonH, "Annulla");
    cancel->callback(OnButton, reinterpret_cast<void*>(static_cast<intptr_t>(kResultCancel)));
    w.end();
    input->take_focus();
    RunModal(w);
    return st.result == kResultOk ? std::string(input->value()) : std::string();
  }

  void Yield() override { Fl::check(); }

  [[noreturn]] void EndProcess() override {
    std::fflush(nullptr);
    std::_Exit(0);
  }

  void ResetMousePointer() override {
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w)) w->cursor(FL_CURSOR_DEFAULT);
  }
};

}  // namespace

Dialogs& NativeDialogs() {
  static FltkDialogs dialogs;
  return dialogs;
}

}  // namespace ttu::platform
