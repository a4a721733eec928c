// Resources served from a package directory already read, whose offsets are
// those of the file `path`: the updater's own package, and the packer's view
// of the package it has just written.
#pragma once

#include <string>

#include "platform/resources.h"
#include "support/resource_section.h"

namespace ttu::platform {

class PackageResources final : public Resources {
 public:
  PackageResources(std::string path, const resfmt::ResourceTable& table) : path_(std::move(path)), table_(table) {}
  std::optional<std::string> String(uint32_t id) override { return table_.String(id); }
  std::optional<Blob> Data(uint32_t id, const std::string& type) override {
    const auto* d = table_.Data(id, type);
    if (!d) return std::nullopt;
    return Blob{path_, nullptr, d->offset, d->size};
  }

 private:
  std::string path_;
  const resfmt::ResourceTable& table_;
};

}  // namespace ttu::platform
