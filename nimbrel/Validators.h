// The server's validators of a stored picture: its ETag and Last-Modified, exactly as the
// server sent them, to be sent back as If-None-Match and If-Modified-Since.
//
// They are kept in extended attributes of the picture file itself, set on the new file before
// it is moved into place. So they survive restarts, every process sharing the store sees the
// picture and its validators change together, nothing in the store's directories can be taken
// for a picture, and they go wherever the picture goes: deleting the picture deletes them. On
// a file system without user attributes a picture simply has none and is fetched whole.
//
// Windows file systems keep no such attributes (and Wine no alternate streams): the Windows file
// layer (win32/Files.h) keeps them in a side file beside the picture instead, named by
// AvatarStoreNames::ValidatorsFileName, which the store's sweep deletes with the picture.
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

// The validators stored with the file behind fd; unusable or missing ones are empty.
Validators ReadValidators(int fd);

// Stores the validators with the file behind fd, removing any that are empty. False when the
// file system keeps no attributes or refuses them.
bool WriteValidators(int fd, const Validators& validators);

}  // namespace nimbrel
