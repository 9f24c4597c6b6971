#pragma once

namespace platform {

// Blocks of a megabyte and more go back to the system as soon as they are freed. With glibc's
// default, the first such block freed raises the threshold past its size, and from then on
// every novel-sized buffer is carved from the heap of whichever thread asked, where freed
// space stays resident: a run of novels held two to three times its working memory.
// Called once, before the threads that allocate start; does nothing where the system's heap
// already works so (Windows).
void ReturnLargeBlocks();

} // namespace platform
