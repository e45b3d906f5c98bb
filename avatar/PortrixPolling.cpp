// CPortrix: completion polling. Timer 1 looks for the downloaded picture every 50 ms; after
// 20 failed ticks the 21st shows the default picture and hands over to timer 2, which looks
// every 10 ms for as long as the window lives. The picture found by timer 1 has its version
// recorded in the user's version file, unless it is the very file that was stored when the
// download was asked for: a failed download leaves that file as it was.
#include "Portrix.h"

#include "PortrixConstants.h"
#include "StoreFiles.h"
#include "StorePaths.h"
#include "StoreRoot.h"

void CPortrix::OnTimer(UINT id) {
    if (id == kFirstPhaseTimerId) {
        if (PassesExistenceTest(imagePath)) {
            KillTimer(kFirstPhaseTimerId);
            ChangeUnload();
            backgroundPending = 1;
            if (LoadFile(imagePath)) {
                StartDisplay();
                if (StoredPictureChanged()) WriteVersionFile();
            } else {
                DefaultAvatarDraw();
                SetTimer(kSecondPhaseTimerId, kSecondPhasePeriodMs, nullptr);
            }
        } else if (++pollCount > kFirstPhaseFailedTicks) {
            KillTimer(kFirstPhaseTimerId);
            pollCount = 0;
            backgroundPending = 1;
            DefaultAvatarDraw();
            SetTimer(kSecondPhaseTimerId, kSecondPhasePeriodMs, nullptr);
        }
    } else if (id == kSecondPhaseTimerId) {
        if (PassesExistenceTest(imagePath)) {
            KillTimer(kSecondPhaseTimerId);
            ChangeUnload();
            backgroundPending = 1;
            if (LoadFile(imagePath))
                StartDisplay();
            else
                DefaultAvatarDraw();
        }
    }
    CAnimatedPicture::OnTimer(id);
}

void CPortrix::WriteVersionFile() {
    const CString& storeRoot = GetStoreRoot();
    // Without a store, or with a user id that is not one file name, the path would lie outside
    // the store's SNS directory.
    if (storeRoot.IsEmpty()) return;
    if (!userId.IsEmpty() && !IsUsableUserId(userId)) return;
    RecordVersion(BuildVersionFilePath(storeRoot, userId), imageType, faceMode, imageSN);
}

void CPortrix::RememberStoredPicture() {
    StoreFileIdentity identity{};
    pictureWasStored = IdentifyStoreFile(imagePath, &identity);
    storedPictureWritten = identity.written;
    storedPictureCreated = identity.created;
    storedPictureLength = identity.length;
}

BOOL CPortrix::StoredPictureChanged() const {
    if (!pictureWasStored) return TRUE;
    StoreFileIdentity now{};
    if (!IdentifyStoreFile(imagePath, &now)) return TRUE;
    const StoreFileIdentity before{storedPictureWritten, storedPictureCreated, storedPictureLength};
    return SameStoreFile(before, now) ? FALSE : TRUE;
}
