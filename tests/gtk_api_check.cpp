// Built, never run: every pointer that GTK is reached through must have the
// type of the function's own declaration in GTK's headers, so that a
// signature written by hand fails the build here instead of the call at run time.
#include <type_traits>

#include "platform/linux/ui/gtk/api.h"

namespace ttu::platform::gtk {

#define TTU_GTK_CHECK(name)                                                  \
  static_assert(std::is_same_v<decltype(Api::name), decltype(&::name)>,     \
                #name " must be typed by its declaration in GTK's headers");
TTU_GTK_FUNCTIONS(TTU_GTK_CHECK)
#undef TTU_GTK_CHECK

}  // namespace ttu::platform::gtk
