// Turning the control's arguments into one transfer: where from, where to, and whether
// it only refreshes a stored copy. Refused arguments give no request at all.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "PictureHold.h"

namespace nimbrel {

struct Request {
    std::string url;
    std::string destination;  // POSIX path of the picture, for messages
    // The picture is `relative` ('/'-separated) beneath the directory `root`; nothing below
    // root is reached through a symbolic link.
    std::string root;
    std::string relative;
    bool refresh = false;  // ask only whether the stored picture changed
    PictureHold hold;      // on the stored picture from the call until the transfer ends
    // Waited for another process's transfer, which ended without bringing the picture: this one
    // now fetches it itself, and does not wait for a lock still held after the wait's limit.
    bool waited = false;

    // Requests for the same URL and destination are served by one transfer (a refresh by
    // either kind, a fetch only by a fetch).
    std::string Key() const { return url + '\n' + destination; }
};

// Takes the request's hold on the stored picture, on the caller's thread: it must be in place
// before the caller first looks at the store, however long the engine's backlog. Logs why
// nothing is held.
void HoldStoredPicture(Request& request);

// The transfers queued or running, by Request::Key(), under the rule both engines follow: a
// refresh is answered by any transfer of the picture; a fetch must not be answered by a
// refresh's 304, so it only joins another fetch. The caller keeps it under its own lock.
class PendingTransfers {
public:
    // True (and logged) when `request` joins a transfer already asked for; its own hold then
    // ends with it, the transfer it joined holding the picture until it ends. Else counts it.
    bool Join(const Request& request);
    // Once the request's transfer no longer answers new calls.
    void Forget(const Request& request);
    void Clear() { m_counts.clear(); }

private:
    struct Counts {
        int fetches = 0;
        int refreshes = 0;
    };
    std::map<std::string, Counts> m_counts;
};

// RFC 3986 percent-encoding: unreserved characters kept, every other byte as %XX.
std::string PercentEncode(std::string_view text);

// A user's picture: server + "/c_avatar/" + sub-directory name + "/" + file name, stored
// at store root + sub-directory + user id + suffix. Refused for an empty store root, an
// unsafe user id, an image type without sub-directory, a destination outside the store, or
// a file name that the library keeps for its own files.
std::optional<Request> MakePictureRequest(std::string_view userId, std::string_view serverAddress,
                                          std::string_view storeRoot, int imageType, int faceMode,
                                          bool refresh);

// A default picture, from a URL given whole to a local path given whole; the picture lies
// beneath the directory of that path. Refused for an empty URL, a path with a ".." component,
// or a file name that is not one plain name or is one of the library's own.
std::optional<Request> MakeDefaultPictureRequest(std::string_view url, std::string_view localPath);

}  // namespace nimbrel
