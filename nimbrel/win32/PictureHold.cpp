#include "PictureHold.h"

#include <atomic>

#include "Files.h"

namespace nimbrel {
namespace {

std::atomic<int> g_heldPictures{0};

}  // namespace

PictureHold& PictureHold::operator=(PictureHold&& other) noexcept {
    if (this != &other) {
        Release();
        m_file = std::move(other.m_file);
    }
    return *this;
}

void PictureHold::Release() {
    if (!m_file) return;
    m_file.Reset();
    g_heldPictures.fetch_sub(1, std::memory_order_relaxed);
}

PictureHold PictureHold::Take(const std::string& root, const std::string& relative,
                              std::string* why) {
    PictureHold hold;
    PictureDirectory directory;
    if (!directory.Open(root, DirectoryPart(relative), why)) return hold;
    if (g_heldPictures.fetch_add(1, std::memory_order_relaxed) >= kMaxHeldPictures) {
        g_heldPictures.fetch_sub(1, std::memory_order_relaxed);
        *why = "already " + std::to_string(kMaxHeldPictures) + " pictures are held";
        return hold;
    }
    hold.m_file =
        directory.OpenFile(NamePart(relative), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    if (hold.m_file) return hold;
    g_heldPictures.fetch_sub(1, std::memory_order_relaxed);
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) {
        why->clear();
    } else if (error == ERROR_SHARING_VIOLATION) {
        *why = "another open of the stored file denies writing";
    } else if (error == ERROR_CANT_ACCESS_FILE) {
        *why = "the stored file is a link or reparse point";
    } else if (error == ERROR_ACCESS_DENIED) {
        *why = "the stored file is read-only or no regular file";
    } else {
        *why = "the stored file cannot be opened for writing: " + ErrorText(error);
    }
    return hold;
}

}  // namespace nimbrel
