// Building the full paths of the avatar store's files from the control's properties.
// Names relative to the store root come from the store map shared with the module and the
// download library (AvatarStoreNames.h), so all sides agree on every file.
#pragma once

#include "afxstr.h"

// A user id names a picture only when it is non-empty and can be one file name inside its
// sub-directory: no '\', '/', ':', control character (an embedded NUL included), "." or "..".
BOOL IsUsableUserId(const CString& userId);

// store root + sub-directory + user id + suffix; for an image type without sub-directory,
// store root + suffix.
CString BuildPicturePath(const CString& storeRoot, const CString& userId, int imageType,
                         int faceMode);

// store root + "default\" + the default picture for the type and sex, or the bare store root
// when the pair has none.
CString BuildDefaultPicturePath(const CString& storeRoot, int imageType, int sex);

// store root + "default\download1.gif" / "download2.gif", or the bare store root for other types.
CString BuildPlaceholderPath(const CString& storeRoot, int imageType);

// store root + "SNS\" + user id + ".txt".
CString BuildVersionFilePath(const CString& storeRoot, const CString& userId);
