#include "platform/memory.h"

#include <malloc.h>

void ReleaseFreeMemory() { _heapmin(); }
