#include "Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nimbrel {

bool LogEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("NIMBREL_LOG");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

void Log(const char* format, ...) {
    if (!LogEnabled()) return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // One write per line, so that lines from two threads do not interleave.
    std::fprintf(stderr, "nimbrel: %s\n", line);
}

}  // namespace nimbrel
