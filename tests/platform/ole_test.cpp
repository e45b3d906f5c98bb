// OLE picture loading: streams over global memory, OleLoadPicture for GIF, PNG, JPEG and BMP,
// and IPicture::Render into memory DCs. Inputs are built in code with each format's encoder.
// ctest-labels: threaded
#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <cstdio>  // jpeglib.h needs FILE first
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kernel_handles.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Pixels = std::vector<uint32_t>;  // 0xRRGGBB, row-major
using portrix_test::GlobalLockGuard;
using portrix_test::OwnedGlobal;

struct Releaser {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, Releaser>;

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF,
                   kGrey = 0x808080;

OwnedGlobal GlobalCopy(const Bytes& bytes) {
    OwnedGlobal block(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (!bytes.empty()) std::memcpy(GlobalLockGuard(block.get()).data(), bytes.data(), bytes.size());
    return block;
}
UINT LockCount(HGLOBAL h) { return GlobalFlags(h) & GMEM_LOCKCOUNT; }
bool IsLiveBlock(HGLOBAL h) { return GlobalFlags(h) != GMEM_INVALID_HANDLE; }

ComPtr<IStream> StreamOn(HGLOBAL block, BOOL deleteOnRelease) {
    IStream* stream = nullptr;
    EXPECT_EQ(S_OK, CreateStreamOnHGlobal(block, deleteOnRelease, &stream));
    return ComPtr<IStream>(stream);
}

HRESULT LoadPicture(const Bytes& bytes, ComPtr<IPicture>* picture) {
    OwnedGlobal block = GlobalCopy(bytes);
    ComPtr<IStream> stream = StreamOn(block.get(), FALSE);
    void* object = reinterpret_cast<void*>(1);
    HRESULT hr = OleLoadPicture(stream.get(), static_cast<LONG>(bytes.size()), FALSE, IID_IPicture, &object);
    picture->reset(static_cast<IPicture*>(object));
    return hr;
}

SIZE Himetric(IPicture* picture) {
    SIZE hm{};
    picture->get_Width(&hm.cx);
    picture->get_Height(&hm.cy);
    return hm;
}

// A memory DC over a 32-bit bitmap filled with one colour.
class Canvas {
public:
    Canvas(int w, int h, uint32_t rgb)
        : w_(w), h_(h), dc_(CreateCompatibleDC(nullptr)), bitmap_(CreateCompatibleBitmap(dc_, w, h)),
          old_(SelectObject(dc_, bitmap_)) {
        HBRUSH brush = CreateSolidBrush(RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
        RECT all{0, 0, w, h};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const { return dc_; }
    uint32_t At(int x, int y) const {
        COLORREF c = GetPixel(dc_, x, y);
        return static_cast<uint32_t>(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c));
    }
    Pixels All() const {
        Pixels out;
        for (int i = 0; i < w_ * h_; ++i) out.push_back(At(i % w_, i / w_));
        return out;
    }

private:
    int w_, h_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

// The call the picture control makes: the whole picture, upright, into (x, y, cx, cy).
HRESULT RenderUpright(IPicture* picture, HDC dc, int x, int y, int cx, int cy) {
    SIZE hm = Himetric(picture);
    return picture->Render(dc, x, y, cx, cy, 0, hm.cy, hm.cx, -hm.cy, nullptr);
}

// Loads the bytes and renders them 1:1 over a background; empty when anything fails.
Pixels LoadAndRender(const Bytes& bytes, int w, int h, uint32_t background = kGrey) {
    ComPtr<IPicture> picture;
    Canvas canvas(w, h, background);
    if (FAILED(LoadPicture(bytes, &picture)) || FAILED(RenderUpright(picture.get(), canvas.dc(), 0, 0, w, h)))
        return {};
    return canvas.All();
}

std::string Hex(const Pixels& pixels) {
    std::string out;
    char buf[16];
    for (uint32_t p : pixels) out += (std::snprintf(buf, sizeof buf, "%06X ", p), buf);
    return out;
}

// ---- Encoders -------------------------------------------------------------------------------

struct Rgb {
    uint8_t r, g, b;
};

struct GifSpec {
    int screenWidth, screenHeight;
    std::vector<Rgb> globalColors;  // empty: none
    int left, top, width, height;
    std::vector<Rgb> localColors;  // empty: none
    bool interlaced;
    int transparentIndex;  // -1: no graphic control extension
    Bytes indices;         // raster order
};

ColorMapObject* ColorMap(const std::vector<Rgb>& colors) {
    if (colors.empty()) return nullptr;
    int count = 2;
    while (count < static_cast<int>(colors.size())) count *= 2;
    std::vector<GifColorType> table(static_cast<size_t>(count), GifColorType{0, 0, 0});
    for (size_t i = 0; i < colors.size(); ++i) table[i] = {colors[i].r, colors[i].g, colors[i].b};
    return GifMakeMapObject(count, table.data());
}

Bytes EncodeGif(const GifSpec& s) {
    Bytes out;
    auto write = [](GifFileType* gif, const GifByteType* data, int n) {
        static_cast<Bytes*>(gif->UserData)->insert(static_cast<Bytes*>(gif->UserData)->end(), data, data + n);
        return n;
    };
    int error = 0;
    GifFileType* gif = EGifOpen(&out, write, &error);
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = ColorMap(s.globalColors);
    ColorMapObject* local = ColorMap(s.localColors);
    EGifPutScreenDesc(gif, s.screenWidth, s.screenHeight, 8, 0, global);
    if (s.transparentIndex >= 0) {
        GraphicsControlBlock gcb{0, false, 0, s.transparentIndex};
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    }
    EGifPutImageDesc(gif, s.left, s.top, s.width, s.height, s.interlaced, local);
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};  // the interlaced passes
    for (int pass = 0; pass < (s.interlaced ? 4 : 1); ++pass) {
        for (int y = s.interlaced ? start[pass] : 0; y < s.height; y += s.interlaced ? step[pass] : 1)
            EGifPutLine(gif, const_cast<GifPixelType*>(&s.indices[static_cast<size_t>(y) * s.width]), s.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(global);
    GifFreeMapObject(local);
    return out;
}

Bytes SolidGif(int w, int h) {
    return EncodeGif({w, h, {{10, 20, 30}, {0, 0, 0}}, 0, 0, w, h, {}, false, -1, Bytes(size_t(w) * h, 0)});
}

struct PngSpec {
    int width, height, colorType, bitDepth;
    bool interlaced;
    std::vector<png_color> palette;
    Bytes paletteAlpha;
    Bytes raw;  // rows of samples as the format stores them
};

Bytes EncodePng(const PngSpec& s) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    auto write = [](png_structp p, png_bytep data, png_size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), data, data + n);
    };
    png_set_write_fn(png, &out, write, nullptr);
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, 0, 0);
    if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    if (!s.paletteAlpha.empty())
        png_set_tRNS(png, info, s.paletteAlpha.data(), static_cast<int>(s.paletteAlpha.size()), nullptr);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (int y = 0; y < s.height; ++y)
        rows.push_back(const_cast<uint8_t*>(s.raw.data()) + y * (s.raw.size() / s.height));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes EncodeJpeg(int w, int h, const std::vector<Rgb>& pixels) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(w);
    cinfo.image_height = static_cast<JDIMENSION>(h);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&pixels[cinfo.next_scanline * w].r);  // Rgb is 3 packed bytes
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    free(buffer);
    return out;
}

void PutLe(Bytes* out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) (*out)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// File header, an info header of infoSize (>= 40) bytes, the palette, then the rows as given.
Bytes BuildBmp(int w, int h, int bitCount, const std::vector<Rgb>& palette, const Bytes& rows,
               uint32_t infoSize = 40, uint32_t compression = 0) {
    size_t offset = 14 + infoSize + palette.size() * 4;
    Bytes out(offset, 0);
    out[0] = 'B';
    out[1] = 'M';
    PutLe(&out, 10, static_cast<uint32_t>(offset), 4);
    PutLe(&out, 14, infoSize, 4);
    PutLe(&out, 18, static_cast<uint32_t>(w), 4);
    PutLe(&out, 22, static_cast<uint32_t>(h), 4);
    PutLe(&out, 26, 1, 2);
    PutLe(&out, 28, static_cast<uint32_t>(bitCount), 2);
    PutLe(&out, 30, compression, 4);
    PutLe(&out, 46, static_cast<uint32_t>(palette.size()), 4);
    for (size_t i = 0; i < palette.size(); ++i) {
        Rgb c = palette[i];
        std::memcpy(&out[14 + infoSize + i * 4], Bytes{c.b, c.g, c.r}.data(), 3);
    }
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

// ---- Streams --------------------------------------------------------------------------------

TEST(HGlobalStream, ReadSeekWriteStatAndTheLockCountStaysAsItWas) {
    OwnedGlobal block = GlobalCopy({'a', 'b', 'c', 'd', 'e', 'f'});
    ComPtr<IStream> stream = StreamOn(block.get(), FALSE);
    char buf[8] = {};
    ULONG n = 0;
    EXPECT_EQ(S_OK, stream->Read(buf, 4, &n));
    EXPECT_EQ("abcd", std::string(buf, n));
    EXPECT_EQ(S_OK, stream->Read(buf, 8, &n));  // a short read at the end is still S_OK
    EXPECT_EQ(2u, n);
    EXPECT_EQ(0u, LockCount(block.get()));

    LARGE_INTEGER move{};
    ULARGE_INTEGER pos{};
    move.QuadPart = -2;
    EXPECT_EQ(S_OK, stream->Seek(move, STREAM_SEEK_END, &pos));
    EXPECT_EQ(4u, pos.QuadPart);
    move.QuadPart = -5;
    EXPECT_EQ(STG_E_INVALIDFUNCTION, stream->Seek(move, STREAM_SEEK_CUR, &pos)) << "before the start";
    move.QuadPart = 1;
    stream->Seek(move, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(S_OK, stream->Write("XYZWVU", 6, &n));  // grows the block
    EXPECT_EQ(0u, LockCount(block.get()));
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(7u, stat.cbSize.QuadPart);

    HGLOBAL under = nullptr;
    EXPECT_EQ(S_OK, GetHGlobalFromStream(stream.get(), &under));
    EXPECT_EQ("aXYZWVU", std::string(GlobalLockGuard(under).as<const char>(), 7));
    block.release();
    OwnedGlobal grown(under);  // growing may have moved the block to a new handle
    stream.reset();
    EXPECT_TRUE(IsLiveBlock(under)) << "without delete-on-release the block survives the stream";
}

TEST(HGlobalStream, DeleteOnReleaseFreesTheBlockWhenTheLastCloneGoes) {
    HGLOBAL h = GlobalCopy({1, 2, 3}).release();
    ComPtr<IStream> stream = StreamOn(h, TRUE);
    BYTE b = 0;
    stream->Read(&b, 1, nullptr);
    IStream* raw = nullptr;
    ASSERT_EQ(S_OK, stream->Clone(&raw));
    ComPtr<IStream> clone(raw);
    clone->Read(&b, 1, nullptr);
    EXPECT_EQ(2, b) << "a clone starts at its origin's position";
    stream.reset();
    EXPECT_TRUE(IsLiveBlock(h)) << "the clone still uses the block";
    clone.reset();
    EXPECT_FALSE(IsLiveBlock(h));
}

TEST(HGlobalStream, NullBlockStreamGrowsAndCopyToMovesTheBytes) {
    ComPtr<IStream> source = StreamOn(nullptr, TRUE), target = StreamOn(nullptr, TRUE);
    source->Write("hello world", 11, nullptr);
    LARGE_INTEGER zero{};
    source->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULARGE_INTEGER want{}, read{}, written{};
    want.QuadPart = 100;
    EXPECT_EQ(S_OK, source->CopyTo(target.get(), want, &read, &written));
    EXPECT_EQ(11u, read.QuadPart);
    EXPECT_EQ(11u, written.QuadPart);
    HGLOBAL h = nullptr;
    GetHGlobalFromStream(target.get(), &h);
    EXPECT_EQ("hello world", std::string(GlobalLockGuard(h).as<const char>(), 11));
}

// ---- OleLoadPicture -------------------------------------------------------------------------

TEST(OleLoadPicture, ReadsSizeBytesFromTheCurrentPosition) {
    Bytes gif = SolidGif(3, 2), data = {'j', 'u', 'n', 'k'};
    data.insert(data.end(), gif.begin(), gif.end());
    data.insert(data.end(), {'t', 'a', 'i', 'l'});
    OwnedGlobal block = GlobalCopy(data);
    const LONG exact = static_cast<LONG>(gif.size());
    struct {
        int n;
        LONG size;
        HRESULT expected;
    } rows[] = {{1, exact, S_OK}, {2, 0, S_OK}, {3, -1, S_OK}, {4, exact - 6, CTL_E_INVALIDPICTURE}};
    for (const auto& row : rows) {
        ComPtr<IStream> stream = StreamOn(block.get(), FALSE);
        LARGE_INTEGER skip{}, none{};
        ULARGE_INTEGER pos{};
        skip.QuadPart = 4;
        stream->Seek(skip, STREAM_SEEK_SET, nullptr);
        void* picture = nullptr;
        EXPECT_EQ(row.expected, OleLoadPicture(stream.get(), row.size, FALSE, IID_IPicture, &picture)) << row.n;
        EXPECT_EQ(row.expected == S_OK, picture != nullptr) << row.n;
        if (picture) static_cast<IPicture*>(picture)->Release();
        stream->Seek(none, STREAM_SEEK_CUR, &pos);
        if (row.n == 1) {
            EXPECT_EQ(4 + gif.size(), pos.QuadPart) << "the stream stands after the picture";
        }
    }
    EXPECT_EQ(0u, LockCount(block.get()));
}

TEST(OleLoadPicture, KnowsOnlyPictureInterfacesAndSignatures) {
    OwnedGlobal block = GlobalCopy(SolidGif(1, 1));
    for (const IID* iid : {&IID_IPicture, &IID_IUnknown, &IID_IStream}) {
        void* object = reinterpret_cast<void*>(1);
        HRESULT hr = OleLoadPicture(StreamOn(block.get(), FALSE).get(), 0, FALSE, *iid, &object);
        EXPECT_EQ(iid == &IID_IStream ? E_NOINTERFACE : S_OK, hr);
        EXPECT_EQ(SUCCEEDED(hr), object != nullptr);
        if (object) static_cast<IUnknown*>(object)->Release();
    }
    const Bytes notPictures[] = {{}, {'G', 'I', 'F', '9', '0', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}, {'B'}, {0xFF, 0xD8}};
    for (const Bytes& bytes : notPictures) {
        ComPtr<IPicture> picture;
        EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(bytes, &picture)) << bytes.size() << " bytes";
        EXPECT_EQ(nullptr, picture.get());
    }
}

TEST(IPicture, A96By48PictureIs2540By1270HimetricAndRendersAt96By48) {
    ComPtr<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(SolidGif(96, 48), &picture));
    EXPECT_EQ(2540, Himetric(picture.get()).cx);
    EXPECT_EQ(1270, Himetric(picture.get()).cy);
    SHORT type = 0;
    picture->get_Type(&type);
    EXPECT_EQ(PICTYPE_BITMAP, type);
    Canvas canvas(100, 50, kWhite);
    ASSERT_EQ(S_OK, RenderUpright(picture.get(), canvas.dc(), 0, 0, 96, 48));
    EXPECT_EQ(Hex({0x0A141E, kWhite, kWhite}), Hex({canvas.At(95, 47), canvas.At(96, 47), canvas.At(95, 48)}));

    ASSERT_EQ(S_OK, LoadPicture(SolidGif(97, 1), &picture));
    EXPECT_EQ(2566, Himetric(picture.get()).cx) << "MulDiv rounds 2566.46";
}

// ---- Decoding, pixel by pixel ---------------------------------------------------------------

const std::vector<Rgb> kFourColours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

TEST(GifDecoding, TransparencyInterlacingAndTheLocalTable) {
    std::vector<Rgb> tenReds;
    Bytes tenRows;
    for (uint8_t i = 0; i < 10; ++i) {
        tenReds.push_back({static_cast<uint8_t>(i * 20), 0, 0});
        tenRows.push_back(i);
    }
    struct {
        const char* what;
        GifSpec gif;
        Pixels expected;  // over grey
    } rows[] = {
        {"transparent", {2, 2, kFourColours, 0, 0, 2, 2, {}, false, 1, {0, 1, 2, 1}}, {kRed, kGrey, kBlue, kGrey}},
        {"interlaced", {1, 10, tenReds, 0, 0, 1, 10, {}, true, -1, tenRows},
         {0, 0x140000, 0x280000, 0x3C0000, 0x500000, 0x640000, 0x780000, 0x8C0000, 0xA00000, 0xB40000}},
        // A 2 x 3 image at (5, 7) of a 20 x 20 screen, as the frame splitter makes them: the
        // picture is the image's own size, and the local table wins over the global one.
        {"local table", {20, 20, kFourColours, 5, 7, 2, 3, {{1, 2, 3}, {4, 5, 6}}, false, -1, {0, 1, 1, 0, 0, 0}},
         {0x010203, 0x040506, 0x040506, 0x010203, 0x010203, 0x010203}},
    };
    for (const auto& row : rows) {
        ComPtr<IPicture> picture;
        ASSERT_EQ(S_OK, LoadPicture(EncodeGif(row.gif), &picture)) << row.what;
        const int w = row.gif.width, h = row.gif.height;
        EXPECT_EQ(MulDiv(w, 2540, 96), Himetric(picture.get()).cx) << row.what;
        EXPECT_EQ(MulDiv(h, 2540, 96), Himetric(picture.get()).cy) << row.what;
        EXPECT_EQ(Hex(row.expected), Hex(LoadAndRender(EncodeGif(row.gif), w, h))) << row.what;
    }
    // Without any colour table, or with indices past the table, there are no colours to show.
    GifSpec noTable{2, 1, {}, 0, 0, 2, 1, {}, false, -1, {0, 1}};
    GifSpec pastTable{4, 1, {{9, 9, 9}, {8, 8, 8}}, 0, 0, 4, 1, {}, false, -1, {0, 1, 2, 3}};
    ComPtr<IPicture> picture;
    EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(EncodeGif(noTable), &picture));
    EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(EncodeGif(pastTable), &picture));
}

TEST(GifDecoding, FilesOfOnePrologueDecodeOneAfterAnotherAsEachDoesAlone) {
    // The frames of an animation arrive as files with the same header, screen and colour table;
    // what one of them leaves behind in the decoder must not show in the next.
    const GifSpec specs[] = {
        {20, 20, kFourColours, 0, 0, 2, 2, {}, false, 1, {0, 1, 2, 1}},
        {20, 20, kFourColours, 0, 0, 3, 1, {}, false, -1, {1, 1, 3}},
        {20, 20, kFourColours, 0, 0, 1, 10, {}, true, 2, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1}},
        {20, 20, kFourColours, 0, 0, 8, 8, {}, false, -1, Bytes(64, 3)},  // cut short below
        {20, 20, kFourColours, 5, 7, 2, 3, {{1, 2, 3}, {4, 5, 6}}, false, 0, {0, 1, 1, 0, 0, 0}},
        {20, 20, kFourColours, 0, 0, 2, 2, {}, false, 1, {0, 1, 2, 1}},
    };
    std::vector<Bytes> files;
    for (const GifSpec& spec : specs) files.push_back(EncodeGif(spec));
    files[3].resize(files[3].size() - 4);
    std::vector<Pixels> alone;
    for (size_t i = 0; i < files.size(); ++i) {
        LoadAndRender(SolidGif(1, 1), 1, 1);  // another prologue in between
        alone.push_back(LoadAndRender(files[i], specs[i].width, specs[i].height));
    }
    EXPECT_TRUE(alone[3].empty()) << "the file cut short fails";
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(Hex(alone[i]), Hex(LoadAndRender(files[i], specs[i].width, specs[i].height)))
            << "file " << i << " after file " << (i == 0 ? files.size() - 1 : i - 1);
    }
}

TEST(PngDecoding, ColourTypesExpandAndAlphaBlends) {
    struct {
        const char* what;
        PngSpec png;
        Pixels expected;  // over grey: (s*a + d*(255-a)) / 255, rounded
    } rows[] = {
        {"rgba", {2, 2, PNG_COLOR_TYPE_RGBA, 8, false, {}, {}, {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128, 255, 255, 255, 64}},
         {kRed, kGrey, 0x4040C0, 0xA0A0A0}},
        {"palette+tRNS", {3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, {{10, 20, 30}, {0, 0, 0}, {200, 100, 50}}, {255, 0}, {0, 1, 2}},
         {0x0A141E, kGrey, 0xC86432}},
        {"grey 16", {2, 1, PNG_COLOR_TYPE_GRAY, 16, false, {}, {}, {0x12, 0x34, 0xFE, 0xDC}}, {0x121212, 0xFEFEFE}},
        {"adam7", {3, 2, PNG_COLOR_TYPE_RGB, 8, true, {}, {}, {255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 1, 1, 2, 2, 2, 3, 3, 3}},
         {kRed, kGreen, kBlue, 0x010101, 0x020202, 0x030303}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Hex(row.expected), Hex(LoadAndRender(EncodePng(row.png), row.png.width, row.png.height))) << row.what;
}

TEST(JpegDecoding, DecodesWithinTheCodecsTolerance) {
    const Rgb quadrant[] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {240, 240, 240}};
    std::vector<Rgb> pixels;  // four flat 8 x 8 blocks: nothing for the DCT to smear
    for (int i = 0; i < 256; ++i) pixels.push_back(quadrant[(i / 128) * 2 + (i % 16) / 8]);
    Pixels actual = LoadAndRender(EncodeJpeg(16, 16, pixels), 16, 16);
    ASSERT_EQ(256u, actual.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(pixels[i].r, static_cast<int>(actual[i] >> 16), 6) << i;
        EXPECT_NEAR(pixels[i].g, static_cast<int>((actual[i] >> 8) & 0xFF), 6) << i;
        EXPECT_NEAR(pixels[i].b, static_cast<int>(actual[i] & 0xFF), 6) << i;
    }
}

TEST(BmpDecoding, EveryDepthBottomUpAndTopDown) {
    // 3 x 2: top row red, green, blue; bottom row white, red, green (1 bpp: indices 0 and 1
    // only). Row tables are top row first, padded to 4 bytes.
    const Pixels threeColours = {kRed, kGreen, kBlue, kWhite, kRed, kGreen};
    struct {
        int bitCount;
        Bytes top, bottom;
        Pixels expected;
    } rows[] = {
        {1, {0x40, 0, 0, 0}, {0x80, 0, 0, 0}, {kRed, kGreen, kRed, kGreen, kRed, kRed}},
        {4, {0x01, 0x20, 0, 0}, {0x30, 0x10, 0, 0}, threeColours},
        {8, {0, 1, 2, 0}, {3, 0, 1, 0}, threeColours},
        {24, {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0}, {255, 255, 255, 0, 0, 255, 0, 255, 0, 0, 0, 0}, threeColours},
        {32, {0, 0, 255, 9, 0, 255, 0, 9, 255, 0, 0, 9}, {255, 255, 255, 9, 0, 0, 255, 9, 0, 255, 0, 9}, threeColours},
    };
    for (const auto& row : rows) {
        std::vector<Rgb> palette(kFourColours.begin(), kFourColours.begin() + (row.bitCount == 1 ? 2 : 4));
        if (row.bitCount > 8) palette.clear();
        for (bool topDown : {false, true}) {
            Bytes data = topDown ? row.top : row.bottom;
            const Bytes& second = topDown ? row.bottom : row.top;
            data.insert(data.end(), second.begin(), second.end());
            EXPECT_EQ(Hex(row.expected), Hex(LoadAndRender(BuildBmp(3, topDown ? -2 : 2, row.bitCount, palette, data), 3, 2)))
                << row.bitCount << " bpp" << (topDown ? ", top-down" : ", bottom-up");
        }
    }
}

TEST(BmpDecoding, TakesV4AndV5HeadersAndRefusesTheRest) {
    const Bytes red = {0, 0, 255, 0};
    EXPECT_EQ(Hex({kRed}), Hex(LoadAndRender(BuildBmp(1, 1, 24, {}, red, 108), 1, 1)));
    EXPECT_EQ(Hex({kRed}), Hex(LoadAndRender(BuildBmp(1, 1, 24, {}, red, 124), 1, 1)));
    Bytes core = BuildBmp(1, 1, 24, {}, red);
    PutLe(&core, 14, 12, 4);  // an OS/2 core header
    const Bytes refused[] = {core,
                             BuildBmp(1, 1, 24, {}, red, 40, 1),  // RLE8
                             BuildBmp(1, 1, 16, {}, red),
                             BuildBmp(0, 1, 24, {}, red),
                             BuildBmp(1, 0, 24, {}, red),
                             BuildBmp(2, 1, 24, {}, red),  // rows longer than the data
                             BuildBmp(1, 1, 8, std::vector<Rgb>(257), red)};
    for (size_t i = 0; i < std::size(refused); ++i) {
        ComPtr<IPicture> picture;
        EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(refused[i], &picture)) << "case " << i;
    }
}

// ---- Render ---------------------------------------------------------------------------------

TEST(IPictureRender, ScalesFlipsMirrorsAndClips) {
    // 2 x 2: red, green / blue, white; 53 HIMETRIC both ways.
    ComPtr<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(BuildBmp(2, -2, 24, {}, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0}), &picture));
    const LONG hm = 53;
    const uint32_t R = kRed, G = kGreen, B = kBlue, W = kWhite, _ = kGrey;
    struct {
        const char* what;
        LONG x, y, cx, cy, xs, ys, cxs, cys;
        Pixels expected;  // 4 x 4
    } rows[] = {
        {"upright", 0, 0, 2, 2, 0, hm, hm, -hm, {R, G, _, _, B, W, _, _, _, _, _, _, _, _, _, _}},
        {"doubled", 0, 0, 4, 4, 0, hm, hm, -hm, {R, R, G, G, R, R, G, G, B, B, W, W, B, B, W, W}},
        {"halved: the centre's pixel", 1, 1, 1, 1, 0, hm, hm, -hm, {_, _, _, _, _, W, _, _, _, _, _, _, _, _, _, _}},
        {"upside down", 0, 0, 2, 2, 0, 0, hm, hm, {B, W, _, _, R, G, _, _, _, _, _, _, _, _, _, _}},
        {"mirrored", 2, 0, -2, 2, 0, hm, hm, -hm, {G, R, _, _, W, B, _, _, _, _, _, _, _, _, _, _}},
        {"right half", 0, 0, 2, 2, 27, hm, 26, -hm, {G, G, _, _, W, W, _, _, _, _, _, _, _, _, _, _}},
        {"past the edge", 3, 3, 4, 4, 0, hm, hm, -hm, {_, _, _, _, _, _, _, _, _, _, _, _, _, _, _, R}},
        {"before it", -3, -3, 4, 4, 0, hm, hm, -hm, {W, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _}},
    };
    for (const auto& row : rows) {
        Canvas canvas(4, 4, kGrey);
        EXPECT_EQ(S_OK, picture->Render(canvas.dc(), row.x, row.y, row.cx, row.cy, row.xs, row.ys, row.cxs, row.cys, nullptr));
        EXPECT_EQ(Hex(row.expected), Hex(canvas.All())) << row.what;
    }

    HDC screen = GetDC(nullptr), deleted = CreateCompatibleDC(nullptr);
    DeleteDC(deleted);
    Canvas canvas(2, 2, kGrey);
    EXPECT_EQ(E_INVALIDARG, RenderUpright(picture.get(), nullptr, 0, 0, 2, 2));
    EXPECT_EQ(E_FAIL, RenderUpright(picture.get(), deleted, 0, 0, 2, 2));
    EXPECT_EQ(E_FAIL, RenderUpright(picture.get(), screen, 0, 0, 2, 2)) << "a DC without pixels";
    EXPECT_EQ(E_INVALIDARG, RenderUpright(picture.get(), canvas.dc(), 0, 0, 0, 2)) << "an empty destination";
    ReleaseDC(nullptr, screen);
}

TEST(IPictureRender, TwoThreadsRenderOnePictureIntoTheirOwnDCs) {
    ComPtr<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(SolidGif(4, 4), &picture));
    auto work = [&](uint32_t* corner) {
        Canvas canvas(8, 8, kGrey);
        for (int i = 0; i < 200; ++i) RenderUpright(picture.get(), canvas.dc(), 0, 0, 8, 8);
        *corner = canvas.At(7, 7);
    };
    uint32_t a = 0, b = 0;
    std::thread one(work, &a), two(work, &b);
    one.join();
    two.join();
    EXPECT_EQ(Hex({0x0A141E, 0x0A141E}), Hex({a, b}));
}

// ---- Limits and damaged data ----------------------------------------------------------------

TEST(OleLoadPicture, RefusesPicturesOverTheSizeLimitsOfEveryFormat) {
    auto grey = [](int w) { return EncodePng({w, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, Bytes(size_t(w), 7)}); };
    auto bmp = [](int w) { return BuildBmp(w, 1, 8, {{1, 2, 3}}, Bytes(size_t(w + 3) / 4 * 4, 0)); };
    auto jpeg = [](int w) { return EncodeJpeg(w, 1, std::vector<Rgb>(size_t(w), Rgb{1, 2, 3})); };
    struct {
        const char* what;
        Bytes data;
        HRESULT expected;
    } rows[] = {
        {"gif 8192 x 1", SolidGif(8192, 1), S_OK},
        {"gif 8193 x 1", SolidGif(8193, 1), CTL_E_INVALIDPICTURE},
        {"gif 1 x 8193", SolidGif(1, 8193), CTL_E_INVALIDPICTURE},
        {"gif 8192 x 4097: over 32 Mi pixels", SolidGif(8192, 4097), CTL_E_INVALIDPICTURE},
        {"bmp 8192", bmp(8192), S_OK}, {"bmp 8193", bmp(8193), CTL_E_INVALIDPICTURE},
        {"png 8192", grey(8192), S_OK}, {"png 8193", grey(8193), CTL_E_INVALIDPICTURE},
        {"jpeg 8192", jpeg(8192), S_OK}, {"jpeg 8193", jpeg(8193), CTL_E_INVALIDPICTURE},
    };
    for (const auto& row : rows) {
        ComPtr<IPicture> picture;
        EXPECT_EQ(row.expected, LoadPicture(row.data, &picture)) << row.what;
    }
}

struct Sample {
    const char* format;
    Bytes data;
    size_t mustHave;  // every shorter prefix must fail
};

std::vector<Sample> Samples() {
    Bytes gif = EncodeGif({4, 4, kFourColours, 0, 0, 4, 4, {}, true, 2, Bytes(16, 1)});
    Bytes png = EncodePng({4, 4, PNG_COLOR_TYPE_RGBA, 8, false, {}, {}, Bytes(64, 99)});
    std::vector<Rgb> noise;
    for (int i = 0; i < 256; ++i) noise.push_back({uint8_t(i * 7), uint8_t(i * 13), uint8_t(i)});
    Bytes jpeg = EncodeJpeg(16, 16, noise);
    Bytes bmp = BuildBmp(3, 2, 8, kFourColours, Bytes(8, 1));
    // A GIF needs everything but its trailer, since only the first image is read.
    return {{"gif", gif, gif.size() - 1}, {"png", png, png.size()}, {"jpeg", jpeg, jpeg.size()}, {"bmp", bmp, bmp.size()}};
}

TEST(OleLoadPicture, TruncatedOrCorruptDataFailsCleanly) {
    Canvas canvas(8, 8, kGrey);
    for (const Sample& sample : Samples()) {
        ComPtr<IPicture> picture;
        ASSERT_EQ(S_OK, LoadPicture(sample.data, &picture)) << sample.format;
        for (size_t length = 0; length < sample.mustHave; ++length) {
            HRESULT hr = LoadPicture(Bytes(sample.data.begin(), sample.data.begin() + long(length)), &picture);
            EXPECT_TRUE(FAILED(hr) && picture == nullptr) << sample.format << " cut to " << length << " bytes";
        }
        // Every byte overwritten in turn: a picture that renders, or a failure and no object.
        for (size_t i = 0; i < sample.data.size(); ++i) {
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

}  // namespace
