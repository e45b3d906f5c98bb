// The contact sheet: the dialog's snapshots side by side on one PNG.
#pragma once

#include <string>
#include <vector>

#include "Artwork.h"

namespace demo {

struct Snapshot {
    std::string file;     // PNG written
    std::string caption;  // written under it on the sheet, e.g. "snapshot-2 at 1.53 s"
    Pixels pixels;
    int width = 0;
    int height = 0;
    double seconds = 0;  // when it was taken
};

// Lays the snapshots out in rows of `columns`, with a margin, on a neutral backdrop, each with
// its caption written under it (in GDI text, as the dialog writes its own).
bool WriteContactSheet(const std::vector<Snapshot>& snapshots, int columns,
                       const std::string& path);

}  // namespace demo
