// Sets TZ for a test's duration (the test program is single-threaded there). Builds for
// Windows too.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace portrix_test {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_saved = old, m_had = true;
        Set(zone);
    }
    ~ScopedTimeZone() { Set(m_had ? m_saved.c_str() : nullptr); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    static void Set(const char* zone) {
#ifdef _WIN32
        _putenv_s("TZ", zone ? zone : "");
        _tzset();
#else
        if (zone) {
            setenv("TZ", zone, 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
#endif
    }
    std::string m_saved;
    bool m_had = false;
};

}  // namespace portrix_test
