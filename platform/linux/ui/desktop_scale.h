// The scale a Linux desktop asks its windows to be drawn at, read the way
// GTK reads it: the window scale (GDK_SCALE, else the XSETTINGS
// Gdk/WindowScalingFactor) times the text's dots per inch over 96 (the
// XSETTINGS Gdk/UnscaledDPI or Xft/DPI, else the Xft.dpi X resource, times
// GDK_DPI_SCALE).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace ttu::platform {

// The settings an XSETTINGS manager publishes; integers and strings (colours
// are passed over).
struct XSettings {
  std::map<std::string, int32_t> integers;
  std::map<std::string, std::string> strings;
};

// The _XSETTINGS_SETTINGS property's bytes; nullopt when they do not read
// whole.
std::optional<XSettings> ParseXSettings(std::string_view bytes);

// The Xft.dpi resource in the RESOURCE_MANAGER text; 0 when there is none.
double XftDpiResource(std::string_view resources);

struct ScaleSources {
  const char* gdk_scale = nullptr;      // the environment's GDK_SCALE
  const char* gdk_dpi_scale = nullptr;  // and GDK_DPI_SCALE
  std::optional<XSettings> xsettings;   // when a settings manager runs
  std::string x_resources;              // the root window's RESOURCE_MANAGER
};

// The factor to draw at: 1 at 96 dpi, 1.5 at 144, 2 at 192 or at scale 2.
// Kept between 1 and 8: a desktop that asks for less is drawn at 1.
double DesktopScale(const ScaleSources& sources);

}  // namespace ttu::platform
