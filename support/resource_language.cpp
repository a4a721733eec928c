#include "support/resource_language.h"

#include <algorithm>
#include <string>

namespace ttu::reslang {
namespace {

struct Language {
  const char* code;  // ISO 639-1
  uint16_t language;  // the language of the country a locale names first
};

// Each language with its default country's identifier.
constexpr Language kLanguages[] = {
    {"af", 0x0436}, {"ar", 0x0401}, {"az", 0x042C}, {"be", 0x0423}, {"bg", 0x0402}, {"ca", 0x0403},
    {"cs", 0x0405}, {"cy", 0x0452}, {"da", 0x0406}, {"de", 0x0407}, {"el", 0x0408}, {"en", 0x0409},
    {"es", 0x0C0A}, {"et", 0x0425}, {"eu", 0x042D}, {"fa", 0x0429}, {"fi", 0x040B}, {"fo", 0x0438},
    {"fr", 0x040C}, {"ga", 0x083C}, {"gl", 0x0456}, {"he", 0x040D}, {"hi", 0x0439}, {"hr", 0x041A},
    {"hu", 0x040E}, {"hy", 0x042B}, {"id", 0x0421}, {"is", 0x040F}, {"it", 0x0410}, {"ja", 0x0411},
    {"ka", 0x0437}, {"kk", 0x043F}, {"ko", 0x0412}, {"lb", 0x046E}, {"lt", 0x0427}, {"lv", 0x0426},
    {"mk", 0x042F}, {"ms", 0x043E}, {"mt", 0x043A}, {"nb", 0x0414}, {"nl", 0x0413}, {"nn", 0x0814},
    {"no", 0x0414}, {"pl", 0x0415}, {"pt", 0x0816}, {"rm", 0x0417}, {"ro", 0x0418}, {"ru", 0x0419},
    {"sk", 0x041B}, {"sl", 0x0424}, {"sq", 0x041C}, {"sr", 0x241A}, {"sv", 0x041D}, {"sw", 0x0441},
    {"th", 0x041E}, {"tr", 0x041F}, {"uk", 0x0422}, {"ur", 0x0420}, {"vi", 0x042A}, {"zh", 0x0804},
};

// Language and country pairs whose identifier is not the language's default.
struct Country {
  const char* locale;
  uint16_t language;
};
constexpr Country kCountries[] = {
    {"ar_EG", 0x0C01}, {"ar_AE", 0x3801}, {"ar_MA", 0x1801}, {"de_AT", 0x0C07}, {"de_CH", 0x0807},
    {"de_LI", 0x1407}, {"de_LU", 0x1007}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_GB", 0x0809},
    {"en_IE", 0x1809}, {"en_IN", 0x4009}, {"en_NZ", 0x1409}, {"en_SG", 0x4809}, {"en_ZA", 0x1C09},
    {"es_AR", 0x2C0A}, {"es_CL", 0x340A}, {"es_CO", 0x240A}, {"es_MX", 0x080A}, {"es_PE", 0x280A},
    {"es_US", 0x540A}, {"es_VE", 0x200A}, {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C},
    {"fr_LU", 0x140C}, {"fr_MC", 0x180C}, {"it_CH", 0x0810}, {"nl_BE", 0x0813}, {"pt_BR", 0x0416},
    {"ru_UA", 0x0819}, {"sv_FI", 0x081D}, {"zh_HK", 0x0C04}, {"zh_MO", 0x1404}, {"zh_SG", 0x1004},
    {"zh_TW", 0x0404},
};

}  // namespace

std::vector<uint16_t> LanguageOrder(uint16_t user) {
  const std::vector<uint16_t> all = {kNeutral, user, Primary(user), kEnglishUs, 0x0009, 0x0400, 0x0800};
  std::vector<uint16_t> order;
  for (uint16_t l : all) {
    if (std::find(order.begin(), order.end(), l) == order.end()) order.push_back(l);
  }
  return order;
}

std::optional<uint16_t> PickLanguage(std::span<const uint16_t> available, uint16_t user) {
  if (available.empty()) return std::nullopt;
  for (uint16_t l : LanguageOrder(user)) {
    if (std::find(available.begin(), available.end(), l) != available.end()) return l;
  }
  return *std::min_element(available.begin(), available.end());
}

uint16_t LanguageOfLocale(std::string_view locale) {
  // language[_COUNTRY][.codeset][@modifier]
  locale = locale.substr(0, locale.find_first_of(".@"));
  const std::string_view code = locale.substr(0, locale.find('_'));
  for (const auto& c : kCountries) {
    if (locale == c.locale) return c.language;
  }
  for (const auto& p : kLanguages) {
    if (code == p.code) return p.language;
  }
  return kEnglishUs;
}

}  // namespace ttu::reslang
