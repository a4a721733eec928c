#include "platform/memory.h"

namespace ttu::platform {

// Windows' heap gives a large block its own allocation from the system and
// releases it when it is freed.
void ReturnFreedMemory() {}

}  // namespace ttu::platform
