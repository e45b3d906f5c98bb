// The C allocator's entry points, defined in the executable so that every library of the process
// calls them, forwarding to glibc's own and counting the usable size of each block.
#include "heap_meter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace {

std::atomic<size_t> current{0};
std::atomic<size_t> peak{0};

void Count(void* block) {
    if (block == nullptr) return;
    const size_t now = current.fetch_add(malloc_usable_size(block), std::memory_order_relaxed) +
                       malloc_usable_size(block);
    size_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
}

void Uncount(void* block) {
    if (block != nullptr) current.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
}

void* Counted(void* block) {
    Count(block);
    return block;
}

}  // namespace

namespace heap_meter {

size_t Current() {
    return current.load(std::memory_order_relaxed);
}
size_t Peak() {
    return peak.load(std::memory_order_relaxed);
}
void ResetPeak() {
    peak.store(Current(), std::memory_order_relaxed);
}

}  // namespace heap_meter

extern "C" {

void* malloc(size_t size) {
    return Counted(__libc_malloc(size));
}
void* calloc(size_t count, size_t size) {
    return Counted(__libc_calloc(count, size));
}
void free(void* block) {
    Uncount(block);
    __libc_free(block);
}
void* realloc(void* block, size_t size) {
    const size_t before = block ? malloc_usable_size(block) : 0;
    void* moved = __libc_realloc(block, size);
    if (moved == nullptr && size != 0) return nullptr;  // failed: the block stays as it was
    current.fetch_sub(before, std::memory_order_relaxed);
    Count(moved);
    return moved;
}
void* memalign(size_t alignment, size_t size) {
    return Counted(__libc_memalign(alignment, size));
}
void* aligned_alloc(size_t alignment, size_t size) {
    return memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    void* block = memalign(alignment, size);
    if (block == nullptr) return ENOMEM;
    *out = block;
    return 0;
}
void* valloc(size_t size) {
    return memalign(4096, size);
}
void* pvalloc(size_t size) {
    return memalign(4096, (size + 4095) & ~static_cast<size_t>(4095));
}

}  // extern "C"
