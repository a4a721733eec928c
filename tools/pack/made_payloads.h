// Payloads made before the package is written (compressed ones, deltas): each
// lives in an unnamed temporary file beside the output until the output is
// written, and is made on as many threads as there are processors.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/posix/fd.h"

namespace ttu::pack {

// The temporary files: they go with this (or with the process, however it ends).
struct MadePayloads {
  std::vector<platform::Fd> files;
  // Keeps `fd` and returns a path by which the packer opens it.
  std::string Keep(platform::Fd fd);
};

// An unnamed file in `dir`, gone when its last descriptor is closed.
platform::Fd UnnamedFile(const std::string& dir);

// Runs job(0) … job(count - 1) over all processors; the first failure stops
// the jobs not yet started and is raised again here.
void RunJobs(std::size_t count, const std::function<void(std::size_t)>& job);

// The folder that the output is written in: where its temporaries go.
std::string OutputFolder(const std::string& output);

}  // namespace ttu::pack
