#include "platform/linux/ui/gtk/api.h"

#include <dlfcn.h>

#include <cstdlib>

namespace ttu::platform::gtk {
namespace {

const Api* Open() {
  // Every symbol is found through GTK's own handle: GLib, GObject, GDK,
  // ATK and cairo are among the libraries it depends on.
  void* lib = ::dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return nullptr;
  static Api api;
  bool whole = true;
#define TTU_GTK_RESOLVE(name) \
  whole = whole && (api.name = reinterpret_cast<decltype(api.name)>(::dlsym(lib, #name))) != nullptr;
  TTU_GTK_FUNCTIONS(TTU_GTK_RESOLVE)
#undef TTU_GTK_RESOLVE
  // GTK must not change the process's locale: the registry's code page is
  // the environment's, read as Wine reads it.
  if (!whole || api.gtk_get_minor_version() < 24) return nullptr;  // GTK stays loaded: it may not unload cleanly
  api.gtk_disable_setlocale();
  api.g_set_prgname("tessiro-tiny-updater");
  // No OpenGL: on X11 GDK would load the system's GL driver (with Mesa's
  // software one, 45 MiB of LLVM) only to pick a visual the window does not need.
  const bool set_gl = !std::getenv("GDK_GL") && ::setenv("GDK_GL", "disable", 1) == 0;
  const bool ready = api.gtk_init_check(nullptr, nullptr);
  if (set_gl) ::unsetenv("GDK_GL");  // what the updater starts gets the environment it was given
  return ready ? &api : nullptr;
}

}  // namespace

const Api* Load() {
  static const Api* api = Open();
  return api;
}

}  // namespace ttu::platform::gtk
