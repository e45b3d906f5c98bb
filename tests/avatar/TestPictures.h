// Pictures for the control tests: small one-colour GIFs written with giflib.
#pragma once

#include <cstdint>
#include <string>

// Writes a GIF of width x height pixels in one colour (0x00RRGGBB) to a POSIX path.
// Returns false when the file cannot be written.
bool WriteSolidGif(const std::string& path, int width, int height, uint32_t rgb);
