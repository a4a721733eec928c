// The desktop's scale as GTK reads it, from the environment, the XSETTINGS
// manager's property and the X resources; and that property read whole or not
// at all.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/ui/desktop_scale.h"

namespace ttu::platform {
namespace {

struct Setting {
  std::string name;
  int type;  // 0 integer, 1 string, 2 colour
  int32_t number;
  std::string text;
};

// The _XSETTINGS_SETTINGS property as a manager writes it, in either byte order.
std::string Property(const std::vector<Setting>& settings, bool big_endian = false) {
  std::string b;
  auto put = [&](uint32_t v, int bytes) {
    for (int k = 0; k < bytes; ++k) b += static_cast<char>(v >> (8 * (big_endian ? bytes - 1 - k : k)));
  };
  auto pad = [&] {
    while (b.size() % 4) b += '\0';
  };
  put(big_endian ? 1 : 0, 1), put(0, 3), put(7, 4), put(static_cast<uint32_t>(settings.size()), 4);
  for (const auto& s : settings) {
    put(s.type, 1), put(0, 1), put(static_cast<uint32_t>(s.name.size()), 2);
    b += s.name;
    pad();
    put(3, 4);
    if (s.type == 0) put(static_cast<uint32_t>(s.number), 4);
    if (s.type == 1) put(static_cast<uint32_t>(s.text.size()), 4), b += s.text, pad();
    if (s.type == 2) put(0xffff, 2), put(0, 2), put(0, 2), put(0xffff, 2);
  }
  return b;
}

TEST(DesktopScaleTest, EachSourceCountsAsGtkCountsIt) {
  const std::vector<Setting> dpi144 = {{"Xft/DPI", 0, 144 * 1024, ""}};
  const std::vector<Setting> scale2 = {{"Gdk/WindowScalingFactor", 0, 2, ""}, {"Xft/DPI", 0, 192 * 1024, ""},
                                       {"Gdk/UnscaledDPI", 0, 96 * 1024, ""}};
  const std::vector<Setting> mixed = {{"Net/ThemeName", 1, 0, "Adwaita"}, {"Gtk/Colour", 2, 0, ""},
                                      {"Xft/DPI", 0, 192 * 1024, ""}};
  struct Row {
    const char* why;
    const char *gdk_scale, *gdk_dpi_scale;
    std::vector<Setting> settings;
    bool manager;
    std::string resources;
    double expect;
  } rows[] = {
      {"nothing set: 96 dpi", nullptr, nullptr, {}, false, "", 1.0},
      {"Xft.dpi 144", nullptr, nullptr, {}, false, "Xft.antialias:\t1\nXft.dpi:\t144\n", 1.5},
      {"Xft.dpi 192, the last given holds", nullptr, nullptr, {}, false, "Xft.dpi: 96\nXft.dpi:  192\n", 2.0},
      {"XSETTINGS Xft/DPI before the resource", nullptr, nullptr, dpi144, true, "Xft.dpi: 192\n", 1.5},
      {"XSETTINGS scale 2 with its unscaled DPI", nullptr, nullptr, scale2, true, "", 2.0},
      {"strings and colours passed over", nullptr, nullptr, mixed, true, "", 2.0},
      {"GDK_SCALE=2", "2", nullptr, {}, false, "", 2.0},
      {"GDK_SCALE over the manager's scale", "1", nullptr, scale2, true, "", 1.0},
      {"GDK_SCALE=2 with GDK_DPI_SCALE=0.5", "2", "0.5", {}, false, "", 1.0},
      {"GDK_DPI_SCALE=1.5", nullptr, "1.5", {}, false, "", 1.5},
      {"GDK_SCALE not a number", "two", nullptr, {}, false, "Xft.dpi: 144\n", 1.5},
      {"GDK_SCALE 0 falls to the manager", "0", nullptr, scale2, true, "", 2.0},
      {"a tiny DPI is drawn at 1", nullptr, nullptr, {}, false, "Xft.dpi: 20\n", 1.0},
      {"an absurd DPI is capped", nullptr, nullptr, {}, false, "Xft.dpi: 100000\n", 8.0},
      {"a resource that is not Xft.dpi", nullptr, nullptr, {}, false, "XTerm.dpi: 192\nXft.dpix: 192\n", 1.0},
      {"a NaN GDK_DPI_SCALE is ignored", nullptr, "nan", {}, false, "", 1.0},
  };
  for (const auto& r : rows) {
    ScaleSources s;
    s.gdk_scale = r.gdk_scale, s.gdk_dpi_scale = r.gdk_dpi_scale, s.x_resources = r.resources;
    if (r.manager) {
      s.xsettings = ParseXSettings(Property(r.settings));
      ASSERT_TRUE(s.xsettings) << r.why;
    }
    EXPECT_DOUBLE_EQ(DesktopScale(s), r.expect) << r.why;
  }
}

TEST(DesktopScaleTest, APropertyThatDoesNotReadWholeIsNotUsed) {
  const std::string good = Property({{"Xft/DPI", 0, 144 * 1024, ""}, {"Net/ThemeName", 1, 0, "Adwaita"}});
  for (bool big : {false, true}) {
    const auto s = ParseXSettings(Property({{"Xft/DPI", 0, 144 * 1024, ""}, {"Net/ThemeName", 1, 0, "Adwaita"}}, big));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->integers.at("Xft/DPI"), 144 * 1024);
    EXPECT_EQ(s->strings.at("Net/ThemeName"), "Adwaita");
  }
  for (std::size_t cut = 0; cut < good.size(); ++cut) EXPECT_FALSE(ParseXSettings(good.substr(0, cut))) << cut;
  std::string unknown_type = good, bad_order = good, huge_count = good, huge_text = good;
  unknown_type[12] = 5;
  bad_order[0] = 2;
  huge_count[8] = '\xff', huge_count[11] = '\x7f';
  huge_text[good.size() - 12] = '\xff';  // the theme name's length
  for (const auto* b : {&unknown_type, &bad_order, &huge_count, &huge_text}) EXPECT_FALSE(ParseXSettings(*b));
}

}  // namespace
}  // namespace ttu::platform
