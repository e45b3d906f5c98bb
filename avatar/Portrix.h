// CPortrix: the avatar control that a host attaches to a static control of its dialog to show
// one user's picture from the local avatar store, fetching it through the download library
// when it is missing or stale and falling back to default pictures.
//
// Calling order: construct, attach to the static control's window (SubclassWindow), set the
// properties, optionally attach a mouse receiver and hand over a background, then call one of
// Display, DisplaySN or DisplaywithDownload. Everything runs on the host's UI thread.
#pragma once

#include "AnimatedPicture.h"
#include "AvatarDownload.h"
#include "MouseEventHook.h"
#include "afxwin.h"

// The one class libportrix exports; everything else in the library has hidden visibility. On
// Windows portrix.dll exports it (PORTRIX_BUILDING_DLL) and hosts import it.
#ifndef _WIN32
#define PORTRIX_API __attribute__((visibility("default")))
#elif defined(PORTRIX_BUILDING_DLL)
#define PORTRIX_API __declspec(dllexport)
#else
#define PORTRIX_API __declspec(dllimport)
#endif

class PORTRIX_API CPortrix : public CAnimatedPicture {
public:
    CPortrix();
    virtual ~CPortrix();

    // Properties
    void SetUserID(const CString& userId);
    void SetImageType(const int& type);  // also draws the default picture for the type and sex
    void SetFaceMode(const int& mode);
    void SetImageSN(const int& version);
    void SetSex(int sex);
    void SetServerAddress(const CString& address);

    // Background and clearing
    void ChangeBgImg(HDC background, const int& flag);
    void ChangeBgEvent();
    void SetControlClear();
    void SetCloseAvatar();

    // Mouse forwarding; a null receiver detaches the current one. Always returns 1.
    int AttachMouseEventHook(IMouseEventHook* receiver);

    // Display operations
    int Display();
    int DisplaySN();
    int DisplaywithDownload();
    void GetDefaultImg();

private:
    int OnlyDisplay();
    int CheckAvatarFileExist();
    void DownloadDisplay();
    void ChangeUnload();
    void ControlDraw();
    void DefaultAvatarDraw();
    void WriteVersionFile();
    void RememberStoredPicture();
    BOOL StoredPictureChanged() const;
    void RequestDefaultPictures(const CString& unloadable);

protected:
    afx_msg void OnTimer(UINT id);
    afx_msg void OnMouseMove(UINT flags, long point);
    afx_msg void OnLButtonDown(UINT flags, long point);
    afx_msg void OnRButtonDown(UINT flags, long point);
    afx_msg void OnLButtonUp(UINT flags, long point);
    afx_msg void OnRButtonUp(UINT flags, long point);
    afx_msg void OnLButtonDblclk(UINT flags, long point);
    afx_msg void OnRButtonDblclk(UINT flags, long point);
    DECLARE_MESSAGE_MAP()

private:
    CAvatarDownload download;
    int backgroundPending;  // the next ChangeBgImg hands a fresh background to the base class
    int faceMode;
    int imageType;
    int imageSN;
    int pollCount;      // failed ticks of timer 1
    int eraseOnRedraw;  // erase flag of the parent invalidation in ChangeUnload
    int sex;
    CString userId;
    CString imagePath;
    CString serverAddress;
    CString defaultPath;
    CString placeholderPath;
    IMouseEventHook* mouseHook;  // not owned
    // The picture stored at imagePath when its download was asked for. Timer 1 records a
    // version only for a file that differs from it: one the download put in place, or one it
    // confirmed (and so touched); never the same file left as it was by a failed download.
    BOOL pictureWasStored;
    FILETIME storedPictureWritten;
    FILETIME storedPictureCreated;
    DWORD storedPictureLength;
};
