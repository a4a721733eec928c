// Message box and input box as modal FLTK windows with their own event loop,
// so timer ticks go on being delivered while they are open. Sizes are given
// at 96 dpi and drawn at the desktop's scale.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/linux/posix/fd.h"
#include "platform/linux/ui/box_style.h"
#include "platform/linux/ui/fltk/look.h"

namespace ttu::platform {
namespace {

constexpr int kFontSize = 14;
constexpr int kMargin = 12;
constexpr int kIconSize = 40;
constexpr int kButtonW = 90, kButtonH = 28;
constexpr int kMaxTextWidth = 520;

struct DialogState {
  DialogWindow* window = nullptr;
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

// Text as an FLTK label draws it: "@@" for "@" (a single one would start a symbol).
std::string DisplayText(const std::string& s) {
  std::string out;
  for (char c : LineBreaks(s)) {
    if (c == '@') out += '@';
    out += c;
  }
  return out;
}

// The text's size at the desktop's scale.
void MeasureText(const std::string& s, int& w, int& h) {
  const int max_w = Scaled(kMaxTextWidth);
  fl_font(FL_HELVETICA, Scaled(kFontSize));
  w = max_w, h = 0;
  fl_measure(s.c_str(), w, h, 0);
  if (w > max_w) {  // long lines wrap
    w = max_w, h = 0;
    fl_measure(s.c_str(), w, h, 0);
  }
  w += Scaled(12);  // the label box draws inside margins: keep it from wrapping
}

Fl_Box* MakeLabel(int x, int y, int w, int h, const std::string& s) {
  auto* box = new Fl_Box(x, y, w, h);
  box->copy_label(s.c_str());
  box->labelsize(Scaled(kFontSize));
  box->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_WRAP);
  return box;
}

class FltkBoxes final : public Dialogs {
 public:
  int MessageBox(const std::string& prompt, int style,
                 const std::optional<std::string>& title) override {
    const std::string text = DisplayText(prompt);
    const BoxIcon* icon = IconFor(style);
    const auto buttons = ButtonsFor(style);
    int tw = 0, th = 0;
    MeasureText(text, tw, th);
    const int margin = Scaled(kMargin), icon_size = Scaled(kIconSize);
    const int button_w = Scaled(kButtonW), button_h = Scaled(kButtonH);
    const int text_x = margin + (icon ? icon_size + margin : 0);
    const int body_h = std::max(th, icon ? icon_size : 0);
    const int row_w = static_cast<int>(buttons.size()) * (button_w + margin) - margin;
    const int win_w = std::max(text_x + tw + margin, row_w + 2 * margin);
    const int win_h = margin + body_h + margin + button_h + margin;

    DialogState st;
    DialogWindow w(win_w, win_h, nullptr);
    w.copy_label(title ? title->c_str() : kApplicationTitle);
    w.user_data(&st);
    st.window = &w;
    st.dismiss = DismissResult(buttons);
    w.callback(OnClose, &st);
    if (icon) {
      auto* b = new Fl_Box(margin, margin, icon_size, icon_size, icon->symbol);
      b->box(FL_OVAL_BOX);
      b->color(fl_rgb_color(icon->r, icon->g, icon->b));
      b->labelcolor(FL_WHITE);
      b->labelfont(FL_HELVETICA_BOLD);
      b->labelsize(Scaled(26));
    }
    MakeLabel(text_x, margin, tw, body_h, text);
    // The default button has the focus when the box opens; Enter presses
    // whichever button has it then.
    const std::size_t default_index = DefaultIndex(style, buttons.size());
    int x = (win_w - row_w) / 2;
    PushButton* first = nullptr;
    for (std::size_t k = 0; k < buttons.size(); ++k, x += button_w + margin) {
      auto* b = new PushButton(x, win_h - margin - button_h, button_w, button_h, buttons[k].label);
      b->callback(OnButton, reinterpret_cast<void*>(static_cast<intptr_t>(buttons[k].result)));
      if (k == default_index) {
        b->make_default();
        first = b;
      }
    }
    w.end();
    w.RunModal(first);
    return st.result;
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& default_text) override {
    const std::string text = DisplayText(prompt);
    int tw = 0, th = 0;
    MeasureText(text, tw, th);
    const int margin = Scaled(kMargin), button_w = Scaled(kButtonW), button_h = Scaled(kButtonH);
    const int win_w = std::max(tw, Scaled(420)) + 2 * margin;
    const int input_y = margin + th + margin;
    const int buttons_y = input_y + button_h + margin;
    const int win_h = buttons_y + button_h + margin;

    DialogState st;
    DialogWindow w(win_w, win_h, nullptr);
    w.copy_label(title.c_str());
    w.user_data(&st);
    st.window = &w;
    st.dismiss = kResultCancel;
    w.callback(OnClose, &st);
    MakeLabel(margin, margin, win_w - 2 * margin, th, text);
    auto* input = new Fl_Input(margin, input_y, win_w - 2 * margin, button_h);
    input->textsize(Scaled(kFontSize));
    input->value(default_text.c_str());
    input->position(input->size(), 0);  // all selected, as a new prompt shows it
    // Enter in the line presses OK, the default; on a button, that button.
    const int ok_x = win_w - 2 * (button_w + margin);
    auto* ok = new PushButton(ok_x, buttons_y, button_w, button_h, "OK");
    ok->callback(OnButton, reinterpret_cast<void*>(static_cast<intptr_t>(kResultOk)));
    ok->make_default();
    auto* cancel = new PushButton(ok_x + button_w + margin, buttons_y, button_w, button_h, "Annulla");
    cancel->callback(OnButton, reinterpret_cast<void*>(static_cast<intptr_t>(kResultCancel)));
    w.end();
    w.RunModal(input);
    return st.result == kResultOk ? std::string(input->value()) : std::string();
  }

  void Yield() override { Fl::check(); }

  [[noreturn]] void EndProcess() override { EndProcessNow(); }

  void ResetMousePointer() override {
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w)) w->cursor(FL_CURSOR_DEFAULT);
  }
};

}  // namespace

Dialogs& FltkDialogs() {
  static FltkBoxes dialogs;
  return dialogs;
}

}  // namespace ttu::platform
