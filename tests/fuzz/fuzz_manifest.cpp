// The count and descriptor rules: the first line is the count text, each
// further line a descriptor.
#include <cstddef>
#include <cstdint>
#include <string>

#include "deploy/manifest.h"
#include "support/run_error.h"
#include "tests/fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ttu::test::FakeResources res;
  std::size_t start = 0;
  for (uint32_t id = 100; start <= text.size() && id < 200; ++id) {
    const auto eol = text.find('\n', start);
    res.strings[id] = text.substr(start, eol == std::string::npos ? std::string::npos : eol - start);
    if (eol == std::string::npos) break;
    start = eol + 1;
  }
  ttu::deploy::ItemTables tables;
  try {
    ttu::deploy::SizeTables(tables, res);
  } catch (const ttu::RunError&) {
    return 0;
  }
  if (tables.LastIndex < 0 || tables.FileName.size() != static_cast<size_t>(tables.LastIndex) + 1) __builtin_trap();
  for (int32_t j = 0; j <= tables.LastIndex && j < 100; ++j) {
    try {
      ttu::deploy::ReadDescriptor(tables, j, res);
      if (tables.TargetTemplate[j].find('/') != std::string::npos) __builtin_trap();
    } catch (const ttu::RunError&) {
    }
  }
  return 0;
}
