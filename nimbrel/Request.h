// Turning the control's arguments into one transfer: where from, where to, and whether
// it only refreshes a stored copy. Refused arguments give no request at all.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace nimbrel {

struct Request {
    std::string url;
    std::string destination;  // POSIX path of the picture
    bool refresh = false;     // ask only for a picture newer than the stored one

    // Requests for the same URL and destination are served by one transfer.
    std::string Key() const { return url + '\n' + destination; }
};

// RFC 3986 percent-encoding: unreserved characters kept, every other byte as %XX.
std::string PercentEncode(std::string_view text);

// A user's picture: server + "/c_avatar/" + sub-directory name + "/" + file name, stored
// at store root + sub-directory + user id + suffix. Refused for an empty store root, an
// unsafe user id, an image type without sub-directory, or a destination outside the store.
std::optional<Request> MakePictureRequest(std::string_view userId, std::string_view serverAddress,
                                          std::string_view storeRoot, int imageType, int faceMode, bool refresh);

// A default picture, from a URL given whole to a local path given whole. Refused for an
// empty URL, a path with a ".." component, or a file name that is not one plain name.
std::optional<Request> MakeDefaultPictureRequest(std::string_view url, std::string_view localPath);

}  // namespace nimbrel
