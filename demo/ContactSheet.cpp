#include "ContactSheet.h"

#include <algorithm>

#include "platform/capture.h"

namespace demo {

namespace {
constexpr int kMargin = 12;
constexpr uint32_t kSheetColor = 0x303338;
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
    const int height = kMargin + rows * (cellHeight + kMargin);
    Pixels sheet(static_cast<size_t>(width * height), kSheetColor);
    for (int i = 0; i < count; ++i) {
        const Snapshot& shot = snapshots[static_cast<size_t>(i)];
        const int left = kMargin + (i % columns) * (cellWidth + kMargin);
        const int top = kMargin + (i / columns) * (cellHeight + kMargin);
        for (int y = 0; y < shot.height; ++y)
            std::copy_n(shot.pixels.begin() + y * shot.width, shot.width,
                        sheet.begin() + (top + y) * width + left);
    }
    return platform::SavePixelsPng(sheet, width, height, path);
}

}  // namespace demo
