// A time as an HTTP date (RFC 9110 IMF-fixdate), for Last-Modified and If-Modified-Since.
#pragma once

#include <ctime>
#include <string>

namespace portrix_test {

inline std::string HttpDate(std::time_t when) {
    char text[64];
    std::tm utc{};
    gmtime_r(&when, &utc);
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
    return text;
}

}  // namespace portrix_test
