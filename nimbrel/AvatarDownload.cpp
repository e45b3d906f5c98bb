#include "AvatarDownload.h"

#include <optional>
#include <string_view>

#include "Request.h"
#include "Service.h"

namespace {

std::string_view View(const CString& text) {
    return static_cast<LPCTSTR>(text);
}

// Nothing may leave the library: a failure to queue (memory, thread creation) is dropped,
// like every other failure of a download.
void Submit(std::optional<nimbrel::Request> request) noexcept {
    if (!request) return;
    try {
        nimbrel::SubmitToEngine(std::move(*request));
    } catch (...) {
    }
}

}  // namespace

// Objects hold nothing: the engine lives as long as the library, so neither an object nor an
// implicit copy of one can end another object's transfers.
CAvatarDownload::CAvatarDownload() = default;

CAvatarDownload::~CAvatarDownload() = default;

void CAvatarDownload::StartDownload(const CString& userId, const CString& serverAddress,
                                    const CString& storeRoot, const int& imageType,
                                    const int& faceMode) {
    try {
        Submit(nimbrel::MakePictureRequest(View(userId), View(serverAddress), View(storeRoot),
                                           imageType, faceMode, false));
    } catch (...) {
    }
}

void CAvatarDownload::VazirOridoStartGFU(const CString& userId, const CString& serverAddress,
                                         const CString& storeRoot, const int& imageType,
                                         const int& faceMode) {
    try {
        Submit(nimbrel::MakePictureRequest(View(userId), View(serverAddress), View(storeRoot),
                                           imageType, faceMode, true));
    } catch (...) {
    }
}

void CAvatarDownload::VazirOridoStartN(const CString& url, const CString& localPath) {
    try {
        Submit(nimbrel::MakeDefaultPictureRequest(View(url), View(localPath)));
    } catch (...) {
    }
}
