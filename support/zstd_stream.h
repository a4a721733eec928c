// Reading one zstd frame out of a byte range of a source, a piece at a time:
// what compressed and delta payloads are made of.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "support/byte_source.h"

namespace ttu::zstream {

class FrameReader {
 public:
  // The frame in `size` bytes of `source` from `offset` on; frames that ask
  // for a window past 2^`max_window_log` bytes are refused.
  FrameReader(const ByteSource& source, uint64_t offset, uint64_t size, int max_window_log);
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  // Fills `out` with up to `n` bytes of the frame's content; fewer only where
  // the frame ends. Raises payload::DecodeError for a damaged frame, one cut
  // short, or bytes after it.
  std::size_t Read(uint8_t* out, std::size_t n);
  // Raises payload::DecodeError unless the frame ends here, with nothing after it.
  void ExpectEnd();

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace ttu::zstream
