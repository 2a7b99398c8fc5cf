#pragma once

// Hands memory that the allocator holds free back to the system. Freed blocks
// otherwise stay resident in the heaps of the threads that made them. Walks
// every heap, so it is for after a large release, not for every request.
void ReleaseFreeMemory();
