// The server's validators of a stored picture: its ETag and Last-Modified, exactly as the
// server sent them, to be sent back as If-None-Match and If-Modified-Since.
//
// Where they are kept is the file layer's (StoreFiles.h): extended attributes of the picture
// on POSIX, a side file beside it on Windows. Either way they survive restarts, every process
// sees the picture and its validators change together, and they go wherever the picture goes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nimbrel {

struct Validators {
    std::string etag;
    std::string lastModified;

    bool Empty() const { return etag.empty() && lastModified.empty(); }
};

// A header value that may be stored and sent again: printable ASCII, at most 256 bytes. Other
// values (a line break above all) are dropped, from the network and from the file alike.
inline constexpr size_t kMaxValidatorBytes = 256;
inline bool IsUsableValidator(std::string_view value) {
    if (value.empty() || value.size() > kMaxValidatorBytes) return false;
    for (char ch : value) {
        if (ch < 0x20 || ch > 0x7E) return false;
    }
    return true;
}

}  // namespace nimbrel
