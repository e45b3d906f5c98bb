// File search: FindFirstFileA, FindNextFileA and FindClose over a small directory, patterns
// matched as the original matches them.
// ctest-labels: win32
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "sides.h"
#include "temp_dir.h"
#include "windows.h"

namespace {

using Names = std::set<std::string>;

// Every name a pattern finds; ERROR_SUCCESS when it finds some, else the error of the search.
Names Find(const std::string& pattern, DWORD* error) {
    Names names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    *error = search == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.insert(data.cFileName);
    } while (FindNextFileA(search, &data));
    EXPECT_EQ(DWORD(ERROR_NO_MORE_FILES), GetLastError()) << pattern;
    EXPECT_TRUE(FindClose(search));
    return names;
}

TEST(FileSearch, PatternsFindWhatTheOriginalFinds) {
    portrix_test::TempDir dir;
    for (const char* name : {"10001.gif", "10002_BS.GIF", "config.ini", "noext"})
        dir.Write(name, "x");
    std::filesystem::create_directory(dir / "Sub");
    const std::string in = dir.path() + "\\";
    struct Case {
        std::string pattern;
        Names expected;
        DWORD error;
    } cases[] = {
        /* 1 */ {in + "*.gif", {"10001.gif", "10002_BS.GIF"}, ERROR_SUCCESS},
        /* 2 */ {in + "*.", {".", "..", "noext", "Sub"}, ERROR_SUCCESS},  // names without an
                                                                          // extension
                                                                          /* 3 */
        {in + "*",
         {".", "..", "10001.gif", "10002_BS.GIF", "config.ini", "noext", "Sub"},
         ERROR_SUCCESS},
        /* 4 */ {in + "?oext", {"noext"}, ERROR_SUCCESS},
        /* 5 */ {in + "CONFIG.INI", {"config.ini"}, ERROR_SUCCESS},
        /* 6 */ {in + "*.txt", {}, ERROR_FILE_NOT_FOUND},
        /* 7 */ {in + "missing\\*", {}, ERROR_PATH_NOT_FOUND},
    };
    int row = 0;
    for (const Case& c : cases) {
        ++row;
        if (row == 2 && !portrix_test::NotUnderWine("row 2", "Wine 8.0 takes \"*.\" for \"*\""))
            continue;
        DWORD error = 0;
        const Names found = Find(c.pattern, &error);
        EXPECT_EQ(c.expected, found) << "row " << row;
        EXPECT_EQ(c.error, error) << "row " << row;
    }
}

}  // namespace
