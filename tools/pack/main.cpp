// tessiro-pack [--stub PATH] [-I DIR]... [--compress[=LEVEL]] [--delta-from OLD_FOLDER [--with-full]]
//              [--redeflate-zips] PACKAGE.rc -o OUTPUT
// tessiro-pack --list UPDATER
#include <unistd.h>
#include <zstd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "tools/pack/compressor.h"
#include "tools/pack/listing.h"
#include "tools/pack/packer.h"

namespace {

constexpr const char* kUsage =
    "usage: tessiro-pack [--stub PATH] [-I DIR]... [--compress[=LEVEL]] [--delta-from OLD_FOLDER [--with-full]]\n"
    "                    [--redeflate-zips] PACKAGE.rc -o OUTPUT\n"
    "       tessiro-pack --list UPDATER\n"
    "The stub is a Linux updater stub (by default the one beside tessiro-pack) or a Windows one\n"
    "(TessiroTinyUpdater-stub.exe, PE32 or PE32+).\n"
    "--compress stores each payload compressed with zstd where that makes it smaller, at LEVEL\n"
    "(1-22; by default 19).\n"
    "--delta-from carries, for each payload whose previous version OLD_FOLDER holds (under the name\n"
    "the script gives it), only its differences to that version, or nothing when it did not change;\n"
    "the updater then needs the previous version installed. --with-full carries each such payload\n"
    "whole as well, for installations that do not have the previous version.\n"
    "--redeflate-zips ships each ZIP archive whose members another program deflated with those\n"
    "members deflated by this packer's zlib (the same members, other bytes), so that the deltas of\n"
    "later versions can see inside it; with --delta-from, the previous versions are taken as shipped so.\n";
constexpr const char* kDefaultStub = "tessiro-tiny-updater-stub";

// The stub installed beside this program.
std::string DefaultStub() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return kDefaultStub;
  std::string dir(self, static_cast<std::size_t>(n));
  return dir.substr(0, dir.find_last_of('/') + 1) + kDefaultStub;
}

// Runs `work`; a failure of any kind ends with its message and status 1 (the
// packer's own messages name the file and line; others, the file at hand).
template <typename Work>
int Report(const Work& work, const std::string& file) {
  try {
    work();
    return 0;
  } catch (const ttu::pack::PackError& e) {
    std::fprintf(stderr, "tessiro-pack: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tessiro-pack: %s: error: not enough memory\n", file.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tessiro-pack: %s: error: %s\n", file.c_str(), e.what());
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--list") {
    return Report([&] { ttu::pack::ListPackage(argv[2], stdout); }, argv[2]);
  }
  ttu::pack::PackOptions opt;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    const bool has_next = k + 1 < argc;
    if (a == "--stub" && has_next) {
      opt.stub = argv[++k];
    } else if (a == "-I" && has_next) {
      if (!*argv[k + 1]) {
        std::fputs("tessiro-pack: -I needs a folder's name\n", stderr);
        return 2;
      }
      opt.include_dirs.push_back(argv[++k]);
    } else if (a.rfind("-I", 0) == 0 && a.size() > 2) {
      opt.include_dirs.push_back(a.substr(2));
    } else if (a == "--compress") {
      opt.compress_level = ttu::pack::kDefaultLevel;
    } else if (a.rfind("--compress=", 0) == 0) {
      const std::string level = a.substr(11);
      char* end = nullptr;
      const long n = std::strtol(level.c_str(), &end, 10);
      if (level.empty() || *end || n < 1 || n > ZSTD_maxCLevel()) {
        std::fprintf(stderr, "tessiro-pack: --compress=LEVEL takes a level from 1 to %d\n", ZSTD_maxCLevel());
        return 2;
      }
      opt.compress_level = static_cast<int>(n);
    } else if (a == "--delta-from" && has_next) {
      opt.delta_from = argv[++k];
    } else if (a == "--with-full") {
      opt.with_full = true;
    } else if (a == "--redeflate-zips") {
      opt.redeflate_zips = true;
    } else if (a == "-o" && has_next) {
      opt.output = argv[++k];
    } else if (!a.empty() && a[0] != '-' && opt.description.empty()) {
      opt.description = a;
    } else {
      std::fputs(kUsage, stderr);
      return 2;
    }
  }
  if (opt.description.empty() || opt.output.empty() || (opt.with_full && opt.delta_from.empty())) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (opt.stub.empty()) opt.stub = DefaultStub();
  return Report(
      [&] {
        const std::string note = ttu::pack::Pack(opt);
        if (!note.empty()) std::fprintf(stderr, "tessiro-pack: note: %s\n", note.c_str());
      },
      opt.description);
}
