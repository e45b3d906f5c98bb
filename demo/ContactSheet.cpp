#include "ContactSheet.h"

#include <algorithm>

#include "platform/capture.h"
#include "windows.h"

namespace demo {

namespace {

constexpr int kMargin = 12;
constexpr int kCaptionHeight = 22;
constexpr int kCaptionPixels = -13;
constexpr uint32_t kSheetColor = 0x303338;
constexpr COLORREF kCaptionColour = RGB(0xD0, 0xD4, 0xDA);

// Writes the captions onto the sheet through a memory DC holding a copy of its pixels.
bool WriteCaptions(Pixels& sheet, int width, int height,
                   const std::vector<std::pair<RECT, std::string>>& captions) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = ::CreateBitmap(width, height, 1, 32, sheet.data());
    HFONT font = ::CreateFontA(kCaptionPixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                               ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH | FF_SWISS, "DejaVu Sans");
    bool ok = dc != nullptr && bitmap != nullptr && font != nullptr;
    if (ok) {
        HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap);
        HGDIOBJ oldFont = ::SelectObject(dc, font);
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, kCaptionColour);
        for (const auto& [area, text] : captions) {
            RECT where = area;
            ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &where,
                        DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        }
        ::SelectObject(dc, oldFont);
        ::SelectObject(dc, oldBitmap);
        const LONG bytes = static_cast<LONG>(sheet.size() * sizeof(uint32_t));
        ok = ::GetBitmapBits(bitmap, bytes, sheet.data()) == bytes;
    }
    if (font != nullptr) ::DeleteObject(font);
    if (bitmap != nullptr) ::DeleteObject(bitmap);
    if (dc != nullptr) ::DeleteDC(dc);
    return ok;
}

}  // namespace

bool WriteContactSheet(const std::vector<Snapshot>& snapshots, int columns,
                       const std::string& path) {
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
    std::vector<std::pair<RECT, std::string>> captions;
    for (int i = 0; i < count; ++i) {
        const Snapshot& shot = snapshots[static_cast<size_t>(i)];
        const int left = kMargin + (i % columns) * (cellWidth + kMargin);
        const int top = kMargin + (i / columns) * (cellHeight + kCaptionHeight + kMargin);
        for (int y = 0; y < shot.height; ++y)
            std::copy_n(shot.pixels.begin() + y * shot.width, shot.width,
                        sheet.begin() + (top + y) * width + left);
        captions.push_back(
            {RECT{left, top + shot.height, left + shot.width, top + shot.height + kCaptionHeight},
             shot.caption});
    }
    return WriteCaptions(sheet, width, height, captions) &&
           platform::SavePixelsPng(sheet, width, height, path);
}

}  // namespace demo
