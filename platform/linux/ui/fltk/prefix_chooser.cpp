// The list a person picks the Wine prefix to update from, when the maker's
// products are in several: a modal FLTK window.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Hold_Browser.H>

#include "platform/linux/ui/fltk/look.h"
#include "platform/linux/ui/prefix_list.h"

namespace ttu::platform {
namespace {

constexpr int kFontSize = 14, kMargin = 12, kButtonW = 90, kButtonH = 28;
constexpr int kListW = 760, kRowH = 22, kMaxRows = 10;

struct Answer {
  DialogWindow* window = nullptr;
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

}  // namespace

std::optional<std::size_t> FltkChoosePrefix(const std::vector<PrefixCandidate>& prefixes) {
  static int columns[] = {Scaled(110), Scaled(170), Scaled(340), 0};
  const int margin = Scaled(kMargin), font = Scaled(kFontSize), list_w = Scaled(kListW);
  const int button_w = Scaled(kButtonW), button_h = Scaled(kButtonH);
  const int rows = std::min(static_cast<int>(prefixes.size()), kMaxRows) + 1;
  const int list_h = rows * Scaled(kRowH) + Scaled(6);
  const int list_y = margin + 2 * font + margin;
  const int buttons_y = list_y + list_h + margin;
  const int win_w = list_w + 2 * margin, win_h = buttons_y + button_h + margin;

  Answer answer;
  DialogWindow w(win_w, win_h, kPrefixListTitle);
  w.callback(Cancel, &answer);  // the close box and Escape cancel
  auto* prompt = new Fl_Box(margin, margin, list_w, 2 * font, kPrefixListPrompt);
  prompt->labelsize(font);
  prompt->align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT | FL_ALIGN_WRAP);
  auto* list = new Fl_Hold_Browser(margin, list_y, list_w, list_h);
  list->textsize(font);
  list->format_char(0);  // names are shown as they are
  list->column_char('\t');
  list->column_widths(columns);
  auto line = [](const auto& cells) {
    std::string text = cells[0];
    for (std::size_t k = 1; k < cells.size(); ++k) text += std::string("\t") + cells[k];
    return text;
  };
  list->add(line(kPrefixListColumns).c_str());
  for (const auto& p : prefixes) list->add(line(PrefixListRow(p)).c_str());
  list->select(2);  // the most recently used, first after the heading
  list->callback(OnList, &answer);
  list->when(FL_WHEN_RELEASE_ALWAYS | FL_WHEN_ENTER_KEY_ALWAYS);
  auto* ok = new PushButton(win_w - 2 * (button_w + margin), buttons_y, button_w, button_h, "OK");
  ok->callback(Choose, &answer);
  ok->make_default();
  auto* cancel = new PushButton(win_w - button_w - margin, buttons_y, button_w, button_h, "Annulla");
  cancel->callback(Cancel, &answer);
  w.end();
  answer.window = &w, answer.list = list;
  w.RunModal(list);
  if (!answer.chosen || list->value() < 2) return std::nullopt;
  return static_cast<std::size_t>(list->value() - 2);
}

}  // namespace ttu::platform
