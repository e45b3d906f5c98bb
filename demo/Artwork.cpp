#include "Artwork.h"

#ifndef _WIN32
#include <gif_lib.h>
#endif

#include <cmath>

namespace demo {

namespace {

constexpr int kSpinnerFrames = 8;
constexpr int kSpinnerDelay = 10;  // hundredths of a second

// An indexed raster with the few shapes the artwork needs.
class Raster {
public:
    Raster(int width, int height, uint8_t fill)
        : width_(width), height_(height), indices_(static_cast<size_t>(width * height), fill) {}

    void Rect(int left, int top, int right, int bottom, uint8_t index) {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) Set(x, y, index);
    }
    // Filled ellipse centred on (cx, cy) with radii rx, ry.
    void Ellipse(double cx, double cy, double rx, double ry, uint8_t index) {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) {
                const double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
                if (dx * dx + dy * dy <= 1.0) Set(x, y, index);
            }
    }
    std::vector<uint8_t> Take() { return std::move(indices_); }

private:
    void Set(int x, int y, uint8_t index) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            indices_[static_cast<size_t>(y * width_ + x)] = index;
    }
    int width_;
    int height_;
    std::vector<uint8_t> indices_;
};

GifFrame WholeFrame(int width, int height, std::vector<uint8_t> indices) {
    GifFrame frame;
    frame.width = width;
    frame.height = height;
    frame.indices = std::move(indices);
    return frame;
}

// A head and shoulders: the silhouette of the default pictures and of the still avatars.
std::vector<uint8_t> Silhouette(int width, int height, uint8_t backdrop, uint8_t figure,
                                uint8_t detail) {
    Raster raster(width, height, backdrop);
    raster.Ellipse(width / 2.0, height * 1.02, width * 0.46, height * 0.38, figure);
    raster.Ellipse(width / 2.0, height * 0.40, width * 0.22, height * 0.21, figure);
    raster.Rect(width / 2 - width / 10, height * 7 / 10, width / 2 + width / 10, height * 3 / 4,
                detail);
    return raster.Take();
}

}  // namespace

int PaletteSizeExponent(size_t colors) {
    int bits = 1;
    while ((size_t{1} << bits) < colors) ++bits;
    return bits;
}

#ifndef _WIN32
// giflib's encoder; Debian ships no giflib for Windows, where win32/WriteGif.cpp writes the
// same blocks by hand.
bool WriteGif(const Artwork& art, const std::string& path) {
    if (art.palette.empty() || art.palette.size() > 256 || art.frames.empty()) return false;
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (gif == nullptr) return false;
    EGifSetGifVersion(gif, true);

    const int bits = PaletteSizeExponent(art.palette.size());
    std::vector<GifColorType> colors(size_t{1} << bits, GifColorType{0, 0, 0});
    for (size_t i = 0; i < art.palette.size(); ++i)
        colors[i] = {static_cast<GifByteType>(art.palette[i] >> 16),
                     static_cast<GifByteType>(art.palette[i] >> 8),
                     static_cast<GifByteType>(art.palette[i])};
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(colors.size()), colors.data());
    bool ok =
        map != nullptr && EGifPutScreenDesc(gif, art.width, art.height, bits, 0, map) == GIF_OK;

    if (ok && art.IsAnimated()) {
        // NETSCAPE2.0 loop block: loop for ever.
        static const GifByteType kApplication[] = {'N', 'E', 'T', 'S', 'C', 'A',
                                                   'P', 'E', '2', '.', '0'};
        static const GifByteType kLoop[] = {1, 0, 0};
        ok = EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
             EGifPutExtensionBlock(gif, sizeof kApplication, kApplication) == GIF_OK &&
             EGifPutExtensionBlock(gif, sizeof kLoop, kLoop) == GIF_OK &&
             EGifPutExtensionTrailer(gif) == GIF_OK;
    }
    for (const GifFrame& frame : art.frames) {
        if (!ok) break;
        if (art.IsAnimated() || frame.transparent >= 0) {
            GraphicsControlBlock control = {};
            control.DisposalMode = frame.disposal;
            control.DelayTime = frame.delay;
            control.TransparentColor =
                frame.transparent >= 0 ? frame.transparent : NO_TRANSPARENT_COLOR;
            GifByteType extension[4];
            const size_t length = EGifGCBToExtension(&control, extension);
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length),
                                  extension) == GIF_OK;
        }
        ok = ok && EGifPutImageDesc(gif, frame.x, frame.y, frame.width, frame.height, false,
                                    nullptr) == GIF_OK;
        for (int y = 0; ok && y < frame.height; ++y) {
            std::vector<GifPixelType> line(frame.indices.begin() + y * frame.width,
                                           frame.indices.begin() + (y + 1) * frame.width);
            ok = EGifPutLine(gif, line.data(), frame.width) == GIF_OK;
        }
    }
    GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    return ok;
}
#endif

std::vector<Pixels> ComposeFrames(const Artwork& art, const Pixels& background,
                                  bool hasBackgroundCopy) {
    std::vector<Pixels> canvases;
    Pixels canvas = background;
    for (const GifFrame& frame : art.frames) {
        const Pixels before = canvas;
        if (frame.disposal == 2 && hasBackgroundCopy) canvas = background;
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x) {
                const int cx = frame.x + x, cy = frame.y + y;
                if (cx >= art.width || cy >= art.height) continue;
                const uint8_t index = frame.indices[static_cast<size_t>(y * frame.width + x)];
                if (index == frame.transparent || index >= art.palette.size()) continue;
                canvas[static_cast<size_t>(cy * art.width + cx)] = art.palette[index];
            }
        canvases.push_back(canvas);
        if (frame.disposal == 3) {
            for (int y = frame.y; y < frame.y + frame.height && y < art.height; ++y)
                for (int x = frame.x; x < frame.x + frame.width && x < art.width; ++x)
                    canvas[static_cast<size_t>(y * art.width + x)] =
                        before[static_cast<size_t>(y * art.width + x)];
        }
    }
    return canvases;
}

Artwork DefaultSilhouette(int imageType, int sex) {
    static const char* const kNames[3] = {"default", "man", "woman"};
    // Body pictures (type 1) are tall, Up pictures (type 2) square.
    Artwork art;
    art.name = std::string(kNames[sex]) + std::to_string(imageType) + ".gif";
    art.width = imageType == 1 ? 48 : 56;
    art.height = imageType == 1 ? 64 : 56;
    static const uint32_t kFigure[3] = {0x707880, 0x2F5F9F, 0xB0407A};
    static const uint32_t kBackdrop[3] = {0xD8DCE0, 0xC8DAF0, 0xF2D0E0};
    art.palette = {kBackdrop[sex], kFigure[sex], imageType == 1 ? 0xFFFFFFu : 0x202020u};
    art.frames.push_back(
        WholeFrame(art.width, art.height, Silhouette(art.width, art.height, 0, 1, 2)));
    return art;
}

Artwork DownloadSpinner(int imageType) {
    // Eight dots round a circle, one lit: a full first frame, then small frames that move the
    // light on, each one dot wide and left in place (disposal 1).
    Artwork art;
    art.name = "download" + std::to_string(imageType) + ".gif";
    art.width = imageType == 1 ? 48 : 56;
    art.height = imageType == 1 ? 64 : 56;
    art.palette = {0xF4F4EC, 0xB8B8B0, imageType == 1 ? 0x20A040u : 0x2060D0u};
    const double cx = art.width / 2.0, cy = art.height / 2.0, ring = art.width * 0.32, dot = 4.0;
    auto dotCentre = [&](int i, double* x, double* y) {
        const double angle = 2 * M_PI * i / kSpinnerFrames;
        *x = cx + ring * std::sin(angle);
        *y = cy - ring * std::cos(angle);
    };
    Raster first(art.width, art.height, 0);
    for (int i = 0; i < kSpinnerFrames; ++i) {
        double x, y;
        dotCentre(i, &x, &y);
        first.Ellipse(x, y, dot, dot, i == 0 ? 2 : 1);
    }
    GifFrame frame0 = WholeFrame(art.width, art.height, first.Take());
    frame0.delay = kSpinnerDelay;
    frame0.disposal = 1;
    art.frames.push_back(frame0);
    for (int step = 1; step <= kSpinnerFrames; ++step) {
        // The frame covers the previous lit dot (dimmed) and the next one (lit).
        const int lit = step % kSpinnerFrames, dim = step - 1;
        double lx, ly, dx, dy;
        dotCentre(lit, &lx, &ly);
        dotCentre(dim, &dx, &dy);
        const int left = static_cast<int>(std::floor(std::min(lx, dx) - dot)) - 1;
        const int top = static_cast<int>(std::floor(std::min(ly, dy) - dot)) - 1;
        const int right = static_cast<int>(std::ceil(std::max(lx, dx) + dot)) + 1;
        const int bottom = static_cast<int>(std::ceil(std::max(ly, dy) + dot)) + 1;
        Raster patch(right - left, bottom - top, 3);  // 3: transparent
        patch.Ellipse(dx - left, dy - top, dot, dot, 1);
        patch.Ellipse(lx - left, ly - top, dot, dot, 2);
        GifFrame frame = WholeFrame(right - left, bottom - top, patch.Take());
        frame.x = left;
        frame.y = top;
        frame.delay = kSpinnerDelay;
        frame.disposal = 1;
        frame.transparent = 3;
        art.frames.push_back(frame);
    }
    art.palette.push_back(0xFF00FF);  // index 3, never shown
    return art;
}

Artwork StillAvatar(const std::string& name, int width, int height, uint32_t face,
                    uint32_t backdrop, int version, bool seeThroughCorners) {
    Artwork art;
    art.name = name;
    art.width = width;
    art.height = height;
    // Index 2 marks the version: one bar per version along the bottom edge.
    art.palette = {backdrop, face, 0xFFFFFF, 0xFF00FF};
    std::vector<uint8_t> indices = Silhouette(width, height, 0, 1, 2);
    for (int v = 0; v < version; ++v)
        for (int y = height - 6; y < height - 2; ++y)
            for (int x = 3 + v * 6; x < 7 + v * 6 && x < width; ++x)
                indices[static_cast<size_t>(y * width + x)] = 2;
    GifFrame frame = WholeFrame(width, height, std::move(indices));
    if (seeThroughCorners) {
        // A round picture: everything outside the circle lets the background through.
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double dx = (x + 0.5 - width / 2.0) / (width / 2.0),
                             dy = (y + 0.5 - height / 2.0) / (height / 2.0);
                if (dx * dx + dy * dy > 1.0) frame.indices[static_cast<size_t>(y * width + x)] = 3;
            }
        frame.transparent = 3;
    }
    art.frames.push_back(std::move(frame));
    return art;
}

Artwork AnimatedAvatar(const std::string& name) {
    // Four frames of different sizes, places, delays and disposals: a full backdrop, a sun
    // (disposal 2: drawn on a clean background where the control holds one), a bar put back to
    // what was there before once its delay is over (3), and a face left in place (1).
    Artwork art;
    art.name = name;
    art.width = art.height = 56;
    art.palette = {0x18304A, 0xF0C020, 0xE04030, 0x40C0A0, 0xFFFFFF, 0xFF00FF};
    Raster backdrop(56, 56, 0);
    backdrop.Rect(0, 44, 56, 56, 3);
    GifFrame full = WholeFrame(56, 56, backdrop.Take());
    full.delay = 30;
    full.disposal = 1;
    art.frames.push_back(full);

    Raster sun(20, 20, 5);
    sun.Ellipse(10, 10, 9, 9, 1);
    GifFrame sunFrame = WholeFrame(20, 20, sun.Take());
    sunFrame.x = 30;
    sunFrame.y = 4;
    sunFrame.delay = 25;
    sunFrame.disposal = 2;
    sunFrame.transparent = 5;
    art.frames.push_back(sunFrame);

    Raster bar(36, 10, 2);
    bar.Rect(4, 3, 32, 7, 4);
    GifFrame barFrame = WholeFrame(36, 10, bar.Take());
    barFrame.x = 10;
    barFrame.y = 20;
    barFrame.delay = 20;
    barFrame.disposal = 3;
    art.frames.push_back(barFrame);

    Raster face(24, 24, 5);
    face.Ellipse(12, 12, 11, 11, 3);
    face.Ellipse(8, 9, 2, 2, 4);
    face.Ellipse(16, 9, 2, 2, 4);
    face.Rect(7, 16, 17, 18, 4);
    GifFrame faceFrame = WholeFrame(24, 24, face.Take());
    faceFrame.x = 6;
    faceFrame.y = 18;
    faceFrame.delay = 40;
    faceFrame.disposal = 1;
    faceFrame.transparent = 5;
    art.frames.push_back(faceFrame);
    return art;
}

Pixels DialogBackground(int width, int height) {
    // A soft vertical gradient with a faint grid, so that a control that paints the wrong
    // background is easy to see.
    Pixels pixels(static_cast<size_t>(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t shade =
                static_cast<uint32_t>(0xE8 - 0x30 * y / (height > 1 ? height - 1 : 1));
            uint32_t rgb = (shade - 0x10) << 16 | shade << 8 | 0xF0;
            if (x % 20 == 0 || y % 20 == 0) rgb = 0xC0C8D8;
            pixels[static_cast<size_t>(y * width + x)] = rgb;
        }
    return pixels;
}

Pixels HandedBackground(int width, int height) {
    // Diagonal stripes in warm colours: unmistakably not the dialog's own background.
    Pixels pixels(static_cast<size_t>(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y * width + x)] = ((x + y) / 6) % 2 ? 0xF7C873u : 0xE9965Au;
    return pixels;
}

}  // namespace demo
