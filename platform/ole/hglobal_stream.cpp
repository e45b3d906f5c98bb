// IStream over a global memory block. The block is locked only for the span of each read or
// write, so that between calls its lock count is what the caller left it at. Clones share the
// block (and its release) with the stream they came from.
#include <ole2.h>
#include <winbase.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "ole/com_object.h"
#include "ole/hglobal_stream.h"

namespace {

struct SharedBlock {
    HGLOBAL handle = nullptr;
    bool deleteOnRelease = false;
    ULONGLONG size = 0;  // the stream's logical size; the block may be larger
    std::mutex mutex;    // guards size, handle and the positions of every stream on the block

    ~SharedBlock() {
        if (deleteOnRelease && handle) GlobalFree(handle);
    }
};

// Grows the block so that it holds at least bytes; the stream's size is set by the caller.
bool EnsureCapacity(SharedBlock& block, ULONGLONG bytes) {
    if (bytes > static_cast<ULONGLONG>(SIZE_MAX)) return false;
    if (bytes <= GlobalSize(block.handle)) return true;
    HGLOBAL grown = GlobalReAlloc(block.handle, static_cast<SIZE_T>(bytes), GMEM_MOVEABLE);
    if (grown == nullptr) return false;
    block.handle = grown;
    return true;
}

class HGlobalStream final
    : public platform_ole::ComObject<IStream, IID_ISequentialStream, IID_IStream> {
public:
    HGlobalStream(std::shared_ptr<SharedBlock> block, ULONGLONG position)
        : block_(std::move(block)), position_(position) {}

    HGLOBAL Handle() const {
        std::lock_guard<std::mutex> lock(block_->mutex);
        return block_->handle;
    }

    // The bytes that Read would give for a request of limit bytes (0: all), to use where they
    // lie. The block is locked meanwhile, so it cannot move, but the stream's mutex is not held.
    // FALSE, without calling use, when the block cannot be locked.
    bool UseInPlace(ULONGLONG limit, const std::function<void(const uint8_t*, size_t)>& use) {
        HGLOBAL handle;
        ULONGLONG from, count;
        {
            std::lock_guard<std::mutex> lock(block_->mutex);
            handle = block_->handle;
            const ULONGLONG size = GlobalSize(handle);
            const ULONGLONG end = block_->size < size ? block_->size : size;
            from = position_;
            count = position_ < end ? end - position_ : 0;
            if (limit != 0 && limit < count) count = limit;
        }
        struct Locked {
            HGLOBAL handle;
            const BYTE* base;
            ~Locked() {
                if (base != nullptr) GlobalUnlock(handle);
            }
        } locked{handle, count > 0 ? static_cast<const BYTE*>(GlobalLock(handle)) : nullptr};
        if (count > 0 && locked.base == nullptr) return false;
        use(count > 0 ? locked.base + from : nullptr, static_cast<size_t>(count));
        std::lock_guard<std::mutex> lock(block_->mutex);
        position_ = from + count;
        return true;
    }

    // ISequentialStream
    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        if (pcbRead) *pcbRead = 0;
        if (pv == nullptr) return STG_E_INVALIDPOINTER;
        std::lock_guard<std::mutex> lock(block_->mutex);
        // The caller may have shrunk the block behind the stream's back: never read past it.
        ULONGLONG end =
            block_->size < GlobalSize(block_->handle) ? block_->size : GlobalSize(block_->handle);
        ULONGLONG available = position_ < end ? end - position_ : 0;
        ULONG count = static_cast<ULONG>(cb < available ? cb : available);
        if (count > 0) {
            auto* base = static_cast<const BYTE*>(GlobalLock(block_->handle));
            if (base == nullptr) return STG_E_READFAULT;
            std::memcpy(pv, base + position_, count);
            GlobalUnlock(block_->handle);
            position_ += count;
        }
        if (pcbRead) *pcbRead = count;
        return S_OK;
    }

    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override {
        if (pcbWritten) *pcbWritten = 0;
        if (pv == nullptr) return STG_E_INVALIDPOINTER;
        if (cb == 0) return S_OK;
        std::lock_guard<std::mutex> lock(block_->mutex);
        ULONGLONG end = position_ + cb;
        if (end > block_->size) {
            if (!EnsureCapacity(*block_, end)) return STG_E_MEDIUMFULL;
            block_->size = end;
        }
        auto* base = static_cast<BYTE*>(GlobalLock(block_->handle));
        if (base == nullptr) return STG_E_WRITEFAULT;
        std::memcpy(base + position_, pv, cb);
        GlobalUnlock(block_->handle);
        position_ = end;
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }

    // IStream
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
        std::lock_guard<std::mutex> lock(block_->mutex);
        LONGLONG base = 0;
        switch (origin) {
            case STREAM_SEEK_SET:
                base = 0;
                break;
            case STREAM_SEEK_CUR:
                base = static_cast<LONGLONG>(position_);
                break;
            case STREAM_SEEK_END:
                base = static_cast<LONGLONG>(block_->size);
                break;
            default:
                return STG_E_INVALIDFUNCTION;
        }
        // Before the start the stream stays where it is and says where that is, as the
        // original's does.
        LONGLONG target = 0;
        if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0) {
            if (newPosition) newPosition->QuadPart = position_;
            return STG_E_SEEKERROR;
        }
        position_ = static_cast<ULONGLONG>(target);  // past the end is allowed; reads give 0 bytes
        if (newPosition) newPosition->QuadPart = position_;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER newSize) override {
        std::lock_guard<std::mutex> lock(block_->mutex);
        if (!EnsureCapacity(*block_, newSize.QuadPart)) return STG_E_MEDIUMFULL;
        block_->size = newSize.QuadPart;
        return S_OK;
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                   ULARGE_INTEGER* pcbWritten) override {
        if (pcbRead) pcbRead->QuadPart = 0;
        if (pcbWritten) pcbWritten->QuadPart = 0;
        if (target == nullptr) return STG_E_INVALIDPOINTER;
        // Chunked through Read and Write, so that no lock is held across the target's Write
        // (the target may be a clone of this very stream).
        BYTE chunk[16 * 1024];
        ULONGLONG left = cb.QuadPart, read = 0, written = 0;
        HRESULT hr = S_OK;
        while (left > 0) {
            ULONG want = static_cast<ULONG>(left < sizeof(chunk) ? left : sizeof(chunk));
            ULONG got = 0;
            hr = Read(chunk, want, &got);
            if (FAILED(hr) || got == 0) break;
            read += got;
            ULONG put = 0;
            hr = target->Write(chunk, got, &put);
            written += put;
            if (FAILED(hr) || put < got) break;
            left -= got;
        }
        if (pcbRead) pcbRead->QuadPart = read;
        if (pcbWritten) pcbWritten->QuadPart = written;
        return FAILED(hr) ? hr : S_OK;
    }

    HRESULT Commit(DWORD) override { return S_OK; }  // memory streams are never transacted
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        std::memset(stat, 0, sizeof(*stat));
        stat->type = STGTY_STREAM;
        std::lock_guard<std::mutex> lock(block_->mutex);
        stat->cbSize.QuadPart = block_->size;
        stat->grfMode = STGM_READWRITE;
        return S_OK;
    }

    HRESULT Clone(IStream** clone) override {
        if (clone == nullptr) return STG_E_INVALIDPOINTER;
        ULONGLONG position;
        {
            std::lock_guard<std::mutex> lock(block_->mutex);
            position = position_;
        }
        *clone = new (std::nothrow) HGlobalStream(block_, position);
        return *clone ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~HGlobalStream() override = default;

    std::shared_ptr<SharedBlock> block_;
    ULONGLONG position_;
};

}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, LPSTREAM* ppstm) {
    if (ppstm == nullptr) return E_INVALIDARG;
    *ppstm = nullptr;
    HGLOBAL ownBlock = nullptr;  // allocated here: freed here again if the stream is not made
    if (hGlobal == nullptr) {
        hGlobal = ownBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_NODISCARD, 0);
        if (hGlobal == nullptr) return E_OUTOFMEMORY;
    } else if (GlobalFlags(hGlobal) == GMEM_INVALID_HANDLE) {
        return E_INVALIDARG;
    }
    try {
        auto block = std::make_shared<SharedBlock>();
        block->handle = hGlobal;
        block->size = GlobalSize(hGlobal);
        block->deleteOnRelease = fDeleteOnRelease != FALSE;
        *ppstm = new HGlobalStream(std::move(block), 0);
        return S_OK;
    } catch (const std::bad_alloc&) {
        if (ownBlock) GlobalFree(ownBlock);
        return E_OUTOFMEMORY;
    }
}

bool platform_ole::UseStreamBytesInPlace(IStream* stream, ULONGLONG limit,
                                         const std::function<void(const uint8_t*, size_t)>& use) {
    auto* own = dynamic_cast<HGlobalStream*>(stream);
    return own != nullptr && own->UseInPlace(limit, use);
}

HRESULT GetHGlobalFromStream(LPSTREAM pstm, HGLOBAL* phglobal) {
    if (phglobal == nullptr) return E_INVALIDARG;
    *phglobal = nullptr;
    auto* stream = dynamic_cast<HGlobalStream*>(pstm);
    if (stream == nullptr) return E_INVALIDARG;
    *phglobal = stream->Handle();
    return S_OK;
}
