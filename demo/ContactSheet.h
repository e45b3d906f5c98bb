// The contact sheet: the dialog's snapshots side by side on one PNG.
#pragma once

#include <string>
#include <vector>

#include "Artwork.h"

namespace demo {

struct Snapshot {
    std::string file;  // PNG written
    Pixels pixels;
    int width = 0;
    int height = 0;
};

// Lays the snapshots out in rows of `columns`, with a margin, on a neutral backdrop.
bool WriteContactSheet(const std::vector<Snapshot>& snapshots, int columns, const std::string& path);

}  // namespace demo
