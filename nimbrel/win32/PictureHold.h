// A write hold on a stored picture while its transfer runs, on Windows: an open for reading and
// writing that shares everything. The control's existence test (an open for reading that denies
// writing) then fails with a sharing violation, in every process, until the hold ends.
#pragma once

#include <windows.h>

#include <string>

#include "Handles.h"

namespace nimbrel {

// At most this many pictures are held at once in a process.
inline constexpr int kMaxHeldPictures = 64;

class PictureHold {
public:
    PictureHold() = default;
    ~PictureHold() { Release(); }
    PictureHold(PictureHold&& other) noexcept = default;
    PictureHold& operator=(PictureHold&& other) noexcept;

    // Holds the picture at `relative` beneath `root` if there is one; `why` says why nothing is
    // held (empty when the picture is missing).
    static PictureHold Take(const std::string& root, const std::string& relative, std::string* why);

    explicit operator bool() const { return static_cast<bool>(m_file); }
    // The held file, open for reading and writing.
    HANDLE Handle() const { return m_file.Get(); }
    void Release();

private:
    UniqueHandle m_file;
};

}  // namespace nimbrel
