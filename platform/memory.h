// The process's memory.
#pragma once

namespace ttu::platform {

// Called at start-up: memory a run frees in large blocks (a press's decoders
// take windows of several MiB, one file after another) goes back to the
// system at once, so that the process holds what it uses and not what it used.
void ReturnFreedMemory();

}  // namespace ttu::platform
