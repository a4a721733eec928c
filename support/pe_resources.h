// The resource directory of a Windows executable: a tree of type, name and
// language, each leaf pointing at the resource's bytes by RVA. One reader,
// which checks every offset, and one writer, which lays out a whole resource
// section as the linker does: tables, then names, then data entries, then data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/pe_image.h"

namespace ttu::pe {

inline constexpr uint16_t kStringTableType = 6;

// A type or name: a number, or (when `name` is not empty) a name.
struct ResId {
  uint16_t id = 0;
  std::u16string name;
  bool Named() const { return !name.empty(); }
  std::string ToString() const;  // "6", "CUSTOM"
  // The directory's order: names first, by their upper-case text (then their
  // exact text), then numbers.
  bool operator<(const ResId& o) const;
  bool operator==(const ResId& o) const { return id == o.id && name == o.name; }
};

struct Resource {
  ResId type, name;
  uint16_t language = 0;
  uint32_t code_page = 0;
  uint32_t rva = 0;
  uint32_t size = 0;
};

// Every resource of the image, in directory order; an empty list when it has
// none; nothing when the directory is damaged.
std::optional<std::vector<Resource>> ReadResources(const ByteSource& source, const Image& image);

// A resource to write: its bytes in memory, or (`external`) written by the
// caller at the offset that the layout gives, which is aligned in the file.
struct NewResource {
  ResId type, name;
  uint16_t language = 0;
  uint32_t code_page = 0;
  std::vector<uint8_t> bytes;
  bool external = false;
  uint64_t size = 0;  // of an external resource
  uint64_t alignment = 0;  // of an external resource's file offset; 0: the layout's
};

// The order the writer puts resources in: type, name, language.
bool InDirectoryOrder(const NewResource& x, const NewResource& y);

struct SectionLayout {
  std::vector<uint8_t> head;       // the section's first bytes: directory and in-memory data
  std::vector<uint64_t> offsets;   // each resource's data, from the section's start
  uint64_t size = 0;               // of the whole section's content
};

// Lays out a resource section that will stand at `section_rva` and, in the
// file, at `section_file_offset`; external resources start at file offsets
// that are multiples of `alignment`.
SectionLayout LayOutResources(std::vector<NewResource> resources, uint32_t section_rva,
                              uint64_t section_file_offset, uint64_t alignment);

}  // namespace ttu::pe
