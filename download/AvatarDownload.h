// CAvatarDownload: the download service of the Nimbrel library.
//
// Every call hands its request to the library's worker and returns at once; nothing is
// reported back. The only result is the picture file that appears, complete, at the path
// the avatar control builds from the same arguments. A picture already stored is held open
// for writing (denying nothing) from the call until its transfer ends, so that the control's
// write-denying existence test fails meanwhile; a picture that cannot be held stays visible.
// Objects share one worker that lives as long as the library: destroying an object (or an
// implicit copy of one) cancels nothing. NIMBREL_LOG=1 in the environment makes the library
// say on stderr what it does with each picture, and why.
#pragma once

#include <afxstr.h>

// The class is exported by libnimbrel and imported by libportrix and hosts. On ELF both
// sides simply need default visibility, which also keeps the implicit copy operations and
// the virtual table visible from every library that emits them. On Windows nimbrel.dll
// exports it (NIMBREL_BUILDING_DLL) and everyone else imports it.
#ifndef _WIN32
#define NIMBREL_API __attribute__((visibility("default")))
#elif defined(NIMBREL_BUILDING_DLL)
#define NIMBREL_API __declspec(dllexport)
#else
#define NIMBREL_API __declspec(dllimport)
#endif

class NIMBREL_API CAvatarDownload {
public:
    CAvatarDownload();
    virtual ~CAvatarDownload();

    // Fetches the user's picture unconditionally and puts it at
    // store root + sub-directory + user id + suffix. Never answered by a refresh's 304.
    void StartDownload(const CString& userId, const CString& serverAddress,
                       const CString& storeRoot, const int& imageType, const int& faceMode);

    // Refreshes the user's picture: sends back the ETag and Last-Modified the server gave
    // for the stored copy; an unchanged picture is marked fresh (its modification time is
    // the time it was last fetched or confirmed), a changed one replaced. A picture stored
    // without them is fetched whole.
    void VazirOridoStartGFU(const CString& userId, const CString& serverAddress,
                            const CString& storeRoot, const int& imageType, const int& faceMode);

    // Fetches one default picture from the given URL to the given full local path.
    void VazirOridoStartN(const CString& url, const CString& localPath);
};
