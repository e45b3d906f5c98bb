// A write hold on a stored picture while its transfer runs.
//
// The avatar control counts a picture as present only when it can open it for reading while
// denying write access to others. A refresh writes its body aside and moves it into place, so
// without a hold the old picture would stay visible, and be taken for the new one, for the
// whole transfer. The hold is an open for reading and writing that denies nothing and changes
// nothing, made on the caller's thread before the request is queued, and counted by the
// platform's share-mode rule (on POSIX, recorded under our share-mode layer), so that the
// control's test fails in this process and in every other.
#pragma once

#include <string>

#include "StoreFiles.h"

namespace nimbrel {

// At most this many pictures are held at once in a process: every hold is a descriptor, and a
// backlog of refreshes must not take the host's. A picture asked for beyond it goes unheld.
inline constexpr int kMaxHeldPictures = 64;

class PictureHold {
public:
    PictureHold() = default;
    ~PictureHold() { Release(); }
    PictureHold(PictureHold&& other) noexcept = default;
    PictureHold& operator=(PictureHold&& other) noexcept;

    // Holds the picture at `relative` beneath `root` if there is one. Nothing is held when the
    // picture is missing, is no regular file or lies behind a link, is read-only, is open
    // elsewhere in a way that denies writing or leased by another process, or when
    // kMaxHeldPictures are held already; `why` then says which (empty when missing).
    static PictureHold Take(const std::string& root, const std::string& relative, std::string* why);

    explicit operator bool() const { return static_cast<bool>(m_file); }
    // The held file, open for reading and writing.
    NativeFile File() const { return m_file.Get(); }
    // Ends the hold.
    void Release();

private:
    UniqueFile m_file;
};

}  // namespace nimbrel
