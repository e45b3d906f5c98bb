// The IUnknown half shared by the family's COM objects. Private to the OLE family.
#pragma once

#include <ole2.h>

#include <atomic>

namespace platform_ole {

// Implements Interface's IUnknown methods: a reference count that any thread may change, born at
// one and deleting the object at zero, and a QueryInterface that hands out Interface for
// IID_IUnknown and for each of the given interface ids (Interface and its bases).
template <class Interface, const IID&... Implemented>
class ComObject : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || ((riid == Implemented) || ...)) {
            AddRef();
            *ppv = static_cast<Interface*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG Release() override {
        ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject() = default;
    // Objects die through Release only.
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace platform_ole
