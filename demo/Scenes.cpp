#include "Scenes.h"

namespace demo {

namespace {

// A version file of 30 five-character entries, all "00001" but one.
std::string VersionFile(int imageType, int faceMode, const char* entry) {
    std::string table;
    for (int i = 0; i < 30; ++i) table += "00001";
    table.replace(static_cast<size_t>(((imageType - 1) * 10 + faceMode) * 5), 5, entry);
    return table;
}

Artwork Body(const std::string& name, uint32_t face, uint32_t backdrop, int version) {
    return StillAvatar(name, 48, 64, face, backdrop, version, false);
}
Artwork Up(const std::string& name, uint32_t face, uint32_t backdrop, int version) {
    return StillAvatar(name, 56, 56, face, backdrop, version, false);
}

}  // namespace

std::string PictureName(int imageType, const std::string& userId, int faceMode) {
    static const char* const kDirectories[] = {"Body", "Up", "Face"};
    static const char* const kSuffixes[] = {".gif",   "_s.gif",  "_c.gif",  "_a.gif",  "_w.gif",
                                            "_b.gif", "_bs.gif", "_bc.gif", "_ba.gif", "_bw.gif"};
    return std::string(kDirectories[imageType - 1]) + "/" + userId + kSuffixes[faceMode];
}

std::vector<Scene> MakeScenes() {
    std::vector<Scene> scenes;

    Scene fresh;
    fresh.name = "fresh";
    fresh.story = "Display: a picture stored a moment ago is shown at once, no download";
    fresh.hint = "Display, stored just now";
    fresh.userId = "10001";
    const Artwork freshPicture = Body("10001.gif", 0x2E7D32, 0xC8E6C9, 1);
    fresh.stored = {{PictureName(1, "10001", 0), freshPicture}};
    fresh.pictures = {{"picture 10001", freshPicture}};
    fresh.expected = "picture 10001";
    fresh.mustNotSee = "placeholder download1.gif";
    scenes.push_back(fresh);

    Scene download;
    download.name = "download";
    download.story =
        "Display: a missing picture, placeholder while the server answers, then the picture";
    download.hint = "Display, not stored yet";
    download.userId = "10002";
    download.imageType = 2;
    const Artwork downloadPicture = Up("10002.gif", 0x1565C0, 0xBBDEFB, 1);
    download.served = {{PictureName(2, "10002", 0), downloadPicture}};
    download.pictures = {{"picture 10002", downloadPicture}};
    download.expected = "picture 10002";
    download.mustSee = "placeholder download2.gif";
    scenes.push_back(download);

    Scene stale;
    stale.name = "stale";
    stale.story =
        "Display: a picture stored two hours ago is held back while the server refreshes it: "
        "placeholder, then the new one";
    stale.hint = "Display, stored 2 hours ago";
    stale.userId = "10003";
    stale.againLater = true;
    const Artwork staleOld = Body("10003-v1.gif", 0x6D4C41, 0xD7CCC8, 1);
    const Artwork staleNew = Body("10003-v2.gif", 0x6D4C41, 0xFFE0B2, 2);
    stale.stored = {{PictureName(1, "10003", 0), staleOld}};
    stale.storedAge = 2 * 3600;
    stale.served = {{PictureName(1, "10003", 0), staleNew}};
    stale.pictures = {{"picture 10003 v1 (stale)", staleOld}, {"picture 10003 v2", staleNew}};
    stale.expected = "picture 10003 v2";
    stale.mustSee = "placeholder download1.gif";
    stale.mustNotSee = "picture 10003 v1 (stale)";
    scenes.push_back(stale);

    Scene version;
    version.name = "newer-version";
    version.story =
        "DisplaySN: version 4 asked for, version 3 recorded: placeholder while version 4 comes, "
        "never version 3";
    version.hint = "DisplaySN: wants v4, has v3";
    version.userId = "10004";
    version.imageType = 2;
    version.faceMode = 1;
    version.imageSN = 4;
    version.bySN = true;
    version.againLater = true;
    const Artwork versionOld = Up("10004_s-v3.gif", 0x4527A0, 0xD1C4E9, 3);
    const Artwork versionNew = Up("10004_s-v4.gif", 0x4527A0, 0xF8BBD0, 4);
    version.stored = {{PictureName(2, "10004", 1), versionOld}};
    version.versionFile = VersionFile(2, 1, "00003");
    version.served = {{PictureName(2, "10004", 1), versionNew}};
    version.pictures = {{"picture 10004 v3", versionOld}, {"picture 10004 v4", versionNew}};
    version.expected = "picture 10004 v4";
    version.mustSee = "placeholder download2.gif";
    version.mustNotSee = "picture 10004 v3";
    scenes.push_back(version);

    Scene man;
    man.name = "unknown-man";
    man.story =
        "Display: a user the server does not know, a man: placeholder, then his default picture";
    man.hint = "Display, unknown man";
    man.userId = "99901";
    man.sex = 1;
    man.expected = "default man1.gif";
    man.mustSee = "placeholder download1.gif";
    scenes.push_back(man);

    Scene woman;
    woman.name = "unknown-woman";
    woman.story =
        "Display: a user the server does not know, a woman: placeholder, then her default picture";
    woman.hint = "Display, unknown woman";
    woman.userId = "99902";
    woman.imageType = 2;
    woman.sex = 2;
    woman.expected = "default woman2.gif";
    woman.mustSee = "placeholder download2.gif";
    scenes.push_back(woman);

    Scene face;
    face.name = "face";
    face.story =
        "Display: image type 3 has no placeholder and no default: empty until the picture comes";
    face.hint = "Display, type 3: no default";
    face.userId = "10007";
    face.imageType = 3;
    const Artwork facePicture = StillAvatar("10007.gif", 40, 40, 0xAD1457, 0xFCE4EC, 1, false);
    face.served = {{PictureName(3, "10007", 0), facePicture}};
    face.pictures = {{"picture 10007", facePicture}};
    face.expected = "picture 10007";
    face.mustSee = "empty";
    scenes.push_back(face);

    Scene animated;
    animated.name = "animated";
    animated.story = "Display: an animated picture, downloaded, then played frame by frame";
    animated.hint = "Display, animated picture";
    animated.userId = "10008";
    animated.imageType = 2;
    const Artwork animation = AnimatedAvatar("10008.gif");
    animated.served = {{PictureName(2, "10008", 0), animation}};
    animated.pictures = {{"animation 10008", animation}};
    animated.expected = "animation 10008";
    animated.mustSee = "placeholder download2.gif";
    animated.animated = true;
    scenes.push_back(animated);

    Scene background;
    background.name = "background";
    background.story =
        "ChangeBgImg: a round picture over what was under it, then over a background the host "
        "hands over";
    background.hint = "ChangeBgImg in act two";
    background.userId = "10009";
    background.handsBackground = true;
    const Artwork round = StillAvatar("10009.gif", 48, 48, 0xEF6C00, 0xFFF3E0, 1, true);
    background.stored = {{PictureName(1, "10009", 0), round}};
    // The labels of the two looks are given by the host, which knows both backgrounds.
    background.pictures = {{"picture 10009", round}};
    background.expected = "picture 10009 over the handed background";
    scenes.push_back(background);

    return scenes;
}

}  // namespace demo
