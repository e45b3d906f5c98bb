// CPortrix: completion polling. Timer 1 looks for the downloaded picture every 50 ms; after
// 20 failed ticks the 21st shows the default picture and hands over to timer 2, which looks
// every 10 ms for as long as the window lives. The picture found by timer 1 has its version
// recorded in the user's version file.
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
                WriteVersionFile();
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
