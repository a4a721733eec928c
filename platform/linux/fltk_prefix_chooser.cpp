// The list a person picks the Wine prefix to update from, when the maker's
// products are in several: a modal FLTK window; the run's prefix settles on
// the answer.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

#include <ctime>

#include "platform/linux/wine_session.h"

namespace ttu::platform {
namespace {

constexpr const char* kTitle = "Prefisso Wine";
constexpr const char* kPrompt = "I programmi Kelmo sono installati in più prefissi Wine. Scegliere quello da aggiornare:";
constexpr int kFontSize = 14, kMargin = 12, kButtonW = 90, kButtonH = 28;
constexpr int kListW = 760, kRowH = 22, kMaxRows = 10;

std::string Date(int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  char text[32] = "";
  if (seconds > 0 && ::localtime_r(&t, &tm)) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
  return text;
}

struct Answer {
  Fl_Window* window = nullptr;
  Fl_Hold_Browser* list = nullptr;
  bool chosen = false;
};

void Choose(Fl_Widget*, void* data) {
  auto* a = static_cast<Answer*>(data);
  a->chosen = a->list->value() >= 2;  // a prefix, not the heading
  if (a->chosen) a->window->hide();
}

void Cancel(Fl_Widget*, void* data) { static_cast<Answer*>(data)->window->hide(); }

// A double click, or Enter (which the list takes before any button), chooses.
void OnList(Fl_Widget*, void* data) {
  const bool enter = Fl::event() == FL_KEYBOARD && (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter);
  if (enter || (Fl::event() == FL_RELEASE && Fl::event_clicks())) Choose(nullptr, data);
}

std::optional<std::size_t> ChooseWithList(const std::vector<PrefixCandidate>& prefixes) {
  static const int kColumns[] = {110, 170, 340, 0};
  const int rows = std::min(static_cast<int>(prefixes.size()), kMaxRows) + 1;
  const int list_y = kMargin + 2 * kFontSize + kMargin;
  const int buttons_y = list_y + rows * kRowH + 6 + kMargin;
  const int win_w = kListW + 2 * kMargin, win_h = buttons_y + kButtonH + kMargin;

  Answer answer;
  Fl_Window w((Fl::w() - win_w) / 2, (Fl::h() - win_h) / 3, win_w, win_h, kTitle);
  w.xclass("tessiro-tiny-updater");
  w.callback(Cancel, &answer);  // the close box and Escape cancel
  auto* prompt = new Fl_Box(kMargin, kMargin, kListW, 2 * kFontSize, kPrompt);
  prompt->labelsize(kFontSize);
  prompt->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_WRAP);
  auto* list = new Fl_Hold_Browser(kMargin, list_y, kListW, rows * kRowH + 6);
  list->textsize(kFontSize);
  list->format_char(0);  // names are shown as they are
  list->column_char('\t');
  list->column_widths(kColumns);
  list->add("Gestore\tNome\tPercorso\tUltimo uso");
  for (const auto& p : prefixes) list->add((p.manager + "\t" + p.name + "\t" + p.path + "\t" + Date(p.last_used)).c_str());
  list->select(2);  // the most recently used, first after the heading
  list->callback(OnList, &answer);
  list->when(FL_WHEN_RELEASE_ALWAYS | FL_WHEN_ENTER_KEY_ALWAYS);
  auto* ok = new Fl_Return_Button(win_w - 2 * (kButtonW + kMargin), buttons_y, kButtonW, kButtonH, "OK");
  ok->callback(Choose, &answer);
  auto* cancel = new Fl_Button(win_w - kButtonW - kMargin, buttons_y, kButtonW, kButtonH, "Annulla");
  cancel->callback(Cancel, &answer);
  w.end();
  answer.window = &w, answer.list = list;
  list->take_focus();
  w.set_modal();
  w.show();
  while (w.shown()) Fl::wait();
  if (!answer.chosen || list->value() < 2) return std::nullopt;
  return static_cast<std::size_t>(list->value() - 2);
}

}  // namespace

Installation& NativeInstallation() {
  static WineInstallation installation(ChooseWithList);
  return installation;
}

}  // namespace ttu::platform
