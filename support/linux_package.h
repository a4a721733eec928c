// Where the package of a Linux updater is. tessiro-pack puts it in a section
// of the program, ".note.tessiro": an ELF note, the one kind of section that
// no strip tool removes (elfutils' eu-strip keeps notes and what the program
// loads, and removes every other section that it does not load), whose
// payloads sit at offsets from the section's start that are multiples of
// 64 KiB, like the section itself. In it:
//   [note header: namesz 8, descsz, type "TTP1", "Tessiro\0"]
//   [payloads][directory][trailer]
// with the directory and trailer of support/resource_section.h, their offsets
// counted from the section's start. Updaters packed before carry the same
// directory after the program's last byte, offsets counted from the file's
// start; they are read too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/byte_source.h"
#include "support/resource_section.h"

namespace ttu::resfmt {

inline constexpr const char* kPackageSection = ".note.tessiro";
inline constexpr std::size_t kNoteHeaderSize = 20;
inline constexpr uint32_t kPackageNoteType = 0x31505454;  // "TTP1"

// The note header that begins a package section of `section_size` bytes.
std::vector<uint8_t> EncodePackageNoteHeader(uint64_t section_size);

struct LinuxPackage {
  Directory dir;  // payload offsets counted from the file's start
  std::string where;  // "section .note.tessiro" or "after the program"
};

// The package of a Linux updater; nothing when the file carries none, or one
// that does not read whole (then `damage`, when given, says why).
std::optional<LinuxPackage> FindLinuxPackage(const ByteSource& file, std::string* damage = nullptr);

}  // namespace ttu::resfmt
