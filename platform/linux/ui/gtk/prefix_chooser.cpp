// The list a person picks the Wine prefix to update from, as a GTK dialog
// with a four-column list: Enter or a double click on a row takes it.
#include <algorithm>

#include "platform/linux/ui/gtk/front_end.h"
#include "platform/linux/ui/prefix_list.h"

namespace ttu::platform {
namespace {

GtkListStore* Rows(const gtk::Api& g, const std::vector<PrefixCandidate>& prefixes) {
  GType types[4] = {G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING};
  GtkListStore* store = g.gtk_list_store_newv(4, types);
  for (const auto& p : prefixes) {
    GtkTreeIter row{};
    g.gtk_list_store_append(store, &row);
    const auto cells = PrefixListRow(p);
    for (int c = 0; c < 4; ++c) {
      GValue v = G_VALUE_INIT;
      g.g_value_init(&v, G_TYPE_STRING);
      g.g_value_set_string(&v, cells[c].c_str());
      g.gtk_list_store_set_value(store, &row, c, &v);
      g.g_value_unset(&v);
    }
  }
  return store;
}

// A row activated (Enter, double click) answers OK.
void OnRowActivated(GtkTreeView*, GtkTreePath*, GtkTreeViewColumn*, gpointer dialog) {
  gtk::Load()->gtk_dialog_response(GTK_DIALOG(dialog), kResultOk);
}

}  // namespace

std::optional<std::size_t> GtkChoosePrefix(const std::vector<PrefixCandidate>& prefixes) {
  const gtk::Api& g = *gtk::Load();
  GtkWidget* d = g.gtk_dialog_new();
  g.gtk_window_set_title(GTK_WINDOW(d), kPrefixListTitle);
  g.gtk_window_set_modal(GTK_WINDOW(d), TRUE);
  g.gtk_window_set_position(GTK_WINDOW(d), GTK_WIN_POS_CENTER);
  GtkWidget* column = g.gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  g.gtk_container_set_border_width(GTK_CONTAINER(column), 12);
  GtkWidget* label = g.gtk_label_new(kPrefixListPrompt);
  g.gtk_label_set_xalign(GTK_LABEL(label), 0);
  GtkListStore* store = Rows(g, prefixes);
  GtkWidget* list = g.gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g.g_object_unref(store);
  for (int c = 0; c < 4; ++c) {
    GtkTreeViewColumn* col = g.gtk_tree_view_column_new();
    g.gtk_tree_view_column_set_title(col, kPrefixListColumns[c]);
    GtkCellRenderer* cell = g.gtk_cell_renderer_text_new();
    g.gtk_tree_view_column_pack_start(col, cell, TRUE);
    g.gtk_tree_view_column_add_attribute(col, cell, "text", c);
    g.gtk_tree_view_append_column(GTK_TREE_VIEW(list), col);
  }
  g.gtk_label_set_mnemonic_widget(GTK_LABEL(label), list);
  g.atk_object_set_name(g.gtk_widget_get_accessible(list), kPrefixListPrompt);
  GtkWidget* scroll = g.gtk_scrolled_window_new(nullptr, nullptr);
  g.gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroll), static_cast<int>(24 * std::min<std::size_t>(prefixes.size() + 1, 11)));
  g.gtk_widget_set_size_request(scroll, 760, -1);
  g.gtk_container_add(GTK_CONTAINER(scroll), list);
  g.gtk_box_pack_start(GTK_BOX(column), label, FALSE, FALSE, 0);
  g.gtk_box_pack_start(GTK_BOX(column), scroll, TRUE, TRUE, 0);
  g.gtk_box_pack_start(GTK_BOX(g.gtk_dialog_get_content_area(GTK_DIALOG(d))), column, TRUE, TRUE, 0);
  g.gtk_dialog_add_button(GTK_DIALOG(d), "OK", kResultOk);
  g.gtk_dialog_add_button(GTK_DIALOG(d), "Annulla", kResultCancel);
  g.gtk_dialog_set_default_response(GTK_DIALOG(d), kResultOk);
  gtk::Connect(g, list, "row-activated", OnRowActivated, d);
  // The most recently used is selected, and the list has the focus.
  GtkTreePath* first = g.gtk_tree_path_new_from_indices(0, -1);
  g.gtk_tree_view_set_cursor(GTK_TREE_VIEW(list), first, nullptr, FALSE);
  g.gtk_tree_path_free(first);
  g.gtk_widget_show_all(d);
  g.gtk_widget_grab_focus(list);

  std::optional<std::size_t> chosen;
  const int response = g.gtk_dialog_run(GTK_DIALOG(d));
  GtkTreeIter row{};
  if (response == kResultOk &&
      g.gtk_tree_selection_get_selected(g.gtk_tree_view_get_selection(GTK_TREE_VIEW(list)), nullptr, &row)) {
    GtkTreePath* path = g.gtk_tree_model_get_path(g.gtk_tree_view_get_model(GTK_TREE_VIEW(list)), &row);
    chosen = static_cast<std::size_t>(g.gtk_tree_path_get_indices(path)[0]);
    g.gtk_tree_path_free(path);
  }
  g.gtk_widget_destroy(d);
  return chosen;
}

}  // namespace ttu::platform
