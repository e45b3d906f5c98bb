// Reading back what a window shows and saving it as PNG: for the demo's snapshots and for tests
// that compare the screen pixel by pixel. Not part of Win32.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "windef.h"

namespace platform {

// The pixels of hwnd's client area as the screen shows them (0x00RRGGBB, row-major, top row
// first). For a top-level window this is its whole framebuffer; for a child window it is the
// child's client area cut out of its top-level window's framebuffer, clipped to it. FALSE when
// hwnd is not a window.
bool CaptureWindow(HWND hwnd, std::vector<uint32_t>* pixels, int* width, int* height);

// CaptureWindow, then SavePixelsPng.
bool SaveWindowPng(HWND hwnd, const std::string& path);

// Writes width x height pixels (0x00RRGGBB) as an 8-bit RGB PNG.
bool SavePixelsPng(const std::vector<uint32_t>& pixels, int width, int height,
                   const std::string& path);

// Reads any PNG into 0x00RRGGBB pixels; transparency is composited over black. False for a file
// that is missing, not a PNG, corrupt, or larger than 16384 pixels on a side or 32 Mi pixels.
bool LoadPng(const std::string& path, std::vector<uint32_t>* pixels, int* width, int* height);

}  // namespace platform
