// Which language of a resource a program gets when it names none: the order
// of the Windows resource loader, and the Windows language of a POSIX locale.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ttu::reslang {

inline constexpr uint16_t kNeutral = 0x0000;
inline constexpr uint16_t kEnglishUs = 0x0409;

constexpr uint16_t Primary(uint16_t language) { return language & 0x3FF; }

// The languages in the order the loader tries them for a user whose language
// is `user`: neutral; the user's; the user's primary language with neutral
// sublanguage; English (United States); English; the neutral default and
// system-default languages. After these, the loader takes any language there
// is (PickLanguage takes the lowest).
std::vector<uint16_t> LanguageOrder(uint16_t user);

// The one of `available` that the loader picks; nothing when it is empty.
std::optional<uint16_t> PickLanguage(std::span<const uint16_t> available, uint16_t user);

// "it_IT.UTF-8" -> 0x0410, "de_CH" -> 0x0807, "fr" -> 0x040C; "C", "POSIX",
// an empty or unknown name -> English (United States), as Wine takes them.
uint16_t LanguageOfLocale(std::string_view locale);

}  // namespace ttu::reslang
