// The host's dialog: a "#32770" window that paints a background picture, with one STATIC
// child (SS_NOTIFY, so it receives the mouse) per avatar control.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Artwork.h"
#include "Portrix.h"
#include "afxwin.h"

namespace demo {

// A background picture held in a memory DC, as a host keeps one to paint from.
class BackgroundPicture {
public:
    BackgroundPicture(const Pixels& pixels, int width, int height);
    ~BackgroundPicture();
    BackgroundPicture(const BackgroundPicture&) = delete;
    BackgroundPicture& operator=(const BackgroundPicture&) = delete;

    HDC dc() const { return dc_; }
    bool ok() const { return dc_ != nullptr && bitmap_ != nullptr; }

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ displaced_ = nullptr;
};

class CDemoDialog : public CWnd {
public:
    CDemoDialog(const Pixels& background, int width, int height);
    // The dialog's window goes first, then the controls whose windows were its children.
    ~CDemoDialog() override;

    // Creates the dialog window at (x, y) on the screen and subclasses it.
    bool Open(const char* title, int x, int y);
    // A static child at (left, top) of the client area, with a CPortrix attached to it.
    CPortrix* AddAvatar(int id, int left, int top, int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }

protected:
    afx_msg BOOL OnEraseBkgnd(CDC* dc);
    afx_msg void OnPaint();
    DECLARE_MESSAGE_MAP()

private:
    int width_;
    int height_;
    BackgroundPicture background_;
    std::vector<std::unique_ptr<CPortrix>> avatars_;
};

}  // namespace demo
