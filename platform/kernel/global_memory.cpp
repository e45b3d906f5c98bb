// Global memory blocks.
//
// A fixed block's handle is its address, as on the original platform; a movable block gets a
// handle of its own, and its address is handed out by GlobalLock, which counts. Every block,
// fixed or movable, is recorded in one table, so a stale or foreign handle is recognised and
// refused rather than freed: a double GlobalFree fails instead of corrupting the heap.
// The layer never moves a block that is locked.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "kernel/kernel_objects.h"
#include "windows.h"

namespace {

// Blocks are limited to what a DWORD counts, the widest size the product (and the 32-bit
// original) ever asks for; anything larger fails cleanly instead of reaching the allocator.
constexpr SIZE_T kMaxBlockSize = 0xFFFFFFFFu;

constexpr DWORD kMaxLockCount = GMEM_LOCKCOUNT;

struct Block {
    void* data = nullptr;  // null for a discarded (zero-length movable) block
    SIZE_T size = 0;
    SIZE_T capacity = 0;
    UINT flags = 0;
    DWORD lockCount = 0;
    bool movable = false;
};

struct GlobalHeap {
    std::mutex lock;
    std::unordered_map<uintptr_t, Block> blocks;  // by handle
    // data -> handle of movable blocks; a fixed block's handle is its data, found in blocks.
    std::unordered_map<const void*, uintptr_t> byAddress;
};

GlobalHeap& Heap() {
    static GlobalHeap* heap = new GlobalHeap;  // never destroyed: blocks may outlive statics
    return *heap;
}

void* AllocateBytes(SIZE_T bytes, bool zero) {
    // malloc(0) may give null; a fixed zero-length block still needs a unique address.
    const SIZE_T n = bytes == 0 ? 1 : bytes;
    return zero ? std::calloc(n, 1) : std::malloc(n);
}

// The block behind a handle; null, with ERROR_INVALID_HANDLE as the last error, for a handle
// that names none.
Block* FindLocked(HGLOBAL mem) {
    auto& blocks = Heap().blocks;
    auto it = blocks.find(reinterpret_cast<uintptr_t>(mem));
    if (it == blocks.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &it->second;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (bytes > kMaxBlockSize) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    Block block;
    block.flags = flags;
    block.movable = (flags & GMEM_MOVEABLE) != 0;
    block.size = bytes;
    // A zero-length movable block is allocated already discarded: it has a handle but no
    // memory, and GlobalLock gives null until GlobalReAlloc gives it some.
    if (!(block.movable && bytes == 0)) {
        block.data = AllocateBytes(bytes, (flags & GMEM_ZEROINIT) != 0);
        if (block.data == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        block.capacity = bytes;
    }
    const uintptr_t handle = block.movable ? platform::kernel::NextHandleValue()
                                           : reinterpret_cast<uintptr_t>(block.data);
    std::lock_guard<std::mutex> guard(Heap().lock);
    if (block.movable && block.data) Heap().byAddress.emplace(block.data, handle);
    Heap().blocks.emplace(handle, block);
    return reinterpret_cast<HGLOBAL>(handle);
}

LPVOID GlobalLock(HGLOBAL mem) {
    std::lock_guard<std::mutex> guard(Heap().lock);
    Block* block = FindLocked(mem);
    if (!block) return nullptr;
    if (!block->movable) return block->data;  // fixed blocks keep no lock count
    if (!block->data) {
        SetLastError(ERROR_DISCARDED);
        return nullptr;
    }
    if (block->lockCount < kMaxLockCount) ++block->lockCount;
    return block->data;
}

BOOL GlobalUnlock(HGLOBAL mem) {
    std::lock_guard<std::mutex> guard(Heap().lock);
    Block* block = FindLocked(mem);
    if (!block) return FALSE;
    if (!block->movable) return TRUE;  // a fixed block has no lock count to decrement
    if (block->lockCount == 0) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    if (--block->lockCount > 0) return TRUE;
    SetLastError(NO_ERROR);
    return FALSE;
}

HGLOBAL GlobalFree(HGLOBAL mem) {
    if (mem == nullptr) return nullptr;
    void* data = nullptr;
    {
        std::lock_guard<std::mutex> guard(Heap().lock);
        auto& blocks = Heap().blocks;
        auto it = blocks.find(reinterpret_cast<uintptr_t>(mem));
        if (it == blocks.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return mem;
        }
        data = it->second.data;
        if (it->second.movable && data) Heap().byAddress.erase(data);
        blocks.erase(it);
    }
    std::free(data);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL mem) {
    std::lock_guard<std::mutex> guard(Heap().lock);
    Block* block = FindLocked(mem);
    if (!block) return 0;
    if (!block->data) return 0;
    // Zero means a bad or discarded handle, so a live fixed block of no bytes reports one, as
    // the original's heap does.
    return block->size == 0 && !block->movable ? 1 : block->size;
}

UINT GlobalFlags(HGLOBAL mem) {
    std::lock_guard<std::mutex> guard(Heap().lock);
    Block* block = FindLocked(mem);
    if (!block) return GMEM_INVALID_HANDLE;
    UINT flags = block->lockCount & GMEM_LOCKCOUNT;
    if (block->movable && !block->data) flags |= GMEM_DISCARDED;
    if (block->flags & GMEM_DISCARDABLE) flags |= GMEM_DISCARDABLE;
    return flags;
}

HGLOBAL GlobalHandle(LPCVOID mem) {
    std::lock_guard<std::mutex> guard(Heap().lock);
    auto fixed = Heap().blocks.find(reinterpret_cast<uintptr_t>(mem));
    if (fixed != Heap().blocks.end() && !fixed->second.movable) return const_cast<LPVOID>(mem);
    auto& byAddress = Heap().byAddress;
    auto it = byAddress.find(mem);
    if (it == byAddress.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return reinterpret_cast<HGLOBAL>(it->second);
}

HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags) {
    if (bytes > kMaxBlockSize) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(Heap().lock);
    Block* block = FindLocked(mem);
    if (!block) return nullptr;
    if (flags & GMEM_MODIFY) {
        block->flags = (block->flags & ~GMEM_DISCARDABLE) | (flags & GMEM_DISCARDABLE);
        return mem;
    }
    // Shrinking, or growing within what was allocated, keeps the block where it is.
    if (block->data && bytes <= block->capacity && !(block->movable && bytes == 0)) {
        if ((flags & GMEM_ZEROINIT) && bytes > block->size)
            std::memset(static_cast<char*>(block->data) + block->size, 0, bytes - block->size);
        block->size = bytes;
        return mem;
    }
    // Anything else moves the data. A fixed block moves only when the caller allows it (its
    // handle changes); a locked movable one never does, since its address is in use.
    const bool mayMove = block->movable ? block->lockCount == 0 : (flags & GMEM_MOVEABLE) != 0;
    if (!mayMove) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (block->movable && bytes == 0) {  // discard
        Heap().byAddress.erase(block->data);
        std::free(block->data);
        block->data = nullptr;
        block->size = block->capacity = 0;
        return mem;
    }
    void* data = AllocateBytes(bytes, false);
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    const SIZE_T kept = block->data ? std::min(block->size, bytes) : 0;
    if (kept) std::memcpy(data, block->data, kept);
    if ((flags & GMEM_ZEROINIT) && bytes > kept)
        std::memset(static_cast<char*>(data) + kept, 0, bytes - kept);
    if (block->movable && block->data) Heap().byAddress.erase(block->data);
    std::free(block->data);
    block->data = data;
    block->size = block->capacity = bytes;
    if (block->movable) {
        Heap().byAddress.emplace(data, reinterpret_cast<uintptr_t>(mem));
        return mem;
    }
    // A fixed block is known by its address: re-key it.
    Block moved = *block;
    Heap().blocks.erase(reinterpret_cast<uintptr_t>(mem));
    Heap().blocks.emplace(reinterpret_cast<uintptr_t>(data), moved);
    return reinterpret_cast<HGLOBAL>(data);
}
