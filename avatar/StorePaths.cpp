#include "StorePaths.h"

#include <string_view>

#include "AvatarStoreNames.h"

namespace {
// The whole text, embedded NULs included, so that a NUL cannot hide what follows it.
std::string_view WholeText(const CString& text) {
    return std::string_view(static_cast<LPCTSTR>(text), static_cast<size_t>(text.GetLength()));
}
}  // namespace

BOOL IsUsableUserId(const CString& userId) {
    return AvatarStoreNames::IsSafeUserId(WholeText(userId)) ? TRUE : FALSE;
}

CString BuildPicturePath(const CString& storeRoot, const CString& userId, int imageType,
                         int faceMode) {
    const std::string relative =
        AvatarStoreNames::PicturePath(static_cast<LPCTSTR>(userId), imageType, faceMode);
    return storeRoot + relative.c_str();
}

CString BuildDefaultPicturePath(const CString& storeRoot, int imageType, int sex) {
    return storeRoot + AvatarStoreNames::DefaultPicture(imageType, sex);
}

CString BuildPlaceholderPath(const CString& storeRoot, int imageType) {
    return storeRoot + AvatarStoreNames::PlaceholderPicture(imageType);
}

CString BuildVersionFilePath(const CString& storeRoot, const CString& userId) {
    return storeRoot + AvatarStoreNames::kVersionDirectory + userId +
           AvatarStoreNames::kVersionFileExtension;
}
