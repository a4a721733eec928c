// How the packer sets up zstd for every frame it writes: the level asked for,
// no frame checksum (the payload's header holds a stronger one), the frame's
// size in its header, and where asked a window of its own (never larger than
// what the updater accepts for that kind of payload). Compressed payloads and
// a delta's streams are made through this.
#pragma once

#include <zstd.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ttu::pack {

struct FreeCCtx {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
using ZstdEncoder = std::unique_ptr<ZSTD_CCtx, FreeCCtx>;

struct FrameSettings {
  int level = 19;
  uint64_t size = 0;   // of what the frame holds
  int window_log = 0;  // 0: the level's own
  // Also match repeats as far apart as the window allows (worth it only on
  // large files: the level's own window covers small ones).
  bool long_distance = false;
};

// An encoder for one frame of `s.size` bytes; `what` names the file in the
// message of the PackError raised when zstd refuses a setting.
ZstdEncoder MakeEncoder(const FrameSettings& s, const std::string& what);

// Raises PackError naming `what` when `result` is one of zstd's errors; else returns it.
std::size_t CheckZstd(std::size_t result, const std::string& what);

// The window for a frame of `size` bytes: no larger than the size, nor than
// 2^max_log.
int WindowLogFor(uint64_t size, int max_log);

}  // namespace ttu::pack
