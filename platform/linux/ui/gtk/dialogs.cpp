// Message box and input box as modal GTK dialogs run by their own loop, so
// timer ticks go on being delivered while they are open. GTK gives them to
// screen readers: the dialog, its text, its buttons, the focus and the
// default.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/linux/posix/fd.h"
#include "platform/linux/ui/box_style.h"
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
gboolean DrawIcon(GtkWidget*, cairo_t* cr, gpointer data) {
  const gtk::Api& g = *gtk::Load();
  const auto* look = static_cast<const BoxIcon*>(data);
  const double size = Px(kIconSize);
  g.cairo_set_source_rgb(cr, look->r / 255.0, look->g / 255.0, look->b / 255.0);
  g.cairo_arc(cr, size / 2, size / 2, size / 2, 0, 2 * M_PI);
  g.cairo_fill(cr);
  g.cairo_set_source_rgb(cr, 1, 1, 1);
  g.cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  g.cairo_set_font_size(cr, size * 0.65);
  g.cairo_move_to(cr, size * 0.5 - size * 0.18, size * 0.5 + size * 0.23);
  g.cairo_show_text(cr, look->symbol);
  return TRUE;
}

// A modal dialog with its title, centred, and a text above what follows.
GtkWidget* NewDialog(const gtk::Api& g, const char* title) {
  GtkWidget* d = g.gtk_dialog_new();
  g.gtk_window_set_title(GTK_WINDOW(d), title);
  g.gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  g.gtk_window_set_resizable(GTK_WINDOW(d), FALSE);
  g.gtk_window_set_position(GTK_WINDOW(d), GTK_WIN_POS_CENTER);
  return d;
}

GtkWidget* NewLabel(const gtk::Api& g, const std::string& text) {
  GtkWidget* label = g.gtk_label_new(LineBreaks(text).c_str());
  g.gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  g.gtk_label_set_max_width_chars(GTK_LABEL(label), 60);
  g.gtk_label_set_xalign(GTK_LABEL(label), 0);
  return label;
}

// Runs the dialog until it is answered by a button, or dismissed where it may
// be (0: it may not); destroys it.
int RunDialog(const gtk::Api& g, GtkWidget* d, GtkWidget* focus, int dismiss) {
  g.gtk_widget_show_all(d);
  if (focus) g.gtk_widget_grab_focus(focus);
  int response = 0;
  for (;;) {
    response = g.gtk_dialog_run(GTK_DIALOG(d));
    if (response != GTK_RESPONSE_DELETE_EVENT) break;  // a button
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
    GtkWidget* d = NewDialog(g, title ? title->c_str() : kApplicationTitle);
    if (dismiss == 0) g.gtk_window_set_deletable(GTK_WINDOW(d), FALSE);
    GtkWidget* row = g.gtk_box_new(GTK_ORIENTATION_HORIZONTAL, Px(kMargin));
    g.gtk_container_set_border_width(GTK_CONTAINER(row), static_cast<unsigned>(Px(kMargin)));
    if (const BoxIcon* icon = IconFor(style)) {
      GtkWidget* area = g.gtk_drawing_area_new();
      g.gtk_widget_set_size_request(area, Px(kIconSize), Px(kIconSize));
      gtk::Connect(g, area, "draw", DrawIcon, const_cast<BoxIcon*>(icon));
      GtkWidget* column = g.gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
      g.gtk_box_pack_start(GTK_BOX(column), area, FALSE, FALSE, 0);
      g.gtk_box_pack_start(GTK_BOX(row), column, FALSE, FALSE, 0);
    }
    g.gtk_box_pack_start(GTK_BOX(row), NewLabel(g, prompt), TRUE, TRUE, 0);
    g.gtk_box_pack_start(GTK_BOX(g.gtk_dialog_get_content_area(GTK_DIALOG(d))), row, TRUE, TRUE, 0);
    const std::size_t default_index = DefaultIndex(style, buttons.size());
    GtkWidget* focus = nullptr;
    for (std::size_t k = 0; k < buttons.size(); ++k) {
      GtkWidget* b = g.gtk_dialog_add_button(GTK_DIALOG(d), buttons[k].label, buttons[k].result);
      g.gtk_widget_set_size_request(b, Px(kButtonW), Px(kControlH));
      if (k == default_index) focus = b;
    }
    g.gtk_dialog_set_default_response(GTK_DIALOG(d), buttons[default_index].result);
    return RunDialog(g, d, focus, dismiss);
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& default_text) override {
    const gtk::Api& g = *gtk::Load();
    GtkWidget* d = NewDialog(g, title.c_str());
    GtkWidget* column = g.gtk_box_new(GTK_ORIENTATION_VERTICAL, Px(kMargin));
    g.gtk_container_set_border_width(GTK_CONTAINER(column), static_cast<unsigned>(Px(kMargin)));
    GtkWidget* label = NewLabel(g, prompt);
    GtkWidget* entry = g.gtk_entry_new();
    g.gtk_entry_set_text(GTK_ENTRY(entry), default_text.c_str());
    g.gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);  // Enter in the line: OK
    g.gtk_widget_set_size_request(entry, Px(420), Px(kControlH));
    g.gtk_label_set_mnemonic_widget(GTK_LABEL(label), entry);  // labelled by the prompt, and named by it
    g.atk_object_set_name(g.gtk_widget_get_accessible(entry), LineBreaks(prompt).c_str());
    g.gtk_box_pack_start(GTK_BOX(column), label, FALSE, FALSE, 0);
    g.gtk_box_pack_start(GTK_BOX(column), entry, FALSE, FALSE, 0);
    g.gtk_box_pack_start(GTK_BOX(g.gtk_dialog_get_content_area(GTK_DIALOG(d))), column, TRUE, TRUE, 0);
    for (const auto& [label_text, result] : {std::pair{"OK", kResultOk}, std::pair{"Annulla", kResultCancel}}) {
      g.gtk_widget_set_size_request(g.gtk_dialog_add_button(GTK_DIALOG(d), label_text, result), Px(kButtonW),
                                    Px(kControlH));
    }
    g.gtk_dialog_set_default_response(GTK_DIALOG(d), kResultOk);
    // The text is read before the dialog goes.
    std::string answer;
    struct Reader {
      static void OnResponse(GtkDialog*, gint response, gpointer data) {
        auto* r = static_cast<std::pair<GtkWidget*, std::string*>*>(data);
        if (response == kResultOk) *r->second = gtk::Load()->gtk_entry_get_text(GTK_ENTRY(r->first));
      }
    };
    std::pair<GtkWidget*, std::string*> reader{entry, &answer};
    gtk::Connect(g, d, "response", Reader::OnResponse, &reader);
    g.gtk_widget_show_all(d);
    g.gtk_widget_grab_focus(entry);
    g.gtk_editable_select_region(GTK_EDITABLE(entry), 0, -1);  // all selected, as a new prompt shows it
    return RunDialog(g, d, nullptr, kResultCancel) == kResultOk ? answer : std::string();
  }

  void Yield() override {
    const gtk::Api& g = *gtk::Load();
    while (g.gtk_events_pending()) g.gtk_main_iteration_do(FALSE);
  }

  [[noreturn]] void EndProcess() override { EndProcessNow(); }

  void ResetMousePointer() override {
    const gtk::Api& g = *gtk::Load();
    GList* all = g.gtk_window_list_toplevels();
    for (GList* w = all; w; w = w->next) {
      if (GdkWindow* gw = g.gtk_widget_get_window(GTK_WIDGET(w->data))) {
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
