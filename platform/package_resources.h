// Resources served from a package directory already read, whose offsets are
// those of the file `path`: the updater's own package, and the packer's view
// of the package it has just written.
#pragma once

#include <memory>
#include <string>

#include "platform/resources.h"
#include "support/resource_section.h"

namespace ttu::platform {

class PackageResources final : public Resources {
 public:
  // `opened`: the file at `path`, open, which blobs are read through; none:
  // each read opens the path.
  PackageResources(std::string path, const resfmt::ResourceTable& table,
                   std::shared_ptr<const ByteSource> opened = nullptr)
      : path_(std::move(path)), table_(table), opened_(std::move(opened)) {}
  std::optional<std::string> String(uint32_t id) override { return table_.String(id); }
  std::optional<Blob> Data(uint32_t id, const std::string& type) override {
    const auto* d = table_.Data(id, type);
    if (!d) return std::nullopt;
    return Blob{path_, nullptr, d->offset, d->size, opened_};
  }

 private:
  std::string path_;
  const resfmt::ResourceTable& table_;
  std::shared_ptr<const ByteSource> opened_;
};

}  // namespace ttu::platform
