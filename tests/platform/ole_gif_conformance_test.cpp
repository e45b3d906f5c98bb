// The public GIF conformance suite, read in place: every file must load or fail cleanly, and a
// file with one image covering its whole logical screen must render exactly as expected, with
// transparent pixels (alpha 0 in the expected .rgba) keeping the background.
#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "kernel_handles.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kBackground = 0x5A3C1E;  // a colour no test image uses
constexpr int kMaxSide = 8192;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The first frame's expected pixels file of a .conf, or "" when the decoder should fail.
std::string ExpectedPixelsFile(const std::string& conf) {
    size_t at = conf.find("pixels = ");
    return at == std::string::npos ? "" : conf.substr(at + 9, conf.find('\n', at) - at - 9);
}

// The first image's rectangle, when giflib reads the file as one image covering the screen;
// *slurped tells whether giflib read the file at all.
bool OneFullScreenImage(const Bytes& gif, int* width, int* height, bool* slurped) {
    struct Source {
        const Bytes* bytes;
        size_t pos;
    } source{&gif, 0};
    auto read = [](GifFileType* g, GifByteType* out, int n) {
        auto* s = static_cast<Source*>(g->UserData);
        size_t count = std::min<size_t>(static_cast<size_t>(n), s->bytes->size() - s->pos);
        std::memcpy(out, s->bytes->data() + s->pos, count);
        s->pos += count;
        return static_cast<int>(count);
    };
    int error = 0;
    GifFileType* file = DGifOpen(&source, read, &error);
    *slurped = false;
    if (file == nullptr) return false;
    *slurped = DGifSlurp(file) == GIF_OK;
    bool one = *slurped && file->ImageCount == 1;
    if (one) {
        const GifImageDesc& d = file->SavedImages[0].ImageDesc;
        one = d.Left == 0 && d.Top == 0 && d.Width == file->SWidth && d.Height == file->SHeight &&
              d.Width > 0 && d.Height > 0;
        *width = d.Width;
        *height = d.Height;
    }
    DGifCloseFile(file, &error);
    return one;
}

struct Releaser {
    void operator()(IUnknown* p) const { p->Release(); }
};

int ConfValue(const std::string& conf, const std::string& key) {
    size_t at = conf.find("\n" + key + " = ");
    return at == std::string::npos ? 0 : std::atoi(conf.c_str() + at + key.size() + 4);
}

// For a file giflib refuses: a single frame, loaded at the size of the .conf's screen.
bool OneScreenSizedFrame(const std::string& conf, IPicture* picture, int* width, int* height) {
    constexpr int kHimetricPerInch = 2540, kPixelsPerInch = 96;
    OLE_XSIZE_HIMETRIC hmWidth = 0;
    OLE_YSIZE_HIMETRIC hmHeight = 0;
    *width = ConfValue(conf, "width");
    *height = ConfValue(conf, "height");
    return picture != nullptr && conf.find("\nframes = frame0\n") != std::string::npos &&
           SUCCEEDED(picture->get_Width(&hmWidth)) && SUCCEEDED(picture->get_Height(&hmHeight)) &&
           hmWidth == MulDiv(*width, kHimetricPerInch, kPixelsPerInch) &&
           hmHeight == MulDiv(*height, kHimetricPerInch, kPixelsPerInch);
}

// Loads a picture through a delete-on-release stream over a copy of the bytes.
HRESULT Load(const Bytes& bytes, std::unique_ptr<IPicture, Releaser>* picture) {
    portrix_test::OwnedGlobal block(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    std::copy(bytes.begin(), bytes.end(), portrix_test::GlobalLockGuard(block.get()).as<uint8_t>());
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, &stream))) return E_UNEXPECTED;
    block.release();
    std::unique_ptr<IStream, Releaser> owned(stream);
    void* object = nullptr;
    HRESULT hr =
        OleLoadPicture(stream, static_cast<LONG>(bytes.size()), FALSE, IID_IPicture, &object);
    picture->reset(static_cast<IPicture*>(object));
    return hr;
}

// Renders the picture upright at w x h over the background and reads the pixels back.
std::vector<uint32_t> RenderOverBackground(IPicture* picture, int w, int h) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH brush =
        CreateSolidBrush(RGB(kBackground >> 16, (kBackground >> 8) & 0xFF, kBackground & 0xFF));
    RECT all{0, 0, w, h};
    FillRect(dc, &all, brush);
    LONG hmWidth = 0, hmHeight = 0;
    picture->get_Width(&hmWidth);
    picture->get_Height(&hmHeight);
    std::vector<uint32_t> pixels;
    if (SUCCEEDED(picture->Render(dc, 0, 0, w, h, 0, hmHeight, hmWidth, -hmHeight, nullptr))) {
        for (int i = 0; i < w * h; ++i) {
            COLORREF c = GetPixel(dc, i % w, i / w);
            pixels.push_back(
                static_cast<uint32_t>(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c)));
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteObject(brush);
    DeleteDC(dc);
    return pixels;
}

TEST(GifConformance, EveryFileLoadsOrFailsCleanlyAndFullScreenImagesMatch) {
    const std::string dir = PORTRIX_GIF_CONFORMANCE_DIR;
    std::ifstream list(dir + "/TESTS");
    if (!list) GTEST_SKIP() << "GIF conformance suite not found at '" << dir << "'";

    int files = 0, compared = 0;
    for (std::string name; list >> name; ++files) {
        Bytes gif = ReadFile(dir + "/" + name + ".gif");
        Bytes confBytes = ReadFile(dir + "/" + name + ".conf");
        const std::string conf(confBytes.begin(), confBytes.end());
        std::string expectedFile = ExpectedPixelsFile(conf);
        std::unique_ptr<IPicture, Releaser> picture;
        HRESULT hr = Load(gif, &picture);
        EXPECT_EQ(SUCCEEDED(hr), picture != nullptr) << name << ": result and object disagree";

        int w = 0, h = 0;
        if (expectedFile.empty()) continue;
        bool slurped = false;
        if (!OneFullScreenImage(gif, &w, &h, &slurped) &&
            (slurped || !OneScreenSizedFrame(conf, picture.get(), &w, &h)))
            continue;
        if (w > kMaxSide || h > kMaxSide) {
            EXPECT_EQ(CTL_E_INVALIDPICTURE, hr) << name << ": over the size limit";
            continue;
        }
        ASSERT_EQ(S_OK, hr) << name;
        Bytes rgba = ReadFile(dir + "/" + expectedFile);
        ASSERT_EQ(static_cast<size_t>(w) * h * 4, rgba.size()) << name;
        std::vector<uint32_t> actual = RenderOverBackground(picture.get(), w, h);
        ASSERT_EQ(static_cast<size_t>(w) * h, actual.size()) << name << ": render failed";
        ++compared;
        for (int i = 0, failures = 0; i < w * h && failures < 5; ++i) {
            const uint8_t* p = &rgba[static_cast<size_t>(i) * 4];
            uint32_t want =
                p[3] == 0 ? kBackground : static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
            if (want == actual[i]) continue;
            ++failures;
            ADD_FAILURE() << name << " pixel (" << i % w << ", " << i / w << "): expected "
                          << std::hex << want << ", actual " << actual[i];
        }
    }
    EXPECT_GT(files, 80);
    EXPECT_GT(compared, 40) << "too few files were compared pixel by pixel";
    std::printf("%d files, %d compared pixel by pixel\n", files, compared);
}

}  // namespace
