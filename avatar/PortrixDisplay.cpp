// CPortrix: the display decision. A fresh stored picture is shown at once; a missing or
// stale one is asked of the download service while the placeholder shows, and the timers of
// PortrixPolling.cpp watch for the file.
#include "Portrix.h"

#include "PortrixConstants.h"
#include "StoreFiles.h"
#include "StorePaths.h"
#include "StoreRoot.h"

namespace {

// The paths of a display decision: the user's picture, and the default and placeholder
// pictures reset to the bare store root. FALSE, with no path changed, when there is no store
// or the user id names no picture.
BOOL BuildDisplayPaths(const CString& userId, int imageType, int faceMode, CString& imagePath,
                       CString& defaultPath, CString& placeholderPath) {
    const CString& storeRoot = GetStoreRoot();
    if (storeRoot.IsEmpty() || !IsUsableUserId(userId)) return FALSE;
    imagePath = BuildPicturePath(storeRoot, userId, imageType, faceMode);
    defaultPath = storeRoot;
    placeholderPath = storeRoot;
    return TRUE;
}

// The user's picture path for the operations that download whatever the store holds: an empty
// user id still names a path, as it always has; one that is not a single file name names none
// and leaves the bare store root, which is never a picture. Without a store the path is empty:
// a name built on an empty root would be relative to the host's working directory.
CString DownloadTargetPath(const CString& userId, int imageType, int faceMode) {
    const CString& storeRoot = GetStoreRoot();
    if (storeRoot.IsEmpty()) return CString();
    if (!userId.IsEmpty() && !IsUsableUserId(userId)) return storeRoot;
    return BuildPicturePath(storeRoot, userId, imageType, faceMode);
}

}  // namespace

int CPortrix::OnlyDisplay() {
    if (!BuildDisplayPaths(userId, imageType, faceMode, imagePath, defaultPath, placeholderPath))
        return 0;

    const StoredPicture stored = ExamineStoredPicture(imagePath);
    if (stored == StoredPicture::fresh || stored == StoredPicture::statusUnknown) {
        ChangeUnload();
        backgroundPending = 1;
        if (LoadFile(imagePath))
            ControlDraw();
        else
            DefaultAvatarDraw();  // defaultPath is the bare store root: GetDefaultImg, no picture
        return 1;
    }

    const CString& storeRoot = GetStoreRoot();
    defaultPath = BuildDefaultPicturePath(storeRoot, imageType, sex);
    placeholderPath = BuildPlaceholderPath(storeRoot, imageType);
    ChangeUnload();
    backgroundPending = 1;
    if (LoadFile(placeholderPath))
        ControlDraw();
    else
        DefaultAvatarDraw();
    RememberStoredPicture();
    download.VazirOridoStartGFU(userId, serverAddress, storeRoot, imageType, faceMode);
    pollCount = 0;
    SetTimer(kFirstPhaseTimerId, kFirstPhasePeriodMs, nullptr);
    return 1;
}

int CPortrix::CheckAvatarFileExist() {
    if (!BuildDisplayPaths(userId, imageType, faceMode, imagePath, defaultPath, placeholderPath))
        return 0;
    return ExamineStoredPicture(imagePath) == StoredPicture::fresh ? 1 : 0;
}

int CPortrix::Display() {
    // A fresh picture is tested twice, once here and once by the decision itself.
    if (CheckAvatarFileExist() == 1) {
        OnlyDisplay();
        return 1;
    }
    return OnlyDisplay();
}

int CPortrix::DisplaySN() {
    const CString& storeRoot = GetStoreRoot();
    imagePath = DownloadTargetPath(userId, imageType, faceMode);
    const BOOL namesPicture = userId.IsEmpty() || IsUsableUserId(userId);
    if (!namesPicture || !PassesExistenceTest(imagePath)) {
        DownloadDisplay();
        return 1;
    }

    int recorded = 0;
    if (!ReadRecordedVersion(BuildVersionFilePath(storeRoot, userId), imageType, faceMode,
                             &recorded)) {
        DownloadDisplay();
        return 1;
    }
    if (imageSN > recorded)
        DownloadDisplay();
    else
        OnlyDisplay();
    return 1;
}

int CPortrix::DisplaywithDownload() {
    // The timers must poll for the picture being asked for, not for whichever picture an
    // earlier display operation named: that one may belong to another user, and finding it
    // would show it and record this user's version for it.
    imagePath = DownloadTargetPath(userId, imageType, faceMode);
    DownloadDisplay();
    return 1;
}

void CPortrix::DownloadDisplay() {
    const CString& storeRoot = GetStoreRoot();
    UnloadPicture();
    if (!storeRoot.IsEmpty() && (imageType == 1 || imageType == 2)) {
        if (LoadFile(BuildPlaceholderPath(storeRoot, imageType))) StartDisplay();
    }
    RememberStoredPicture();
    download.StartDownload(userId, serverAddress, storeRoot, imageType, faceMode);
    pollCount = 0;
    SetTimer(kFirstPhaseTimerId, kFirstPhasePeriodMs, nullptr);
}
