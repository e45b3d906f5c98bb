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

#include "kernel_handles.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// ---- RAII -----------------------------------------------------------------------------------

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return p_; }
    T* get() const { return p_; }
    T** out() {
        Reset();
        return &p_;
    }
    void** outVoid() { return reinterpret_cast<void**>(out()); }
    void Reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

using portrix_test::GlobalLockGuard;
using portrix_test::OwnedGlobal;

// A new moveable block holding a copy of bytes.
OwnedGlobal GlobalCopy(const Bytes& bytes) {
    OwnedGlobal block(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (block && !bytes.empty()) std::memcpy(GlobalLockGuard(block.get()).data(), bytes.data(), bytes.size());
    return block;
}

UINT LockCount(HGLOBAL h) { return GlobalFlags(h) & GMEM_LOCKCOUNT; }
bool IsLiveBlock(HGLOBAL h) { return GlobalFlags(h) != GMEM_INVALID_HANDLE; }

// A memory DC over a 32-bit bitmap filled with one colour; pixels read back as 0xRRGGBB.
class Canvas {
public:
    Canvas(int width, int height, uint32_t rgb) : width_(width), height_(height) {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, width, height);
        old_ = SelectObject(dc_, bitmap_);
        Fill(rgb);
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    void Fill(uint32_t rgb) {
        HBRUSH brush = CreateSolidBrush(ToColorref(rgb));
        RECT all{0, 0, width_, height_};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }
    uint32_t At(int x, int y) const {
        COLORREF c = GetPixel(dc_, x, y);
        return static_cast<uint32_t>(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
    }
    std::vector<uint32_t> All() const {
        std::vector<uint32_t> out;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) out.push_back(At(x, y));
        return out;
    }
    static COLORREF ToColorref(uint32_t rgb) { return RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF); }

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06X", v);
    return buf;
}

// Compares a canvas with rows of expected 0xRRGGBB values, reporting every differing pixel.
void ExpectPixels(const Canvas& canvas, const std::vector<std::vector<uint32_t>>& rows,
                  const std::string& what) {
    for (size_t y = 0; y < rows.size(); ++y) {
        for (size_t x = 0; x < rows[y].size(); ++x) {
            uint32_t actual = canvas.At(static_cast<int>(x), static_cast<int>(y));
            EXPECT_EQ(Hex(rows[y][x]), Hex(actual)) << what << " at (" << x << ", " << y << ")";
        }
    }
}

// ---- Loading --------------------------------------------------------------------------------

HRESULT LoadPicture(const Bytes& bytes, ComRef<IPicture>* picture) {
    OwnedGlobal block = GlobalCopy(bytes);
    ComRef<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(block.get(), FALSE, stream.out()))) return E_UNEXPECTED;
    return OleLoadPicture(stream.get(), static_cast<LONG>(bytes.size()), FALSE, IID_IPicture,
                          picture->outVoid());
}

struct PixelSize {
    LONG width, height;
};

PixelSize HimetricSize(IPicture* picture) {
    PixelSize hm{};
    picture->get_Width(&hm.width);
    picture->get_Height(&hm.height);
    return hm;
}

// The call the picture control makes: the whole picture, upright, into (x, y, cx, cy).
HRESULT RenderUpright(IPicture* picture, HDC dc, int x, int y, int cx, int cy) {
    PixelSize hm = HimetricSize(picture);
    return picture->Render(dc, x, y, cx, cy, 0, hm.height, hm.width, -hm.height, nullptr);
}

// Loads bytes, renders the picture 1:1 at (0, 0) onto a canvas of the given background and
// returns the canvas's pixels; empty when the load fails.
std::vector<uint32_t> LoadAndRender(const Bytes& bytes, int width, int height, uint32_t background) {
    ComRef<IPicture> picture;
    if (FAILED(LoadPicture(bytes, &picture))) return {};
    Canvas canvas(width, height, background);
    if (FAILED(RenderUpright(picture.get(), canvas.dc(), 0, 0, width, height))) return {};
    return canvas.All();
}

// ---- Encoders -------------------------------------------------------------------------------

struct Rgb {
    uint8_t r, g, b;
};

struct GifImage {
    int screenWidth, screenHeight;
    std::vector<Rgb> globalColors;  // empty: no global table
    int left, top, width, height;
    std::vector<Rgb> localColors;   // empty: no local table
    bool interlaced = false;
    int transparentIndex = -1;
    Bytes indices;  // width * height, raster order
};

int WriteToBytes(GifFileType* gif, const GifByteType* data, int length) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

ColorMapObject* MakeColorMap(const std::vector<Rgb>& colors) {
    if (colors.empty()) return nullptr;
    int count = 2;
    while (count < static_cast<int>(colors.size())) count *= 2;
    std::vector<GifColorType> table(static_cast<size_t>(count), GifColorType{0, 0, 0});
    for (size_t i = 0; i < colors.size(); ++i) table[i] = {colors[i].r, colors[i].g, colors[i].b};
    return GifMakeMapObject(count, table.data());
}

Bytes EncodeGif(const GifImage& image) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToBytes, &error);
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = MakeColorMap(image.globalColors);
    ColorMapObject* local = MakeColorMap(image.localColors);
    EGifPutScreenDesc(gif, image.screenWidth, image.screenHeight, 8, 0, global);
    if (image.transparentIndex >= 0) {
        GraphicsControlBlock gcb{};
        gcb.TransparentColor = image.transparentIndex;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    }
    EGifPutImageDesc(gif, image.left, image.top, image.width, image.height, image.interlaced, local);
    std::vector<int> order;
    if (image.interlaced) {
        const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = start[pass]; y < image.height; y += step[pass]) order.push_back(y);
    } else {
        for (int y = 0; y < image.height; ++y) order.push_back(y);
    }
    for (int y : order) {
        Bytes row(image.indices.begin() + y * image.width, image.indices.begin() + (y + 1) * image.width);
        EGifPutLine(gif, row.data(), image.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(global);
    GifFreeMapObject(local);
    return out;
}

// A one-colour GIF of the given size, for the size limits.
Bytes SolidGif(int width, int height) {
    GifImage image{width, height, {{10, 20, 30}, {0, 0, 0}}, 0, 0, width, height, {}, false, -1, {}};
    image.indices.assign(static_cast<size_t>(width) * height, 0);
    return EncodeGif(image);
}

void WritePngBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

struct PngSpec {
    int width, height, colorType, bitDepth;
    bool interlaced = false;
    std::vector<Rgb> palette;
    Bytes paletteAlpha;
    Bytes raw;  // rows of packed samples as the format stores them
};

Bytes EncodePng(const PngSpec& spec) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, WritePngBytes, nullptr);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colorType,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (const Rgb& c : spec.palette) palette.push_back({c.r, c.g, c.b});
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!spec.paletteAlpha.empty())
        png_set_tRNS(png, info, spec.paletteAlpha.data(), static_cast<int>(spec.paletteAlpha.size()), nullptr);
    png_write_info(png, info);
    size_t stride = spec.raw.size() / spec.height;
    std::vector<png_bytep> rows;
    for (int y = 0; y < spec.height; ++y) rows.push_back(const_cast<uint8_t*>(spec.raw.data()) + y * stride);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

Bytes EncodeJpeg(int width, int height, const std::vector<Rgb>& pixels) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    for (int c = 0; c < 3; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x) {
            const Rgb& p = pixels[cinfo.next_scanline * width + x];
            row[x * 3] = p.r;
            row[x * 3 + 1] = p.g;
            row[x * 3 + 2] = p.b;
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    free(buffer);
    return out;
}

void PutLe(Bytes* out, size_t offset, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) (*out)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A BMP file: file header, an info header of infoSize bytes, the palette (B, G, R, 0 each) and
// the rows exactly as given (already padded, in file order).
Bytes BuildBmp(int width, int height, int bitCount, const std::vector<Rgb>& palette, const Bytes& rows,
               uint32_t infoSize = 40, uint32_t compression = 0) {
    size_t pixelOffset = 14 + infoSize + palette.size() * 4;
    Bytes out(pixelOffset, 0);  // infoSize is at least 40: every field below fits
    out[0] = 'B';
    out[1] = 'M';
    PutLe(&out, 2, static_cast<uint32_t>(pixelOffset + rows.size()), 4);
    PutLe(&out, 10, static_cast<uint32_t>(pixelOffset), 4);
    PutLe(&out, 14, infoSize, 4);
    PutLe(&out, 18, static_cast<uint32_t>(width), 4);
    PutLe(&out, 22, static_cast<uint32_t>(height), 4);
    PutLe(&out, 26, 1, 2);
    PutLe(&out, 28, static_cast<uint32_t>(bitCount), 2);
    PutLe(&out, 30, compression, 4);
    PutLe(&out, 46, static_cast<uint32_t>(palette.size()), 4);
    for (size_t i = 0; i < palette.size(); ++i) {
        out[14 + infoSize + i * 4] = palette[i].b;
        out[14 + infoSize + i * 4 + 1] = palette[i].g;
        out[14 + infoSize + i * 4 + 2] = palette[i].r;
    }
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF,
                   kBlack = 0x000000, kGrey = 0x808080;

// ---- Streams --------------------------------------------------------------------------------

TEST(HGlobalStream, ReadsSeeksWritesAndLeavesTheLockCountAlone) {
    OwnedGlobal block = GlobalCopy({'a', 'b', 'c', 'd', 'e', 'f'});
    ComRef<IStream> stream;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(block.get(), FALSE, stream.out()));
    ASSERT_EQ(0u, LockCount(block.get()));

    char buf[8] = {};
    ULONG got = 0;
    EXPECT_EQ(S_OK, stream->Read(buf, 4, &got));
    EXPECT_EQ(4u, got);
    EXPECT_EQ(std::string("abcd"), std::string(buf, got));
    EXPECT_EQ(0u, LockCount(block.get())) << "after Read";

    EXPECT_EQ(S_OK, stream->Read(buf, 8, &got));  // short read at the end is still S_OK
    EXPECT_EQ(2u, got);
    EXPECT_EQ(S_OK, stream->Read(buf, 8, &got));
    EXPECT_EQ(0u, got);

    LARGE_INTEGER move{};
    ULARGE_INTEGER pos{};
    move.QuadPart = -2;
    EXPECT_EQ(S_OK, stream->Seek(move, STREAM_SEEK_END, &pos));
    EXPECT_EQ(4u, pos.QuadPart);
    move.QuadPart = -5;
    EXPECT_EQ(STG_E_INVALIDFUNCTION, stream->Seek(move, STREAM_SEEK_CUR, &pos)) << "before the start";
    move.QuadPart = 1;
    EXPECT_EQ(S_OK, stream->Seek(move, STREAM_SEEK_SET, &pos));

    ULONG put = 0;
    EXPECT_EQ(S_OK, stream->Write("XYZWVU", 6, &put));  // grows the block past its end
    EXPECT_EQ(6u, put);
    EXPECT_EQ(0u, LockCount(block.get())) << "after Write";
    STATSTG stat{};
    EXPECT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    EXPECT_EQ(static_cast<DWORD>(STGTY_STREAM), stat.type);
    EXPECT_EQ(7u, stat.cbSize.QuadPart);

    HGLOBAL under = nullptr;
    EXPECT_EQ(S_OK, GetHGlobalFromStream(stream.get(), &under));
    ASSERT_GE(GlobalSize(under), 7u);
    EXPECT_EQ(std::string("aXYZWVU"), std::string(GlobalLockGuard(under).as<const char>(), 7));
    block.release();
    OwnedGlobal grown(under);  // the stream grew it: owned again under its possibly new handle
    stream.Reset();
    EXPECT_TRUE(IsLiveBlock(under)) << "without delete-on-release the block survives the stream";
}

TEST(HGlobalStream, DeleteOnReleaseFreesTheBlockWhenTheLastCloneGoes) {
    OwnedGlobal block = GlobalCopy({1, 2, 3, 4});
    HGLOBAL h = block.get();
    ComRef<IStream> stream, clone;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(h, TRUE, stream.out()));
    block.release();

    BYTE b = 0;
    ULONG got = 0;
    stream->Read(&b, 1, &got);
    ASSERT_EQ(S_OK, stream->Clone(clone.out()));
    clone->Read(&b, 1, &got);
    EXPECT_EQ(2, b) << "a clone starts at its origin's position";

    stream.Reset();
    EXPECT_TRUE(IsLiveBlock(h)) << "the clone still uses the block";
    clone.Reset();
    EXPECT_FALSE(IsLiveBlock(h)) << "the last release frees it";
}

TEST(HGlobalStream, NullBlockMakesAFreshOneAndCopyToMovesBytes) {
    ComRef<IStream> source, target;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, source.out()));
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, target.out()));
    ULONG put = 0;
    ASSERT_EQ(S_OK, source->Write("hello world", 11, &put));
    LARGE_INTEGER zero{};
    source->Seek(zero, STREAM_SEEK_SET, nullptr);

    ULARGE_INTEGER want{}, read{}, written{};
    want.QuadPart = 100;
    EXPECT_EQ(S_OK, source->CopyTo(target.get(), want, &read, &written));
    EXPECT_EQ(11u, read.QuadPart);
    EXPECT_EQ(11u, written.QuadPart);

    HGLOBAL h = nullptr;
    ASSERT_EQ(S_OK, GetHGlobalFromStream(target.get(), &h));
    EXPECT_EQ(std::string("hello world"), std::string(GlobalLockGuard(h).as<const char>(), 11));

    ULARGE_INTEGER size{};
    size.QuadPart = 5;
    EXPECT_EQ(S_OK, target->SetSize(size));
    STATSTG stat{};
    target->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(5u, stat.cbSize.QuadPart);
}

TEST(HGlobalStream, RefusesBadArguments) {
    IStream* stream = reinterpret_cast<IStream*>(1);
    OwnedGlobal block = GlobalCopy({1});
    HGLOBAL freed = OwnedGlobal(GlobalAlloc(GMEM_MOVEABLE, 4)).get();  // freed at once
    EXPECT_EQ(E_INVALIDARG, CreateStreamOnHGlobal(freed, FALSE, &stream));
    EXPECT_EQ(nullptr, stream);
    EXPECT_EQ(E_INVALIDARG, CreateStreamOnHGlobal(block.get(), FALSE, nullptr));
    HGLOBAL h = nullptr;
    EXPECT_EQ(E_INVALIDARG, GetHGlobalFromStream(nullptr, &h));
}

// ---- OleLoadPicture -------------------------------------------------------------------------

TEST(OleLoadPicture, ReadsSizeBytesFromTheCurrentPosition) {
    Bytes gif = SolidGif(3, 2);
    Bytes data = {'j', 'u', 'n', 'k'};
    data.insert(data.end(), gif.begin(), gif.end());
    data.insert(data.end(), {'t', 'a', 'i', 'l'});
    OwnedGlobal block = GlobalCopy(data);

    struct Row {
        int n;
        LONG size;
        HRESULT expected;
    } rows[] = {
        {1, static_cast<LONG>(gif.size()), S_OK},
        {2, 0, S_OK},  // to the end: the trailing bytes follow the GIF's own trailer
        {3, -1, S_OK},
        {4, static_cast<LONG>(gif.size()) - 6, CTL_E_INVALIDPICTURE},  // cut inside the image
    };
    for (const Row& row : rows) {
        ComRef<IStream> stream;
        ASSERT_EQ(S_OK, CreateStreamOnHGlobal(block.get(), FALSE, stream.out()));
        LARGE_INTEGER skip{};
        skip.QuadPart = 4;
        stream->Seek(skip, STREAM_SEEK_SET, nullptr);
        ComRef<IPicture> picture;
        EXPECT_EQ(row.expected, OleLoadPicture(stream.get(), row.size, FALSE, IID_IPicture, picture.outVoid()))
            << "row " << row.n;
        EXPECT_EQ(row.expected == S_OK, picture.get() != nullptr) << "row " << row.n;
        if (row.n == 1) {
            ULARGE_INTEGER pos{};
            LARGE_INTEGER none{};
            stream->Seek(none, STREAM_SEEK_CUR, &pos);
            EXPECT_EQ(4 + gif.size(), pos.QuadPart) << "the stream stands after the picture";
        }
    }
    EXPECT_EQ(0u, LockCount(block.get()));
}

TEST(OleLoadPicture, RecognisesOnlyPictureSignaturesAndInterfaces) {
    OwnedGlobal block = GlobalCopy(SolidGif(1, 1));
    struct Row {
        int n;
        const IID* iid;
        HRESULT expected;
    } rows[] = {{1, &IID_IPicture, S_OK}, {2, &IID_IUnknown, S_OK}, {3, &IID_IStream, E_NOINTERFACE}};
    for (const Row& row : rows) {
        ComRef<IStream> stream;
        ASSERT_EQ(S_OK, CreateStreamOnHGlobal(block.get(), FALSE, stream.out()));
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(row.expected, OleLoadPicture(stream.get(), 0, FALSE, *row.iid, &object)) << "row " << row.n;
        if (object) static_cast<IUnknown*>(object)->Release();
        if (row.expected != S_OK) {
            EXPECT_EQ(nullptr, object) << "row " << row.n;
        }
    }

    const Bytes notPictures[] = {
        {},
        {'G', 'I', 'F', '9', '0', 'a', 1, 0, 1, 0, 0, 0, 0, ';'},
        {'h', 'e', 'l', 'l', 'o'},
        {'B'},
        {0xFF, 0xD8},
    };
    for (size_t i = 0; i < std::size(notPictures); ++i) {
        ComRef<IPicture> picture;
        EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(notPictures[i], &picture)) << "case " << i;
        EXPECT_EQ(nullptr, picture.get()) << "case " << i;
    }
}

TEST(IPicture, ReportsBitmapTypeAndHimetricSize) {
    ComRef<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(SolidGif(96, 48), &picture));
    PixelSize hm = HimetricSize(picture.get());
    EXPECT_EQ(2540, hm.width);
    EXPECT_EQ(1270, hm.height);
    SHORT type = 0;
    EXPECT_EQ(S_OK, picture->get_Type(&type));
    EXPECT_EQ(PICTYPE_BITMAP, type);
    OLE_HANDLE handle = 1;
    EXPECT_EQ(E_NOTIMPL, picture->get_Handle(&handle));

    // Rendered the way the picture control does it, it covers exactly 96 x 48 pixels.
    Canvas canvas(100, 50, kWhite);
    ASSERT_EQ(S_OK, RenderUpright(picture.get(), canvas.dc(), 0, 0, 96, 48));
    EXPECT_EQ(0x0A141Eu, canvas.At(95, 47));
    EXPECT_EQ(kWhite, canvas.At(96, 47));
    EXPECT_EQ(kWhite, canvas.At(95, 48));

    ComRef<IPicture> odd;  // MulDiv rounds: 97 px = 2566.46 HIMETRIC
    ASSERT_EQ(S_OK, LoadPicture(SolidGif(97, 1), &odd));
    EXPECT_EQ(2566, HimetricSize(odd.get()).width);
}

// ---- GIF ------------------------------------------------------------------------------------

const std::vector<Rgb> kFourColours = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

TEST(GifDecoding, TransparentIndexKeepsTheDestination) {
    GifImage image{2, 2, kFourColours, 0, 0, 2, 2, {}, false, 1, {0, 1, 2, 1}};
    ComRef<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(EncodeGif(image), &picture));
    DWORD attributes = 0;
    picture->get_Attributes(&attributes);
    EXPECT_EQ(static_cast<DWORD>(PICTURE_TRANSPARENT), attributes & PICTURE_TRANSPARENT);
    Canvas canvas(2, 2, kGrey);
    ASSERT_EQ(S_OK, RenderUpright(picture.get(), canvas.dc(), 0, 0, 2, 2));
    ExpectPixels(canvas, {{kRed, kGrey}, {kBlue, kGrey}}, "transparent gif");
}

TEST(GifDecoding, InterlacedRowsComeOutInRasterOrder) {
    // 1 x 10: every row a different colour, so a missed pass or a wrong order shows.
    std::vector<Rgb> colours;
    for (int i = 0; i < 10; ++i) colours.push_back({static_cast<uint8_t>(i * 20), 0, 0});
    GifImage image{1, 10, colours, 0, 0, 1, 10, {}, true, -1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}};
    Canvas canvas(1, 10, kWhite);
    ComRef<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(EncodeGif(image), &picture));
    ASSERT_EQ(S_OK, RenderUpright(picture.get(), canvas.dc(), 0, 0, 1, 10));
    for (int y = 0; y < 10; ++y) EXPECT_EQ(Hex(static_cast<uint32_t>(y * 20) << 16), Hex(canvas.At(0, y))) << "row " << y;
}

TEST(GifDecoding, LocalTableWinsAndThePictureIsTheImageNotTheScreen) {
    // A 2 x 3 image at (5, 7) of a 20 x 20 screen, as the frame splitter produces them.
    std::vector<Rgb> local = {{1, 2, 3}, {4, 5, 6}};
    GifImage image{20, 20, kFourColours, 5, 7, 2, 3, local, false, -1, {0, 1, 1, 0, 0, 0}};
    ComRef<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(EncodeGif(image), &picture));
    PixelSize hm = HimetricSize(picture.get());
    EXPECT_EQ(53, hm.width);  // MulDiv(2, 2540, 96)
    EXPECT_EQ(79, hm.height);
    Canvas canvas(2, 3, kWhite);
    ASSERT_EQ(S_OK, RenderUpright(picture.get(), canvas.dc(), 0, 0, 2, 3));
    ExpectPixels(canvas, {{0x010203, 0x040506}, {0x040506, 0x010203}, {0x010203, 0x010203}}, "local table");
}

TEST(GifDecoding, RefusesImagesWithoutColoursOrWithIndicesPastTheTable) {
    GifImage noTable{2, 1, {}, 0, 0, 2, 1, {}, false, -1, {0, 1}};
    GifImage pastTable{4, 1, {{9, 9, 9}, {8, 8, 8}}, 0, 0, 4, 1, {}, false, -1, {0, 1, 2, 3}};
    for (const GifImage* image : {&noTable, &pastTable}) {
        ComRef<IPicture> picture;
        EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(EncodeGif(*image), &picture));
    }
}

// ---- PNG ------------------------------------------------------------------------------------

TEST(PngDecoding, ColourTypesExpandAndAlphaBlends) {
    struct Row {
        int n;
        PngSpec spec;
        std::vector<std::vector<uint32_t>> expected;  // over a 0x808080 background
    } rows[] = {
        // RGBA: opaque, transparent and partly covering pixels: (s*a + d*(255-a)) / 255, rounded.
        {1, {2, 2, PNG_COLOR_TYPE_RGBA, 8, false, {}, {},
             {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 128, 255, 255, 255, 64}},
         {{kRed, kGrey}, {0x4040C0, 0xA0A0A0}}},
        // Palette with tRNS: entry 1 is fully transparent.
        {2, {3, 1, PNG_COLOR_TYPE_PALETTE, 8, false, {{10, 20, 30}, {0, 0, 0}, {200, 100, 50}}, {255, 0}, {0, 1, 2}},
         {{0x0A141E, kGrey, 0xC86432}}},
        // 16-bit grey is reduced to its high byte.
        {3, {2, 1, PNG_COLOR_TYPE_GRAY, 16, false, {}, {}, {0x12, 0x34, 0xFE, 0xDC}}, {{0x121212, 0xFEFEFE}}},
        // Adam7 interlacing.
        {4, {3, 3, PNG_COLOR_TYPE_RGB, 8, true, {}, {},
             {255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 6}},
         {{kRed, kGreen, kBlue}, {0x010101, 0x020202, 0x030303}, {0x040404, 0x050505, 0x060606}}},
    };
    for (const Row& row : rows) {
        int w = row.spec.width, h = row.spec.height;
        std::vector<uint32_t> actual = LoadAndRender(EncodePng(row.spec), w, h, kGrey);
        ASSERT_EQ(static_cast<size_t>(w * h), actual.size()) << "row " << row.n << " did not load";
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                EXPECT_EQ(Hex(row.expected[y][x]), Hex(actual[y * w + x])) << "row " << row.n << " (" << x << "," << y << ")";
    }
}

// ---- JPEG -----------------------------------------------------------------------------------

TEST(JpegDecoding, DecodesWithinTheCodecsTolerance) {
    // Four flat 8 x 8 blocks, so that the DCT has nothing to smear.
    const Rgb quadrant[] = {{200, 30, 30}, {30, 200, 30}, {30, 30, 200}, {240, 240, 240}};
    std::vector<Rgb> pixels;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) pixels.push_back(quadrant[(y / 8) * 2 + x / 8]);
    std::vector<uint32_t> actual = LoadAndRender(EncodeJpeg(16, 16, pixels), 16, 16, kBlack);
    ASSERT_EQ(256u, actual.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        const Rgb& want = pixels[i];
        int got[] = {static_cast<int>(actual[i] >> 16), static_cast<int>((actual[i] >> 8) & 0xFF),
                     static_cast<int>(actual[i] & 0xFF)};
        int expected[] = {want.r, want.g, want.b};
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(expected[c], got[c], 6) << "pixel " << i << " channel " << c;
    }
}

// ---- BMP ------------------------------------------------------------------------------------

TEST(BmpDecoding, EveryDepthBottomUpAndTopDown) {
    const std::vector<Rgb> palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    // A 3 x 2 picture: top row red, green, blue; bottom row white, red, green. Rows in the
    // tables are in top-down order and padded to 4 bytes.
    const std::vector<std::vector<uint32_t>> expected = {{kRed, kGreen, kBlue}, {kWhite, kRed, kGreen}};
    struct Row {
        int n, bitCount;
        Bytes top, bottom;
    } rows[] = {
        {1, 1, {0x40, 0, 0, 0}, {0x80, 0, 0, 0}},  // 1 bpp can only tell 0 and 1 apart
        {2, 4, {0x01, 0x20, 0, 0}, {0x30, 0x10, 0, 0}},
        {3, 8, {0, 1, 2, 0}, {3, 0, 1, 0}},
        {4, 24, {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0}, {255, 255, 255, 0, 0, 255, 0, 255, 0, 0, 0, 0}},
        {5, 32, {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0}, {255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0}},
    };
    for (const Row& row : rows) {
        std::vector<Rgb> pal = row.bitCount <= 8 ? palette : std::vector<Rgb>{};
        if (row.bitCount == 1) pal.resize(2);
        auto want = expected;
        if (row.bitCount == 1) want = {{kRed, kGreen, kRed}, {kGreen, kRed, kRed}};
        for (bool topDown : {false, true}) {
            Bytes pixels = topDown ? row.top : row.bottom;
            const Bytes& second = topDown ? row.bottom : row.top;
            pixels.insert(pixels.end(), second.begin(), second.end());
            Bytes bmp = BuildBmp(3, topDown ? -2 : 2, row.bitCount, pal, pixels);
            std::vector<uint32_t> actual = LoadAndRender(bmp, 3, 2, kGrey);
            ASSERT_EQ(6u, actual.size()) << "row " << row.n << (topDown ? " top-down" : " bottom-up");
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(Hex(want[i / 3][i % 3]), Hex(actual[i]))
                    << "row " << row.n << (topDown ? " top-down" : " bottom-up") << " pixel " << i;
        }
    }
}

// The same file claiming the 12-byte BITMAPCOREHEADER of OS/2 bitmaps.
Bytes CoreHeader(Bytes bmp) {
    PutLe(&bmp, 14, 12, 4);
    return bmp;
}

TEST(BmpDecoding, AcceptsLargerHeadersAndRefusesWhatItCannotRead) {
    Bytes pixels = {0, 0, 255, 0};  // one red pixel, 24 bpp, padded
    EXPECT_EQ(std::vector<uint32_t>{kRed}, LoadAndRender(BuildBmp(1, 1, 24, {}, pixels, 124), 1, 1, kGrey))
        << "V5 header";
    EXPECT_EQ(std::vector<uint32_t>{kRed}, LoadAndRender(BuildBmp(1, 1, 24, {}, pixels, 108), 1, 1, kGrey))
        << "V4 header";

    struct Row {
        int n;
        Bytes bmp;
    } refused[] = {
        {1, CoreHeader(BuildBmp(1, 1, 24, {}, pixels))},
        {2, BuildBmp(1, 1, 24, {}, pixels, 40, 1)},     // RLE8
        {3, BuildBmp(1, 1, 16, {}, pixels)},            // 16 bpp
        {4, BuildBmp(0, 1, 24, {}, pixels)},            // no width
        {5, BuildBmp(1, 0, 24, {}, pixels)},            // no height
        {6, BuildBmp(2, 1, 24, {}, pixels)},            // rows longer than the data
        {7, BuildBmp(1, 1, 8, std::vector<Rgb>(257), {0, 0, 0, 0})},  // palette too long
    };
    for (const Row& row : refused) {
        ComRef<IPicture> picture;
        EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(row.bmp, &picture)) << "row " << row.n;
    }
}

// ---- Render ---------------------------------------------------------------------------------

// A 2 x 2 picture: red, green / blue, white.
Bytes Quad() {
    return BuildBmp(2, -2, 24, {}, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0});
}

TEST(IPictureRender, ScalesFlipsAndClips) {
    ComRef<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(Quad(), &picture));
    const LONG hm = HimetricSize(picture.get()).width;  // 53 both ways
    const uint32_t G = kGrey;
    struct Row {
        int n;
        LONG x, y, cx, cy, xs, ys, cxs, cys;
        std::vector<std::vector<uint32_t>> expected;  // 4 x 4 canvas
    } rows[] = {
        {1, 0, 0, 2, 2, 0, hm, hm, -hm, {{kRed, kGreen, G, G}, {kBlue, kWhite, G, G}, {G, G, G, G}, {G, G, G, G}}},
        {2, 0, 0, 4, 4, 0, hm, hm, -hm,
         {{kRed, kRed, kGreen, kGreen}, {kRed, kRed, kGreen, kGreen}, {kBlue, kBlue, kWhite, kWhite}, {kBlue, kBlue, kWhite, kWhite}}},
        {3, 1, 1, 1, 1, 0, hm, hm, -hm, {{G, G, G, G}, {G, kWhite, G, G}, {G, G, G, G}, {G, G, G, G}}},  // shrunk: the centre's pixel
        {4, 0, 0, 2, 2, 0, 0, hm, hm, {{kBlue, kWhite, G, G}, {kRed, kGreen, G, G}, {G, G, G, G}, {G, G, G, G}}},  // upside down
        {5, 2, 0, -2, 2, 0, hm, hm, -hm, {{kGreen, kRed, G, G}, {kWhite, kBlue, G, G}, {G, G, G, G}, {G, G, G, G}}},  // mirrored
        {6, 0, 0, 2, 2, hm / 2 + 1, hm, hm / 2, -hm, {{kGreen, kGreen, G, G}, {kWhite, kWhite, G, G}, {G, G, G, G}, {G, G, G, G}}},  // right half
        {7, 3, 3, 4, 4, 0, hm, hm, -hm, {{G, G, G, G}, {G, G, G, G}, {G, G, G, G}, {G, G, G, kRed}}},  // past the edge
        {8, -3, -3, 4, 4, 0, hm, hm, -hm, {{kWhite, G, G, G}, {G, G, G, G}, {G, G, G, G}, {G, G, G, G}}},  // before it
    };
    for (const Row& row : rows) {
        Canvas canvas(4, 4, kGrey);
        ASSERT_EQ(S_OK, picture->Render(canvas.dc(), row.x, row.y, row.cx, row.cy, row.xs, row.ys, row.cxs, row.cys, nullptr))
            << "row " << row.n;
        ExpectPixels(canvas, row.expected, "row " + std::to_string(row.n));
    }
}

TEST(IPictureRender, FailsWithoutPixelsToDrawOn) {
    ComRef<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(Quad(), &picture));
    HDC screen = GetDC(nullptr);
    HDC deleted = CreateCompatibleDC(nullptr);
    DeleteDC(deleted);
    EXPECT_EQ(E_INVALIDARG, RenderUpright(picture.get(), nullptr, 0, 0, 2, 2));
    EXPECT_EQ(E_FAIL, RenderUpright(picture.get(), deleted, 0, 0, 2, 2));
    EXPECT_EQ(E_FAIL, RenderUpright(picture.get(), screen, 0, 0, 2, 2));
    ReleaseDC(nullptr, screen);
    Canvas canvas(2, 2, kGrey);
    EXPECT_EQ(E_INVALIDARG, RenderUpright(picture.get(), canvas.dc(), 0, 0, 0, 2)) << "empty destination";
}

TEST(IPictureRender, TwoThreadsRenderOnePictureIntoTheirOwnDCs) {
    ComRef<IPicture> picture;
    ASSERT_EQ(S_OK, LoadPicture(Quad(), &picture));
    auto work = [&](uint32_t* corner) {
        Canvas canvas(8, 8, kGrey);
        for (int i = 0; i < 200; ++i) RenderUpright(picture.get(), canvas.dc(), 0, 0, 8, 8);
        *corner = canvas.At(7, 7);
    };
    uint32_t a = 0, b = 0;
    std::thread one(work, &a), two(work, &b);
    one.join();
    two.join();
    EXPECT_EQ(kWhite, a);
    EXPECT_EQ(kWhite, b);
}

// ---- Limits and damaged data ----------------------------------------------------------------

TEST(OleLoadPicture, RefusesPicturesOverTheSizeLimits) {
    struct Row {
        int n;
        Bytes data;
        HRESULT expected;
    } rows[] = {
        {1, SolidGif(8192, 1), S_OK},
        {2, SolidGif(8193, 1), CTL_E_INVALIDPICTURE},
        {3, SolidGif(1, 8193), CTL_E_INVALIDPICTURE},
        {4, SolidGif(8192, 4097), CTL_E_INVALIDPICTURE},  // sides allowed, over 32 Mi pixels
        {5, BuildBmp(8192, 1, 8, {{1, 2, 3}}, Bytes(8192, 0)), S_OK},
        {6, BuildBmp(8193, 1, 8, {{1, 2, 3}}, Bytes(8196, 0)), CTL_E_INVALIDPICTURE},
        {7, EncodePng({8192, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, Bytes(8192, 7)}), S_OK},
        {8, EncodePng({8193, 1, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, Bytes(8193, 7)}), CTL_E_INVALIDPICTURE},
        {9, EncodeJpeg(8192, 1, std::vector<Rgb>(8192, Rgb{1, 2, 3})), S_OK},
        {10, EncodeJpeg(8193, 1, std::vector<Rgb>(8193, Rgb{1, 2, 3})), CTL_E_INVALIDPICTURE},
    };
    for (const Row& row : rows) {
        ComRef<IPicture> picture;
        EXPECT_EQ(row.expected, LoadPicture(row.data, &picture)) << "row " << row.n;
        EXPECT_EQ(row.expected == S_OK, picture.get() != nullptr) << "row " << row.n;
    }
}

struct Sample {
    const char* name;
    Bytes data;
    size_t mustHave;  // every shorter prefix must fail
};

std::vector<Sample> Samples() {
    std::vector<Sample> samples;
    Bytes gif = EncodeGif({4, 4, kFourColours, 0, 0, 4, 4, {}, true, 2, Bytes(16, 1)});
    samples.push_back({"gif", gif, gif.size() - 1});  // all but the trailer
    Bytes png = EncodePng({4, 4, PNG_COLOR_TYPE_RGBA, 8, false, {}, {}, Bytes(64, 99)});
    samples.push_back({"png", png, png.size()});
    std::vector<Rgb> noise;
    for (int i = 0; i < 256; ++i) noise.push_back({static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i * 13), static_cast<uint8_t>(i)});
    Bytes jpeg = EncodeJpeg(16, 16, noise);
    samples.push_back({"jpeg", jpeg, jpeg.size()});
    Bytes bmp = BuildBmp(3, 2, 8, kFourColours, Bytes(8, 1));
    samples.push_back({"bmp", bmp, bmp.size()});
    return samples;
}

TEST(OleLoadPicture, TruncatedDataOfEveryFormatFails) {
    for (const Sample& sample : Samples()) {
        ComRef<IPicture> whole;
        ASSERT_EQ(S_OK, LoadPicture(sample.data, &whole)) << sample.name;
        for (size_t length = 0; length < sample.mustHave; ++length) {
            ComRef<IPicture> picture;
            Bytes cut(sample.data.begin(), sample.data.begin() + static_cast<std::ptrdiff_t>(length));
            HRESULT hr = LoadPicture(cut, &picture);
            EXPECT_TRUE(FAILED(hr)) << sample.name << " cut to " << length << " bytes";
            EXPECT_EQ(nullptr, picture.get()) << sample.name << " cut to " << length << " bytes";
        }
    }
}

TEST(OleLoadPicture, CorruptDataLoadsOrFailsCleanly) {
    // Every byte of every sample overwritten in turn with values that upset parsers. Nothing
    // to check but the contract: a picture that renders, or a failure with no object (ASan
    // watches the rest).
    Canvas canvas(8, 8, kGrey);
    for (const Sample& sample : Samples()) {
        for (size_t i = 0; i < sample.data.size(); ++i) {
            for (uint8_t value : {0x00, 0x7F, 0xFF}) {
                Bytes bad = sample.data;
                bad[i] = value;
                ComRef<IPicture> picture;
                HRESULT hr = LoadPicture(bad, &picture);
                if (SUCCEEDED(hr)) {
                    ASSERT_NE(nullptr, picture.get()) << sample.name << " byte " << i;
                    EXPECT_EQ(S_OK, RenderUpright(picture.get(), canvas.dc(), 0, 0, 8, 8));
                } else {
                    EXPECT_EQ(nullptr, picture.get()) << sample.name << " byte " << i;
                }
            }
        }
    }
}

}  // namespace
