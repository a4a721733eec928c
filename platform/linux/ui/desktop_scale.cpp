#include "platform/linux/ui/desktop_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace ttu::platform {
namespace {

// Reads the property's fields in the byte order its first byte names.
class Fields {
 public:
  explicit Fields(std::string_view b) : b_(b), big_(!b.empty() && b[0] == 1) {}
  bool Skip(std::size_t n) {
    if (n > b_.size() - at_) return false;
    at_ += n;
    return true;
  }
  std::optional<uint32_t> Number(int bytes) {
    if (static_cast<std::size_t>(bytes) > b_.size() - at_) return std::nullopt;
    uint32_t v = 0;
    for (int k = 0; k < bytes; ++k) {
      const uint32_t byte = static_cast<unsigned char>(b_[at_ + (big_ ? k : bytes - 1 - k)]);
      v = v << 8 | byte;
    }
    at_ += bytes;
    return v;
  }
  // `n` bytes, then the padding to a multiple of four.
  std::optional<std::string> Text(uint32_t n) {
    const std::size_t padded = (static_cast<std::size_t>(n) + 3) & ~std::size_t{3};
    if (padded > b_.size() - at_) return std::nullopt;
    std::string s(b_.substr(at_, n));
    at_ += padded;
    return s;
  }

 private:
  std::string_view b_;
  std::size_t at_ = 0;
  bool big_;
};

double Number(const char* text) {
  if (!text || !*text) return 0;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  return end && *end == '\0' && std::isfinite(v) ? v : 0;
}

}  // namespace

std::optional<XSettings> ParseXSettings(std::string_view bytes) {
  Fields f(bytes);
  if (bytes.empty() || static_cast<unsigned char>(bytes[0]) > 1 || !f.Skip(4)) return std::nullopt;
  const auto serial = f.Number(4), count = f.Number(4);
  if (!serial || !count) return std::nullopt;
  XSettings out;
  for (uint32_t k = 0; k < *count; ++k) {
    const auto type = f.Number(1);
    if (!type || !f.Skip(1)) return std::nullopt;
    const auto name_size = f.Number(2);
    const auto name = name_size ? f.Text(*name_size) : std::nullopt;
    if (!name || !f.Number(4)) return std::nullopt;  // then the last-change serial
    if (*type == 0) {
      const auto v = f.Number(4);
      if (!v) return std::nullopt;
      out.integers[*name] = static_cast<int32_t>(*v);
    } else if (*type == 1) {
      const auto size = f.Number(4);
      const auto text = size ? f.Text(*size) : std::nullopt;
      if (!text) return std::nullopt;
      out.strings[*name] = *text;
    } else if (*type != 2 || !f.Skip(8)) {  // a colour: four 16-bit parts
      return std::nullopt;
    }
  }
  return out;
}

double XftDpiResource(std::string_view resources) {
  double dpi = 0;
  std::size_t at = 0;
  while (at < resources.size()) {
    std::size_t end = resources.find('\n', at);
    if (end == std::string_view::npos) end = resources.size();
    std::string_view line = resources.substr(at, end - at);
    at = end + 1;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    if (name != "Xft.dpi" && name != "*dpi" && name != "Xft*dpi") continue;
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    const double v = Number(std::string(value).c_str());
    if (v > 0) dpi = v;  // the last one given holds, as X resources merge
  }
  return dpi;
}

double DesktopScale(const ScaleSources& s) {
  const XSettings none;
  const XSettings& xs = s.xsettings ? *s.xsettings : none;
  auto integer = [&](const char* name) {
    const auto it = xs.integers.find(name);
    return it == xs.integers.end() ? 0 : it->second;
  };
  double window_scale = std::floor(Number(s.gdk_scale));
  if (window_scale < 1) window_scale = integer("Gdk/WindowScalingFactor");
  if (window_scale < 1) window_scale = 1;

  double dpi = integer("Gdk/UnscaledDPI") / 1024.0;
  if (dpi <= 0) dpi = integer("Xft/DPI") / 1024.0;
  if (dpi <= 0) dpi = XftDpiResource(s.x_resources);
  if (dpi <= 0) dpi = 96;
  const double dpi_scale = Number(s.gdk_dpi_scale);
  if (dpi_scale > 0) dpi *= dpi_scale;
  return std::clamp(window_scale * dpi / 96.0, 1.0, 8.0);
}

}  // namespace ttu::platform
