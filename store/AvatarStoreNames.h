// The avatar store's map: its tree below the store root and the names of its files, shared by
// the module start-up, the avatar control and the download library, so that the directory one
// of them makes, the file another writes and the file a third looks for are the same.
//
// Every name is relative to the store root (which ends in a backslash) and uses single
// backslashes as separators. A lookup with no entry gives the empty string, so that
// appending it leaves the path as it was.
#pragma once

#include <string>
#include <string_view>

namespace AvatarStoreNames {

// The store root is the install path followed by this; it always ends in a backslash.
inline constexpr char kStoreRootSuffix[] = "\\Avatar\\";

// The directories below the store root, each with its separator, as paths address them. The
// default pictures' directory is made as "Default" and addressed as "default\", which the
// file system takes for the same name.
inline constexpr char kBodyDirectory[] = "Body\\";
inline constexpr char kUpDirectory[] = "Up\\";
inline constexpr char kFaceDirectory[] = "Face\\";
inline constexpr char kDefaultDirectory[] = "default\\";
inline constexpr char kMadeDefaultDirectory[] = "Default\\";
inline constexpr char kVersionDirectory[] = "SNS\\";

// The directories made below the store root, in the order they are made.
inline constexpr const char* kStoreDirectories[] = {kBodyDirectory, kUpDirectory, kFaceDirectory,
                                                    kMadeDefaultDirectory, kVersionDirectory};

// The housekeeping's settings file, in the store root.
inline constexpr char kConfigFileName[] = "config.ini";

// What the housekeeping sweeps, in sweep order: a directory below the store root and the
// names in it.
struct SweptDirectory {
    const char* directory;
    const char* pattern;
};
inline constexpr SweptDirectory kSweptDirectories[] = {
    {kBodyDirectory, "*.gif"},
    {kFaceDirectory, "*.gif"},
    {kUpDirectory, "*.gif"},
    {kVersionDirectory, "*.txt"},
};

// Where the download library keeps a picture's validators on a system whose files hold no
// attributes of their own: beside the picture, under a name that the control never asks for
// (the library refuses pictures named like its own files, ".nimbrel..."), that no swept
// pattern matches, and that the sweep deletes together with its picture.
inline std::string ValidatorsFileName(std::string_view pictureName) {
    return ".nimbrel." + std::string(pictureName) + ".validators";
}

// Where the download library sets a picture aside while it moves the new one into its name, on a
// system that replaces no open file: named and swept as the validators are, and never there
// after the replace has ended.
inline std::string SetAsideFileName(std::string_view pictureName) {
    return ".nimbrel." + std::string(pictureName) + ".old";
}

// A user's version file: kVersionDirectory, the user id, then this.
inline constexpr char kVersionFileExtension[] = ".txt";

// A directory's name without its separator, as one level is made or opened.
inline std::string DirectoryName(std::string_view directory) {
    return std::string(directory.substr(0, directory.size() - 1));
}

// Image types and face modes that have names.
inline constexpr int kFirstImageType = 1;  // Body
inline constexpr int kLastImageType = 3;   // Face
inline constexpr int kFaceModeCount = 10;  // 0 to 9
inline constexpr int kDefaultPictureCount = 8;

// Image type 1, 2, 3 to its sub-directory; the user id follows it directly.
inline constexpr const char* kSubDirectories[] = {kBodyDirectory, kUpDirectory, kFaceDirectory};

// Face mode 0 to 9 to the suffix appended after the user id.
inline constexpr const char* kFaceSuffixes[kFaceModeCount] = {
    ".gif",   "_s.gif",  "_c.gif",  "_a.gif",  "_w.gif",
    "_b.gif", "_bs.gif", "_bc.gif", "_ba.gif", "_bw.gif",
};

// The eight default pictures, in the order the control requests them.
inline constexpr const char* kDefaultPictureNames[kDefaultPictureCount] = {
    "default1.gif", "default2.gif", "man1.gif",      "man2.gif",
    "woman1.gif",   "woman2.gif",   "download1.gif", "download2.gif",
};

// Default picture by image type (rows 1 and 2) and sex (0 unspecified, 1 man, 2 woman).
inline constexpr const char* kDefaultPictures[2][3] = {
    {"default\\default1.gif", "default\\man1.gif", "default\\woman1.gif"},
    {"default\\default2.gif", "default\\man2.gif", "default\\woman2.gif"},
};

// Placeholder shown while a picture of image type 1 or 2 is being fetched.
inline constexpr const char* kPlaceholderPictures[2] = {"default\\download1.gif",
                                                        "default\\download2.gif"};

constexpr bool HasSubDirectory(int imageType) {
    return imageType >= kFirstImageType && imageType <= kLastImageType;
}

// "Body\", "Up\", "Face\", or "" for any other type.
constexpr const char* SubDirectory(int imageType) {
    return HasSubDirectory(imageType) ? kSubDirectories[imageType - kFirstImageType] : "";
}

// The sub-directory's name without its backslash, as the server's URLs use it.
constexpr std::string_view SubDirectoryName(int imageType) {
    std::string_view name = SubDirectory(imageType);
    return name.empty() ? name : name.substr(0, name.size() - 1);
}

// ".gif", "_s.gif" ... "_bw.gif", or "" for any other mode, negative ones included.
constexpr const char* FaceSuffix(int faceMode) {
    return faceMode >= 0 && faceMode < kFaceModeCount ? kFaceSuffixes[faceMode] : "";
}

// "default\man1.gif" and the like, or "" when the type and sex have no default picture.
constexpr const char* DefaultPicture(int imageType, int sex) {
    return (imageType == 1 || imageType == 2) && sex >= 0 && sex <= 2
               ? kDefaultPictures[imageType - 1][sex]
               : "";
}

// "default\download1.gif" or "default\download2.gif", or "" for any other type.
constexpr const char* PlaceholderPicture(int imageType) {
    return imageType == 1 || imageType == 2 ? kPlaceholderPictures[imageType - 1] : "";
}

// The picture's file name: user id and suffix.
inline std::string PictureFileName(std::string_view userId, int faceMode) {
    std::string name(userId);
    name += FaceSuffix(faceMode);
    return name;
}

// The picture's name relative to the store root: sub-directory, user id, suffix. For a type
// without sub-directory neither it nor the user id is added, leaving the suffix alone.
inline std::string PicturePath(std::string_view userId, int imageType, int faceMode) {
    std::string path = SubDirectory(imageType);
    if (HasSubDirectory(imageType)) path += userId;
    path += FaceSuffix(faceMode);
    return path;
}

// A user id comes from the host's data and becomes part of a path: it must name one file
// inside its sub-directory. Empty ids, path separators, drive colons, control characters
// and the "." and ".." entries are refused.
constexpr bool IsSafeUserId(std::string_view userId) {
    if (userId.empty() || userId == "." || userId == "..") return false;
    for (char ch : userId) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == '\\' || ch == '/' || ch == ':' || byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

}  // namespace AvatarStoreNames
