#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#if defined(__linux__)
#include <unistd.h>
#endif

namespace {

#if defined(__linux__) && defined(__GLIBC__)
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool SanitizerHeap = true;
#else
constexpr bool SanitizerHeap = false;
#endif

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
#endif

// Blocks the size of a board page, every sixteenth kept, the last one too:
// the heap has no free top to shrink, as after the page cache has dropped its
// oldest pages; the free room lies between live blocks.
TEST(ReleaseFreeMemory, ReturnsRoomBetweenLiveBlocks) {
#if defined(__linux__) && defined(__GLIBC__)
    if (SanitizerHeap) GTEST_SKIP() << "the sanitizer's allocator keeps heaps of its own";
    constexpr std::size_t Block = 8000, Count = 8192;  // about 62 MiB
    std::vector<char*> blocks(Count);
    for (std::size_t i = 0; i < Count; ++i) {
        blocks[i] = static_cast<char*>(std::malloc(Block));
        ASSERT_NE(blocks[i], nullptr);
        std::memset(blocks[i], static_cast<int>(i), Block);
    }
    for (std::size_t i = 0; i < Count; ++i) {
        if (i % 16 == 15) continue;
        std::free(blocks[i]);
        blocks[i] = nullptr;
    }
    const long before = ResidentKiB();
    ReleaseFreeMemory();
    const long after = ResidentKiB();
    int damaged = 0;
    for (std::size_t i = 0; i < Count; ++i) {
        if (!blocks[i]) continue;
        const auto byte = static_cast<unsigned char>(i);
        if (static_cast<unsigned char>(blocks[i][0]) != byte ||
            static_cast<unsigned char>(blocks[i][Block - 1]) != byte)
            ++damaged;
        std::free(blocks[i]);
    }
    EXPECT_GT(before - after, 32 * 1024) << before << " KiB resident before, " << after << " after";
    EXPECT_EQ(damaged, 0);  // the live blocks keep their bytes
#else
    GTEST_SKIP() << "resident size is read from /proc here";
#endif
}

}  // namespace
