#include "tools/pack/zstd_encoder.h"

#include <new>

#include "tools/pack/packer.h"

namespace ttu::pack {

std::size_t CheckZstd(std::size_t result, const std::string& what) {
  if (ZSTD_isError(result)) throw PackError(what + ": error: zstd: " + ZSTD_getErrorName(result));
  return result;
}

ZstdEncoder MakeEncoder(const FrameSettings& s, const std::string& what) {
  ZstdEncoder c(ZSTD_createCCtx());
  if (!c) throw std::bad_alloc();
  CheckZstd(ZSTD_CCtx_setParameter(c.get(), ZSTD_c_compressionLevel, s.level), what);
  CheckZstd(ZSTD_CCtx_setParameter(c.get(), ZSTD_c_checksumFlag, 0), what);
  if (s.long_distance) CheckZstd(ZSTD_CCtx_setParameter(c.get(), ZSTD_c_enableLongDistanceMatching, 1), what);
  if (s.window_log) CheckZstd(ZSTD_CCtx_setParameter(c.get(), ZSTD_c_windowLog, s.window_log), what);
  CheckZstd(ZSTD_CCtx_setPledgedSrcSize(c.get(), s.size), what);
  return c;
}

int WindowLogFor(uint64_t size, int max_log) {
  int log = 10;
  while (log < max_log && (uint64_t{1} << log) < size) ++log;
  return log;
}

}  // namespace ttu::pack
