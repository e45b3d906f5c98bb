#include "ContactSheet.h"

#include <algorithm>
#include <cstdio>

#include "platform/capture.h"

namespace demo {

namespace {

constexpr int kMargin = 12;
constexpr int kCaptionHeight = 18;
constexpr int kGlyphScale = 2;
constexpr uint32_t kSheetColor = 0x303338;
constexpr uint32_t kCaptionColor = 0xD0D4DA;

// A 3 x 5 pixel font for the captions: digits, the decimal point and "s"; one row per byte,
// the three low bits from left to right.
const uint8_t* Glyph(char c) {
    static const uint8_t kDigits[10][5] = {
        {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 3, 1, 7}, {5, 5, 7, 1, 1},
        {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 2, 2}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
    };
    static const uint8_t kPoint[5] = {0, 0, 0, 0, 2};
    static const uint8_t kS[5] = {0, 3, 6, 1, 6};
    if (c >= '0' && c <= '9') return kDigits[c - '0'];
    if (c == '.') return kPoint;
    if (c == 's') return kS;
    return nullptr;
}

void Caption(Pixels& sheet, int sheetWidth, int left, int top, const std::string& text) {
    for (char c : text) {
        if (const uint8_t* glyph = Glyph(c)) {
            for (int row = 0; row < 5; ++row)
                for (int column = 0; column < 3; ++column) {
                    if (!(glyph[row] & (4 >> column))) continue;
                    for (int dy = 0; dy < kGlyphScale; ++dy)
                        for (int dx = 0; dx < kGlyphScale; ++dx)
                            sheet[static_cast<size_t>((top + row * kGlyphScale + dy) * sheetWidth + left +
                                                      column * kGlyphScale + dx)] = kCaptionColor;
                }
        }
        left += 4 * kGlyphScale;
    }
}

}  // namespace

bool WriteContactSheet(const std::vector<Snapshot>& snapshots, int columns, const std::string& path) {
    if (snapshots.empty() || columns <= 0) return false;
    int cellWidth = 0, cellHeight = 0;
    for (const Snapshot& shot : snapshots) {
        cellWidth = std::max(cellWidth, shot.width);
        cellHeight = std::max(cellHeight, shot.height);
    }
    const int count = static_cast<int>(snapshots.size());
    const int used = std::min(columns, count);
    const int rows = (count + columns - 1) / columns;
    const int width = kMargin + used * (cellWidth + kMargin);
    const int height = kMargin + rows * (cellHeight + kCaptionHeight + kMargin);
    Pixels sheet(static_cast<size_t>(width * height), kSheetColor);
    for (int i = 0; i < count; ++i) {
        const Snapshot& shot = snapshots[static_cast<size_t>(i)];
        const int left = kMargin + (i % columns) * (cellWidth + kMargin);
        const int top = kMargin + (i / columns) * (cellHeight + kCaptionHeight + kMargin);
        for (int y = 0; y < shot.height; ++y)
            std::copy_n(shot.pixels.begin() + y * shot.width, shot.width,
                        sheet.begin() + (top + y) * width + left);
        char text[32];
        std::snprintf(text, sizeof text, "%.2fs", shot.seconds);
        Caption(sheet, width, left, top + shot.height + (kCaptionHeight - 5 * kGlyphScale) / 2, text);
    }
    return platform::SavePixelsPng(sheet, width, height, path);
}

}  // namespace demo
