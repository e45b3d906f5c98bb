// What the files family's tests share: row labels, Windows spellings of paths inside a
// temporary directory, and the avatar folders they search and open. Builds for Windows too.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "temp_dir.h"

namespace portrix_test {

inline std::string Row(int n) {
    return "row " + std::to_string(n);
}

// Windows spelling of a path inside dir: backslashes after the directory.
inline std::string Win(const TempDir& dir, const std::string& tail) {
    return dir.path() + "\\" + tail;
}

inline void MakeTree(const TempDir& dir) {
    ASSERT_TRUE(std::filesystem::create_directories(dir / "Avatar/Default"));
    ASSERT_TRUE(std::filesystem::create_directory(dir / "Avatar/Body"));
    dir.Write("Avatar/Body/10001.gif", "GIF89a");
    dir.Write("Avatar/Default/Man1.GIF", "GIF89a");
}

}  // namespace portrix_test
