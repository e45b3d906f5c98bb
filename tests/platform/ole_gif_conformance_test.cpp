// The public GIF conformance suite, read in place: every file must load or fail cleanly, and a
// file with one image covering its whole logical screen must render exactly as expected.
// Transparent pixels (alpha 0 in the expected .rgba) must keep the background.
#include <ole2.h>
#include <olectl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include "kernel_handles.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

#ifdef PORTRIX_GIF_CONFORMANCE_DIR
const char* const kSuiteDir = PORTRIX_GIF_CONFORMANCE_DIR;
#else
const char* const kSuiteDir = "";
#endif

constexpr uint32_t kBackground = 0x5A3C1E;  // a colour no test image uses
constexpr int kMaxSide = 8192;

// Files that giflib refuses although they are valid: max-codes holds an LZW string longer than
// giflib's 4095-entry decoding stack, which no real encoder produces. They must fail cleanly;
// should a later giflib read them, they are compared like the rest.
const std::set<std::string> kBeyondGiflib = {"max-codes"};

bool ReadFile(const std::string& path, Bytes* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// "[section] key = value" lines, keyed "section.key".
std::map<std::string, std::string> ReadConf(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    std::string line, section;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        size_t eq = line.find('=');
        if (eq != std::string::npos) values[section + "." + Trim(line.substr(0, eq))] = Trim(line.substr(eq + 1));
    }
    return values;
}

struct GifLayout {
    bool readable = false;  // the block structure could be walked to the trailer or the end
    int screenWidth = 0, screenHeight = 0;
    int images = 0;
    int left = 0, top = 0, width = 0, height = 0;  // the first image
};

// Walks the block structure without decoding, to tell which files have one full-screen image.
GifLayout Walk(const Bytes& b) {
    GifLayout layout;
    if (b.size() < 13) return layout;
    auto u16 = [&](size_t at) { return b[at] | b[at + 1] << 8; };
    layout.screenWidth = u16(6);
    layout.screenHeight = u16(8);
    size_t pos = 13 + ((b[10] & 0x80) ? 3u * (2u << (b[10] & 7)) : 0);
    auto skipSubBlocks = [&]() {
        while (pos < b.size() && b[pos] != 0) pos += b[pos] + 1u;
        ++pos;
    };
    while (pos < b.size() && b[pos] != 0x3B) {
        if (b[pos] == 0x21) {
            pos += 2;
            skipSubBlocks();
        } else if (b[pos] == 0x2C && pos + 10 <= b.size()) {
            if (layout.images++ == 0) {
                layout.left = u16(pos + 1);
                layout.top = u16(pos + 3);
                layout.width = u16(pos + 5);
                layout.height = u16(pos + 7);
            }
            uint8_t packed = b[pos + 9];
            pos += 10 + ((packed & 0x80) ? 3u * (2u << (packed & 7)) : 0) + 1;  // + LZW code size
            skipSubBlocks();
        } else {
            return layout;
        }
    }
    layout.readable = true;
    return layout;
}

struct Releaser {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, Releaser>;

struct DCDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDC = std::unique_ptr<std::remove_pointer_t<HDC>, DCDeleter>;

// A bitmap selected into a DC for the scope, filled with one colour.
class SelectedBitmap {
public:
    SelectedBitmap(HDC dc, int w, int h, uint32_t rgb)
        : dc_(dc), bitmap_(CreateCompatibleBitmap(dc, w, h)), old_(SelectObject(dc, bitmap_)) {
        HBRUSH brush = CreateSolidBrush(RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
        RECT all{0, 0, w, h};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
    ~SelectedBitmap() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
    }
    SelectedBitmap(const SelectedBitmap&) = delete;
    SelectedBitmap& operator=(const SelectedBitmap&) = delete;

private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

// Loads a picture through a delete-on-release stream over a copy of the bytes.
HRESULT Load(const Bytes& bytes, ComPtr<IPicture>* picture) {
    portrix_test::OwnedGlobal block(GlobalAlloc(GMEM_MOVEABLE, bytes.size()));
    if (!block) return E_OUTOFMEMORY;
    std::copy(bytes.begin(), bytes.end(), portrix_test::GlobalLockGuard(block.get()).as<uint8_t>());
    IStream* raw = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block.get(), TRUE, &raw))) return E_UNEXPECTED;
    block.release();
    ComPtr<IStream> stream(raw);  // frees the block on release
    void* object = nullptr;
    HRESULT hr = OleLoadPicture(stream.get(), static_cast<LONG>(bytes.size()), FALSE, IID_IPicture, &object);
    picture->reset(static_cast<IPicture*>(object));
    return hr;
}

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06X", v);
    return buf;
}

TEST(GifConformance, EveryFileLoadsOrFailsCleanlyAndFullScreenImagesMatch) {
    std::string dir = kSuiteDir;
    std::ifstream list(dir + "/TESTS");
    if (dir.empty() || !list) GTEST_SKIP() << "GIF conformance suite not found at '" << dir << "'";

    MemoryDC dc(CreateCompatibleDC(nullptr));
    int files = 0, compared = 0;
    std::string name;
    while (list >> name) {
        ++files;
        auto conf = ReadConf(dir + "/" + name + ".conf");
        Bytes gif;
        ASSERT_TRUE(ReadFile(dir + "/" + conf["config.input"], &gif)) << name;
        ComPtr<IPicture> picture;
        HRESULT hr = Load(gif, &picture);
        EXPECT_EQ(SUCCEEDED(hr), picture != nullptr) << name << ": result and object disagree";

        GifLayout layout = Walk(gif);
        std::string frames = conf["config.frames"];
        std::string expectedFile = frames.empty() ? "" : conf[frames.substr(0, frames.find(',')) + ".pixels"];
        bool fullScreen = layout.readable && layout.images == 1 && layout.left == 0 && layout.top == 0 &&
                          layout.width == layout.screenWidth && layout.height == layout.screenHeight &&
                          layout.width > 0 && layout.height > 0 && !expectedFile.empty();
        if (!fullScreen) continue;
        if (layout.width > kMaxSide || layout.height > kMaxSide) {
            EXPECT_EQ(CTL_E_INVALIDPICTURE, hr) << name << ": over the size limit";
            continue;
        }
        Bytes rgba;
        ASSERT_TRUE(ReadFile(dir + "/" + expectedFile, &rgba)) << name;
        const int w = layout.width, h = layout.height;
        ASSERT_EQ(static_cast<size_t>(w) * h * 4, rgba.size()) << name;
        if (kBeyondGiflib.count(name) == 0) {
            EXPECT_EQ(S_OK, hr) << name;
        }
        if (!picture) continue;
        ++compared;
        SelectedBitmap canvas(dc.get(), w, h, kBackground);
        LONG hmWidth = 0, hmHeight = 0;
        picture->get_Width(&hmWidth);
        picture->get_Height(&hmHeight);
        EXPECT_EQ(S_OK, picture->Render(dc.get(), 0, 0, w, h, 0, hmHeight, hmWidth, -hmHeight, nullptr)) << name;
        int mismatches = 0;
        for (int i = 0; i < w * h && mismatches < 5; ++i) {
            const uint8_t* p = &rgba[static_cast<size_t>(i) * 4];
            uint32_t want = p[3] == 0 ? kBackground : static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
            COLORREF c = GetPixel(dc.get(), i % w, i / w);
            uint32_t got = static_cast<uint32_t>(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c));
            if (want != got) {
                ++mismatches;
                ADD_FAILURE() << name << " pixel (" << i % w << ", " << i / w << "): expected " << Hex(want)
                              << ", actual " << Hex(got);
            }
        }
    }
    EXPECT_GT(files, 80);
    EXPECT_GT(compared, 40) << "too few files were compared pixel by pixel";
    std::printf("%d files, %d compared pixel by pixel\n", files, compared);
}

}  // namespace
