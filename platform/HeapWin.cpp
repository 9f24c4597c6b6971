#include "platform/Heap.h"

namespace platform {

// The Windows heap hands blocks this large to VirtualAlloc and frees them at once.
void ReturnLargeBlocks() {}

} // namespace platform
