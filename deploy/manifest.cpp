#include "deploy/manifest.h"

#include <cmath>
#include <cstdlib>
#include <new>

#include "support/run_error.h"
#include "support/text.h"

namespace ttu::deploy {
namespace {

// Tables for more items than this would take more memory than an updater may
// ask for (about 25 MB here); no package can have them anyway: identifiers
// end at 65535, so item 65435 is the last that can exist.
constexpr int64_t kMaxItems = int64_t{1} << 17;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::vector<std::string> Split(std::string_view s, char sep) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == sep) {
      fields.emplace_back(s.substr(start, i - start));
      start = i + 1;
    }
  }
  return fields;
}

}  // namespace

double LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  std::string number;  // the matched part, in the C locale's notation
  auto digits = [&] {
    std::size_t n = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++n) number += text[i];
    return n;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
  std::size_t mantissa = digits();
  if (i < text.size() && text[i] == '.') {
    number += text[i++];
    mantissa += digits();
  }
  if (mantissa == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
    const std::size_t mark = i;
    std::string exponent = "e";
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) exponent += text[i++];
    std::size_t n = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++n) exponent += text[i];
    if (n > 0) {
      number += exponent;
    } else {
      i = mark;  // "2e" or "2e+": the exponent does not continue the number
    }
  }
  // strtod follows the C locale's "." unless the program changed it; it never does.
  return std::strtod(number.c_str(), nullptr);
}

int32_t RoundToInt32(double value) {
  const double r = std::nearbyint(value);  // default rounding: to nearest, ties to even
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw RunError::Of(kErrOverflow);
  return static_cast<int32_t>(r);
}

std::string LoadResString(platform::Resources& res, uint32_t id) {
  auto s = res.String(id);
  if (!s) throw RunError::ResourceNotFound(id);
  return *s;
}

std::string DescribedFileName(platform::Resources& res, uint32_t id) {
  const auto descriptor = res.String(id);
  return descriptor ? descriptor->substr(0, descriptor->find('|')) : std::string();
}

int32_t LastIndexOf(std::string_view count_text) {
  const int32_t last = RoundToInt32(LeadingNumber(count_text) - 1.0);
  if (last < 0) throw RunError::Of(kErrSubscript);
  return last;
}

void SizeTables(ItemTables& tables, platform::Resources& res) {
  const int32_t last = LastIndexOf(LoadResString(res, kCountStringId));
  if (int64_t{last} + 1 > kMaxItems) throw RunError::Of(kErrOutOfMemory);
  const auto n = static_cast<std::size_t>(last) + 1;
  ItemTables fresh;
  try {
    fresh.FileName.resize(n);
    fresh.PathCache.resize(n);
    fresh.ItemState.resize(n);
    fresh.TargetTemplate.resize(n);
  } catch (const std::bad_alloc&) {
    throw RunError::Of(kErrOutOfMemory);
  }
  fresh.LastIndex = last;
  tables = std::move(fresh);
}

void ReadDescriptor(ItemTables& tables, int32_t j, platform::Resources& res) {
  const auto id = static_cast<uint32_t>(kFirstItemId + static_cast<int64_t>(j));
  const auto fields = Split(LoadResString(res, id), '|');
  const auto at = static_cast<std::size_t>(j);
  auto field = [&](std::size_t k) -> const std::string& {
    if (k >= fields.size()) throw RunError::Of(kErrSubscript);
    return fields[k];
  };
  tables.FileName[at] = field(0);
  tables.TargetTemplate[at] = text::ReplaceAll(field(1), "/", "\\");
  tables.ItemState[at][0] = field(2);
  tables.ItemState[at][1] = field(3);
}

}  // namespace ttu::deploy
