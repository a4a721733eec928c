// GTK 3, loaded at run time: the updater is one file that starts on a system
// without GTK, and uses GTK (screen readers, Wayland) where the desktop has it.
// Every type, signature and constant comes from GTK's and GLib's own headers
// (unpacked by scripts/debian-headers; nothing links GTK): each function is a
// pointer of the type its declaration gives, found by dlsym.
#pragma once

// The GTK_WINDOW()-style casts stay plain casts: a checked cast would call
// into GLib from code that links none of it.
#define G_DISABLE_CAST_CHECKS 1
#include <gtk/gtk.h>

namespace ttu::platform::gtk {

// The functions the updater calls, by name.
#define TTU_GTK_FUNCTIONS(F)                   \
  F(gtk_disable_setlocale)                      \
  F(gtk_init_check)                             \
  F(gtk_get_minor_version)                      \
  F(g_set_prgname)                              \
  F(gtk_window_new)                             \
  F(gtk_window_set_title)                       \
  F(gtk_window_set_resizable)                   \
  F(gtk_window_move)                            \
  F(gtk_window_set_position)                    \
  F(gtk_window_set_modal)                       \
  F(gtk_window_set_icon)                        \
  F(gtk_window_set_default)                     \
  F(gtk_window_present)                         \
  F(gtk_window_set_deletable)                   \
  F(gtk_window_list_toplevels)                  \
  F(g_list_free)                                \
  F(gtk_fixed_new)                              \
  F(gtk_fixed_put)                              \
  F(gtk_box_new)                                \
  F(gtk_box_pack_start)                         \
  F(gtk_container_add)                          \
  F(gtk_container_set_border_width)             \
  F(gtk_button_new_with_label)                  \
  F(gtk_button_set_label)                       \
  F(gtk_button_get_label)                       \
  F(gtk_label_new)                              \
  F(gtk_label_set_line_wrap)                    \
  F(gtk_label_set_xalign)                       \
  F(gtk_label_set_max_width_chars)              \
  F(gtk_label_set_mnemonic_widget)              \
  F(gtk_entry_new)                              \
  F(gtk_entry_set_text)                         \
  F(gtk_entry_get_text)                         \
  F(gtk_entry_set_activates_default)            \
  F(gtk_editable_select_region)                 \
  F(gtk_drawing_area_new)                       \
  F(gtk_dialog_new)                             \
  F(gtk_dialog_add_button)                      \
  F(gtk_dialog_set_default_response)            \
  F(gtk_dialog_run)                             \
  F(gtk_dialog_response)                        \
  F(gtk_tree_view_get_model)                    \
  F(gtk_dialog_get_content_area)                \
  F(gtk_widget_set_size_request)                \
  F(gtk_widget_show_all)                        \
  F(gtk_widget_grab_focus)                      \
  F(gtk_widget_grab_default)                    \
  F(gtk_widget_set_can_default)                 \
  F(gtk_widget_destroy)                         \
  F(gtk_widget_set_name)                        \
  F(gtk_widget_get_window)                      \
  F(gtk_widget_get_accessible)                  \
  F(atk_object_set_name)                        \
  F(atk_object_set_description)                 \
  F(gdk_window_set_cursor)                      \
  F(gdk_screen_get_default)                     \
  F(gdk_screen_get_resolution)                  \
  F(gdk_pixbuf_new_from_xpm_data)               \
  F(gtk_main)                                   \
  F(gtk_main_quit)                              \
  F(gtk_events_pending)                         \
  F(gtk_main_iteration_do)                      \
  F(g_signal_connect_data)                      \
  F(g_timeout_add)                              \
  F(g_idle_add)                                 \
  F(g_source_remove)                            \
  F(g_object_unref)                             \
  F(cairo_set_source_rgb)                       \
  F(cairo_arc)                                  \
  F(cairo_fill)                                 \
  F(cairo_select_font_face)                     \
  F(cairo_set_font_size)                        \
  F(cairo_move_to)                              \
  F(cairo_show_text)                            \
  F(gtk_list_store_newv)                        \
  F(gtk_list_store_append)                      \
  F(gtk_list_store_set_value)                   \
  F(g_value_init)                               \
  F(g_value_set_string)                         \
  F(g_value_unset)                              \
  F(gtk_tree_view_new_with_model)               \
  F(gtk_cell_renderer_text_new)                 \
  F(gtk_tree_view_column_new)                   \
  F(gtk_tree_view_column_set_title)             \
  F(gtk_tree_view_column_pack_start)            \
  F(gtk_tree_view_column_add_attribute)         \
  F(gtk_tree_view_append_column)                \
  F(gtk_tree_view_get_selection)                \
  F(gtk_tree_selection_get_selected)            \
  F(gtk_tree_selection_select_path)             \
  F(gtk_tree_view_set_cursor)                   \
  F(gtk_tree_path_new_from_indices)             \
  F(gtk_tree_model_get_path)                    \
  F(gtk_tree_path_get_indices)                  \
  F(gtk_tree_path_free)                         \
  F(gtk_scrolled_window_new)                    \
  F(gtk_scrolled_window_set_min_content_height)

struct Api {
#define TTU_GTK_POINTER(name) decltype(&::name) name = nullptr;
  TTU_GTK_FUNCTIONS(TTU_GTK_POINTER)
#undef TTU_GTK_POINTER
};

// GTK 3.24 or later, loaded and initialised on the first call; nullptr when
// the system has no GTK 3 or GTK cannot open the display.
const Api* Load();

// Connects a handler of any signature to a GObject signal.
template <typename Handler>
void Connect(const Api& g, gpointer object, const char* signal, Handler handler, gpointer data) {
  g.g_signal_connect_data(object, signal, reinterpret_cast<GCallback>(handler), data, nullptr, GConnectFlags{});
}

}  // namespace ttu::platform::gtk
