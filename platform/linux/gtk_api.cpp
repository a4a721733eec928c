#include "platform/linux/gtk_api.h"

#include <dlfcn.h>

namespace ttu::platform::gtk {
namespace {

const Api* Open() {
  // Every symbol is found through GTK's own handle: GLib, GObject, GDK,
  // ATK and cairo are among the libraries it depends on.
  void* lib = ::dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return nullptr;
  static Api api;
  bool whole = true;
#define TTU_GTK_RESOLVE(ret, name, params) \
  whole = whole && (api.name = reinterpret_cast<ret(*) params>(::dlsym(lib, #name))) != nullptr;
  TTU_GTK_FUNCTIONS(TTU_GTK_RESOLVE)
#undef TTU_GTK_RESOLVE
  // GTK must not change the process's locale: the registry's code page is
  // the environment's, read as Wine reads it.
  if (!whole || api.gtk_get_minor_version() < 24) return nullptr;  // GTK stays loaded: it may not unload cleanly
  api.gtk_disable_setlocale();
  api.g_set_prgname("tessiro-tiny-updater");
  if (!api.gtk_init_check(nullptr, nullptr)) return nullptr;
  return &api;
}

}  // namespace

const Api* Load() {
  static const Api* api = Open();
  return api;
}

}  // namespace ttu::platform::gtk
