// IPicture over a picture source. The source's image is decoded when the picture is first
// drawn or its bitmap asked for, on that caller's thread, and never changes after that, so any
// number of threads may render one picture at once; only the reference count, the decode and
// the GDI bitmap that get_Handle makes once are shared state. Pictures of the same bytes share
// the source and so its decoded image (ole/decoded_cache.h); the GDI bitmap is each picture's
// own copy, so what is drawn into it stays with that picture.
#include "ole/picture.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <vector>

#include "internal/window_surface.h"
#include "ole/com_object.h"
#include "wingdi.h"

namespace platform_ole {

namespace {

constexpr int kPixelsPerInch = 96;
constexpr int kHimetricPerInch = 2540;

// dst = src * a + dst * (1 - a) per channel, rounded; a = 0 leaves dst as it is.
uint32_t Blend(uint32_t src, uint32_t dst) {
    uint32_t a = src >> 24;
    if (a == 0xFF) return src & 0x00FFFFFF;
    if (a == 0) return dst;
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        uint32_t s = (src >> shift) & 0xFF;
        uint32_t d = (dst >> shift) & 0xFF;
        out |= ((s * a + d * (255 - a) + 127) / 255) << shift;
    }
    return out;
}

// The half-open range [lo, hi) covered by a start and a signed extent.
void SpanOf(LONGLONG start, LONGLONG extent, LONGLONG* lo, LONGLONG* hi) {
    *lo = extent < 0 ? start + extent : start;
    *hi = extent < 0 ? start : start + extent;
}

class Picture final : public ComObject<IPicture, IID_IPicture> {
public:
    explicit Picture(std::shared_ptr<PictureSource> source)
        : source_(std::move(source)),
          hmWidth_(PixelsToHimetric(source_->Width())),
          hmHeight_(PixelsToHimetric(source_->Height())) {}

    // IPicture
    // The picture's bitmap, made on the first request; the picture owns it, as on the original.
    HRESULT get_Handle(OLE_HANDLE* handle) override {
        if (handle == nullptr) return E_POINTER;
        std::call_once(bitmapMade_, [this] {
            if (const DecodedImage* image = source_->Image()) bitmap_ = MakeBitmap(*image);
        });
        *handle = static_cast<OLE_HANDLE>(reinterpret_cast<uintptr_t>(bitmap_));
        return bitmap_ ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT get_hPal(OLE_HANDLE* palette) override { return NotImplemented(palette); }
    HRESULT get_Type(SHORT* type) override {
        if (type == nullptr) return E_POINTER;
        *type = PICTYPE_BITMAP;
        return S_OK;
    }
    HRESULT get_Width(OLE_XSIZE_HIMETRIC* width) override {
        if (width == nullptr) return E_POINTER;
        *width = hmWidth_;
        return S_OK;
    }
    HRESULT get_Height(OLE_YSIZE_HIMETRIC* height) override {
        if (height == nullptr) return E_POINTER;
        *height = hmHeight_;
        return S_OK;
    }
    HRESULT Render(HDC hdc, LONG x, LONG y, LONG cx, LONG cy, OLE_XPOS_HIMETRIC xSrc,
                   OLE_YPOS_HIMETRIC ySrc, OLE_XSIZE_HIMETRIC cxSrc, OLE_YSIZE_HIMETRIC cySrc,
                   LPCRECT) override {
        if (hdc == nullptr) return E_INVALIDARG;
        if (cx == 0 || cy == 0 || cxSrc == 0 || cySrc == 0) return CTL_E_INVALIDPROPERTYVALUE;
        const DecodedImage* image = source_->Image();
        if (image == nullptr) return E_FAIL;
        Placement where{x, y, cx, cy, xSrc, ySrc, cxSrc, cySrc};
        bool drawn = platform::internal::WithDCPixels(
            hdc, [&](const platform::internal::PixelView& view) { Draw(*image, view, where); });
        return drawn ? S_OK : E_FAIL;
    }
    HRESULT set_hPal(OLE_HANDLE) override { return E_NOTIMPL; }
    HRESULT get_CurDC(HDC* dc) override { return NotImplemented(dc); }
    HRESULT SelectPicture(HDC, HDC* dcOut, OLE_HANDLE* bitmapOut) override {
        if (dcOut) *dcOut = nullptr;
        if (bitmapOut) *bitmapOut = 0;
        return E_NOTIMPL;
    }
    HRESULT get_KeepOriginalFormat(BOOL* keep) override { return NotImplemented(keep); }
    HRESULT put_KeepOriginalFormat(BOOL) override { return E_NOTIMPL; }
    HRESULT PictureChanged() override { return E_NOTIMPL; }
    HRESULT SaveAsFile(LPSTREAM, BOOL, LONG* size) override { return NotImplemented(size); }
    HRESULT get_Attributes(DWORD* attributes) override {
        if (attributes == nullptr) return E_POINTER;
        *attributes = 0;
        const DecodedImage* image = source_->Image();
        if (image == nullptr) return E_FAIL;
        *attributes = image->transparent ? PICTURE_TRANSPARENT : 0;
        return S_OK;
    }

private:
    struct Placement {
        LONGLONG x, y, cx, cy;          // destination, DC units; negative extents mirror
        LONG xSrc, ySrc, cxSrc, cySrc;  // source, HIMETRIC, y measured upwards from the bottom
    };

    ~Picture() override {
        if (bitmap_) DeleteObject(bitmap_);
    }

    static HBITMAP MakeBitmap(const DecodedImage& image) {
        const size_t width = static_cast<size_t>(image.width);
        std::vector<uint32_t> bits;
        try {
            bits.resize(width * static_cast<size_t>(image.height));
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        for (int y = 0; y < image.height; ++y) image.CopyRow(y, bits.data() + y * width);
        for (uint32_t& pixel : bits) pixel &= 0x00FFFFFFu;  // a bitmap has no alpha
        return CreateBitmap(image.width, image.height, 1, 32, bits.data());
    }

    template <typename T>
    static HRESULT NotImplemented(T* out) {
        if (out) *out = T();
        return E_NOTIMPL;
    }

    // Nearest neighbour: each destination pixel takes the picture pixel under its centre.
    // Destination pixels whose centre maps outside the picture are left alone.
    void Draw(const DecodedImage& image, const platform::internal::PixelView& view,
              const Placement& p) const {
        LONGLONG left, right, top, bottom;
        SpanOf(p.x, p.cx, &left, &right);
        SpanOf(p.y, p.cy, &top, &bottom);
        // Clip in DC coordinates, so that only visible pixels are ever mapped.
        left = std::max<LONGLONG>(left, view.clip.left - view.origin.x);
        right = std::min<LONGLONG>(right, view.clip.right - view.origin.x);
        top = std::max<LONGLONG>(top, view.clip.top - view.origin.y);
        bottom = std::min<LONGLONG>(bottom, view.clip.bottom - view.origin.y);
        if (left >= right || top >= bottom) return;

        std::vector<int> columns(static_cast<size_t>(right - left));
        for (LONGLONG dx = left; dx < right; ++dx) {
            double hm = p.xSrc +
                        (static_cast<double>(dx - p.x) + 0.5) / static_cast<double>(p.cx) * p.cxSrc;
            columns[static_cast<size_t>(dx - left)] = ToPixel(hm, image.width, hmWidth_);
        }
        for (LONGLONG dy = top; dy < bottom; ++dy) {
            double hmUp = p.ySrc + (static_cast<double>(dy - p.y) + 0.5) /
                                       static_cast<double>(p.cy) * p.cySrc;
            int row = ToPixel(hmHeight_ - hmUp, image.height, hmHeight_);
            if (row < 0) continue;
            uint32_t* dst = view.bits + static_cast<size_t>(dy + view.origin.y) * view.stride +
                            (left + view.origin.x);
            if (image.Indexed()) {
                PaintIndexedRow(columns, image.IndexRow(row), image.palette->argb, dst);
            } else {
                BlendRow(columns, image.Row(row), dst);
            }
        }
    }

    // Blends picture pixel src[columns[i]] over dst[i] wherever the column is in the picture.
    static void BlendRow(const std::vector<int>& columns, const uint32_t* src, uint32_t* dst) {
        for (size_t i = 0; i < columns.size(); ++i) {
            if (columns[i] >= 0) dst[i] = Blend(src[columns[i]], dst[i]);
        }
    }

    // The same for an indexed row, whose colours are opaque or fully transparent: Blend
    // reduces to copying the opaque ones.
    static void PaintIndexedRow(const std::vector<int>& columns, const uint8_t* src,
                                const uint32_t* colours, uint32_t* dst) {
        for (size_t i = 0; i < columns.size(); ++i) {
            if (columns[i] < 0) continue;
            const uint32_t colour = colours[src[columns[i]]];
            if ((colour >> 24) != 0) dst[i] = colour & 0x00FFFFFF;
        }
    }

    // The pixel index under a HIMETRIC coordinate measured from the picture's left or top,
    // or -1 outside the picture.
    static int ToPixel(double himetric, int pixels, LONG himetricExtent) {
        double index = std::floor(himetric * pixels / himetricExtent);
        return index >= 0 && index < pixels ? static_cast<int>(index) : -1;
    }

    // Shared with every picture loaded from the same bytes.
    const std::shared_ptr<PictureSource> source_;
    const LONG hmWidth_;
    const LONG hmHeight_;
    std::once_flag bitmapMade_;
    HBITMAP bitmap_ = nullptr;
};

}  // namespace

LONG PixelsToHimetric(int pixels) {
    // MulDiv(pixels, 2540, 96): rounded to nearest, for the non-negative sizes of a picture.
    return static_cast<LONG>(
        (static_cast<LONGLONG>(pixels) * kHimetricPerInch + kPixelsPerInch / 2) / kPixelsPerInch);
}

IPicture* CreatePicture(std::shared_ptr<PictureSource> source) {
    return new (std::nothrow) Picture(std::move(source));
}

}  // namespace platform_ole
