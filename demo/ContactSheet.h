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
    double seconds = 0;  // when it was taken, printed under it
};

// Lays the snapshots out in rows of `columns`, with a margin, on a neutral backdrop, each with
// the moment it was taken written under it.
bool WriteContactSheet(const std::vector<Snapshot>& snapshots, int columns, const std::string& path);

}  // namespace demo
