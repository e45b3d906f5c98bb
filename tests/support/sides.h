// The platform's API-level tests run twice: against our layer, and built for Windows, under Wine.
// A row whose expectation holds on one side only goes through one of these; where it does not
// hold, its checks are left out and a "[  MARKED  ]" line names the row and the reason, so that
// no row is dropped without a word.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace portrix_test {

inline bool BuiltForWindows() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool UnderWine() {
#ifdef _WIN32
    static const bool wine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    return wine;
#else
    return false;
#endif
}

inline bool MarkedRow(const std::string& row, const char* why) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::printf("[  MARKED  ] %s.%s %s: %s\n", test ? test->test_suite_name() : "?",
                test ? test->name() : "?", row.c_str(), why);
    std::fflush(stdout);
    return false;
}

// A row that holds for our layer only, because the layer departs from the original on purpose.
inline bool LayerOnly(const std::string& row, const char* why) {
    return BuiltForWindows() ? MarkedRow(row, why) : true;
}

// A row that can be checked only where the system's own calls run (built for Windows).
inline bool WindowsOnly(const std::string& row, const char* why) {
    return BuiltForWindows() ? true : MarkedRow(row, why);
}

// A row that holds for our layer and for the original, but not under Wine, whose fault it is.
inline bool NotUnderWine(const std::string& row, const char* why) {
    return UnderWine() ? MarkedRow(row, why) : true;
}

}  // namespace portrix_test
