// GTK 3, loaded at run time: the updater is one file that starts on a system
// without GTK, and uses GTK (screen readers, Wayland) where the desktop has it.
// Only the functions the updater calls, declared by their stable C ABI.
#pragma once

#include <cstdint>

namespace ttu::platform::gtk {

struct Widget;
struct Object;
struct Pixbuf;
struct Cairo;
struct ListStore;
struct TreeSelection;
struct TreeViewColumn;
struct TreePath;
struct GdkWindow;
struct Screen;
struct List {  // GList
  void* data;
  List *next, *prev;
};
struct TreeIter {  // GtkTreeIter, filled by the list's functions
  int stamp;
  void *user_data, *user_data2, *user_data3;
};
struct Value {  // GValue
  uintptr_t type;
  uint64_t data[2];
};
using Callback = void (*)();
using SourceFunc = int (*)(void*);

// What each function returns, its name, and its parameters.
#define TTU_GTK_FUNCTIONS(F)                                                                          \
  F(void, gtk_disable_setlocale, ())                                                                   \
  F(int, gtk_init_check, (int*, char***))                                                              \
  F(unsigned, gtk_get_minor_version, ())                                                               \
  F(void, g_set_prgname, (const char*))                                                                \
  F(Widget*, gtk_window_new, (int))                                                                    \
  F(void, gtk_window_set_title, (Widget*, const char*))                                                \
  F(void, gtk_window_set_resizable, (Widget*, int))                                                    \
  F(void, gtk_window_move, (Widget*, int, int))                                                        \
  F(void, gtk_window_set_position, (Widget*, int))                                                     \
  F(void, gtk_window_set_modal, (Widget*, int))                                                        \
  F(void, gtk_window_set_icon, (Widget*, Pixbuf*))                                                     \
  F(void, gtk_window_set_default, (Widget*, Widget*))                                                  \
  F(void, gtk_window_present, (Widget*))                                                               \
  F(void, gtk_window_set_deletable, (Widget*, int))                                                    \
  F(List*, gtk_window_list_toplevels, ())                                                              \
  F(void, g_list_free, (List*))                                                                        \
  F(Widget*, gtk_fixed_new, ())                                                                        \
  F(void, gtk_fixed_put, (Widget*, Widget*, int, int))                                                 \
  F(Widget*, gtk_box_new, (int, int))                                                                  \
  F(void, gtk_box_pack_start, (Widget*, Widget*, int, int, unsigned))                                  \
  F(void, gtk_container_add, (Widget*, Widget*))                                                       \
  F(void, gtk_container_set_border_width, (Widget*, unsigned))                                         \
  F(Widget*, gtk_button_new_with_label, (const char*))                                                 \
  F(void, gtk_button_set_label, (Widget*, const char*))                                                \
  F(const char*, gtk_button_get_label, (Widget*))                                                      \
  F(Widget*, gtk_label_new, (const char*))                                                             \
  F(void, gtk_label_set_line_wrap, (Widget*, int))                                                     \
  F(void, gtk_label_set_xalign, (Widget*, float))                                                      \
  F(void, gtk_label_set_max_width_chars, (Widget*, int))                                               \
  F(void, gtk_label_set_mnemonic_widget, (Widget*, Widget*))                                           \
  F(Widget*, gtk_entry_new, ())                                                                        \
  F(void, gtk_entry_set_text, (Widget*, const char*))                                                  \
  F(const char*, gtk_entry_get_text, (Widget*))                                                        \
  F(void, gtk_entry_set_activates_default, (Widget*, int))                                             \
  F(void, gtk_editable_select_region, (Widget*, int, int))                                             \
  F(Widget*, gtk_drawing_area_new, ())                                                                 \
  F(Widget*, gtk_dialog_new, ())                                                                       \
  F(Widget*, gtk_dialog_add_button, (Widget*, const char*, int))                                       \
  F(void, gtk_dialog_set_default_response, (Widget*, int))                                             \
  F(int, gtk_dialog_run, (Widget*))                                                                    \
  F(void, gtk_dialog_response, (Widget*, int))                                                         \
  F(ListStore*, gtk_tree_view_get_model, (Widget*))                                                    \
  F(Widget*, gtk_dialog_get_content_area, (Widget*))                                                   \
  F(void, gtk_widget_set_size_request, (Widget*, int, int))                                            \
  F(void, gtk_widget_show_all, (Widget*))                                                              \
  F(void, gtk_widget_grab_focus, (Widget*))                                                            \
  F(void, gtk_widget_grab_default, (Widget*))                                                          \
  F(void, gtk_widget_set_can_default, (Widget*, int))                                                  \
  F(void, gtk_widget_destroy, (Widget*))                                                               \
  F(void, gtk_widget_set_name, (Widget*, const char*))                                                 \
  F(GdkWindow*, gtk_widget_get_window, (Widget*))                                                      \
  F(Object*, gtk_widget_get_accessible, (Widget*))                                                     \
  F(void, atk_object_set_name, (Object*, const char*))                                                 \
  F(void, atk_object_set_description, (Object*, const char*))                                          \
  F(void, gdk_window_set_cursor, (GdkWindow*, void*))                                                  \
  F(Screen*, gdk_screen_get_default, ())                                                               \
  F(double, gdk_screen_get_resolution, (Screen*))                                                      \
  F(Pixbuf*, gdk_pixbuf_new_from_xpm_data, (const char**))                                             \
  F(void, gtk_main, ())                                                                                \
  F(void, gtk_main_quit, ())                                                                           \
  F(int, gtk_events_pending, ())                                                                       \
  F(int, gtk_main_iteration_do, (int))                                                                 \
  F(unsigned long, g_signal_connect_data, (void*, const char*, Callback, void*, void*, int))           \
  F(unsigned, g_timeout_add, (unsigned, SourceFunc, void*))                                            \
  F(unsigned, g_idle_add, (SourceFunc, void*))                                                         \
  F(int, g_source_remove, (unsigned))                                                                  \
  F(void, g_object_unref, (void*))                                                                     \
  F(void, cairo_set_source_rgb, (Cairo*, double, double, double))                                      \
  F(void, cairo_arc, (Cairo*, double, double, double, double, double))                                 \
  F(void, cairo_fill, (Cairo*))                                                                        \
  F(void, cairo_select_font_face, (Cairo*, const char*, int, int))                                     \
  F(void, cairo_set_font_size, (Cairo*, double))                                                       \
  F(void, cairo_move_to, (Cairo*, double, double))                                                     \
  F(void, cairo_show_text, (Cairo*, const char*))                                                      \
  F(ListStore*, gtk_list_store_newv, (int, uintptr_t*))                                                \
  F(void, gtk_list_store_append, (ListStore*, TreeIter*))                                              \
  F(void, gtk_list_store_set_value, (ListStore*, TreeIter*, int, Value*))                              \
  F(Value*, g_value_init, (Value*, uintptr_t))                                                         \
  F(void, g_value_set_string, (Value*, const char*))                                                   \
  F(void, g_value_unset, (Value*))                                                                     \
  F(Widget*, gtk_tree_view_new_with_model, (ListStore*))                                               \
  F(Widget*, gtk_cell_renderer_text_new, ())                                                           \
  F(TreeViewColumn*, gtk_tree_view_column_new, ())                                                     \
  F(void, gtk_tree_view_column_set_title, (TreeViewColumn*, const char*))                              \
  F(void, gtk_tree_view_column_pack_start, (TreeViewColumn*, Widget*, int))                            \
  F(void, gtk_tree_view_column_add_attribute, (TreeViewColumn*, Widget*, const char*, int))            \
  F(int, gtk_tree_view_append_column, (Widget*, TreeViewColumn*))                                      \
  F(TreeSelection*, gtk_tree_view_get_selection, (Widget*))                                            \
  F(int, gtk_tree_selection_get_selected, (TreeSelection*, void**, TreeIter*))                         \
  F(void, gtk_tree_selection_select_path, (TreeSelection*, TreePath*))                                 \
  F(void, gtk_tree_view_set_cursor, (Widget*, TreePath*, TreeViewColumn*, int))                        \
  F(TreePath*, gtk_tree_path_new_from_indices, (int, ...))                                             \
  F(TreePath*, gtk_tree_model_get_path, (ListStore*, TreeIter*))                                       \
  F(int*, gtk_tree_path_get_indices, (TreePath*))                                                      \
  F(void, gtk_tree_path_free, (TreePath*))                                                             \
  F(Widget*, gtk_scrolled_window_new, (void*, void*))                                                  \
  F(void, gtk_scrolled_window_set_min_content_height, (Widget*, int))

struct Api {
#define TTU_GTK_POINTER(ret, name, params) ret(*name) params = nullptr;
  TTU_GTK_FUNCTIONS(TTU_GTK_POINTER)
#undef TTU_GTK_POINTER
};

// GTK 3.24 or later, loaded and initialised on the first call; nullptr when
// the system has no GTK 3 or GTK cannot open the display.
const Api* Load();

// The constants of GTK's C interface the updater uses.
inline constexpr int kWindowToplevel = 0;
inline constexpr int kWinPosCenter = 1;
inline constexpr int kOrientationHorizontal = 0, kOrientationVertical = 1;
inline constexpr int kResponseDeleteEvent = -4;
inline constexpr uintptr_t kTypeString = 16 << 2;  // G_TYPE_STRING
inline constexpr int kConnectAfter = 1;

// Connects a handler of any signature to a GObject signal.
template <typename Handler>
void Connect(const Api& g, void* object, const char* signal, Handler handler, void* data) {
  g.g_signal_connect_data(object, signal, reinterpret_cast<Callback>(handler), data, nullptr, 0);
}

}  // namespace ttu::platform::gtk
