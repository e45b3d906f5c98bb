// Pictures for the control tests: small one-colour GIFs, written byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A GIF of width x height pixels in one colour (0x00RRGGBB), with a comment of `paddingBytes`
// bytes before the image to make the file that much longer. Empty for an impossible size.
std::string SolidGifBytes(int width, int height, uint32_t rgb, size_t paddingBytes = 0);

// Writes SolidGifBytes(width, height, rgb) to a path. False when it cannot be written.
bool WriteSolidGif(const std::string& path, int width, int height, uint32_t rgb);
