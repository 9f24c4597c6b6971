#include "platform/Heap.h"

#include <malloc.h>

namespace platform {

void ReturnLargeBlocks()
{
#ifdef M_MMAP_THRESHOLD
    // Setting it also turns off glibc's raising of it.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

} // namespace platform
