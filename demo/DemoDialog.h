// The host's dialog: a "#32770" window that paints a background picture, with one STATIC
// child (SS_NOTIFY, so it receives the mouse) per avatar control. It explains itself in text
// drawn with GDI: a title, a caption under each control (its name, what the host does with it,
// what it shows now), a status line, and a frame around the control clicked last.
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

// A font the dialog creates and deletes.
class OwnedFont {
public:
    OwnedFont(int pixelHeight, int weight);
    ~OwnedFont();
    OwnedFont(const OwnedFont&) = delete;
    OwnedFont& operator=(const OwnedFont&) = delete;
    HFONT get() const { return font_; }

private:
    HFONT font_;
};

// Where the dialog's text goes, in client coordinates.
struct DialogLayout {
    RECT title;
    RECT subtitle;
    RECT status;
};

class CDemoDialog : public CWnd {
public:
    CDemoDialog(const Pixels& background, int width, int height, const DialogLayout& layout);
    // The dialog's window goes first, then the controls whose windows were its children.
    ~CDemoDialog() override;

    // Creates the dialog window at (x, y) on the screen and subclasses it.
    bool Open(const char* title, int x, int y);
    // A static child at (left, top) of the client area, with a CPortrix attached to it, and its
    // caption in `caption`, framed by `cell` when highlighted.
    CPortrix* AddAvatar(int id, const RECT& control, const RECT& caption, const RECT& cell,
                        const std::string& name, const std::string& hint);

    void SetTitle(const std::string& title, const std::string& subtitle);
    void SetStatus(const std::string& status);
    // What control `index` shows now; `settled` when it is what it should end on.
    void SetShown(size_t index, const std::string& shown, bool settled);
    // Frames control `index` (and its caption); -1 for none.
    void SetHighlight(int index);

    int width() const { return width_; }
    int height() const { return height_; }
    // The window manager's close button was pressed (the window stays until the host ends).
    bool closeAsked() const { return closeAsked_; }

protected:
    afx_msg BOOL OnEraseBkgnd(CDC* dc);
    afx_msg void OnPaint();
    afx_msg void OnClose();
    DECLARE_MESSAGE_MAP()

private:
    struct Caption {
        RECT area;
        RECT cell;
        std::string name;
        std::string hint;
        std::string shown;
        bool settled = false;
    };

    void Repaint(const RECT& area);
    void DrawCaption(HDC dc, const Caption& caption) const;
    void DrawFrame(HDC dc, const RECT& cell) const;

    int width_;
    int height_;
    DialogLayout layout_;
    BackgroundPicture background_;
    std::vector<std::unique_ptr<CPortrix>> avatars_;
    std::vector<Caption> captions_;
    std::string title_;
    std::string subtitle_;
    std::string status_;
    int highlight_ = -1;
    bool closeAsked_ = false;
    OwnedFont titleFont_{-17, FW_BOLD};
    OwnedFont nameFont_{-12, FW_BOLD};
    OwnedFont textFont_{-11, FW_NORMAL};
};

}  // namespace demo
