// Whole-file reads and writes on a descriptor, retried across signals and short counts.
// Private to the platform layer.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::internal {

// Appends what fd holds from its position to its end to *content, stopping early once *content
// holds more than limit bytes. Returns 0, or the errno of the read that failed.
inline int ReadToEnd(int fd, std::string* content, size_t limit = SIZE_MAX) {
    char buffer[65536];
    while (content->size() <= limit) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) break;
        content->append(buffer, static_cast<size_t>(n));
    }
    return 0;
}

// Writes all of text at fd's position; false when a write fails or writes nothing.
inline bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace platform::internal
