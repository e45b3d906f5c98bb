#include "Request.h"

#include "AvatarStoreNames.h"
#include "Log.h"
#include "PathMapping.h"
#include "TempFiles.h"

namespace nimbrel {
namespace {

constexpr char kServerDirectory[] = "/c_avatar/";

bool IsUnreserved(unsigned char ch) {
    return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
           ch == '-' || ch == '.' || ch == '_' || ch == '~';
}

}  // namespace

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (IsUnreserved(byte)) {
            encoded += ch;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::optional<Request> MakePictureRequest(std::string_view userId, std::string_view serverAddress,
                                          std::string_view storeRoot, int imageType, int faceMode,
                                          bool refresh) {
    using namespace AvatarStoreNames;
    if (storeRoot.empty() || !IsSafeUserId(userId) || !HasSubDirectory(imageType))
        return std::nullopt;
    if (IsLibraryFileName(PictureFileName(userId, faceMode))) return std::nullopt;

    std::string windowsPath(storeRoot);
    windowsPath += PicturePath(userId, imageType, faceMode);
    Request request;
    request.destination = ToPosix(windowsPath);
    request.root = NormalisePosixPath(ToPosix(storeRoot));
    if (!IsBelow(request.root, request.destination)) return std::nullopt;
    const std::string destination = NormalisePosixPath(request.destination);
    request.relative = destination.substr(request.root == "/" ? 1 : request.root.size() + 1);

    request.url = "http://";
    request.url += serverAddress;
    request.url += kServerDirectory;
    request.url += SubDirectoryName(imageType);
    request.url += '/';
    request.url += PercentEncode(PictureFileName(userId, faceMode));
    request.refresh = refresh;
    return request;
}

std::optional<Request> MakeDefaultPictureRequest(std::string_view url, std::string_view localPath) {
    if (url.empty() || localPath.empty() || HasParentComponent(localPath)) return std::nullopt;
    const size_t separator = localPath.find_last_of("\\/");
    const std::string_view fileName =
        separator == std::string_view::npos ? localPath : localPath.substr(separator + 1);
    // A default picture's name obeys the same rule as a user id: one plain file name.
    if (!AvatarStoreNames::IsSafeUserId(fileName) || IsLibraryFileName(fileName))
        return std::nullopt;

    Request request;
    request.url = std::string(url);
    request.destination = NormalisePosixPath(ToPosix(localPath));
    const size_t slash = request.destination.rfind('/');
    request.root = slash == std::string::npos ? "."
                   : slash == 0               ? "/"
                                              : request.destination.substr(0, slash);
    request.relative =
        slash == std::string::npos ? request.destination : request.destination.substr(slash + 1);
    return request;
}

void HoldStoredPicture(Request& request) {
    std::string why;
    request.hold = PictureHold::Take(request.root, request.relative, &why);
    if (!why.empty())
        LogPicture(request, "not held during its transfer (%s): it stays visible meanwhile",
                   why.c_str());
}

bool PendingTransfers::Join(const Request& request) {
    Counts& counts = m_counts[request.Key()];
    if (counts.fetches > 0 || (request.refresh && counts.refreshes > 0)) {
        LogPicture(request, "joined the transfer already asked for");
        return true;
    }
    ++(request.refresh ? counts.refreshes : counts.fetches);
    return false;
}

void PendingTransfers::Forget(const Request& request) {
    const auto found = m_counts.find(request.Key());
    if (found == m_counts.end()) return;
    --(request.refresh ? found->second.refreshes : found->second.fetches);
    if (found->second.fetches <= 0 && found->second.refreshes <= 0) m_counts.erase(found);
}

}  // namespace nimbrel
