// The demo's own artwork: the eight pictures of the default set and the user avatars, drawn
// into indexed rasters here and written as GIF files with giflib's encoder.
//
// Each picture keeps its frames, so that the demo can later tell what a control shows by
// comparing the screen with the picture composed over the background under the control.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace demo {

// 0x00RRGGBB, as the platform's captures give pixels.
using Pixels = std::vector<uint32_t>;

struct GifFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> indices;  // width * height palette indices, row-major
    int delay = 0;                 // hundredths of a second
    int disposal = 0;              // 0..3, as the graphic control extension stores it
    int transparent = -1;          // palette index drawn as see-through, or -1
};

struct Artwork {
    std::string name;
    int width = 0;
    int height = 0;
    std::vector<uint32_t> palette;  // at most 256 entries
    std::vector<GifFrame> frames;

    bool IsAnimated() const { return frames.size() > 1; }
};

// Writes the picture as a GIF89a file (a looping application block when animated).
bool WriteGif(const Artwork& art, const std::string& path);
// The exponent of the GIF colour table that holds `colors` entries: 2^exponent >= colors.
int PaletteSizeExponent(size_t colors);

// What the avatar control shows after each frame, composed over `background` (width * height
// pixels): the canvases an animation passes through, in frame order, played as the control
// plays them. A disposal-2 frame is drawn on a fresh copy of the whole background, and only
// when the control holds a background copy (one handed over by the host); disposal 3 puts the
// frame's own rectangle back after the frame.
std::vector<Pixels> ComposeFrames(const Artwork& art, const Pixels& background,
                                  bool hasBackgroundCopy);

// The picture set of the demo.
Artwork DefaultSilhouette(int imageType, int sex);  // default/man/woman, type 1 or 2
Artwork DownloadSpinner(int imageType);             // download1/download2
Artwork StillAvatar(const std::string& name, int width, int height, uint32_t face,
                    uint32_t backdrop, int version, bool seeThroughCorners);
Artwork AnimatedAvatar(const std::string& name);

// The dialog's background picture and the background a host hands to one control.
Pixels DialogBackground(int width, int height);
Pixels HandedBackground(int width, int height);

}  // namespace demo
