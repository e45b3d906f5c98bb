// OLE picture test helpers: COM and global-memory ownership, loading bytes into a picture, a
// canvas to render into, pixels as text, and the check that damaged data fails cleanly.
#pragma once

#include <gtest/gtest.h>
#include <ole2.h>
#include <olectl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gdi_helpers.h"
#include "handmade_bytes.h"
#include "kernel_handles.h"
#include "sides.h"
#include "windows.h"

namespace portrix_test {

using Pixels = std::vector<uint32_t>;  // 0xRRGGBB, row-major

struct Releaser {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, Releaser>;

inline constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF,
                          kGrey = 0x808080;

inline OwnedGlobal GlobalCopy(const Bytes& bytes) {
    OwnedGlobal block(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (!bytes.empty())
        std::memcpy(GlobalLockGuard(block.get()).data(), bytes.data(), bytes.size());
    return block;
}
inline UINT LockCount(HGLOBAL h) {
    return GlobalFlags(h) & GMEM_LOCKCOUNT;
}
inline bool IsLiveBlock(HGLOBAL h) {
    return GlobalFlags(h) != GMEM_INVALID_HANDLE;
}

inline ComPtr<IStream> StreamOn(HGLOBAL block, BOOL deleteOnRelease) {
    IStream* stream = nullptr;
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(block, deleteOnRelease, &stream));
    return ComPtr<IStream>(stream);
}

inline HRESULT LoadPicture(const Bytes& bytes, ComPtr<IPicture>* picture) {
    OwnedGlobal block = GlobalCopy(bytes);
    ComPtr<IStream> stream = StreamOn(block.get(), FALSE);
    void* object = reinterpret_cast<void*>(1);
    HRESULT hr =
        OleLoadPicture(stream.get(), static_cast<LONG>(bytes.size()), FALSE, IID_IPicture, &object);
    // Wine leaves the out pointer as it was on failure (a marked row of its own); no object then.
    if (FAILED(hr) && object == reinterpret_cast<void*>(1) && UnderWine()) object = nullptr;
    picture->reset(static_cast<IPicture*>(object));
    return hr;
}

inline SIZE Himetric(IPicture* picture) {
    SIZE hm{};
    picture->get_Width(&hm.cx);
    picture->get_Height(&hm.cy);
    return hm;
}

// A memory surface filled with one colour.
class Canvas : public Surface {
public:
    Canvas(int w, int h, uint32_t rgb) : Surface(w, h), w_(w), h_(h) {
        Fill(dc(), RECT{0, 0, w, h}, RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
    }
    uint32_t At(int x, int y) const { return PixelOf(GetPixel(dc(), x, y)); }
    Pixels All() const {
        Pixels out;
        for (int i = 0; i < w_ * h_; ++i) out.push_back(At(i % w_, i / w_));
        return out;
    }

private:
    int w_, h_;
};

// The call the picture control makes: the whole picture, upright, into (x, y, cx, cy).
inline HRESULT RenderUpright(IPicture* picture, HDC dc, int x, int y, int cx, int cy) {
    SIZE hm = Himetric(picture);
    return picture->Render(dc, x, y, cx, cy, 0, hm.cy, hm.cx, -hm.cy, nullptr);
}

// Loads the bytes and renders them 1:1 over a background; empty when anything fails.
inline Pixels LoadAndRender(const Bytes& bytes, int w, int h, uint32_t background = kGrey) {
    ComPtr<IPicture> picture;
    Canvas canvas(w, h, background);
    if (FAILED(LoadPicture(bytes, &picture)) ||
        FAILED(RenderUpright(picture.get(), canvas.dc(), 0, 0, w, h)))
        return {};
    return canvas.All();
}

inline std::string Hex(const Pixels& pixels) {
    std::string out;
    char buf[16];
    for (uint32_t p : pixels) out += (std::snprintf(buf, sizeof buf, "%06X ", p), buf);
    return out;
}

struct Sample {
    const char* format;
    Bytes data;
    size_t mustHave;                                // every shorter prefix must fail
    const char* prefixesDifferUnderWine = nullptr;  // why not, under Wine
    const char* damageDiffersUnderWine = nullptr;
};

// Every prefix shorter than mustHave fails; every byte overwritten in turn gives a picture that
// renders, or a failure and no object.
inline void ExpectDamageFailsCleanly(const std::vector<Sample>& samples) {
    Canvas canvas(8, 8, kGrey);
    for (const Sample& sample : samples) {
        ComPtr<IPicture> picture;
        ASSERT_EQ(S_OK, LoadPicture(sample.data, &picture)) << sample.format;
        const std::string format = sample.format;
        for (size_t length = 0; length < sample.mustHave; ++length) {
            if (length == 0 && sample.prefixesDifferUnderWine &&
                !NotUnderWine(format + " prefixes", sample.prefixesDifferUnderWine))
                break;
            HRESULT hr = LoadPicture(Bytes(sample.data.begin(), sample.data.begin() + long(length)),
                                     &picture);
            EXPECT_TRUE(FAILED(hr) && picture == nullptr)
                << sample.format << " cut to " << length << " bytes";
        }
        for (size_t i = 0; i < sample.data.size(); ++i) {
            if (i == 0 && sample.damageDiffersUnderWine &&
                !NotUnderWine(format + " damaged bytes", sample.damageDiffersUnderWine))
                break;
            for (uint8_t value : {0x00, 0x7F, 0xFF}) {
                Bytes bad = sample.data;
                bad[i] = value;
                HRESULT hr = LoadPicture(bad, &picture);
                EXPECT_EQ(SUCCEEDED(hr), picture != nullptr) << sample.format << " byte " << i;
                if (picture) {
                    EXPECT_EQ(S_OK, RenderUpright(picture.get(), canvas.dc(), 0, 0, 8, 8));
                }
            }
        }
    }
}

}  // namespace portrix_test
