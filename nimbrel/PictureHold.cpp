#include "PictureHold.h"

#include <atomic>

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
    UniqueFile file = OpenPictureToHold(root, relative, why);
    if (!file) return hold;
    // A place among the held pictures is taken before the open is recorded: it is counted from
    // here on, and given back by Release() if the hold is not made after all.
    if (g_heldPictures.fetch_add(1, std::memory_order_relaxed) >= kMaxHeldPictures) {
        g_heldPictures.fetch_sub(1, std::memory_order_relaxed);
        *why = "already " + std::to_string(kMaxHeldPictures) + " pictures are held";
        return hold;
    }
    hold.m_file = std::move(file);
    if (!RecordHold(hold.File(), why)) hold.Release();
    return hold;
}

}  // namespace nimbrel
