// GDI text as the original behaves: fonts as objects, text metrics and extents, TextOut with the
// DC's colours, background mode and alignment, DrawText's layout, placement and clipping, and
// reading a bitmap's bits back.
// ctest-labels: threaded;win32
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "gdi_helpers.h"
#include "sides.h"
#ifndef _WIN32
#include "platform/capture.h"
#endif
#include "windows.h"

namespace {

using portrix_test::ObjectDeleter;
using portrix_test::OwnedBitmap;
using portrix_test::OwnedDC;
using OwnedFont = std::unique_ptr<HFONT__, ObjectDeleter>;

// Faces that both the layer and a Wine prefix on this system have (Windows' own faces are
// there only on Windows): the layer finds them by family, Wine through fontconfig.
constexpr char kSans[] = "DejaVu Sans";
constexpr char kSerif[] = "DejaVu Serif";
constexpr char kMono[] = "DejaVu Sans Mono";

constexpr char kNullPointersUndefined[] =
    "the layer refuses null text, size or rectangle pointers; on the original they are undefined "
    "(Wine 8.0 takes null text for success and writes or reads through the others)";

constexpr char kNoCourierInThePrefix[] =
    "a Wine prefix without Windows' fonts has no Courier New and gives a proportional face for it";

constexpr COLORREF kPaper = RGB(1, 2, 3);
constexpr COLORREF kInk = RGB(200, 10, 20);
constexpr uint32_t kPaperPixel = 0x010203, kInkPixel = 0xC80A14;

OwnedFont MakeFont(int height, const char* face, int weight = FW_NORMAL, BYTE pitchAndFamily = 0) {
    return OwnedFont(CreateFontA(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0,
                                 0, pitchAndFamily, face));
}

// A memory surface of kPaper, drawing kInk on a transparent background with the font it is
// given, which it deselects on destruction.
class TextSurface {
public:
    TextSurface(int width, int height, HFONT font)
        : width_(width), height_(height), surface_(width, height) {
        oldFont_ = SelectObject(dc(), font);
        Clear();
        SetTextColor(dc(), kInk);
        SetBkMode(dc(), TRANSPARENT);
    }
    ~TextSurface() { SelectObject(dc(), oldFont_); }
    TextSurface(const TextSurface&) = delete;
    TextSurface& operator=(const TextSurface&) = delete;

    HDC dc() const { return surface_.dc(); }
    void Clear() { portrix_test::Fill(dc(), RECT{0, 0, width_, height_}, kPaper); }
    std::vector<uint32_t> Bits() const {
        std::vector<uint32_t> bits(static_cast<size_t>(width_) * height_);
        GetBitmapBits(static_cast<HBITMAP>(GetCurrentObject(dc(), OBJ_BITMAP)),
                      static_cast<LONG>(bits.size() * 4), bits.data());
        return bits;
    }
    // The box around every pixel that is no longer kPaper (empty when there is none).
    RECT Ink() const {
        RECT box{width_, height_, 0, 0};
        const std::vector<uint32_t> bits = Bits();
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                if (bits[static_cast<size_t>(y) * width_ + x] != kPaperPixel) {
                    box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                           std::max<LONG>(box.right, x + 1), std::max<LONG>(box.bottom, y + 1)};
                }
        return box.left < box.right ? box : RECT{0, 0, 0, 0};
    }

private:
    int width_, height_;
    portrix_test::Surface surface_;
    HGDIOBJ oldFont_ = nullptr;
};

SIZE Extent(HDC dc, const std::string& text) {
    SIZE size{-1, -1};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    return size;
}

TEXTMETRICA Metrics(HDC dc) {
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    return tm;
}

std::string Describe(const RECT& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + ")";
}

// The ink stays inside the text's cell and covers most of the text's width.
::testing::AssertionResult InkFillsCell(const RECT& ink, const RECT& cell, LONG width) {
    if (ink.left >= cell.left && ink.right <= cell.right && ink.top >= cell.top &&
        ink.bottom <= cell.bottom && ink.right - ink.left >= width - 4)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "ink " << Describe(ink) << " for the cell " << Describe(cell);
}

TEST(GdiFonts, AreObjectsThatDescribeThemselvesAndFollowTheDeletionRules) {
    OwnedFont font(CreateFontA(-14, 3, 0, 0, FW_BOLD, TRUE, FALSE, TRUE, ANSI_CHARSET, 0, 0, 0,
                               FIXED_PITCH | FF_MODERN,
                               "Courier New With A Name Longer Than Its Field"));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(GetObjectType(font.get()), static_cast<DWORD>(OBJ_FONT));
    EXPECT_EQ(GetObjectA(font.get(), 0, nullptr), static_cast<int>(sizeof(LOGFONTA)));
    LOGFONTA back{};
    ASSERT_EQ(GetObjectA(font.get(), sizeof back, &back), static_cast<int>(sizeof(LOGFONTA)));
    EXPECT_EQ(std::make_tuple(back.lfHeight, back.lfWidth, back.lfWeight, back.lfItalic,
                              back.lfStrikeOut, back.lfPitchAndFamily),
              std::make_tuple(-14L, 3L, 700L, BYTE{1}, BYTE{1}, BYTE{FIXED_PITCH | FF_MODERN}));
    EXPECT_EQ(std::string(back.lfFaceName), "Courier New With A Name Longer ");  // 31 characters
    LOGFONTA gui{};
    ASSERT_EQ(GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof gui, &gui),
              static_cast<int>(sizeof(LOGFONTA)));
    EXPECT_EQ(gui.lfHeight, -11);

    OwnedDC dc(CreateCompatibleDC(nullptr));
    EXPECT_EQ(SelectObject(dc.get(), font.get()), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_FONT), font.get());
    const HFONT selected = font.release();
    EXPECT_TRUE(DeleteObject(selected));
    EXPECT_EQ(GetObjectType(selected), static_cast<DWORD>(OBJ_FONT)) << "kept while selected";
    SelectObject(dc.get(), GetStockObject(SYSTEM_FONT));
    EXPECT_EQ(GetObjectType(selected), 0u) << "gone once no DC holds it";
    EXPECT_EQ(CreateFontIndirectA(nullptr), nullptr);
}

TEST(GdiFonts, MetricsFollowTheRequestedHeightWeightAndPitch) {
    const struct {
        int row;
        int height;
        const char* face;
        int weight;
        BYTE pitchAndFamily;
        int emPixels;    // tmHeight - tmInternalLeading, for character heights; 0: not checked
        int cellHeight;  // tmHeight for cell heights (give or take one); 0: not checked
        bool fixedPitch;
    } rows[] = {
        {1, -12, "Arial", FW_NORMAL, 0, 12, 0, false},
        {2, -30, "Times New Roman", FW_NORMAL, 0, 30, 0, false},
        {3, 20, "Tahoma", FW_NORMAL, 0, 0, 20, false},
        {4, 0, "", FW_NORMAL, 0, 0, 16, false},
        {5, -16, "Courier New", FW_NORMAL, 0, 16, 0, true},
        {6, -16, "", FW_BOLD, FIXED_PITCH, 16, 0, true},
        {7, -16, "Microsoft Sans Serif", FW_BOLD, 0, 16, 0, false},
        {8, -12, kSans, FW_NORMAL, 0, 12, 0, false},
        {9, -30, kSerif, FW_NORMAL, 0, 30, 0, false},
        {10, 20, kSans, FW_BOLD, 0, 0, 20, false},
        {11, -16, kMono, FW_NORMAL, 0, 16, 0, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(row.row));
        if (row.row == 5 && !portrix_test::NotUnderWine("row 5", kNoCourierInThePrefix)) continue;
        OwnedFont font = MakeFont(row.height, row.face, row.weight, row.pitchAndFamily);
        TextSurface surface(8, 8, font.get());
        TEXTMETRICA tm{};
        ASSERT_TRUE(GetTextMetricsA(surface.dc(), &tm));
        EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
        EXPECT_EQ(row.emPixels ? tm.tmHeight - tm.tmInternalLeading : 0, row.emPixels);
        EXPECT_NEAR(row.cellHeight ? tm.tmHeight : 0, row.cellHeight, 1);
        EXPECT_EQ(tm.tmWeight, row.weight >= FW_SEMIBOLD ? FW_BOLD : FW_NORMAL);
        // The pitch bit is set for a variable-pitch font, as on the original.
        EXPECT_EQ((tm.tmPitchAndFamily & TMPF_FIXED_PITCH) == 0, row.fixedPitch);
        EXPECT_EQ(Extent(surface.dc(), "iiii").cx == Extent(surface.dc(), "WWWW").cx,
                  row.fixedPitch);
    }
}

TEST(GdiText, ExtentsAddUpAndTellTheFacesApart) {
    OwnedFont sans = MakeFont(-14, kSans);
    TextSurface surface(8, 8, sans.get());
    const SIZE empty = Extent(surface.dc(), "");
    EXPECT_EQ(empty.cx, 0);
    EXPECT_EQ(empty.cy, 0) << "no characters, no line either";
    EXPECT_EQ(Extent(surface.dc(), "a").cy, Metrics(surface.dc()).tmHeight);
    const SIZE a = Extent(surface.dc(), "Portrix"), b = Extent(surface.dc(), " demo");
    EXPECT_NEAR(Extent(surface.dc(), "Portrix demo").cx, a.cx + b.cx, 1);
    // Windows-1252: the euro sign and e-acute are glyphs of their own, as wide as a letter.
    EXPECT_GT(Extent(surface.dc(), "\x80\xE9").cx, Extent(surface.dc(), "i").cx);

    std::vector<LONG> widths;
    for (const auto& [face, weight] : {std::pair<const char*, int>{kSans, FW_NORMAL},
                                       {kSans, FW_BOLD},
                                       {kSerif, FW_NORMAL},
                                       {kMono, FW_NORMAL}}) {
        OwnedFont font = MakeFont(-14, face, weight);
        SelectObject(surface.dc(), font.get());
        widths.push_back(Extent(surface.dc(), "Hamburgefonstiv").cx);
        SelectObject(surface.dc(), sans.get());
    }
    for (size_t i = 0; i < widths.size(); ++i)
        for (size_t j = i + 1; j < widths.size(); ++j)
            EXPECT_NE(widths[i], widths[j]) << i << " and " << j;

    SIZE size{};
    EXPECT_FALSE(GetTextExtentPoint32A(surface.dc(), "abc", -1, &size));
    EXPECT_FALSE(GetTextExtentPoint32A(nullptr, "abc", 3, &size));
    if (portrix_test::LayerOnly("null pointers", kNullPointersUndefined)) {
        EXPECT_FALSE(GetTextExtentPoint32A(surface.dc(), nullptr, 3, &size));
        EXPECT_FALSE(GetTextExtentPoint32A(surface.dc(), "abc", 3, nullptr));
    }
}

TEST(GdiText, AttributesStartAsOnTheOriginalAndReturnTheirPreviousValue) {
    OwnedDC dc(CreateCompatibleDC(nullptr));
    EXPECT_EQ(SetTextColor(dc.get(), kInk), RGB(0, 0, 0));
    EXPECT_EQ(SetBkColor(dc.get(), kPaper), RGB(255, 255, 255));
    EXPECT_EQ(SetBkMode(dc.get(), TRANSPARENT), OPAQUE);
    EXPECT_EQ(SetBkMode(dc.get(), 7), 0) << "an unknown mode is refused";
    EXPECT_EQ(SetTextAlign(dc.get(), TA_RIGHT | TA_BASELINE), static_cast<UINT>(TA_LEFT | TA_TOP));
    EXPECT_EQ(GetTextColor(dc.get()), kInk);
    EXPECT_EQ(GetBkColor(dc.get()), kPaper);
    EXPECT_EQ(GetBkMode(dc.get()), TRANSPARENT);
    EXPECT_EQ(GetTextAlign(dc.get()), static_cast<UINT>(TA_RIGHT | TA_BASELINE));
    EXPECT_EQ(SetTextColor(nullptr, kInk), CLR_INVALID);
    EXPECT_EQ(GetBkMode(nullptr), 0);
    EXPECT_EQ(SetTextAlign(nullptr, TA_LEFT), static_cast<UINT>(GDI_ERROR));
}

TEST(GdiTextOut, PlacesTheInkByTheAlignmentInTheTextColour) {
    OwnedFont font = MakeFont(-16, kSans);
    TextSurface surface(240, 80, font.get());
    const TEXTMETRICA tm = Metrics(surface.dc());
    const std::string text = "Hxg";
    const LONG width = Extent(surface.dc(), text).cx, height = tm.tmHeight;
    const struct {
        int row;
        UINT align;
        int x, y;
        RECT cell;  // where the text's cell lies
    } rows[] = {
        {1, TA_LEFT | TA_TOP, 40, 10, {40, 10, 40 + width, 10 + height}},
        {2, TA_RIGHT | TA_TOP, 200, 10, {200 - width, 10, 200, 10 + height}},
        {3,
         TA_CENTER | TA_TOP,
         120,
         10,
         {120 - width / 2 - 1, 10, 120 + width / 2 + 1, 10 + height}},
        {4, TA_LEFT | TA_BASELINE, 40, 50, {40, 50 - tm.tmAscent, 40 + width, 50 + tm.tmDescent}},
        {5, TA_LEFT | TA_BOTTOM, 40, 70, {40, 70 - height, 40 + width, 70}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(row.row));
        surface.Clear();
        SetTextAlign(surface.dc(), row.align);
        ASSERT_TRUE(
            TextOutA(surface.dc(), row.x, row.y, text.c_str(), static_cast<int>(text.size())));
        EXPECT_TRUE(InkFillsCell(surface.Ink(), row.cell, width));
        const std::vector<uint32_t> bits = surface.Bits();
        EXPECT_NE(std::find(bits.begin(), bits.end(), kInkPixel), bits.end())
            << "the H's stems in full colour";
    }
}

TEST(GdiTextOut, OpaqueBackgroundFillsTheCellOnly) {
    OwnedFont font = MakeFont(-16, kSans);
    TextSurface surface(120, 40, font.get());
    SetBkMode(surface.dc(), OPAQUE);
    SetBkColor(surface.dc(), RGB(0, 255, 0));
    ASSERT_TRUE(TextOutA(surface.dc(), 10, 5, "ab", 2));
    const SIZE size = Extent(surface.dc(), "ab");
    EXPECT_EQ(GetPixel(surface.dc(), 10, 5), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(surface.dc(), 10 + size.cx - 1, 5 + size.cy - 1), RGB(0, 255, 0));
    EXPECT_EQ(GetPixel(surface.dc(), 9, 5), kPaper);
    EXPECT_EQ(GetPixel(surface.dc(), 10 + size.cx, 5), kPaper);
    EXPECT_EQ(GetPixel(surface.dc(), 10, 5 + size.cy), kPaper);
}

TEST(GdiTextOut, RefusesBadArgumentsAndClipsAtTheEdges) {
    OwnedFont font = MakeFont(-16, kSans);
    TextSurface surface(40, 20, font.get());
    const struct {
        int row;
        HDC dc;
        int x, y;
        const char* text;
        int count;
        BOOL result;
    } rows[] = {
        {1, nullptr, 0, 0, "abc", 3, FALSE},
        {2, surface.dc(), 0, 0, "abc", -1, FALSE},
        {3, surface.dc(), 0, 0, nullptr, 3, FALSE},  // null text: only the layer's refusal
        {4, surface.dc(), 0, 0, nullptr, 0, TRUE},
        {5, surface.dc(), -8, -8, "Wide text", 9, TRUE},
        {6, surface.dc(), 35, 15, "Wide text", 9, TRUE},
        {7, surface.dc(), INT32_MIN, INT32_MAX, "far away", 8, TRUE},
    };
    for (const auto& row : rows) {
        if (row.row == 3 && !portrix_test::LayerOnly("row 3", kNullPointersUndefined)) continue;
        EXPECT_EQ(TextOutA(row.dc, row.x, row.y, row.text, row.count), row.result)
            << "row " << row.row;
    }
    OwnedFont huge = MakeFont(-100000, kSans);
    SelectObject(surface.dc(), huge.get());
    EXPECT_TRUE(TextOutA(surface.dc(), 0, 0, "W", 1))
        << "an enormous font is drawn at the largest size";
    SelectObject(surface.dc(), font.get());
}

TEST(GdiDrawText, LaysOutLinesPrefixesWordsAndEllipses) {
    OwnedFont font = MakeFont(-14, kSans);
    TextSurface surface(8, 8, font.get());
    const HDC dc = surface.dc();
    const LONG line = Metrics(dc).tmHeight;
    auto width = [dc](const char* text) { return Extent(dc, text).cx; };
    const struct {
        int row;
        const char* text;
        UINT format;
        LONG rectWidth;
        int lines;
        LONG widest;  // -1: at most rectWidth
    } rows[] = {
        {1, "Hello", DT_SINGLELINE, 200, 1, width("Hello")},
        {2, "one\ntwo\r\nthree", 0, 200, 3, width("three")},
        {3, "one\ntwo", DT_SINGLELINE, 200, 1, width("one\ntwo")},
        {4, "the quick brown fox", DT_WORDBREAK, width("brown fox") + 2, 2, width("brown fox")},
        {5, "Supercalifragilistic", DT_WORDBREAK, 20, 1, width("Supercalifragilistic")},
        {6, "&File", 0, 200, 1, width("File")},
        {7, "&File", DT_NOPREFIX, 200, 1, width("&File")},
        {8, "a&&b", 0, 200, 1, width("a&b")},
        {9, "a label much too long for its box", DT_SINGLELINE | DT_END_ELLIPSIS, 60, 1, -1},
        {10, "", 0, 200, 1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(row.row));
        RECT rect{10, 20, 10 + row.rectWidth, 30};
        EXPECT_EQ(DrawTextA(dc, row.text, -1, &rect, row.format | DT_CALCRECT), row.lines * line);
        // No text leaves an empty rectangle, though it answers a line's height.
        const LONG bottom = row.text[0] != '\0' ? 20 + row.lines * line : 20;
        EXPECT_EQ(std::make_tuple(rect.left, rect.top, rect.bottom),
                  std::make_tuple(10L, 20L, bottom));
        if (row.widest >= 0) {
            EXPECT_EQ(rect.right - rect.left, row.widest);
        } else {
            EXPECT_GT(rect.right - rect.left, 0);
            EXPECT_LE(rect.right - rect.left, row.rectWidth);
        }
    }
    RECT rect{0, 0, 10, 10};
    EXPECT_EQ(DrawTextA(nullptr, "a", -1, &rect, 0), 0);
    if (portrix_test::LayerOnly("null rectangle", kNullPointersUndefined)) {
        EXPECT_EQ(DrawTextA(dc, "a", -1, nullptr, 0), 0);
    }
    if (portrix_test::LayerOnly("count -2",
                                "the layer refuses a count below -1, the only "
                                "negative one documented; Wine 8.0 takes it as -1")) {
        EXPECT_EQ(DrawTextA(dc, "a", -2, &rect, 0), 0);
    }
}

TEST(GdiDrawText, PlacesTheInkInItsRectangleAndClipsToIt) {
    OwnedFont font = MakeFont(-16, kSans);
    TextSurface surface(200, 60, font.get());
    const LONG height = Metrics(surface.dc()).tmHeight;
    const LONG width = Extent(surface.dc(), "Mm").cx;
    const RECT box{20, 5, 180, 55};
    const LONG middleTop = box.top + (box.bottom - box.top - height) / 2;
    const struct {
        int row;
        UINT format;
        RECT cell;
        int result;
    } rows[] = {
        {1, DT_LEFT | DT_TOP, {20, 5, 20 + width, 5 + height}, height},
        {2,
         DT_CENTER | DT_VCENTER,
         {100 - width / 2 - 1, middleTop, 100 + width / 2 + 1, middleTop + height},
         middleTop - box.top + height},
        {3, DT_RIGHT | DT_BOTTOM, {180 - width, 55 - height, 180, 55}, box.bottom - box.top},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("row " + std::to_string(row.row));
        surface.Clear();
        RECT rect = box;
        // Centring an odd remainder may round either way.
        EXPECT_NEAR(DrawTextA(surface.dc(), "Mm", 2, &rect, row.format | DT_SINGLELINE), row.result,
                    1);
        EXPECT_TRUE(InkFillsCell(surface.Ink(), row.cell, width));
    }

    surface.Clear();
    RECT small{20, 5, 40, 25};
    DrawTextA(surface.dc(), "WWWWWW", -1, &small, DT_SINGLELINE);
    EXPECT_LE(surface.Ink().right, 40) << "clipped to its rectangle";
    surface.Clear();
    DrawTextA(surface.dc(), "WWWWWW", -1, &small, DT_SINGLELINE | DT_NOCLIP);
    EXPECT_GT(surface.Ink().right, 40) << "DT_NOCLIP draws past it";

    // A prefix underlines its character: ink below the plain letter's.
    surface.Clear();
    RECT rect = box;
    DrawTextA(surface.dc(), "W", -1, &rect, DT_SINGLELINE);
    const LONG plainBottom = surface.Ink().bottom;
    surface.Clear();
    DrawTextA(surface.dc(), "&W", -1, &rect, DT_SINGLELINE);
    EXPECT_GT(surface.Ink().bottom, plainBottom);
}

#ifndef _WIN32  // the layer's window capture and its font folder
TEST(GdiText, DrawsIntoAWindowThroughItsDC) {
    OwnedFont font = MakeFont(-16, kSans);
    portrix_test::OwnedWindow window = portrix_test::MakeTop();
    ASSERT_NE(window, nullptr);
    HDC dc = GetDC(window.get());
    HGDIOBJ old = SelectObject(dc, font.get());
    SetTextColor(dc, kInk);
    SetBkMode(dc, TRANSPARENT);
    RECT rect{0, 0, portrix_test::kTopWidth, portrix_test::kTopHeight};
    EXPECT_GT(DrawTextA(dc, "Hi", -1, &rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE), 0);
    SelectObject(dc, old);
    ReleaseDC(window.get(), dc);
    portrix_test::Captured shot;
    ASSERT_TRUE(platform::CaptureWindow(window.get(), &shot.pixels, &shot.width, &shot.height));
    EXPECT_NE(std::find(shot.pixels.begin(), shot.pixels.end(), kInkPixel), shot.pixels.end());
}

TEST(GdiText, FailsWhenTheFontFolderHoldsNoFonts) {
    OwnedFont font = MakeFont(-23, kSans);
    TextSurface surface(40, 20, font.get());
    setenv("PORTRIX_FONT_DIR", "/nonexistent/fonts", 1);
    RECT rect{0, 0, 40, 20};
    TEXTMETRICA tm{};
    SIZE size{};
    EXPECT_FALSE(TextOutA(surface.dc(), 0, 0, "a", 1));
    EXPECT_EQ(DrawTextA(surface.dc(), "a", 1, &rect, 0), 0);
    EXPECT_FALSE(GetTextMetricsA(surface.dc(), &tm));
    EXPECT_FALSE(GetTextExtentPoint32A(surface.dc(), "a", 1, &size));
    unsetenv("PORTRIX_FONT_DIR");
    EXPECT_TRUE(TextOutA(surface.dc(), 0, 0, "a", 1));
}
#endif  // !_WIN32

TEST(GdiText, ThreadsDrawingAtOnceDrawAlike) {
    OwnedFont font = MakeFont(-13, kSans, FW_BOLD);
    const std::string text = "The quick brown fox jumps over the lazy dog 0123456789";
    std::vector<std::vector<uint32_t>> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results) {
        threads.emplace_back([&font, &text, &result] {
            TextSurface surface(400, 20, font.get());
            for (int i = 0; i < 20; ++i) {
                surface.Clear();
                TextOutA(surface.dc(), 2, 2, text.c_str(), static_cast<int>(text.size()));
            }
            result = surface.Bits();
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i], results[0]) << "thread " << i;
}

TEST(GdiBitmapBits, CopiesRowsUpToTheBufferSize) {
    const uint32_t pixels[] = {1, 2, 3, 4, 5, 6};
    OwnedBitmap bitmap(CreateBitmap(3, 2, 1, 32, pixels));
    uint32_t out[8] = {};
    const struct {
        int row;
        HBITMAP bitmap;
        LONG bytes;
        void* buffer;
        LONG result;
    } rows[] = {
        {1, bitmap.get(), sizeof out, out, 24}, {2, bitmap.get(), 8, out, 8},
        {3, nullptr, sizeof out, out, 0},       {4, bitmap.get(), 0, nullptr, 24},
        {5, bitmap.get(), -4, out, 0},
    };
    for (const auto& row : rows) {
        if (row.row == 5 && !portrix_test::LayerOnly("row 5",
                                                     "the layer refuses a negative size; "
                                                     "Wine 8.0 copies the whole bitmap"))
            continue;
        EXPECT_EQ(GetBitmapBits(row.bitmap, row.bytes, row.buffer), row.result)
            << "row " << row.row;
    }
    GetBitmapBits(bitmap.get(), sizeof out, out);
    EXPECT_EQ(std::vector<uint32_t>(out, out + 6), std::vector<uint32_t>(pixels, pixels + 6));
}

}  // namespace
