#include "tools/pack/seal.h"

#include <map>
#include <set>

#include "deploy/package_seal.h"
#include "platform/package_resources.h"
#include "support/resource_language.h"
#include "tools/pack/package_reader.h"

namespace ttu::pack {
namespace {

// One user of each kind that the loader tells apart for these languages: a
// user whose language is one of them, one who shares only its primary
// language, and one who shares nothing.
std::vector<uint16_t> UsersOf(const std::set<uint16_t>& languages) {
  std::vector<uint16_t> users(languages.begin(), languages.end());
  std::set<uint16_t> primaries;
  for (uint16_t l : languages) primaries.insert(reslang::Primary(l));
  for (uint16_t p : primaries) {
    for (uint16_t sub = 1; sub < 64; ++sub) {
      const auto u = static_cast<uint16_t>(sub << 10 | p);
      if (!languages.count(u)) {
        users.push_back(u);
        break;
      }
    }
  }
  for (uint16_t p = 1; p < 0x3FF; ++p) {
    if (!primaries.count(p) && p != reslang::Primary(reslang::kEnglishUs)) {
      users.push_back(static_cast<uint16_t>(0x0400 | p));
      break;
    }
  }
  return users;
}

}  // namespace

std::vector<uint16_t> SealLanguages(const PackageDescription& desc) {
  std::map<std::string, std::vector<uint16_t>> keys;  // each resource's languages
  std::set<uint16_t> all;
  for (const auto& s : desc.strings) {
    keys["block " + std::to_string(s.id / 16 + 1)].push_back(s.language);
    all.insert(s.language);
  }
  for (const auto& d : desc.data) {
    keys["payload " + std::to_string(d.id)].push_back(d.language);  // and its checksum
    all.insert(d.language);
  }
  const std::vector<uint16_t> languages(all.begin(), all.end());
  // A user reads each resource in the language the loader picks for it, and
  // the seal of the language it picks among the seals: they must agree.
  for (uint16_t user : UsersOf(all)) {
    const uint16_t sealed = *reslang::PickLanguage(languages, user);
    for (const auto& [key, langs] : keys) {
      if (reslang::PickLanguage(langs, user) != reslang::PickLanguage(langs, sealed)) return {};
    }
  }
  return languages;
}

std::vector<checksum::Digest> SealsOfOutput(const std::string& path, int fd, uint64_t size,
                                            const std::vector<uint16_t>& languages) {
  const platform::FileSource source(fd, size);
  auto package = ReadPackage(source, path);
  if (!package) throw PackError(path + ": error: the package just written cannot be read back");
  resfmt::ResourceTable table(std::move(package->dir));
  std::vector<checksum::Digest> seals;
  for (uint16_t language : languages) {
    table.set_user_language(language);
    platform::PackageResources res(path, table);
    seals.push_back(deploy::SealOf(res));
  }
  return seals;
}

std::string UnsealedNote(const std::vector<uint16_t>& languages) {
  return languages.empty() ? "the package's resources are in languages that no one seal can cover (give every "
                             "resource the same languages): the updater is not sealed, its payloads are still checked"
                           : "";
}

}  // namespace ttu::pack
