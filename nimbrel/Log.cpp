#include "Log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Request.h"

namespace nimbrel {
namespace {

constexpr size_t kLineBytes = 2048;

void Write(const char* prefix, const char* format, va_list args) {
    char message[kLineBytes];
    std::vsnprintf(message, sizeof message, format, args);
    // One write per line, so that lines from two threads do not interleave.
    std::fprintf(stderr, "nimbrel: %s%s\n", prefix, message);
}

}  // namespace

bool LogEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("NIMBREL_LOG");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return enabled;
}

void Log(const char* format, ...) {
    if (!LogEnabled()) return;
    va_list args;
    va_start(args, format);
    Write("", format, args);
    va_end(args);
}

void LogPicture(const Request& request, const char* format, ...) {
    if (!LogEnabled()) return;
    char prefix[kLineBytes];
    std::snprintf(prefix, sizeof prefix, "%s <- %s: ", request.destination.c_str(),
                  request.url.c_str());
    va_list args;
    va_start(args, format);
    Write(prefix, format, args);
    va_end(args);
}

}  // namespace nimbrel
