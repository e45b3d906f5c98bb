// The texts of the message boxes that the libraries showed while the program loaded. Built for
// Windows, a library loaded ahead of the control's answers them and keeps their texts
// (tests/wine/no_store_setup.cpp); on Linux without a display the layer writes a box's text to
// standard error instead, and none is kept.
#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
#ifdef PORTRIX_LOAD_BOXES_BUILDING
__declspec(dllexport)
#else
__declspec(dllimport)
#endif
    std::vector<std::string> MessageBoxesAtLoad();
#else
inline std::vector<std::string> MessageBoxesAtLoad() {
    return {};
}
#endif
