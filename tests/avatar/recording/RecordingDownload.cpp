#include "RecordingDownload.h"

#include <mutex>

#include "AvatarDownload.h"

namespace {

struct Recorder {
    std::mutex lock;
    std::vector<DownloadCall> calls;
    std::function<void(const DownloadCall&)> action;
};

Recorder& TheRecorder() {
    static Recorder recorder;
    return recorder;
}

void Record(const DownloadCall& call) {
    std::function<void(const DownloadCall&)> action;
    {
        std::lock_guard<std::mutex> hold(TheRecorder().lock);
        TheRecorder().calls.push_back(call);
        action = TheRecorder().action;
    }
    if (action) action(call);
}

DownloadCall PictureCall(const char* operation, const CString& userId, const CString& serverAddress,
                         const CString& storeRoot, int imageType, int faceMode) {
    DownloadCall call;
    call.operation = operation;
    call.userId.assign(userId, static_cast<size_t>(userId.GetLength()));
    call.serverAddress = static_cast<LPCTSTR>(serverAddress);
    call.storeRoot = static_cast<LPCTSTR>(storeRoot);
    call.imageType = imageType;
    call.faceMode = faceMode;
    return call;
}

}  // namespace

std::vector<DownloadCall> TakeDownloadCalls() {
    std::lock_guard<std::mutex> hold(TheRecorder().lock);
    std::vector<DownloadCall> calls;
    calls.swap(TheRecorder().calls);
    return calls;
}

void SetDownloadAction(std::function<void(const DownloadCall&)> action) {
    std::lock_guard<std::mutex> hold(TheRecorder().lock);
    TheRecorder().action = std::move(action);
}

CAvatarDownload::CAvatarDownload() = default;
CAvatarDownload::~CAvatarDownload() = default;

void CAvatarDownload::StartDownload(const CString& userId, const CString& serverAddress,
                                    const CString& storeRoot, const int& imageType,
                                    const int& faceMode) {
    Record(PictureCall("StartDownload", userId, serverAddress, storeRoot, imageType, faceMode));
}

void CAvatarDownload::VazirOridoStartGFU(const CString& userId, const CString& serverAddress,
                                         const CString& storeRoot, const int& imageType,
                                         const int& faceMode) {
    Record(
        PictureCall("VazirOridoStartGFU", userId, serverAddress, storeRoot, imageType, faceMode));
}

void CAvatarDownload::VazirOridoStartN(const CString& url, const CString& localPath) {
    DownloadCall call;
    call.operation = "VazirOridoStartN";
    call.url = static_cast<LPCTSTR>(url);
    call.localPath = static_cast<LPCTSTR>(localPath);
    Record(call);
}
