// Memory for the records a loaded database keeps by the ten thousand: its actions, their values
// and its operations. They come from large regions of memory, carved in steps of 16 bytes,
// rather than one heap block each: a load then touches a few large pages instead of tens of
// thousands of small ones, no block carries a heap header, and a record of a size freed earlier
// takes the freed block. Larger blocks, and every block in a sanitizer build (so that a use
// after free is still caught), go to the heap.
#pragma once

#include <cstddef>

#include "pgm/gfpdb/gfpdb_export.h"

class GFPDB_EXPORT GFPDB_RECORD_POOL {
public:
    // Never null: a region that cannot be had is std::bad_alloc, as for any new.
    static void* allocate(size_t size);
    // `size` as given to allocate. When the last block is back, the regions go back to the
    // system: a program that destroys its databases keeps no memory for them.
    static void release(void* block, size_t size);

    // Blocks given out and not released, and the bytes of the regions held.
    static size_t blocks_out();
    static size_t region_bytes();
    // False in a sanitizer build, where every block goes to the heap.
    static bool pooling();
};
