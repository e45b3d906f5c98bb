// OLE picture loading: streams over global memory, OleLoadPicture for GIF and BMP, the picture's
// bitmap, and IPicture::Render into memory DCs. Inputs are built in code.
// ctest-labels: threaded;win32
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ole_helpers.h"
#include "sides.h"

namespace {

using namespace portrix_test;

constexpr char kWineReadsPastTheSize[] =
    "OleLoadPicture reads the number of bytes it is given (Microsoft's OleLoadPicture "
    "documentation: lSize, the number of bytes that should be read); Wine 8.0 reads on to the "
    "end of the stream";
constexpr char kSizeLimit[] = "the layer refuses pictures over 8192 pixels a side or 32 Mi pixels";

// ---- Encoders -------------------------------------------------------------------------------

struct GifSpec {
    int screenWidth, screenHeight;
    std::vector<Rgb> globalColors;  // empty: none
    int left, top, width, height;
    std::vector<Rgb> localColors;  // empty: none
    bool interlaced;
    int transparentIndex;  // -1: no graphic control extension
    Bytes indices;         // raster order
};

// A GIF 89a with 8-bit colour resolution and colour tables padded to a power of two.
void PutTable(Bytes* out, const std::vector<Rgb>& colors, int exponent) {
    for (int i = 0; i < (2 << exponent); ++i) {
        const Rgb c = i < static_cast<int>(colors.size()) ? colors[i] : Rgb{0, 0, 0};
        out->insert(out->end(), {c.r, c.g, c.b});
    }
}

int TableExponent(const std::vector<Rgb>& colors) {
    if (colors.empty()) return -1;
    int exponent = 0;
    while ((2 << exponent) < static_cast<int>(colors.size())) ++exponent;
    return exponent;
}

void Put16(Bytes* out, int value) {
    out->insert(out->end(), {uint8_t(value & 0xFF), uint8_t(value >> 8)});
}

Bytes EncodeGif(const GifSpec& s) {
    const int global = TableExponent(s.globalColors), local = TableExponent(s.localColors);
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(&out, s.screenWidth);
    Put16(&out, s.screenHeight);
    out.insert(out.end(), {uint8_t(global >= 0 ? 0xF0 | global : 0x70), 0, 0});
    if (global >= 0) PutTable(&out, s.globalColors, global);
    if (s.transparentIndex >= 0)
        out.insert(out.end(), {0x21, 0xF9, 4, 1, 0, 0, uint8_t(s.transparentIndex), 0});
    out.push_back(0x2C);
    for (int v : {s.left, s.top, s.width, s.height}) Put16(&out, v);
    out.push_back(uint8_t((local >= 0 ? 0x80 | local : 0) | (s.interlaced ? 0x40 : 0)));
    if (local >= 0) PutTable(&out, s.localColors, local);
    Bytes rows;                                               // in the order the file stores them
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};  // the interlaced passes
    for (int pass = 0; pass < (s.interlaced ? 4 : 1); ++pass) {
        for (int y = s.interlaced ? start[pass] : 0; y < s.height;
             y += s.interlaced ? step[pass] : 1) {
            const auto row = s.indices.begin() + static_cast<long>(y) * s.width;
            rows.insert(rows.end(), row, row + s.width);
        }
    }
    const int minCodeSize = std::max(2, std::max(global, local) + 1);
    out.push_back(uint8_t(minCodeSize));
    const Bytes lzw = LzwEncode(rows, minCodeSize);
    for (size_t at = 0; at < lzw.size(); at += 255) {
        const size_t n = std::min<size_t>(255, lzw.size() - at);
        out.push_back(uint8_t(n));
        out.insert(out.end(), lzw.begin() + long(at), lzw.begin() + long(at + n));
    }
    out.insert(out.end(), {0, 0x3B});
    return out;
}

Bytes SolidGif(int w, int h) {
    return EncodeGif(
        {w, h, {{10, 20, 30}, {0, 0, 0}}, 0, 0, w, h, {}, false, -1, Bytes(size_t(w) * h, 0)});
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
    pos.QuadPart = 99;
    EXPECT_EQ(STG_E_SEEKERROR, stream->Seek(move, STREAM_SEEK_CUR, &pos)) << "before the start";
    EXPECT_EQ(4u, pos.QuadPart) << "it stays where it was";
    move.QuadPart = 10;
    EXPECT_EQ(S_OK, stream->Seek(move, STREAM_SEEK_SET, &pos));
    EXPECT_EQ(S_OK, stream->Read(buf, 4, &n));
    if (NotUnderWine("past the end",
                     "a read stops at the end of the stream (Microsoft's ISequentialStream::Read "
                     "documentation); Wine 8.0 reads on past the block from a position beyond "
                     "its end")) {
        EXPECT_EQ(0u, n) << "past the end there is nothing to read";
    }
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
    } rows[] = {
        {1, exact, S_OK}, {2, 0, S_OK}, {3, -1, S_OK}, {4, exact - 6, CTL_E_INVALIDPICTURE}};
    for (const auto& row : rows) {
        if (row.n == 4 && !NotUnderWine("row 4", kWineReadsPastTheSize)) continue;
        ComPtr<IStream> stream = StreamOn(block.get(), FALSE);
        LARGE_INTEGER skip{}, none{};
        ULARGE_INTEGER pos{};
        skip.QuadPart = 4;
        stream->Seek(skip, STREAM_SEEK_SET, nullptr);
        void* picture = nullptr;
        EXPECT_EQ(row.expected,
                  OleLoadPicture(stream.get(), row.size, FALSE, IID_IPicture, &picture))
            << row.n;
        EXPECT_EQ(row.expected == S_OK, picture != nullptr) << row.n;
        if (picture) static_cast<IPicture*>(picture)->Release();
        stream->Seek(none, STREAM_SEEK_CUR, &pos);
        if (row.n == 1 && NotUnderWine("row 1, position", kWineReadsPastTheSize)) {
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
        if (SUCCEEDED(hr) ||
            NotUnderWine("IStream", "Wine 8.0 leaves the out pointer as it was on failure")) {
            EXPECT_EQ(SUCCEEDED(hr), object != nullptr);
        }
        if (SUCCEEDED(hr) && object) static_cast<IUnknown*>(object)->Release();
    }
    const Bytes notPictures[] = {
        {}, {'G', 'I', 'F', '9', '0', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}, {'B'}, {0xFF, 0xD8}};
    for (const Bytes& bytes : notPictures) {
        ComPtr<IPicture> picture;
        const HRESULT hr = LoadPicture(bytes, &picture);
        EXPECT_TRUE(FAILED(hr)) << bytes.size() << " bytes";
        if (NotUnderWine(std::to_string(bytes.size()) + " bytes",
                         "Wine 8.0 gives E_FAIL or E_INVALIDARG, not CTL_E_INVALIDPICTURE")) {
            EXPECT_EQ(CTL_E_INVALIDPICTURE, hr) << bytes.size() << " bytes";
        }
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
    EXPECT_EQ(Hex({0x0A141E, kWhite, kWhite}),
              Hex({canvas.At(95, 47), canvas.At(96, 47), canvas.At(95, 48)}));

    ASSERT_EQ(S_OK, LoadPicture(SolidGif(97, 1), &picture));
    EXPECT_EQ(2566, Himetric(picture.get()).cx) << "MulDiv rounds 2566.46";
}

TEST(IPicture, HandleIsThePicturesOwnBitmap) {
    ComPtr<IPicture> picture;  // 2 x 1: red, green
    ASSERT_EQ(S_OK, LoadPicture(BuildBmp(2, -1, 24, {}, {0, 0, 255, 0, 255, 0, 0, 0}), &picture));
    OLE_HANDLE handle = 0;
    ASSERT_EQ(S_OK, picture->get_Handle(&handle));
    HBITMAP bitmap = reinterpret_cast<HBITMAP>(static_cast<uintptr_t>(handle));
    BITMAP bm{};
    ASSERT_EQ(static_cast<int>(sizeof bm), GetObject(bitmap, sizeof bm, &bm));
    EXPECT_EQ(2, bm.bmWidth);
    EXPECT_EQ(1, bm.bmHeight);
    OwnedDC dc(CreateCompatibleDC(nullptr));
    HGDIOBJ old = SelectObject(dc.get(), bitmap);
    EXPECT_EQ(Hex({kRed, kGreen}),
              Hex({PixelOf(GetPixel(dc.get(), 0, 0)), PixelOf(GetPixel(dc.get(), 1, 0))}));
    SelectObject(dc.get(), old);
    OLE_HANDLE again = 0;
    picture->get_Handle(&again);
    EXPECT_EQ(handle, again) << "one bitmap, however often asked";
    picture.reset();
    EXPECT_EQ(0u, GetObjectType(bitmap)) << "the picture owns its bitmap";
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
        {"transparent",
         {2, 2, kFourColours, 0, 0, 2, 2, {}, false, 1, {0, 1, 2, 1}},
         {kRed, kGrey, kBlue, kGrey}},
        {"interlaced",
         {1, 10, tenReds, 0, 0, 1, 10, {}, true, -1, tenRows},
         {0, 0x140000, 0x280000, 0x3C0000, 0x500000, 0x640000, 0x780000, 0x8C0000, 0xA00000,
          0xB40000}},
        // A 2 x 3 image at (5, 7) of a 20 x 20 screen, as the frame splitter makes them: the
        // picture is the image's own size, and the local table wins over the global one.
        {"local table",
         {20, 20, kFourColours, 5, 7, 2, 3, {{1, 2, 3}, {4, 5, 6}}, false, -1, {0, 1, 1, 0, 0, 0}},
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
    if (NotUnderWine("no table", "Wine 8.0 crashes on a GIF without a colour table")) {
        EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(EncodeGif(noTable), &picture));
    }
    if (NotUnderWine("past the table", "Wine 8.0 takes indices past the colour table")) {
        EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(EncodeGif(pastTable), &picture));
        // One such index among long strings of good ones: first, amid them, the last pixel.
        for (size_t at : {0, 137, 255}) {
            GifSpec stray{16, 16, {{9, 9, 9}, {8, 8, 8}}, 0, 0, 16, 16, {}, false, -1, Bytes(256)};
            for (size_t i = 0; i < 256; ++i) stray.indices[i] = (i / 3 + i / 16) % 2;
            stray.indices[at] = 3;
            EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(EncodeGif(stray), &picture)) << at;
            stray.indices[at] = 1;
            EXPECT_EQ(S_OK, LoadPicture(EncodeGif(stray), &picture)) << at;
        }
    }
}

TEST(GifDecoding, PicturesOfTheSameBytesFirstDrawnOnSeveralThreadsDrawAlike) {
    // A GIF is decoded when first drawn, on the drawing thread, once for all its pictures.
    Bytes stripes(16 * 16);
    for (size_t i = 0; i < stripes.size(); ++i) stripes[i] = (i % 16 + i / 16) % 4;
    const Bytes gif = EncodeGif({16, 16, kFourColours, 0, 0, 16, 16, {}, false, -1, stripes});
    const Pixels expected = LoadAndRender(gif, 16, 16);
    for (int round = 0; round < 4; ++round) {
        constexpr int kThreads = 4;
        std::vector<ComPtr<IPicture>> pictures(kThreads);
        for (auto& picture : pictures) ASSERT_EQ(S_OK, LoadPicture(gif, &picture));
        std::vector<Pixels> drawn(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                Canvas canvas(16, 16, kGrey);
                if (RenderUpright(pictures[t].get(), canvas.dc(), 0, 0, 16, 16) == S_OK)
                    drawn[t] = canvas.All();
            });
        }
        for (auto& thread : threads) thread.join();
        for (int t = 0; t < kThreads; ++t) EXPECT_EQ(Hex(expected), Hex(drawn[t])) << t;
    }
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
        {24,
         {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0},
         {255, 255, 255, 0, 0, 255, 0, 255, 0, 0, 0, 0},
         threeColours},
        {32,
         {0, 0, 255, 9, 0, 255, 0, 9, 255, 0, 0, 9},
         {255, 255, 255, 9, 0, 0, 255, 9, 0, 255, 0, 9},
         threeColours},
    };
    for (const auto& row : rows) {
        std::vector<Rgb> palette(kFourColours.begin(),
                                 kFourColours.begin() + (row.bitCount == 1 ? 2 : 4));
        if (row.bitCount > 8) palette.clear();
        for (bool topDown : {false, true}) {
            Bytes data = topDown ? row.top : row.bottom;
            const Bytes& second = topDown ? row.bottom : row.top;
            data.insert(data.end(), second.begin(), second.end());
            EXPECT_EQ(Hex(row.expected),
                      Hex(LoadAndRender(BuildBmp(3, topDown ? -2 : 2, row.bitCount, palette, data),
                                        3, 2)))
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
        if (i == 0 && !LayerOnly("refused",
                                 "the layer's BMP reader takes fewer forms (no core header, RLE or "
                                 "16 bits) and refuses damaged sizes that Wine 8.0 takes"))
            break;
        ComPtr<IPicture> picture;
        EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(refused[i], &picture)) << "case " << i;
    }
}

// ---- Render ---------------------------------------------------------------------------------

TEST(IPictureRender, ScalesFlipsMirrorsAndClips) {
    // 2 x 2: red, green / blue, white; 53 HIMETRIC both ways.
    ComPtr<IPicture> picture;
    ASSERT_EQ(S_OK,
              LoadPicture(BuildBmp(2, -2, 24, {},
                                   {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0}),
                          &picture));
    const LONG hm = 53;
    const uint32_t R = kRed, G = kGreen, B = kBlue, W = kWhite, _ = kGrey;
    struct {
        const char* what;
        LONG x, y, cx, cy, xs, ys, cxs, cys;
        Pixels expected;  // 4 x 4
    } rows[] = {
        {"upright", 0, 0, 2, 2, 0, hm, hm, -hm, {R, G, _, _, B, W, _, _, _, _, _, _, _, _, _, _}},
        {"doubled", 0, 0, 4, 4, 0, hm, hm, -hm, {R, R, G, G, R, R, G, G, B, B, W, W, B, B, W, W}},
        {"halved: the centre's pixel",
         1,
         1,
         1,
         1,
         0,
         hm,
         hm,
         -hm,
         {_, _, _, _, _, W, _, _, _, _, _, _, _, _, _, _}},
        {"upside down", 0, 0, 2, 2, 0, 0, hm, hm, {B, W, _, _, R, G, _, _, _, _, _, _, _, _, _, _}},
        {"mirrored", 2, 0, -2, 2, 0, hm, hm, -hm, {G, R, _, _, W, B, _, _, _, _, _, _, _, _, _, _}},
        {"right half",
         0,
         0,
         2,
         2,
         27,
         hm,
         26,
         -hm,
         {G, G, _, _, W, W, _, _, _, _, _, _, _, _, _, _}},
        {"past the edge",
         3,
         3,
         4,
         4,
         0,
         hm,
         hm,
         -hm,
         {_, _, _, _, _, _, _, _, _, _, _, _, _, _, _, R}},
        {"before it",
         -3,
         -3,
         4,
         4,
         0,
         hm,
         hm,
         -hm,
         {W, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _}},
    };
    for (const auto& row : rows) {
        const std::string what = row.what;
        if (what == "halved: the centre's pixel" &&
            !LayerOnly(
                what,
                "the layer takes the picture pixel under each pixel's centre; Wine 8.0 the first"))
            continue;
        if ((what == "upside down" || what == "mirrored") &&
            !LayerOnly(what,
                       "Wine 8.0 draws a flipped or mirrored picture one pixel further on, as the "
                       "layer's own StretchBlt would; open, the product draws upright only"))
            continue;
        Canvas canvas(4, 4, kGrey);
        EXPECT_EQ(S_OK, picture->Render(canvas.dc(), row.x, row.y, row.cx, row.cy, row.xs, row.ys,
                                        row.cxs, row.cys, nullptr));
        EXPECT_EQ(Hex(row.expected), Hex(canvas.All())) << row.what;
    }

    HDC screen = GetDC(nullptr), deleted = CreateCompatibleDC(nullptr);
    DeleteDC(deleted);
    Canvas canvas(2, 2, kGrey);
    if (NotUnderWine("no DC", "Wine 8.0 reports success rendering into no DC")) {
        EXPECT_EQ(E_INVALIDARG, RenderUpright(picture.get(), nullptr, 0, 0, 2, 2));
    }
    if (NotUnderWine("deleted DC", "Wine 8.0 reports success drawing into a deleted DC")) {
        EXPECT_EQ(E_FAIL, RenderUpright(picture.get(), deleted, 0, 0, 2, 2));
    }
    if (LayerOnly("screen DC", "the layer's screen DC has no pixels to draw on")) {
        EXPECT_EQ(E_FAIL, RenderUpright(picture.get(), screen, 0, 0, 2, 2))
            << "a DC without pixels";
    }
    EXPECT_EQ(CTL_E_INVALIDPROPERTYVALUE, RenderUpright(picture.get(), canvas.dc(), 0, 0, 0, 2))
        << "an empty destination";
    ReleaseDC(nullptr, screen);
}

TEST(IPictureRender, TwoThreadsRenderOnePictureIntoTheirOwnDCs) {
    if (!LayerOnly("all",
                   "the layer lets two threads render one picture; the original's belongs to "
                   "its apartment"))
        return;
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

TEST(OleLoadPicture, RefusesGifAndBmpPicturesOverTheSizeLimits) {
    auto gif = [](int w, int h) { return [=] { return SolidGif(w, h); }; };
    auto bmp = [](int w) {
        return [=] { return BuildBmp(w, 1, 8, {{1, 2, 3}}, Bytes(size_t(w + 3) / 4 * 4, 0)); };
    };
    struct {
        const char* what;
        std::function<Bytes()> data;  // made only for rows that run
        HRESULT expected;
    } rows[] = {
        {"gif 8192 x 1", gif(8192, 1), S_OK},
        {"gif 8193 x 1", gif(8193, 1), CTL_E_INVALIDPICTURE},
        {"gif 1 x 8193", gif(1, 8193), CTL_E_INVALIDPICTURE},
        {"gif 8192 x 4097: over 32 Mi pixels", gif(8192, 4097), CTL_E_INVALIDPICTURE},
        {"bmp 8192", bmp(8192), S_OK},
        {"bmp 8193", bmp(8193), CTL_E_INVALIDPICTURE},
    };
    for (const auto& row : rows) {
        if (row.expected != S_OK && !LayerOnly(row.what, kSizeLimit)) continue;
        ComPtr<IPicture> picture;
        EXPECT_EQ(row.expected, LoadPicture(row.data(), &picture)) << row.what;
    }
}

constexpr char kWineTakesPrefixes[] = "Wine 8.0 takes some cut pictures for whole ones";
constexpr char kWineCrashes[] = "Wine 8.0's OleLoadPicture crashes on some damaged BMP pictures";

std::vector<Sample> Samples() {
    Bytes gif = EncodeGif({4, 4, kFourColours, 0, 0, 4, 4, {}, true, 2, Bytes(16, 1)});
    // Two colours under 2-bit codes: damaged codes can name indices past the table, strings of
    // the table, and the entry being defined. Loading checks the codes without decoding them,
    // so a picture that loads must then decode.
    Bytes stripes(16 * 16);
    for (size_t i = 0; i < stripes.size(); ++i) stripes[i] = ((i % 16) / 3 + i / 16) % 2;
    Bytes codes =
        EncodeGif({16, 16, {{255, 0, 0}, {0, 0, 255}}, 0, 0, 16, 16, {}, false, -1, stripes});
    Bytes bmp = BuildBmp(3, 2, 8, kFourColours, Bytes(8, 1));
    // A GIF needs everything but its trailer, since only the first image is read.
    return {{"gif", gif, gif.size() - 1, kWineTakesPrefixes, nullptr},
            {"gif codes", codes, codes.size() - 1, kWineTakesPrefixes, nullptr},
            {"bmp", bmp, bmp.size(), kWineTakesPrefixes, kWineCrashes}};
}

TEST(OleLoadPicture, TruncatedOrCorruptDataFailsCleanly) {
    ExpectDamageFailsCleanly(Samples());
}

TEST(OleLoadPicture, ManyColoursOverManyCodeTablesLoadOnlyWholeAndDrawAsEncoded) {
    // 256 greys over 200 x 400 pixels: rows of runs and of noise, whose codes fill the table
    // and clear it several times, then rows of one grey each, whose long strings count more
    // pixels than any table of string lengths holds. Loading follows all of it without
    // decoding.
    std::vector<Rgb> greys;
    for (int i = 0; i < 256; ++i) greys.push_back({uint8_t(i), uint8_t(i), uint8_t(i)});
    constexpr int kWidth = 200, kHeight = 400;
    Bytes indices(kWidth * kHeight);
    uint32_t noise = 1;
    Pixels expected;
    for (size_t i = 0; i < indices.size(); ++i) {
        noise = noise * 1103515245u + 12345u;
        const size_t y = i / kWidth;
        indices[i] = y >= 100 ? uint8_t(y / 8) : y % 2 ? uint8_t(noise >> 24) : uint8_t(i / 37);
        expected.push_back(indices[i] * 0x010101u);
    }
    const Bytes gif =
        EncodeGif({kWidth, kHeight, greys, 0, 0, kWidth, kHeight, {}, false, -1, indices});
    EXPECT_TRUE(LoadAndRender(gif, kWidth, kHeight) == expected);
    if (!NotUnderWine("codes ending early", kWineTakesPrefixes)) return;
    // The same codes for one more row: the end code comes before the last pixel.
    Bytes taller = gif;
    const size_t height = 13 + 3 * 256 + 7;  // in the image descriptor, after the table
    ASSERT_EQ(kHeight & 0xFF, taller[height]);
    taller[height] += 1;
    ComPtr<IPicture> picture;
    EXPECT_EQ(CTL_E_INVALIDPICTURE, LoadPicture(taller, &picture));
}

}  // namespace
