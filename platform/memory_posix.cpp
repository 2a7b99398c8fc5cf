#include "platform/memory.h"

#include <cstdlib>  // tells which C library this is

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
    // Also returns whole free pages inside every arena, not only its top.
    malloc_trim(0);
#endif
}
