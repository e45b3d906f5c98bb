// Reading back a window's pixels from its top-level framebuffer, and PNG files through libpng's
// simplified API.
#include "platform/capture.h"

#include <png.h>

#include <cstring>
#include <mutex>

#include "gdi/gdi_state.h"
#include "internal/window_surface.h"

using platform_gdi::Box;
using platform_gdi::State;

namespace platform {

bool CaptureWindow(HWND hwnd, std::vector<uint32_t>* pixels, int* width, int* height) {
    if (!pixels || !width || !height) return false;
    platform::internal::WindowPlacement placement;
    if (!platform::internal::QueryWindowPlacement(hwnd, &placement)) return false;

    State& state = State::Get();
    std::lock_guard<std::mutex> lock(state.mutex);
    platform_gdi::Framebuffer* fb = state.FramebufferFor(placement.top, placement.topClientSize);
    if (!fb) return false;
    std::lock_guard<std::mutex> reading(fb->pixels->lock);
    Box box = Box::FromRect(placement.clientInTop).Intersect(Box{0, 0, fb->width, fb->height});
    *width = static_cast<int>(box.Width());
    *height = static_cast<int>(box.Height());
    pixels->assign(static_cast<size_t>(*width) * static_cast<size_t>(*height), 0);
    for (int y = 0; y < *height; ++y) {
        std::memcpy(&(*pixels)[static_cast<size_t>(y) * *width],
                    &fb->pixels->bits[static_cast<size_t>(box.top + y) * fb->width + box.left],
                    static_cast<size_t>(*width) * sizeof(uint32_t));
    }
    return true;
}

}  // namespace platform

namespace platform::internal {

void CopyFramebuffer(HWND top, SIZE size, const RECT& area, std::vector<uint32_t>* pixels,
                     RECT* copied) {
    *copied = RECT{0, 0, 0, 0};
    State& state = State::Get();
    std::unique_lock<std::mutex> table(state.mutex);
    platform_gdi::Framebuffer* fb = state.FramebufferFor(top, size);
    if (!fb) return;
    std::shared_ptr<platform_gdi::Pixels> held = fb->pixels;
    std::lock_guard<std::mutex> reading(held->lock);
    const Box box = Box::FromRect(area).Intersect(Box{0, 0, fb->width, fb->height});
    const int width = fb->width;
    table.unlock();
    if (box.Empty()) return;
    *copied = box.ToRect();
    pixels->resize(static_cast<size_t>(box.Width() * box.Height()));
    for (int64_t y = box.top; y < box.bottom; ++y) {
        std::memcpy(&(*pixels)[static_cast<size_t>((y - box.top) * box.Width())],
                    &held->bits[static_cast<size_t>(y * width + box.left)],
                    static_cast<size_t>(box.Width()) * sizeof(uint32_t));
    }
}

}  // namespace platform::internal

namespace platform {

bool SaveWindowPng(HWND hwnd, const std::string& path) {
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    return CaptureWindow(hwnd, &pixels, &width, &height) &&
           SavePixelsPng(pixels, width, height, path);
}

bool SavePixelsPng(const std::vector<uint32_t>& pixels, int width, int height,
                   const std::string& path) {
    // PNG has no empty images.
    if (width <= 0 || height <= 0 || !platform_gdi::SizeAllowed(width, height)) return false;
    size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (pixels.size() < count) return false;
    std::vector<png_byte> rgb(count * 3);
    for (size_t i = 0; i < count; ++i) {
        rgb[3 * i] = static_cast<png_byte>(pixels[i] >> 16);
        rgb[3 * i + 1] = static_cast<png_byte>(pixels[i] >> 8);
        rgb[3 * i + 2] = static_cast<png_byte>(pixels[i]);
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    int ok = png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr);
    png_image_free(&image);
    return ok != 0;
}

bool LoadPng(const std::string& path, std::vector<uint32_t>* pixels, int* width, int* height) {
    if (!pixels || !width || !height) return false;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    if (!platform_gdi::SizeAllowed(image.width, image.height) || image.width == 0 ||
        image.height == 0) {
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    // Zeroed, since transparency is composited onto what the buffer holds.
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    size_t count = static_cast<size_t>(*width) * static_cast<size_t>(*height);
    pixels->resize(count);
    for (size_t i = 0; i < count; ++i) {
        (*pixels)[i] =
            (uint32_t{rgb[3 * i]} << 16) | (uint32_t{rgb[3 * i + 1]} << 8) | rgb[3 * i + 2];
    }
    return true;
}

}  // namespace platform
