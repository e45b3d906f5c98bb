// What the demo's dialog shows: one scene per avatar control, each taking one path of the
// control (fresh picture, download, refresh, version check, defaults, no default, animation,
// background), and the pictures behind them.
#pragma once

#include <string>
#include <vector>

#include "Artwork.h"

namespace demo {

struct Scene {
    std::string name;   // the control's name in the timeline
    std::string story;  // one line on what it shows
    std::string hint;   // a few words on what the host does, for the control's caption
    std::string userId;
    int imageType = 1;
    int faceMode = 0;
    int sex = 0;
    int imageSN = 1;
    bool bySN = false;             // DisplaySN instead of Display
    bool againLater = false;       // the host asks again in the second act
    bool handsBackground = false;  // the host hands this control a background in the second act

    // Pictures: on the server (below /c_avatar/), and stored before the run (below Avatar/).
    std::vector<std::pair<std::string, Artwork>> served;
    std::vector<std::pair<std::string, Artwork>> stored;
    long long storedAge = 0;  // seconds before now
    std::string versionFile;  // SNS/<id>.txt content written before the run, or empty

    std::vector<std::pair<std::string, Artwork>> pictures;  // timeline label -> picture
    std::string expected;                                   // label the control must end on
    std::string mustSee;     // label it must have shown on the way ("" for none)
    std::string mustNotSee;  // label it must never have shown ("" for none)
    bool animated = false;   // the expected picture must be seen playing
};

std::vector<Scene> MakeScenes();

// The store-relative name of a user's picture, with forward slashes ("Up/10004_s.gif").
std::string PictureName(int imageType, const std::string& userId, int faceMode);

}  // namespace demo
