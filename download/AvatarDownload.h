// CAvatarDownload: the download service of the Nimbrel library.
//
// Every call hands its request to the library's worker and returns at once; nothing is
// reported back. The only result is the picture file that appears, complete, at the path
// the avatar control builds from the same arguments.
#pragma once

#include <afxstr.h>

// The class is exported by libnimbrel and imported by libportrix and hosts. On ELF both
// sides simply need default visibility, which also keeps the implicit copy operations and
// the virtual table visible from every library that emits them.
#define NIMBREL_API __attribute__((visibility("default")))

class NIMBREL_API CAvatarDownload {
public:
    CAvatarDownload();
    virtual ~CAvatarDownload();

    // Fetches the user's picture unconditionally and puts it at
    // store root + sub-directory + user id + suffix.
    void StartDownload(const CString& userId, const CString& serverAddress, const CString& storeRoot,
                       const int& imageType, const int& faceMode);

    // Refreshes the user's picture: asks the server whether it changed since the stored
    // copy was written; an unchanged picture is marked fresh, a changed one replaced.
    void VazirOridoStartGFU(const CString& userId, const CString& serverAddress, const CString& storeRoot,
                            const int& imageType, const int& faceMode);

    // Fetches one default picture from the given URL to the given full local path.
    void VazirOridoStartN(const CString& url, const CString& localPath);
};
