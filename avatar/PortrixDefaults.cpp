// CPortrix: the default picture set. Every default picture missing from the store's Default
// directory is requested from the avatar server, and so is one present that failed to load:
// the Default directory is never swept, so a damaged picture would otherwise stay for good.
// Nothing waits for them.
#include "Portrix.h"

#include "AvatarStoreNames.h"
#include "Base64.h"
#include "PortrixConstants.h"
#include "StoreRoot.h"

void CPortrix::GetDefaultImg() {
    RequestDefaultPictures(CString());
}

void CPortrix::RequestDefaultPictures(const CString& unloadable) {
    const CString& storeRoot = GetStoreRoot();
    if (storeRoot.IsEmpty()) return;
    const CString directory = storeRoot + AvatarStoreNames::kDefaultDirectory;
    for (const char* name : AvatarStoreNames::kDefaultPictureNames) {
        // The template exists in plain text only while one URL is made from it.
        CString url;
        url.Format(DecodeBase64String(kServerUrlTemplateBase64),
                   static_cast<LPCTSTR>(serverAddress));
        url += name;
        const CString localPath = directory + name;
        CFileFind finder;
        if (!finder.FindFile(localPath) || localPath.CompareNoCase(unloadable) == 0)
            download.VazirOridoStartN(url, localPath);
    }
}
