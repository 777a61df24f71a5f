#include "memory_trim.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstddef>

namespace nodrel::platform {

namespace {

// Less than a page freed holds nothing malloc_trim could give back.
constexpr size_t kPageBytes = 4096;

}  // namespace

void TrimMemory() {
    // malloc_trim advises away every free page at each call, those it gave back before included.
    // Pages freed since the last trim show as a rise of the heap's free total over its lowest
    // point since then; without one there is nothing new to give back, and no system call.
    static std::atomic<size_t> lowestFree = 0;
    const size_t freeBytes = mallinfo2().fordblks;
    if (freeBytes < lowestFree.load(std::memory_order_relaxed) + kPageBytes) {
        lowestFree.store(std::min(freeBytes, lowestFree.load(std::memory_order_relaxed)),
                         std::memory_order_relaxed);
        return;
    }
    malloc_trim(0);
    lowestFree.store(mallinfo2().fordblks, std::memory_order_relaxed);
}

}  // namespace nodrel::platform
