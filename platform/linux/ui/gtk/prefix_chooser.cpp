// The list a person picks the Wine prefix to update from, as a GTK dialog
// with a four-column list: Enter or a double click on a row takes it.
#include <algorithm>

#include "platform/linux/ui/gtk/front_end.h"
#include "platform/linux/ui/prefix_list.h"

namespace ttu::platform {
namespace {

gtk::ListStore* Rows(const gtk::Api& g, const std::vector<PrefixCandidate>& prefixes) {
  uintptr_t types[4] = {gtk::kTypeString, gtk::kTypeString, gtk::kTypeString, gtk::kTypeString};
  gtk::ListStore* store = g.gtk_list_store_newv(4, types);
  for (const auto& p : prefixes) {
    gtk::TreeIter row{};
    g.gtk_list_store_append(store, &row);
    const auto cells = PrefixListRow(p);
    for (int c = 0; c < 4; ++c) {
      gtk::Value v{};
      g.g_value_init(&v, gtk::kTypeString);
      g.g_value_set_string(&v, cells[c].c_str());
      g.gtk_list_store_set_value(store, &row, c, &v);
      g.g_value_unset(&v);
    }
  }
  return store;
}

// A row activated (Enter, double click) answers OK.
void OnRowActivated(gtk::Widget*, gtk::TreePath*, gtk::TreeViewColumn*, void* dialog) {
  gtk::Load()->gtk_dialog_response(static_cast<gtk::Widget*>(dialog), kResultOk);
}

}  // namespace

std::optional<std::size_t> GtkChoosePrefix(const std::vector<PrefixCandidate>& prefixes) {
  const gtk::Api& g = *gtk::Load();
  gtk::Widget* d = g.gtk_dialog_new();
  g.gtk_window_set_title(d, kPrefixListTitle);
  g.gtk_window_set_modal(d, 1);
  g.gtk_window_set_position(d, gtk::kWinPosCenter);
  gtk::Widget* column = g.gtk_box_new(gtk::kOrientationVertical, 12);
  g.gtk_container_set_border_width(column, 12);
  gtk::Widget* label = g.gtk_label_new(kPrefixListPrompt);
  g.gtk_label_set_xalign(label, 0);
  gtk::ListStore* store = Rows(g, prefixes);
  gtk::Widget* list = g.gtk_tree_view_new_with_model(store);
  g.g_object_unref(store);
  for (int c = 0; c < 4; ++c) {
    gtk::TreeViewColumn* col = g.gtk_tree_view_column_new();
    g.gtk_tree_view_column_set_title(col, kPrefixListColumns[c]);
    gtk::Widget* cell = g.gtk_cell_renderer_text_new();
    g.gtk_tree_view_column_pack_start(col, cell, 1);
    g.gtk_tree_view_column_add_attribute(col, cell, "text", c);
    g.gtk_tree_view_append_column(list, col);
  }
  g.gtk_label_set_mnemonic_widget(label, list);
  g.atk_object_set_name(g.gtk_widget_get_accessible(list), kPrefixListPrompt);
  gtk::Widget* scroll = g.gtk_scrolled_window_new(nullptr, nullptr);
  g.gtk_scrolled_window_set_min_content_height(scroll, static_cast<int>(24 * std::min<std::size_t>(prefixes.size() + 1, 11)));
  g.gtk_widget_set_size_request(scroll, 760, -1);
  g.gtk_container_add(scroll, list);
  g.gtk_box_pack_start(column, label, 0, 0, 0);
  g.gtk_box_pack_start(column, scroll, 1, 1, 0);
  g.gtk_box_pack_start(g.gtk_dialog_get_content_area(d), column, 1, 1, 0);
  g.gtk_dialog_add_button(d, "OK", kResultOk);
  g.gtk_dialog_add_button(d, "Annulla", kResultCancel);
  g.gtk_dialog_set_default_response(d, kResultOk);
  gtk::Connect(g, list, "row-activated", OnRowActivated, d);
  // The most recently used is selected, and the list has the focus.
  gtk::TreePath* first = g.gtk_tree_path_new_from_indices(0, -1);
  g.gtk_tree_view_set_cursor(list, first, nullptr, 0);
  g.gtk_tree_path_free(first);
  g.gtk_widget_show_all(d);
  g.gtk_widget_grab_focus(list);

  std::optional<std::size_t> chosen;
  const int response = g.gtk_dialog_run(d);
  gtk::TreeIter row{};
  if (response == kResultOk && g.gtk_tree_selection_get_selected(g.gtk_tree_view_get_selection(list), nullptr, &row)) {
    gtk::TreePath* path = g.gtk_tree_model_get_path(g.gtk_tree_view_get_model(list), &row);
    chosen = static_cast<std::size_t>(g.gtk_tree_path_get_indices(path)[0]);
    g.gtk_tree_path_free(path);
  }
  g.gtk_widget_destroy(d);
  return chosen;
}

}  // namespace ttu::platform
