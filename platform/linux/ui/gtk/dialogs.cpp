// Message box and input box as modal GTK dialogs run by their own loop, so
// timer ticks go on being delivered while they are open. GTK gives them to
// screen readers: the dialog, its text, its buttons, the focus and the
// default.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/linux/ui/box_style.h"
#include "platform/linux/posix/fd.h"
#include "platform/linux/ui/gtk/front_end.h"

namespace ttu::platform {
namespace {

constexpr int kIconSize = 40, kMargin = 12;
// A button's and a text line's height at 96 dpi, as GTK's own theme makes
// them: at a higher text resolution the controls grow with the text, so the
// boxes keep their proportions.
constexpr int kButtonW = 90, kControlH = 34;

int Px(int v) { return static_cast<int>(std::lround(v * GtkTextScale())); }

// The icon: a coloured disc with its white symbol.
int DrawIcon(gtk::Widget*, gtk::Cairo* cr, void* data) {
  const gtk::Api& g = *gtk::Load();
  const auto* look = static_cast<const BoxIcon*>(data);
  const double size = Px(kIconSize);
  g.cairo_set_source_rgb(cr, look->r / 255.0, look->g / 255.0, look->b / 255.0);
  g.cairo_arc(cr, size / 2, size / 2, size / 2, 0, 2 * M_PI);
  g.cairo_fill(cr);
  g.cairo_set_source_rgb(cr, 1, 1, 1);
  g.cairo_select_font_face(cr, "Sans", 0, 1);
  g.cairo_set_font_size(cr, size * 0.65);
  g.cairo_move_to(cr, size * 0.5 - size * 0.18, size * 0.5 + size * 0.23);
  g.cairo_show_text(cr, look->symbol);
  return 1;
}

// A modal dialog with its title, centred, and a text above what follows.
gtk::Widget* NewDialog(const gtk::Api& g, const char* title) {
  gtk::Widget* d = g.gtk_dialog_new();
  g.gtk_window_set_title(d, title);
  g.gtk_window_set_modal(d, 1);
  g.gtk_window_set_resizable(d, 0);
  g.gtk_window_set_position(d, gtk::kWinPosCenter);
  return d;
}

gtk::Widget* NewLabel(const gtk::Api& g, const std::string& text) {
  gtk::Widget* label = g.gtk_label_new(LineBreaks(text).c_str());
  g.gtk_label_set_line_wrap(label, 1);
  g.gtk_label_set_max_width_chars(label, 60);
  g.gtk_label_set_xalign(label, 0);
  return label;
}

// Runs the dialog until it is answered by a button, or dismissed where it may
// be (0: it may not); destroys it.
int RunDialog(const gtk::Api& g, gtk::Widget* d, gtk::Widget* focus, int dismiss) {
  g.gtk_widget_show_all(d);
  if (focus) g.gtk_widget_grab_focus(focus);
  int response = 0;
  for (;;) {
    response = g.gtk_dialog_run(d);
    if (response != gtk::kResponseDeleteEvent) break;  // a button
    if (dismiss != 0) {
      response = dismiss;
      break;
    }
  }
  g.gtk_widget_destroy(d);
  return response;
}

class GtkBoxes final : public Dialogs {
 public:
  int MessageBox(const std::string& prompt, int style, const std::optional<std::string>& title) override {
    const gtk::Api& g = *gtk::Load();
    const auto buttons = ButtonsFor(style);
    const int dismiss = DismissResult(buttons);
    gtk::Widget* d = NewDialog(g, title ? title->c_str() : kApplicationTitle);
    if (dismiss == 0) g.gtk_window_set_deletable(d, 0);
    gtk::Widget* row = g.gtk_box_new(gtk::kOrientationHorizontal, Px(kMargin));
    g.gtk_container_set_border_width(row, static_cast<unsigned>(Px(kMargin)));
    if (const BoxIcon* icon = IconFor(style)) {
      gtk::Widget* area = g.gtk_drawing_area_new();
      g.gtk_widget_set_size_request(area, Px(kIconSize), Px(kIconSize));
      gtk::Connect(g, area, "draw", DrawIcon, const_cast<BoxIcon*>(icon));
      gtk::Widget* column = g.gtk_box_new(gtk::kOrientationVertical, 0);
      g.gtk_box_pack_start(column, area, 0, 0, 0);
      g.gtk_box_pack_start(row, column, 0, 0, 0);
    }
    g.gtk_box_pack_start(row, NewLabel(g, prompt), 1, 1, 0);
    g.gtk_box_pack_start(g.gtk_dialog_get_content_area(d), row, 1, 1, 0);
    const std::size_t default_index = DefaultIndex(style, buttons.size());
    gtk::Widget* focus = nullptr;
    for (std::size_t k = 0; k < buttons.size(); ++k) {
      gtk::Widget* b = g.gtk_dialog_add_button(d, buttons[k].label, buttons[k].result);
      g.gtk_widget_set_size_request(b, Px(kButtonW), Px(kControlH));
      if (k == default_index) focus = b;
    }
    g.gtk_dialog_set_default_response(d, buttons[default_index].result);
    return RunDialog(g, d, focus, dismiss);
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& default_text) override {
    const gtk::Api& g = *gtk::Load();
    gtk::Widget* d = NewDialog(g, title.c_str());
    gtk::Widget* column = g.gtk_box_new(gtk::kOrientationVertical, Px(kMargin));
    g.gtk_container_set_border_width(column, static_cast<unsigned>(Px(kMargin)));
    gtk::Widget* label = NewLabel(g, prompt);
    gtk::Widget* entry = g.gtk_entry_new();
    g.gtk_entry_set_text(entry, default_text.c_str());
    g.gtk_entry_set_activates_default(entry, 1);  // Enter in the line: OK
    g.gtk_widget_set_size_request(entry, Px(420), Px(kControlH));
    g.gtk_label_set_mnemonic_widget(label, entry);  // labelled by the prompt, and named by it
    g.atk_object_set_name(g.gtk_widget_get_accessible(entry), LineBreaks(prompt).c_str());
    g.gtk_box_pack_start(column, label, 0, 0, 0);
    g.gtk_box_pack_start(column, entry, 0, 0, 0);
    g.gtk_box_pack_start(g.gtk_dialog_get_content_area(d), column, 1, 1, 0);
    for (const auto& [label_text, result] : {std::pair{"OK", kResultOk}, std::pair{"Annulla", kResultCancel}}) {
      g.gtk_widget_set_size_request(g.gtk_dialog_add_button(d, label_text, result), Px(kButtonW), Px(kControlH));
    }
    g.gtk_dialog_set_default_response(d, kResultOk);
    // The text is read before the dialog goes.
    std::string answer;
    struct Reader {
      static void OnResponse(gtk::Widget*, int response, void* data) {
        auto* r = static_cast<std::pair<gtk::Widget*, std::string*>*>(data);
        if (response == kResultOk) *r->second = gtk::Load()->gtk_entry_get_text(r->first);
      }
    };
    std::pair<gtk::Widget*, std::string*> reader{entry, &answer};
    gtk::Connect(g, d, "response", Reader::OnResponse, &reader);
    g.gtk_widget_show_all(d);
    g.gtk_widget_grab_focus(entry);
    g.gtk_editable_select_region(entry, 0, -1);  // all selected, as a new prompt shows it
    return RunDialog(g, d, nullptr, kResultCancel) == kResultOk ? answer : std::string();
  }

  void Yield() override {
    const gtk::Api& g = *gtk::Load();
    while (g.gtk_events_pending()) g.gtk_main_iteration_do(0);
  }

  [[noreturn]] void EndProcess() override { EndProcessNow(); }

  void ResetMousePointer() override {
    const gtk::Api& g = *gtk::Load();
    gtk::List* all = g.gtk_window_list_toplevels();
    for (gtk::List* w = all; w; w = w->next) {
      if (gtk::GdkWindow* gw = g.gtk_widget_get_window(static_cast<gtk::Widget*>(w->data))) {
        g.gdk_window_set_cursor(gw, nullptr);
      }
    }
    g.g_list_free(all);
  }
};

}  // namespace

Dialogs& GtkDialogs() {
  static GtkBoxes dialogs;
  return dialogs;
}

double GtkTextScale() {
  static const double scale = [] {
    const gtk::Api& g = *gtk::Load();
    const double dpi = g.gdk_screen_get_resolution(g.gdk_screen_get_default());
    return dpi > 0 ? std::max(1.0, dpi / 96.0) : 1.0;
  }();
  return scale;
}

}  // namespace ttu::platform
