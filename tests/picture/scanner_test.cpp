// The GIF block scanner and frame splitter on data built from readable pieces.
#include <gtest/gtest.h>
#ifdef _WIN32
#include <wincodec.h>
#else
#include <gif_lib.h>
#endif

#include <GifFormat.h>

#include <cstring>
#include <string>
#include <vector>

#include "gif_builder.h"
#include "picture_harness.h"

using gif_test::GifBuilder;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Slice(const Bytes& b, size_t from, size_t to) {
    return Bytes(b.begin() + from, b.begin() + to);
}

// A frame's file as the scanner cuts it out: the prologue, the frame's own span, the trailer.
Bytes FrameFile(const Bytes& all, size_t prologueEnd, size_t from, size_t to) {
    Bytes file = Slice(all, 0, prologueEnd);
    file.insert(file.end(), all.begin() + from, all.begin() + to);
    file.push_back(0x3B);
    return file;
}

// The bytes of a global block.
Bytes BlockBytes(HGLOBAL block, DWORD size) {
    const uint8_t* p = static_cast<const uint8_t*>(GlobalLock(block));
    Bytes out(p, p + size);
    GlobalUnlock(block);
    return out;
}

struct Extracted {
    HGLOBAL block = nullptr;
    DWORD size = 0;
    FrameRecord record = {};
    Bytes bytes;
};

Extracted Extract(PictureProbe& probe) {
    Extracted e;
    e.record.cx = e.record.cy = e.record.x = e.record.y = -7;  // "not written" marker
    e.block = probe.ExtractNextFrame(&e.size, &e.record.delay, &e.record.cx, &e.record.x,
                                     &e.record.disposal);
    if (e.block != nullptr) {
        e.bytes = BlockBytes(e.block, e.size);
        GlobalFree(e.block);
    }
    return e;
}

// Image count as an independent decoder reads the data, decoding every image (-1: it refuses
// the data); the first image's raster.
#ifdef _WIN32
// The system's GIF decoder (giflib is not built for Windows): one frame's palette indices.
bool DecodeFrame(IWICBitmapDecoder* decoder, UINT index, Bytes* raster) {
    IWICBitmapFrameDecode* frame = nullptr;
    if (FAILED(decoder->GetFrame(index, &frame))) return false;
    UINT w = 0, h = 0;
    WICPixelFormatGUID format = {};
    bool decoded = SUCCEEDED(frame->GetSize(&w, &h)) && SUCCEEDED(frame->GetPixelFormat(&format)) &&
                   format == GUID_WICPixelFormat8bppIndexed;
    if (decoded) {
        raster->resize(static_cast<size_t>(w) * h);
        decoded = SUCCEEDED(
            frame->CopyPixels(nullptr, w, static_cast<UINT>(raster->size()), raster->data()));
    }
    frame->Release();
    return decoded;
}

int DecodeImageCount(const Bytes& bytes, Bytes* firstRaster = nullptr) {
    GlobalBlock block(bytes);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block.get(), FALSE, &stream))) return -1;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    UINT frames = 0;
    int count = -1;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
        SUCCEEDED(factory->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand,
                                                   &decoder)) &&
        SUCCEEDED(decoder->GetFrameCount(&frames))) {
        count = static_cast<int>(frames);
        for (UINT i = 0; i < frames && count >= 0; ++i) {
            Bytes raster;
            if (!DecodeFrame(decoder, i, &raster)) count = -1;
            if (i == 0 && firstRaster != nullptr) *firstRaster = raster;
        }
    }
    if (decoder != nullptr) decoder->Release();
    if (factory != nullptr) factory->Release();
    stream->Release();
    if (SUCCEEDED(com)) CoUninitialize();
    return count;
}
#else
int DecodeImageCount(const Bytes& bytes, Bytes* firstRaster = nullptr) {
    struct Reader {
        const Bytes* data;
        size_t at;
    } reader{&bytes, 0};
    auto read = [](GifFileType* f, GifByteType* out, int n) -> int {
        auto* r = static_cast<Reader*>(f->UserData);
        const int left = static_cast<int>(r->data->size() - r->at);
        const int take = n < left ? n : left;
        std::memcpy(out, r->data->data() + r->at, static_cast<size_t>(take));
        r->at += static_cast<size_t>(take);
        return take;
    };
    int error = 0;
    GifFileType* f = DGifOpen(&reader, read, &error);
    if (f == nullptr) return -1;
    const int ok = DGifSlurp(f);
    const int count = ok == GIF_OK ? f->ImageCount : -1;
    if (count > 0 && firstRaster != nullptr) {
        const SavedImage& image = f->SavedImages[0];
        firstRaster->assign(image.RasterBits,
                            image.RasterBits + image.ImageDesc.Width * image.ImageDesc.Height);
    }
    DGifCloseFile(f, &error);
    return count;
}
#endif

}  // namespace

TEST(GifRecognition, SignatureAndVersion) {
    struct Row {
        int n;
        std::string head;
        bool gif;
    } rows[] = {
        {1, "GIF87a", true},  {2, "GIF89a", true},  {3, "GIF88a", false},      {4, "GIF8", false},
        {5, "gif89a", false}, {6, "GIF89b", false}, {7, "\x89PNG\r\n", false}, {8, "", false},
    };
    for (const Row& row : rows) {
        Bytes b(row.head.begin(), row.head.end());
        EXPECT_EQ(gif::IsGifSignature(b.data(), static_cast<DWORD>(b.size())), row.gif)
            << "row " << row.n << " \"" << row.head << "\"";
    }
}

TEST(GifBuilderOutput, DecodesWithAnotherDecoder) {
    // The builder's LZW must be real GIF LZW: code widening and the reset of a full table
    // (random pixels fill the 4096 codes several times over).
    Bytes noise(128 * 128);
    uint32_t lcg = 12345;
    for (uint8_t& px : noise) {
        lcg = lcg * 1103515245u + 12345u;
        px = static_cast<uint8_t>(lcg >> 16);
    }
    GifBuilder b;
    b.Header().Screen(128, 128, 7).Image(0, 0, 128, 128, noise).SolidImage(1, 1, 5, 5, 3, 2);
    b.Trailer();
    Bytes raster;
    EXPECT_EQ(DecodeImageCount(b.Bytes(), &raster), 2);
    EXPECT_TRUE(raster == noise);
}

TEST(GifScanner, ColourTableSizesPlaceTheFirstBlock) {
    struct Row {
        int n;
        int exponent;  // -1: no global table
        int tableBytes;
    } rows[] = {{1, -1, 0}, {2, 0, 6},   {3, 1, 12},  {4, 2, 24}, {5, 3, 48},
                {6, 4, 96}, {7, 5, 192}, {8, 6, 384}, {9, 7, 768}};
    for (const Row& row : rows) {
        GifBuilder b;
        b.Header().Screen(5, 3, row.exponent);
        const size_t first = b.Size();
        b.GraphicControl(7).SolidImage(0, 0, 2, 2, 1);
        const size_t end = b.Size();
        b.SolidImage(1, 1, 1, 1, 0).Trailer();
        PictureProbe p;
        p.ScanBytes(b.Bytes());
        EXPECT_EQ(p.colorTableSize, row.tableBytes) << "row " << row.n;
        EXPECT_EQ(p.scanPos, 13u + row.tableBytes) << "row " << row.n;
        EXPECT_EQ(first, 13u + row.tableBytes) << "row " << row.n;
        EXPECT_EQ(p.width, 5);
        EXPECT_EQ(p.height, 3);
        Extracted f = Extract(p);
        ASSERT_NE(f.block, nullptr) << "row " << row.n;
        const DWORD span = static_cast<DWORD>(end - first);
        EXPECT_EQ(f.size, 13u + row.tableBytes + span + 1) << "row " << row.n;
        EXPECT_EQ(p.CountImages(), 2) << "row " << row.n;
        p.EndScan();
    }
}

TEST(GifScanner, FrameBlocksByteForByte) {
    GifBuilder b;
    b.Header().Screen(20, 10, 1);
    const size_t prologueEnd = b.Size();
    b.Loop(0).Comment("before the frame");
    const size_t frame1 = b.Size();
    b.GraphicControl(25, 2).Comment("inside").GraphicControl(99, 3);
    b.SolidImage(3, 4, 5, 6, 2);
    const size_t frame1End = b.Size();
    b.SolidImage(1, 2, 3, 3, 1, /*local table*/ 2);
    const size_t frame2End = b.Size();
    b.Trailer();
    const Bytes& all = b.Bytes();

    PictureProbe p;
    p.ScanBytes(all);

    Extracted f1 = Extract(p);
    ASSERT_NE(f1.block, nullptr);
    EXPECT_EQ(f1.bytes, FrameFile(all, prologueEnd, frame1, frame1End))
        << "leading extensions stay out, inner ones go in";
    EXPECT_EQ(f1.record.delay, 25) << "the first graphic control extension counts";
    EXPECT_EQ(f1.record.disposal, 2);
    EXPECT_EQ(f1.record.cx, 5);
    EXPECT_EQ(f1.record.cy, 6);
    EXPECT_EQ(f1.record.x, 3);
    EXPECT_EQ(f1.record.y, 4);

    Extracted f2 = Extract(p);
    ASSERT_NE(f2.block, nullptr);
    EXPECT_EQ(f2.bytes, FrameFile(all, prologueEnd, frame1End, frame2End))
        << "the local colour table is copied with its image";
    EXPECT_EQ(f2.record.delay, -1) << "no graphic control extension";
    EXPECT_EQ(f2.record.disposal, 0);
    EXPECT_EQ(f2.record.cx, 3);
    EXPECT_EQ(f2.record.x, 1);

    EXPECT_EQ(Extract(p).block, nullptr) << "the trailer ends the frames";
    // Every extracted frame is a GIF of one image that a decoder accepts.
    EXPECT_EQ(DecodeImageCount(f1.bytes), 1);
    EXPECT_EQ(DecodeImageCount(f2.bytes), 1);
    p.EndScan();
}

TEST(GifScanner, PlainTextIsAFrameOverTheWholeScreen) {
    GifBuilder b;
    b.Header().Screen(40, 30, 1).GraphicControl(10).PlainText(2, 2, 16, 8, "Hi");
    b.SolidImage(0, 0, 4, 4, 1).Trailer();
    PictureProbe p;
    p.ScanBytes(b.Bytes());
    EXPECT_EQ(p.CountImages(), 2);
    p.ResetScanPosition();
    Extracted f = Extract(p);
    ASSERT_NE(f.block, nullptr);
    EXPECT_EQ(f.record.delay, 10);
    EXPECT_EQ(f.record.x, 0);
    EXPECT_EQ(f.record.y, 0);
    EXPECT_EQ(f.record.cx, 40);
    EXPECT_EQ(f.record.cy, 30);
    p.EndScan();
}

TEST(GifScanner, DamagedFilesKeepTheCompleteImagesBeforeTheDamage) {
    GifBuilder base;
    base.Header().Screen(8, 8, 1).GraphicControl(5).SolidImage(0, 0, 8, 8, 0);
    const size_t oneImage = base.Size();
    base.GraphicControl(5).SolidImage(0, 0, 8, 8, 1);
    const size_t twoImages = base.Size();

    struct Row {
        int n;
        const char* what;
        Bytes bytes;
        int images;
    };
    std::vector<Row> rows;
    Bytes all = base.Bytes();
    rows.push_back({1, "no trailer", all, 2});
    rows.push_back({2, "last image cut in its data", Slice(all, 0, twoImages - 3), 1});
    rows.push_back({3, "cut inside the second descriptor", Slice(all, 0, oneImage + 8 + 4), 1});
    rows.push_back({4, "cut inside a graphic control extension", Slice(all, 0, oneImage + 5), 1});
    rows.push_back({5, "cut after the extension introducer", Slice(all, 0, oneImage + 1), 1});
    Bytes unknownLabel = Slice(all, 0, oneImage);
    unknownLabel.insert(unknownLabel.end(), {0x21, 0x99, 0x05, 'a', 'b'});
    rows.push_back({6, "extension of unknown label running off the end", unknownLabel, 1});
    Bytes strayByte = Slice(all, 0, oneImage);
    strayByte.push_back(0x00);
    strayByte.insert(strayByte.end(), all.begin() + oneImage, all.end());
    rows.push_back({7, "stray byte between blocks", strayByte, 1});
    Bytes chainOff = Slice(all, 0, oneImage);
    chainOff.insert(chainOff.end(), {0x21, 0xFE, 0x05, 'a', 'b'});
    rows.push_back({8, "comment chain running off the end", chainOff, 1});
    rows.push_back({9, "prologue only", Slice(all, 0, 13 + 12), 0});
    rows.push_back({10, "shorter than the colour table", Slice(all, 0, 20), 0});
    rows.push_back({11, "shorter than the screen descriptor", Slice(all, 0, 9), 0});
    Bytes trailerFirst = Slice(all, 0, 25);
    trailerFirst.push_back(0x3B);
    trailerFirst.insert(trailerFirst.end(), all.begin() + 25, all.end());
    rows.push_back({12, "trailer before any image", trailerFirst, 0});

    for (Row& row : rows) {
        PictureProbe p;
        p.ScanBytes(row.bytes);
        EXPECT_EQ(p.CountImages(), row.images) << "row " << row.n << ": " << row.what;
        p.ResetScanPosition();
        int extracted = 0;
        while (Extract(p).block != nullptr) ++extracted;
        EXPECT_EQ(extracted, row.images) << "row " << row.n << ": " << row.what;
        p.EndScan();
    }
}

TEST(GifScanner, UnknownExtensionsAndOtherControlBlockSizesAreWalkedBySubBlocks) {
    GifBuilder b;
    b.Header().Screen(8, 8, 1);
    const size_t prologueEnd = b.Size();
    b.Raw({0x21, 0x99, 0x03, 'a', 'b', 'c', 0x00});  // unknown label, before the frame
    const size_t frame1 = b.Size();
    // Graphic control of 5 bytes: disposal 2, delay 42, transparent index, one byte more.
    b.Raw({0x21, 0xF9, 0x05, 0x08, 42, 0x00, 0x00, 0x77, 0x00});
    b.Raw({0x21, 0x42, 0x01, 'x', 0x00});  // unknown label, inside the frame
    b.SolidImage(1, 1, 4, 4, 1);
    const size_t frame1End = b.Size();
    b.Raw({0x21, 0xF9, 0x01, 0x0C, 0x00});  // graphic control of 1 byte: disposal 3, no delay
    b.SolidImage(0, 0, 8, 8, 2);
    b.Trailer();
    const Bytes& all = b.Bytes();

    PictureProbe p;
    p.ScanBytes(all);
    EXPECT_EQ(p.CountImages(), 2);
    p.scanPos = static_cast<DWORD>(prologueEnd);
    EXPECT_EQ(p.BlockLength(), 7) << "an unknown label is measured by its sub-blocks";
    p.scanPos = static_cast<DWORD>(frame1);
    EXPECT_EQ(p.BlockLength(), 9) << "so is a graphic control block of another size";

    p.ResetScanPosition();
    Extracted f1 = Extract(p);
    ASSERT_NE(f1.block, nullptr);
    EXPECT_EQ(f1.bytes, FrameFile(all, prologueEnd, frame1, frame1End))
        << "left out in front of the frame, copied inside it";
    EXPECT_EQ(f1.record.delay, 42);
    EXPECT_EQ(f1.record.disposal, 2);
    Extracted f2 = Extract(p);
    ASSERT_NE(f2.block, nullptr);
    EXPECT_EQ(f2.record.delay, 0) << "a field the block does not hold reads as 0";
    EXPECT_EQ(f2.record.disposal, 3);
    EXPECT_EQ(DecodeImageCount(f1.bytes), 1);
    EXPECT_EQ(DecodeImageCount(f2.bytes), 1);
    p.EndScan();
}

TEST(GifScanner, BlockMeasures) {
    GifBuilder b;
    b.Header().Screen(4, 4, -1);
    const size_t app = b.Size();
    b.Loop(0);
    const size_t comment = b.Size();
    b.Comment("");
    const size_t gce = b.Size();
    b.GraphicControl(1);
    const size_t text = b.Size();
    b.PlainText(0, 0, 8, 8, "x");
    const size_t image = b.Size();
    b.SolidImage(0, 0, 1, 1, 0, 0);
    const size_t trailer = b.Size();
    b.Trailer();
    const Bytes& all = b.Bytes();

    PictureProbe p;
    p.ScanBytes(all);
    struct Row {
        int n;
        size_t at;
        GifBlockKind kind;
        int length;
    } rows[] = {
        {1, app, BlockApplication, static_cast<int>(comment - app)},
        {2, comment, BlockComment, 3},  // marker, label, empty chain
        {3, gce, BlockGraphicControl, 8},
        {4, text, BlockPlainText, static_cast<int>(image - text)},
        {5, image, BlockImage, static_cast<int>(trailer - image)},
        {6, trailer, BlockTrailer, 1},
        {7, all.size(), BlockUnknown, -1},  // at the very end of the data
    };
    for (const Row& row : rows) {
        p.scanPos = static_cast<DWORD>(row.at);
        EXPECT_EQ(p.ClassifyBlock(), row.kind) << "row " << row.n;
        EXPECT_EQ(p.BlockLength(), row.length) << "row " << row.n;
    }
    EXPECT_EQ(p.SubBlocksLength(static_cast<DWORD>(comment + 2)), 1) << "an empty chain";
    p.EndScan();

    // Chains with runs of full sub-blocks (255 bytes), which are stepped over in a run; each
    // ends with the data.
    auto chain = [](std::initializer_list<int> sizes) {
        Bytes bytes;
        for (int size : sizes) {
            bytes.push_back(static_cast<uint8_t>(size));
            bytes.insert(bytes.end(), static_cast<size_t>(size), 0xFF);  // data that looks full
        }
        return bytes;
    };
    struct ChainRow {
        int n;
        Bytes bytes;
        int length;
    } chains[] = {
        {1, chain({255, 255, 255, 0}), 3 * 256 + 1},
        {2, chain({255, 7, 255, 0}), 2 * 256 + 8 + 1},
        {3, chain({255, 255}), 0},  // the data ends where a length is due
    };
    for (const ChainRow& row : chains) {
        p.data = const_cast<BYTE*>(row.bytes.data());
        p.dataSize = static_cast<DWORD>(row.bytes.size());
        EXPECT_EQ(p.SubBlocksLength(0), row.length) << "chain " << row.n;
    }
    p.ScanBytes(all);

    // A block ending exactly at the end is accepted; one byte less and scanPos stays.
    p.scanPos = static_cast<DWORD>(trailer);
    EXPECT_TRUE(p.AdvanceBlock());
    EXPECT_EQ(p.scanPos, all.size());
    p.scanPos = static_cast<DWORD>(gce);
    p.dataSize = static_cast<DWORD>(gce + 7);
    EXPECT_FALSE(p.AdvanceBlock());
    EXPECT_EQ(p.scanPos, gce);
    p.EndScan();

    EXPECT_FALSE(p.SkipToNextImage()) << "no data";
    EXPECT_FALSE(p.AdvanceBlock()) << "no data";
    EXPECT_EQ(Extract(p).block, nullptr) << "no data";
}
