#include "platform/Heap.h"

#include <malloc.h>

namespace platform {

void ReturnLargeBlocks()
{
#if defined(M_MMAP_THRESHOLD) && defined(M_TRIM_THRESHOLD)
    // Setting it also turns off glibc's raising of it, and of the trim threshold with it: left
    // at 128 KiB, that would hand each file's read buffer back to the system and fault it in
    // again for the next file.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
#endif
}

} // namespace platform
